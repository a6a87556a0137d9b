#ifndef ZUMI_TESTS_UNIT_BRIDGE_MOCKHANDLER_H
#define ZUMI_TESTS_UNIT_BRIDGE_MOCKHANDLER_H

// A handler whose every operation a test scripts, for the paths where the
// bridge's own calls to its handler are the thing under test.

#include <gmock/gmock.h>

#include <zumi/ZumiHandler.h>

namespace zumi {
namespace testing {

class MockHandler : public veltra::kesh::zumi::ZumiHandler {
public:
    template <typename T>
    using Publisher = std::shared_ptr<ZumiPropertyPublisher<T>>;

    MOCK_METHOD(const char*, getID, (), (const, override));
    MOCK_METHOD(std::string, getStringProperty, (const char*, const char*), (const, override));
    MOCK_METHOD(int, getIntProperty, (const char*, const char*), (const, override));
    MOCK_METHOD(void, getHashProperty, (const char*, const char*, ZumiHasharrayHandleStruct*&),
                (const, override));
    MOCK_METHOD(void, setStringProperty, (const char*, const char*, const char*), (override));
    MOCK_METHOD(void, setIntProperty, (const char*, const char*, int), (override));
    MOCK_METHOD(void, publishStringProperty, (const char*, Publisher<const char*>&), (override));
    MOCK_METHOD(void, unpublishStringProperty, (const char*), (override));
    MOCK_METHOD(void, publishIntegerProperty, (const char*, Publisher<int>&), (override));
    MOCK_METHOD(void, unpublishIntegerProperty, (const char*), (override));
    MOCK_METHOD(void, publishHasharrayProperty, (const char*, Publisher<ZumiHasharrayHandleStruct*>&),
                (override));
    MOCK_METHOD(void, unpublishHasharrayProperty, (const char*), (override));
    MOCK_METHOD(void, subscribe, (const char*, const char*, const veltra::kesh::zumi::SystemEventListener*),
                (override));
    MOCK_METHOD(bool, unsubscribe,
                (const char*, const char*, const veltra::kesh::zumi::SystemEventListener*), (override));
    MOCK_METHOD(void, sendEvent, (const char*), (override));
    MOCK_METHOD(std::shared_ptr<veltra::kesh::zumi::ZumiHashListArray>, createNewHashArray, (),
                (override));
    MOCK_METHOD(ZumiHandleStruct*, getUnderlyingZumiHandle, (), (const, override));
};

}  // namespace testing
}  // namespace zumi

#endif

// The asynchronous operations of the double: each runs the double's own
// synchronous operation on the caller's thread (so it is recorded, scripted
// and hooked like any call), then delivers the result from a thread of its
// own, as the bus library's dispatch thread would, after the delay of the
// remote property it reached. ZumiCancelCall never catches a call waiting.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <libzumi/ZumiBus.h>

#include "FakeBusCore.h"

using zumi::testing::FakeBusCore;

namespace {

struct Answer {
    ZumiCallResult result{ZUMI_OK, 0, "", nullptr};
    std::string text;
};

template <typename Operation>
ZumiStatus answer(ZumiCallDone done, void* data, ZumiCallId* id, Operation operation) {
    static std::atomic<ZumiCallId> next{1};
    if (done == nullptr || id == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    std::shared_ptr<Answer> a = std::make_shared<Answer>();
    FakeBusCore& bus = FakeBusCore::instance();
    std::chrono::milliseconds delay{0};
    {
        FakeBusCore::DeferDelays deferred;
        a->result.status = operation(*a);
        delay = deferred.total;
    }
    a->result.text = a->text.c_str();
    *id = next++;
    ++bus.answersInFlight;
    std::thread([a, done, data, delay, &bus] {
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        done(&a->result, data);
        --bus.answersInFlight;
    }).detach();
    return ZUMI_OK;
}

}  // namespace

extern "C" {

ZumiStatus ZumiGetIntPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                   unsigned int, ZumiCallDone done, void* data, ZumiCallId* id) {
    return answer(done, data, id, [&](Answer& a) {
        return ZumiGetIntProperty(handle, service, property, &a.result.intValue);
    });
}

ZumiStatus ZumiGetStringPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                      unsigned int, ZumiCallDone done, void* data, ZumiCallId* id) {
    return answer(done, data, id, [&](Answer& a) {
        char* text = nullptr;
        ZumiStatus status = ZumiGetStringProperty(handle, service, property, &text);
        if (text != nullptr) a.text = text;
        ZumiFreeString(text);
        return status;
    });
}

ZumiStatus ZumiSetIntPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                   int value, unsigned int, ZumiCallDone done, void* data,
                                   ZumiCallId* id) {
    return answer(done, data, id,
                  [&](Answer&) { return ZumiSetIntProperty(handle, service, property, value); });
}

ZumiStatus ZumiSetStringPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                      const char* value, unsigned int, ZumiCallDone done,
                                      void* data, ZumiCallId* id) {
    return answer(done, data, id,
                  [&](Answer&) { return ZumiSetStringProperty(handle, service, property, value); });
}

ZumiStatus ZumiAccessHasharrayPropertyAsync(ZumiHandle handle, const char* service,
                                            const char* property,
                                            struct ZumiHasharrayHandleStruct* input, unsigned int,
                                            ZumiCallDone done, void* data, ZumiCallId* id) {
    return answer(done, data, id, [&](Answer& a) {
        ZumiHasharrayHandleStruct* copy = input == nullptr ? nullptr : ZumiHasharrayClone(input);
        ZumiStatus status = ZumiAccessHasharrayProperty(handle, service, property, copy, &a.result.reply);
        ZumiHasharrayDestroy(copy);
        return status;
    });
}

ZumiStatus ZumiCreateAndSendEventAsync(ZumiHandle handle, const char* eventName, ZumiCallDone done,
                                       void* data, ZumiCallId* id) {
    return answer(done, data, id, [&](Answer&) { return ZumiCreateAndSendEvent(handle, eventName); });
}

ZumiStatus ZumiCancelCall(ZumiHandle, ZumiCallId) { return ZUMI_ERR_INVALID_ARGUMENT; }

}  // extern "C"

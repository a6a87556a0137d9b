#ifndef ZUMI_TESTING_FAKEBUS_H
#define ZUMI_TESTING_FAKEBUS_H

/// @file
/// A bus inside the test process, for the tests of an application built on
/// this library. A test executable links libbramwickzumi-testing in place of
/// libbramwickzumi and libzumi (CMake: BramwickZumi::testing); the
/// application's code then runs unchanged, with the library over this fake:
/// no daemon, no environment, the same answers every run.
///
/// One FakeBus lives at a time, for one test: creating it forgets what an
/// earlier test left on the bus, switches every log level on and captures
/// the library's log lines until it is destroyed. Threads: any member may be
/// called from any thread; the main-loop helpers run the GLib default main
/// context on the calling thread.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include <libzumi/ZumiBus.h>
#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {
namespace testing {

/// One hash of a hash array: keys to integers or strings.
using Hash = std::map<std::string, std::variant<int, std::string>>;
/// A hash array's value.
using HashList = std::vector<Hash>;

/// What another service lets the application do with a property.
enum class Access { Read = 1, Write = 2, ReadWrite = 3 };

/// The kinds of bus call that failNext() can make fail.
enum class Operation {
    Open, Close, GetInt, GetString, SetInt, SetString, AccessHashArray, SendEvent,
    Subscribe, Unsubscribe, PublishInt, PublishString, PublishHashArray, Unpublish, NewHashArray
};

/// What was handed out on the bus and not given back.
struct ZUMI_EXPORT Leaks {
    std::vector<std::string> connections;  ///< identifiers of connections still open
    std::size_t hashArrays = 0;            ///< hash arrays not destroyed
    std::size_t strings = 0;               ///< strings read and not freed
    std::size_t invalidFrees = 0;          ///< releases of what was not handed out, or twice
    bool none() const;
    /// One line per kind of leak, for a failure message; empty when none().
    std::string text() const;
};

class FakeBus;

/// A property of a fake remote service, as FakeBus::remote declares it.
/// Setters return the property, so that a declaration reads as one line.
class ZUMI_EXPORT FakeProperty {
public:
    FakeProperty& access(Access access);
    /// Every access answers this status (0 serves normally again).
    FakeProperty& status(ZumiStatus status);
    /// Every access takes this long before it is answered. Asynchronous
    /// answers to one service keep call order: a delayed one holds back the
    /// answers of later calls to the same service, not those to others.
    FakeProperty& delay(std::chrono::milliseconds delay);
    FakeProperty& value(int value);
    FakeProperty& value(const std::string& value);
    FakeProperty& value(const HashList& value);

    int intValue() const;
    std::string stringValue() const;
    HashList hashValue() const;
    /// What the application wrote, oldest first.
    std::vector<int> intWrites() const;
    std::vector<std::string> stringWrites() const;
    std::vector<HashList> hashWrites() const;
    /// How many reads were answered with the value.
    std::size_t reads() const;

private:
    friend class FakeService;
    FakeProperty(std::string service, std::string name, int type);
    std::string m_service;
    std::string m_name;
    int m_type;
};

/// A fake remote service: its properties answer the application's reads and
/// writes; it does not need to be declared to send events.
class ZUMI_EXPORT FakeService {
public:
    FakeProperty intProperty(const std::string& name, int value = 0);
    FakeProperty stringProperty(const std::string& name, const std::string& value = "");
    FakeProperty hashProperty(const std::string& name, const HashList& value = HashList());
    /// Sends `event` from this service to the application's subscriptions,
    /// on the calling thread; listeners get it on the main loop. Returns how
    /// many subscriptions were told.
    int emit(const std::string& event, const std::vector<int>& ints = {},
             const std::vector<std::string>& strings = {});

private:
    friend class FakeBus;
    explicit FakeService(std::string id) : m_id(std::move(id)) {}
    std::string m_id;
};

class ZUMI_EXPORT FakeBus {
public:
    FakeBus();
    ~FakeBus();
    FakeBus(const FakeBus&) = delete;
    FakeBus& operator=(const FakeBus&) = delete;

    /// Declares (or finds) another service by its identifier.
    FakeService remote(const std::string& service);

    /// The next `times` calls of that kind, by any code, fail with `status`
    /// (a call that hands out a pointer gives NULL instead).
    void failNext(Operation operation, ZumiStatus status, int times = 1);

    /// A property the application publishes, accessed as another service
    /// would; the status is what the application's publisher answered.
    ZumiStatus getPublished(const std::string& service, const std::string& name, int* value);
    ZumiStatus getPublished(const std::string& service, const std::string& name,
                            std::string* value);
    ZumiStatus setPublished(const std::string& service, const std::string& name, int value);
    ZumiStatus setPublished(const std::string& service, const std::string& name,
                            const std::string& value);
    /// Writes a hash-array property the application publishes, as another
    /// service's ZumiAccessHasharrayProperty would: its accessor gets a copy
    /// of `value` of its own (and a reply array that nobody reads).
    ZumiStatus setPublished(const std::string& service, const std::string& name,
                            const HashList& value);
    /// Whether the application subscribes to (source, event).
    bool isSubscribed(const std::string& source, const std::string& event) const;

    /// The library's log lines since the bus was made (or cleared), as
    /// formatted: "W <APP_ID>:<tag>:<text>:".
    std::vector<std::string> logLines() const;
    void clearLog();

    /// What is still open; ask after the application dropped its handlers
    /// and runUntilIdle() let the library release them.
    Leaks leaks() const;

    /// Runs the main loop until nothing is left to dispatch and no
    /// asynchronous answer is on its way (at most `limit`); false if the
    /// limit came first.
    bool runUntilIdle(std::chrono::milliseconds limit = std::chrono::seconds(10));
    /// Runs the main loop until `done` holds or `deadline` passes; returns
    /// done's last answer.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds deadline = std::chrono::seconds(10));

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace testing
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif

// The asynchronous operations of the double: each runs the double's own
// synchronous operation on the caller's thread (so it is recorded, scripted
// and hooked like any call), then queues the result with FakeAnswers, which
// delivers it as the bus library's dispatch thread would: in call order per
// connection and destination, after the delay of the remote property reached.

#include <chrono>
#include <memory>
#include <string>

#include <libzumi/ZumiBus.h>

#include "FakeAnswers.h"
#include "FakeBusCore.h"
#include "core/Sendable.h"

using zumi::testing::FakeAnswers;
using zumi::testing::FakeBusCore;

namespace {

typedef FakeAnswers::Answer Answer;

template <typename Operation>
ZumiStatus answer(ZumiHandle handle, const char* destination, ZumiCallDone done, void* data,
                  ZumiCallId* id, Operation operation) {
    if (done == nullptr || id == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    std::unique_ptr<Answer> a(new Answer());
    std::chrono::milliseconds delay{0};
    {
        FakeBusCore::DeferDelays deferred;
        a->result.status = operation(*a);
        delay = deferred.total;
    }
    a->result.text = a->text.c_str();
    *id = FakeAnswers::instance().queue(handle, destination == nullptr ? "" : destination, delay,
                                        done, data, std::move(a));
    return ZUMI_OK;
}

// A property's call: a name that the bus could not carry is refused at once,
// as the bus refuses it, with no answer to come.
template <typename Operation>
ZumiStatus answerProperty(ZumiHandle handle, const char* service, const char* property, ZumiCallDone done,
                          void* data, ZumiCallId* id, Operation operation) {
    if (!zumi::bus::isValidMemberName(property)) return ZUMI_ERR_INVALID_ARGUMENT;
    return answer(handle, service, done, data, id, operation);
}

}  // namespace

extern "C" {

ZumiStatus ZumiGetIntPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                   unsigned int, ZumiCallDone done, void* data, ZumiCallId* id) {
    return answerProperty(handle, service, property, done, data, id, [&](Answer& a) {
        return ZumiGetIntProperty(handle, service, property, &a.result.intValue);
    });
}

ZumiStatus ZumiGetStringPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                      unsigned int, ZumiCallDone done, void* data, ZumiCallId* id) {
    return answerProperty(handle, service, property, done, data, id, [&](Answer& a) {
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
    return answerProperty(handle, service, property, done, data, id,
                  [&](Answer&) { return ZumiSetIntProperty(handle, service, property, value); });
}

ZumiStatus ZumiSetStringPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                      const char* value, unsigned int, ZumiCallDone done,
                                      void* data, ZumiCallId* id) {
    return answerProperty(handle, service, property, done, data, id,
                  [&](Answer&) { return ZumiSetStringProperty(handle, service, property, value); });
}

ZumiStatus ZumiAccessHasharrayPropertyAsync(ZumiHandle handle, const char* service,
                                            const char* property,
                                            struct ZumiHasharrayHandleStruct* input, unsigned int,
                                            ZumiCallDone done, void* data, ZumiCallId* id) {
    // As the bus does: what it could not send is refused before the call starts.
    const ZumiStatus sendable = input != nullptr ? zumi::bus::checkHashArray(*input) : ZumiStatus(ZUMI_OK);
    if (sendable != ZUMI_OK) return sendable;
    return answerProperty(handle, service, property, done, data, id, [&](Answer& a) {
        ZumiHasharrayHandleStruct* copy = input == nullptr ? nullptr : ZumiHasharrayClone(input);
        ZumiStatus status = ZumiAccessHasharrayProperty(handle, service, property, copy, &a.result.reply);
        ZumiHasharrayDestroy(copy);
        return status;
    });
}

ZumiStatus ZumiCreateAndSendEventAsync(ZumiHandle handle, const char* eventName, ZumiCallDone done,
                                       void* data, ZumiCallId* id) {
    return answer(handle, nullptr, done, data, id,
                  [&](Answer&) { return ZumiCreateAndSendEvent(handle, eventName); });
}

ZumiStatus ZumiCancelCall(ZumiHandle handle, ZumiCallId id) {
    return FakeAnswers::instance().cancel(handle, id);
}

}  // extern "C"

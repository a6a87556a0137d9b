#include <zumi/ZumiAsync.h>

#include <climits>
#include <stdexcept>

#include "async/Operation.h"
#include "handler/RemoteFailures.h"
#include "hasharray/VimoZumiHashListArrayPrivate.h"
#include "platform/ZumiBus.h"

namespace veltra {
namespace kesh {
namespace zumi {

namespace {

// An argument copied at the start, null kept as null: the bus library then
// refuses it as the synchronous form's call would.
class Text {
public:
    explicit Text(const char* text) : m_null(text == nullptr), m_text(text != nullptr ? text : "") {}
    const char* get() const { return m_null ? nullptr : m_text.c_str(); }

private:
    bool m_null;
    std::string m_text;
};

unsigned int milliseconds(ZumiAsync::Timeout timeout) {
    if (timeout.count() <= 0) return 0;
    return timeout.count() >= UINT_MAX ? UINT_MAX : static_cast<unsigned int>(timeout.count());
}

ZumiHandle handleOf(const ZumiHandlerSharedPtr& handler) {
    if (!handler) throw std::invalid_argument("handler argument was NULL");
    return handler->getUnderlyingZumiHandle();
}

template <typename T>
std::shared_ptr<Operation<T>> withCallback(const ZumiHandlerSharedPtr& handler,
                                           ZumiAsync::Callback<T> callback) {
    handleOf(handler);
    if (!callback) throw std::invalid_argument("callback argument was NULL");
    return std::make_shared<Operation<T>>(handler, std::move(callback));
}

template <typename T>
std::shared_ptr<Operation<T>> withFuture(const ZumiHandlerSharedPtr& handler) {
    handleOf(handler);
    return std::make_shared<Operation<T>>(handler);
}

void startGetInt(Operation<int>& op, ZumiHandle handle, const char* source, const char* property,
                 ZumiAsync::Timeout timeout) {
    auto s = std::make_shared<Text>(source), p = std::make_shared<Text>(property);
    op.interpret = [s, p](const ZumiCallResult& r) {
        if (r.status != ZUMI_OK) throw readFailure(s->get(), p->get(), r.status);
        return r.intValue;
    };
    op.start([=](ZumiCallDone done, void* data, ZumiCallId* id) {
        return ZumiGetIntPropertyAsync(handle, s->get(), p->get(), milliseconds(timeout), done, data, id);
    });
}

void startGetString(Operation<std::string>& op, ZumiHandle handle, const char* source,
                    const char* property, ZumiAsync::Timeout timeout) {
    auto s = std::make_shared<Text>(source), p = std::make_shared<Text>(property);
    op.interpret = [s, p](const ZumiCallResult& r) {
        if (r.status != ZUMI_OK || r.text == nullptr) throw readFailure(s->get(), p->get(), r.status);
        return std::string(r.text);
    };
    op.start([=](ZumiCallDone done, void* data, ZumiCallId* id) {
        return ZumiGetStringPropertyAsync(handle, s->get(), p->get(), milliseconds(timeout), done, data, id);
    });
}

// input null reads; a failure of a read is reported as getHashProperty's,
// of a send as publishSynchronously's.
void startAccess(Operation<ZumiHashListArrayPtr>& op, const ZumiHandlerSharedPtr& handler,
                 const char* source, const char* property, ZumiHasharrayHandleStruct* input,
                 ZumiAsync::Timeout timeout) {
    auto s = std::make_shared<Text>(source), p = std::make_shared<Text>(property);
    const bool send = input != nullptr;
    std::weak_ptr<ZumiHandler> weak = handler;
    op.interpret = [s, p, send, weak](const ZumiCallResult& r) {
        // The operation still holds the handler here; weak only to avoid a cycle.
        ZumiHashListArrayPtr reply = adoptHashArray(weak.lock(), r.reply);
        if (r.status != ZUMI_OK) {
            throw send ? hashAccessFailure(s->get(), p->get(), r.status)
                       : readFailure(s->get(), p->get(), r.status);
        }
        return reply;
    };
    ZumiHandle handle = handler->getUnderlyingZumiHandle();
    op.start([=](ZumiCallDone done, void* data, ZumiCallId* id) {
        return ZumiAccessHasharrayPropertyAsync(handle, s->get(), p->get(), input,
                                                milliseconds(timeout), done, data, id);
    });
}

void startSetInt(Operation<void>& op, ZumiHandle handle, const char* source, const char* property,
                 int value, ZumiAsync::Timeout timeout) {
    auto s = std::make_shared<Text>(source), p = std::make_shared<Text>(property);
    op.interpret = [s, p, value](const ZumiCallResult& r) {
        if (r.status != ZUMI_OK) throw writeFailure(s->get(), p->get(), value, r.status);
    };
    op.start([=](ZumiCallDone done, void* data, ZumiCallId* id) {
        return ZumiSetIntPropertyAsync(handle, s->get(), p->get(), value, milliseconds(timeout), done,
                                       data, id);
    });
}

// As the synchronous form: a failed set on the nimbo service is tried once
// more on titlerail, and the source named in a failure stays nimbo.
void startSetString(Operation<void>& op, ZumiHandle handle, const char* source,
                    const char* property, const char* value, ZumiAsync::Timeout timeout) {
    auto s = std::make_shared<Text>(source), p = std::make_shared<Text>(property),
         v = std::make_shared<Text>(value);
    auto retried = std::make_shared<bool>(false);
    auto starter = [=](const char* service) {
        return [=](ZumiCallDone done, void* data, ZumiCallId* id) {
            return ZumiSetStringPropertyAsync(handle, service, p->get(), v->get(),
                                              milliseconds(timeout), done, data, id);
        };
    };
    op.interpret = [s, p, v, retried](const ZumiCallResult& r) {
        if (*retried) logStringSetFallback(p->get(), r.status == ZUMI_OK);
        if (r.status != ZUMI_OK) throw writeFailure(s->get(), p->get(), v->get(), r.status);
    };
    if (const char* fallback = stringSetFallback(source)) {
        Operation<void>* self = &op;
        op.retry = [self, retried, starter, fallback](const ZumiCallResult&) {
            if (*retried) return false;
            *retried = true;
            self->start(starter(fallback));
            return true;
        };
    }
    op.start(starter(s->get()));
}

void startSendEvent(Operation<void>& op, ZumiHandle handle, const char* eventName) {
    if (eventName == nullptr) throw std::invalid_argument("eventName argument was NULL");
    auto e = std::make_shared<Text>(eventName);
    op.interpret = [e](const ZumiCallResult& r) {
        if (r.status != ZUMI_OK) throw sendFailure(e->get(), r.status);
    };
    op.start([=](ZumiCallDone done, void* data, ZumiCallId* id) {
        return ZumiCreateAndSendEventAsync(handle, e->get(), done, data, id);
    });
}

template <typename T>
ZumiPendingCall pending(const std::shared_ptr<Operation<T>>& op) {
    return ZumiPendingCall(op);
}

}  // namespace

ZumiPendingCall ZumiAsync::getIntProperty(const ZumiHandlerSharedPtr& handler, const char* source,
                                          const char* property, Callback<int> callback,
                                          Timeout timeout) {
    auto op = withCallback(handler, std::move(callback));
    startGetInt(*op, handleOf(handler), source, property, timeout);
    return pending(op);
}

ZumiPendingCall ZumiAsync::getStringProperty(const ZumiHandlerSharedPtr& handler,
                                             const char* source, const char* property,
                                             Callback<std::string> callback, Timeout timeout) {
    auto op = withCallback(handler, std::move(callback));
    startGetString(*op, handleOf(handler), source, property, timeout);
    return pending(op);
}

ZumiPendingCall ZumiAsync::getHashProperty(const ZumiHandlerSharedPtr& handler, const char* source,
                                           const char* property,
                                           Callback<ZumiHashListArrayPtr> callback,
                                           Timeout timeout) {
    auto op = withCallback(handler, std::move(callback));
    startAccess(*op, handler, source, property, nullptr, timeout);
    return pending(op);
}

ZumiPendingCall ZumiAsync::setIntProperty(const ZumiHandlerSharedPtr& handler, const char* source,
                                          const char* property, int value,
                                          Callback<void> callback, Timeout timeout) {
    auto op = withCallback(handler, std::move(callback));
    startSetInt(*op, handleOf(handler), source, property, value, timeout);
    return pending(op);
}

ZumiPendingCall ZumiAsync::setStringProperty(const ZumiHandlerSharedPtr& handler,
                                             const char* source, const char* property,
                                             const char* value, Callback<void> callback,
                                             Timeout timeout) {
    auto op = withCallback(handler, std::move(callback));
    startSetString(*op, handleOf(handler), source, property, value, timeout);
    return pending(op);
}

ZumiPendingCall ZumiAsync::setHashProperty(const ZumiHandlerSharedPtr& handler,
                                           const char* source, const char* property,
                                           ZumiHasharrayHandleStruct* array,
                                           Callback<ZumiHashListArrayPtr> callback,
                                           Timeout timeout) {
    if (array == nullptr) throw std::invalid_argument("array argument was NULL");
    auto op = withCallback(handler, std::move(callback));
    startAccess(*op, handler, source, property, array, timeout);
    return pending(op);
}

ZumiPendingCall ZumiAsync::sendEvent(const ZumiHandlerSharedPtr& handler, const char* eventName,
                                     Callback<void> callback) {
    auto op = withCallback(handler, std::move(callback));
    startSendEvent(*op, handleOf(handler), eventName);
    return pending(op);
}

std::future<int> ZumiAsync::getIntPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                 const char* source, const char* property,
                                                 Timeout timeout) {
    auto op = withFuture<int>(handler);
    std::future<int> result = op->future();
    startGetInt(*op, handleOf(handler), source, property, timeout);
    return result;
}

std::future<std::string> ZumiAsync::getStringPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                            const char* source,
                                                            const char* property,
                                                            Timeout timeout) {
    auto op = withFuture<std::string>(handler);
    std::future<std::string> result = op->future();
    startGetString(*op, handleOf(handler), source, property, timeout);
    return result;
}

std::future<ZumiHashListArrayPtr> ZumiAsync::getHashPropertyFuture(
    const ZumiHandlerSharedPtr& handler, const char* source, const char* property, Timeout timeout) {
    auto op = withFuture<ZumiHashListArrayPtr>(handler);
    std::future<ZumiHashListArrayPtr> result = op->future();
    startAccess(*op, handler, source, property, nullptr, timeout);
    return result;
}

std::future<void> ZumiAsync::setIntPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                  const char* source, const char* property,
                                                  int value, Timeout timeout) {
    auto op = withFuture<void>(handler);
    std::future<void> result = op->future();
    startSetInt(*op, handleOf(handler), source, property, value, timeout);
    return result;
}

std::future<void> ZumiAsync::setStringPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                     const char* source, const char* property,
                                                     const char* value, Timeout timeout) {
    auto op = withFuture<void>(handler);
    std::future<void> result = op->future();
    startSetString(*op, handleOf(handler), source, property, value, timeout);
    return result;
}

std::future<ZumiHashListArrayPtr> ZumiAsync::setHashPropertyFuture(
    const ZumiHandlerSharedPtr& handler, const char* source, const char* property,
    ZumiHasharrayHandleStruct* array, Timeout timeout) {
    if (array == nullptr) throw std::invalid_argument("array argument was NULL");
    auto op = withFuture<ZumiHashListArrayPtr>(handler);
    std::future<ZumiHashListArrayPtr> result = op->future();
    startAccess(*op, handler, source, property, array, timeout);
    return result;
}

std::future<void> ZumiAsync::sendEventFuture(const ZumiHandlerSharedPtr& handler,
                                             const char* eventName) {
    auto op = withFuture<void>(handler);
    std::future<void> result = op->future();
    startSendEvent(*op, handleOf(handler), eventName);
    return result;
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

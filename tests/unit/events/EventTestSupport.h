#ifndef ZUMI_TESTS_UNIT_EVENTS_EVENTTESTSUPPORT_H
#define ZUMI_TESTS_UNIT_EVENTS_EVENTTESTSUPPORT_H

// Listeners that record what they receive, and the bus thread's side of an
// event, for the event manager's tests.

#include <glib.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zumi/SystemEventListener.h>

#include "FakeBusCore.h"
#include "ZumiTest.h"
#include "platform/Platform.h"

namespace zumi {
namespace testing {

// One delivery as a listener saw it, rendered as text: "name:event:2,'a','b'"
// (integers in decimal, strings quoted, in the received order).
inline std::string describe(const std::string& name, const char* event,
                            const veltra::kesh::zumi::SystemEventDataList& data) {
    std::string text = name + ":" + event + ":";
    const char* separator = "";
    for (const auto& item : data) {
        text += separator;
        text += item.getType() == item.INTEGER ? std::to_string(item.getIntValue())
                                               : "'" + item.getStringValue() + "'";
        separator = ",";
    }
    return text;
}

// Appends each delivery to a journal shared by several listeners, so that
// order across listeners shows, then runs `action` (if any).
class JournalListener : public veltra::kesh::zumi::SystemEventListener {
public:
    JournalListener(std::string name, std::vector<std::string>& journal)
        : m_name(std::move(name)), m_journal(journal) {}
    void onEvent(const char*, const char* event,
                 const veltra::kesh::zumi::SystemEventDataList& data) override {
        m_journal.push_back(describe(m_name, event, data));
        if (action) action();
    }
    std::function<void()> action;

private:
    std::string m_name;
    std::vector<std::string>& m_journal;
};

// Sends an event to the double's subscribers from a thread of its own, as
// the bus library does, and waits for the callbacks to return.
inline void emitFromBusThread(const char* source, const char* event, std::vector<int> ints = {},
                              std::vector<std::string> strings = {}) {
    std::thread([&] { FakeBusCore::instance().emit(source, event, ints, strings); }).join();
}

// Dispatches whatever is pending on the default main context.
inline void drainMainLoop() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

}  // namespace testing
}  // namespace zumi

#endif

#ifndef ZUMI_BUS_DBUS_CONNECTIONJOB_H
#define ZUMI_BUS_DBUS_CONNECTIONJOB_H

// One incoming request or event, parsed on the dispatch thread, or a call
// handed over by another thread of this process, waiting there for its turn. Private to the Connection sources.

#include <memory>
#include <string>

#include "dbus/Connection.h"

namespace zumi {
namespace bus {

struct Connection::Job {
    enum Kind {
        kGetInt, kSetInt, kGetString, kSetString, kAccessHash, kList, kEvent, kLocal,
        // The standard interfaces (StandardInterfaces.cpp).
        kIntrospect, kPropertyGet, kPropertySet, kPropertyGetAll
    };
    Kind kind = kGetInt;
    sd_bus_message* call = nullptr;  // the request to answer; released under m_busLock
    std::string name;                // property or event name
    int number = 0;
    std::string text;
    int valueType = ZUMI_TYPE_INT;   // kPropertySet: which of number and text was sent
    bool hasArray = false;
    HashArray array;
    ZumiEventHandleStruct event;
    std::shared_ptr<LocalCall> local;  // kLocal: a call from this process waiting for its turn
};

// A method of an interface: what a request must carry and the job it becomes.
struct Connection::Method {
    const char* member;
    const char* signature;
    Job::Kind kind;
};

}  // namespace bus
}  // namespace zumi

#endif

// A peer process for the integration tests, driven line by line on stdin:
// it opens a connection, publishes properties, calls other services, sends
// and receives events. Each command answers one line "R ..."; received events
// are printed as "E source event ints... | texts...".

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ZumiBus.h"

namespace {

std::mutex g_outputLock;
ZumiHandle g_handle = nullptr;

void say(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_outputLock);
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

// One published property: a stored value, or a fixed status for every call.
struct Property {
    std::mutex lock;
    int number = 0;
    std::string text;
    ZumiStatus status = ZUMI_OK;
};
std::map<std::string, Property*> g_properties;

unsigned int getInt(ZumiHandle, const char*, int* value, void* data) {
    Property* p = static_cast<Property*>(data);
    std::lock_guard<std::mutex> lock(p->lock);
    if (p->status == ZUMI_OK) *value = p->number;
    return p->status;
}
unsigned int setInt(ZumiHandle, const char*, int value, void* data) {
    Property* p = static_cast<Property*>(data);
    std::lock_guard<std::mutex> lock(p->lock);
    if (p->status == ZUMI_OK) p->number = value;
    return p->status;
}
unsigned int getText(ZumiHandle, const char*, char* buffer, unsigned int* size, void* data) {
    Property* p = static_cast<Property*>(data);
    std::lock_guard<std::mutex> lock(p->lock);
    if (p->status != ZUMI_OK) return p->status;
    if (*size < p->text.size() + 1) {
        *size = static_cast<unsigned int>(p->text.size() + 1);
        return ZUMI_ERR_BUFFER_TOO_SMALL;
    }
    memcpy(buffer, p->text.c_str(), p->text.size() + 1);
    return ZUMI_OK;
}
unsigned int setText(ZumiHandle, const char*, const char* value, void* data) {
    Property* p = static_cast<Property*>(data);
    std::lock_guard<std::mutex> lock(p->lock);
    if (p->status == ZUMI_OK) p->text = value;
    return p->status;
}
// Answers with a copy of what was sent plus one hash {"sent": hashes sent, or
// -1 for a read}; returns the property's status.
unsigned int access(ZumiHandle, const char*, ZumiHasharrayHandleStruct* input,
                    ZumiHasharrayHandleStruct* output, void* data) {
    Property* p = static_cast<Property*>(data);
    int count = input == nullptr ? -1 : ZumiHasharrayGetHashCount(input);
    for (int i = 0; i < count; ++i) {
        int index = 0;
        ZumiHasharrayAddHash(output, &index);
        const char* text = nullptr;
        int number = 0;
        if (ZumiHasharrayGetString(input, i, "text", &text) == ZUMI_OK) {
            ZumiHasharrayPutString(output, index, "text", text);
        }
        if (ZumiHasharrayGetInt(input, i, "number", &number) == ZUMI_OK) {
            ZumiHasharrayPutInt(output, index, "number", number);
        }
    }
    int index = 0;
    ZumiHasharrayAddHash(output, &index);
    ZumiHasharrayPutInt(output, index, "sent", count);
    return p->status;
}

void onEvent(ZumiHandle, const char* eventName, ZumiEventHandle event, void*) {
    std::ostringstream line;
    line << "E " << ZumiGetEventSource(event) << ' ' << eventName;
    int number = 0;
    while (ZumiGetIntParam(event, &number) == ZUMI_OK) line << ' ' << number;
    line << " |";
    const char* text = nullptr;
    while (ZumiGetStringParam(event, &text) == ZUMI_OK) line << ' ' << text;
    say(line.str());
}

Property* publish(const std::string& name) {
    Property*& p = g_properties[name];
    if (p == nullptr) p = new Property();
    return p;
}

std::string run(std::istringstream& in) {
    std::string command;
    in >> command;
    std::ostringstream out;
    if (command == "open") {
        std::string id;
        in >> id;
        ZumiStatus status = 0;
        g_handle = ZumiOpenEx(id == "-" ? "" : id.c_str(), &status);
        out << status;
    } else if (command == "int" || command == "str") {
        // int|str NAME VALUE ACCESS(r|w|rw|-) [STATUS]
        std::string name, value, rights;
        unsigned status = 0;
        in >> name >> value >> rights >> status;
        Property* p = publish(name);
        p->number = atoi(value.c_str());
        p->text = value;
        p->status = status;
        bool r = rights.find('r') != std::string::npos, w = rights.find('w') != std::string::npos;
        out << (command == "int"
                    ? ZumiRegisterIntProperty(g_handle, name.c_str(), r ? getInt : nullptr,
                                              w ? setInt : nullptr, p)
                    : ZumiRegisterStringProperty(g_handle, name.c_str(), r ? getText : nullptr,
                                                 w ? setText : nullptr, p));
    } else if (command == "hash") {
        std::string name;
        unsigned status = 0;
        in >> name >> status;
        Property* p = publish(name);
        p->status = status;
        out << ZumiRegisterHasharrayProperty(g_handle, name.c_str(), access, p);
    } else if (command == "unreg") {
        std::string name;
        in >> name;
        out << ZumiUnregisterProperty(g_handle, name.c_str(), nullptr);
    } else if (command == "getint") {
        std::string service, property;
        in >> service >> property;
        int value = -1;
        ZumiStatus status = ZumiGetIntProperty(g_handle, service.c_str(), property.c_str(), &value);
        out << status << ' ' << value;
    } else if (command == "setint") {
        std::string service, property;
        int value = 0;
        in >> service >> property >> value;
        out << ZumiSetIntProperty(g_handle, service.c_str(), property.c_str(), value);
    } else if (command == "getstr") {
        std::string service, property;
        in >> service >> property;
        char* text = nullptr;
        ZumiStatus status = ZumiGetStringProperty(g_handle, service.c_str(), property.c_str(), &text);
        out << status << ' ' << (text == nullptr ? "" : text);
        ZumiFreeString(text);
    } else if (command == "setstr") {
        std::string service, property, value;
        in >> service >> property >> value;
        out << ZumiSetStringProperty(g_handle, service.c_str(), property.c_str(), value.c_str());
    } else if (command == "emit") {
        // emit EVENT [i:N | s:TEXT]...
        std::string event, param;
        in >> event;
        std::vector<int> ints;
        std::vector<std::string> texts;
        while (in >> param) {
            if (param.compare(0, 2, "i:") == 0) ints.push_back(atoi(param.c_str() + 2));
            if (param.compare(0, 2, "s:") == 0) texts.push_back(param.substr(2));
        }
        std::vector<const char*> pointers;
        for (const std::string& t : texts) pointers.push_back(t.c_str());
        out << ZumiSendEventWithParams(g_handle, event.c_str(), ints.data(), ints.size(),
                                       pointers.data(), pointers.size());
    } else if (command == "burst") {
        // burst EVENT COUNT: COUNT events with the integer parameters 0..COUNT-1
        std::string event;
        int count = 0;
        in >> event >> count;
        ZumiStatus status = ZUMI_OK;
        for (int i = 0; i < count && status == ZUMI_OK; ++i) {
            status = ZumiSendEventWithParams(g_handle, event.c_str(), &i, 1, nullptr, 0);
        }
        out << status;
    } else if (command == "hammer") {
        // hammer SERVICE PROPERTY COUNT: COUNT integer reads, statuses counted
        std::string service, property;
        int count = 0;
        in >> service >> property >> count;
        std::map<ZumiStatus, int> statuses;
        for (int i = 0; i < count; ++i) {
            int value = 0;
            ++statuses[ZumiGetIntProperty(g_handle, service.c_str(), property.c_str(), &value)];
        }
        const char* separator = "";
        for (const auto& entry : statuses) {
            out << separator << entry.first << ':' << entry.second;
            separator = " ";
        }
    } else if (command == "sub" || command == "unsub") {
        std::string source, event;
        in >> source >> event;
        out << (command == "sub"
                    ? ZumiSubscribeExt(g_handle, source.c_str(), event.c_str(), onEvent, nullptr)
                    : ZumiUnsubscribeExt(g_handle, source.c_str(), event.c_str(), nullptr));
    } else if (command == "close") {
        out << ZumiClose(g_handle);
        g_handle = nullptr;
    } else {
        out << "unknown command";
    }
    return "R " + out.str();
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        if (line == "quit") break;
        say(run(in));
    }
    if (g_handle != nullptr) ZumiClose(g_handle);
    for (auto& entry : g_properties) delete entry.second;
    return 0;
}

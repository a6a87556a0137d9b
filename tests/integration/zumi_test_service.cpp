// A peer process for the integration tests, driven line by line on stdin:
// it opens a connection, publishes properties, calls other services, sends
// and receives events; it also plays clients that do not use our library
// (hostile calls, forged events). Each command answers one line "R ...";
// received events are printed as "E source event ints... | texts...".

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EventText.h"
#include "RawClient.h"
#include <libzumi/ZumiBus.h>

namespace {

std::mutex g_outputLock;
ZumiHandle g_handle = nullptr;

void say(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_outputLock);
    fputs((line + "\n").c_str(), stdout);
    fflush(stdout);
}

// One published property: a stored value, or a fixed status for every call.
// While held, its callbacks wait (and with them the dispatch thread).
struct Property {
    std::mutex lock;
    std::condition_variable released;
    bool held = false;
    int number = 0;
    std::string text;
    ZumiStatus status = ZUMI_OK;
};
std::map<std::string, std::unique_ptr<Property>> g_properties;

template <typename Serve>
unsigned int serve(void* data, Serve serve) {
    Property& p = *static_cast<Property*>(data);
    std::unique_lock<std::mutex> lock(p.lock);
    p.released.wait(lock, [&p] { return !p.held; });
    return p.status != ZUMI_OK ? p.status : serve(p);
}
unsigned int getInt(ZumiHandle, const char*, int* value, void* data) {
    return serve(data, [&](Property& p) { *value = p.number; return 0u; });
}
unsigned int setInt(ZumiHandle, const char*, int value, void* data) {
    return serve(data, [&](Property& p) { p.number = value; return 0u; });
}
unsigned int getText(ZumiHandle, const char*, char* buffer, unsigned int* size, void* data) {
    return serve(data, [&](Property& p) -> unsigned int {
        const unsigned int need = static_cast<unsigned int>(p.text.size() + 1);
        if (*size < need) {
            *size = need;
            return ZUMI_ERR_BUFFER_TOO_SMALL;
        }
        memcpy(buffer, p.text.c_str(), need);
        return ZUMI_OK;
    });
}
unsigned int setText(ZumiHandle, const char*, const char* value, void* data) {
    return serve(data, [&](Property& p) { p.text = value; return 0u; });
}
// Answers with a copy of what was sent plus one hash {"sent": hashes sent, or
// -1 for a read}, and the property's status.
unsigned int access(ZumiHandle, const char*, ZumiHasharrayHandleStruct* input,
                    ZumiHasharrayHandleStruct* output, void* data) {
    int count = input == nullptr ? -1 : ZumiHasharrayGetHashCount(input);
    int index = 0, number = 0;
    const char* text = nullptr;
    for (int i = 0; i < count; ++i) {
        ZumiHasharrayAddHash(output, &index);
        if (ZumiHasharrayGetString(input, i, "text", &text) == ZUMI_OK) {
            ZumiHasharrayPutString(output, index, "text", text);
        }
        if (ZumiHasharrayGetInt(input, i, "number", &number) == ZUMI_OK) {
            ZumiHasharrayPutInt(output, index, "number", number);
        }
    }
    ZumiHasharrayAddHash(output, &index);
    ZumiHasharrayPutInt(output, index, "sent", count);
    return static_cast<Property*>(data)->status;
}

void onEvent(ZumiHandle, const char* eventName, ZumiEventHandle event, void*) {
    say("E " + eventText(eventName, event));
}

typedef std::vector<std::string> Words;  // the command line, padded with ""
std::string str(ZumiStatus status) { return std::to_string(status); }
const char* c(const std::string& text) { return text.c_str(); }

// int|str NAME VALUE ACCESS(r|w|rw|-) [STATUS], hash NAME [STATUS]
std::string publish(const Words& a) {
    const bool hash = a[0] == "hash";
    std::unique_ptr<Property>& p = g_properties[a[1]];
    if (!p) p.reset(new Property());
    p->number = atoi(c(a[2]));
    p->text = a[2];
    p->status = static_cast<ZumiStatus>(strtoul(c(a[hash ? 2 : 4]), nullptr, 10));
    const bool r = a[3].find('r') != std::string::npos, w = a[3].find('w') != std::string::npos;
    if (hash) return str(ZumiRegisterHasharrayProperty(g_handle, c(a[1]), access, p.get()));
    if (a[0] == "int") return str(ZumiRegisterIntProperty(g_handle, c(a[1]), r ? getInt : nullptr, w ? setInt : nullptr, p.get()));
    return str(ZumiRegisterStringProperty(g_handle, c(a[1]), r ? getText : nullptr, w ? setText : nullptr, p.get()));
}

std::string hold(const std::string& name, bool held) {
    auto found = g_properties.find(name);
    if (found == g_properties.end()) return "no such property";
    Property& p = *found->second;
    std::lock_guard<std::mutex> lock(p.lock);
    p.held = held;
    p.released.notify_all();
    return "0";
}

// A plain sd-bus client of the bus at ZUMI_BUS_ADDRESS, as a forger or
// a hostile client has, who does not use our library; null when none opens.
sd_bus* openRawBus() {
    sd_bus* bus = nullptr;
    const char* address = getenv("ZUMI_BUS_ADDRESS");
    if (sd_bus_new(&bus) < 0) return nullptr;
    if (address == nullptr || sd_bus_set_address(bus, address) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
        sd_bus_start(bus) < 0) {
        return sd_bus_flush_close_unref(bus);
    }
    return bus;
}

// hostile SERVICE -> the error name of each of the hostile calls, "-" for
// success, separated by blanks.
std::string hostile(const Words& a) {
    sd_bus* attacker = openRawBus();
    if (attacker == nullptr) return "no bus";
    std::string answer;
    for (const zumi::testing::RawCase& call : zumi::testing::hostileCalls()) {
        const std::string error = zumi::testing::rawCall(attacker, a[1], call);
        answer += (answer.empty() ? "" : " ") + (error.empty() ? std::string("-") : error);
    }
    sd_bus_flush_close_unref(attacker);
    return answer;
}

// forge SOURCE EVENT: the event of SOURCE, without parameters, broadcast from
// a connection that does not own SOURCE.
std::string forge(const Words& a) {
    sd_bus* forger = openRawBus();
    if (forger == nullptr) return "no bus";
    sd_bus_message* signal = nullptr;
    int r = sd_bus_message_new_signal(forger, &signal, "/com/tessal/zumi", "com.tessal.Zumi", "Event");
    if (r >= 0) r = sd_bus_message_append(signal, "ss", c(a[1]), c(a[2]));
    if (r >= 0) r = sd_bus_message_append(signal, "aias", 0, 0);  // no parameters
    if (r >= 0) r = sd_bus_send(forger, signal, nullptr);
    sd_bus_message_unref(signal);
    sd_bus_flush(forger);
    sd_bus_flush_close_unref(forger);
    return std::to_string(r < 0 ? r : 0);
}

// Each command's answer; the property calls take SERVICE PROPERTY [VALUE].
const std::map<std::string, std::function<std::string(const Words&)>> kCommands = {
    {"open", [](const Words& a) {  // open ID, or "-" for a client-only connection
        ZumiStatus status = 0;
        g_handle = ZumiOpenEx(a[1] == "-" ? "" : c(a[1]), &status);
        return str(status);
    }},
    {"int", publish}, {"str", publish}, {"hash", publish},
    // later MS int|str|hash ...: publishes as above MS milliseconds from now,
    // as a service does that is slow to start after it took its name.
    {"later", [](const Words& a) {
        const Words rest(a.begin() + 2, a.end());
        std::thread([rest, ms = atoi(c(a[1]))] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            publish(rest);
        }).detach();
        return std::string("0");
    }},
    {"getint", [](const Words& a) {  // -> STATUS VALUE
        int value = -1;
        const ZumiStatus status = ZumiGetIntProperty(g_handle, c(a[1]), c(a[2]), &value);
        return str(status) + " " + std::to_string(value);
    }},
    {"getstr", [](const Words& a) {  // -> STATUS TEXT
        char* text = nullptr;
        const ZumiStatus status = ZumiGetStringProperty(g_handle, c(a[1]), c(a[2]), &text);
        const std::string answer = str(status) + " " + (text ? text : "");
        ZumiFreeString(text);
        return answer;
    }},
    {"hold", [](const Words& a) { return hold(a[1], true); }},  // hold NAME: its callbacks wait
    {"release", [](const Words& a) { return hold(a[1], false); }},
    {"setint", [](const Words& a) { return str(ZumiSetIntProperty(g_handle, c(a[1]), c(a[2]), atoi(c(a[3])))); }},
    {"emit", [](const Words& a) {  // emit EVENT [i:N | s:TEXT]...
        std::vector<int> ints;
        std::vector<const char*> texts;
        for (const std::string& p : a) {
            if (p.compare(0, 2, "i:") == 0) ints.push_back(atoi(c(p) + 2));
            if (p.compare(0, 2, "s:") == 0) texts.push_back(c(p) + 2);
        }
        return str(ZumiSendEventWithParams(g_handle, c(a[1]), ints.data(), ints.size(), texts.data(), texts.size()));
    }},
    {"burst", [](const Words& a) {  // burst EVENT COUNT: events with the integers 0..COUNT-1
        ZumiStatus status = ZUMI_OK;
        for (int i = 0; i < atoi(c(a[2])) && status == ZUMI_OK; ++i) {
            status = ZumiSendEventWithParams(g_handle, c(a[1]), &i, 1, nullptr, 0);
        }
        return str(status);
    }},
    {"hostile", hostile},
    {"forge", forge},
    {"sub", [](const Words& a) { return str(ZumiSubscribeExt(g_handle, c(a[1]), c(a[2]), onEvent, nullptr)); }},
    {"close", [](const Words&) {
        ZumiStatus status = ZumiClose(g_handle);
        g_handle = nullptr;
        return str(status);
    }},
};

}  // namespace

int main() {
    openlog(nullptr, LOG_PERROR, LOG_USER);  // log lines on stderr too, where tests read them
    for (std::string line; std::getline(std::cin, line) && line != "quit";) {
        std::istringstream in(line);
        Words words;
        for (std::string w; in >> w;) words.push_back(w);
        words.resize(words.size() + 5);
        auto command = kCommands.find(words[0]);
        say("R " + (command == kCommands.end() ? std::string("unknown command") : command->second(words)));
    }
    if (g_handle != nullptr) ZumiClose(g_handle);
    return 0;
}

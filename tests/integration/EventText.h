#ifndef ZUMI_TESTS_INTEGRATION_EVENTTEXT_H
#define ZUMI_TESTS_INTEGRATION_EVENTTEXT_H

// One received event as the tests compare it: "source event ints... | texts...",
// read through the bus contract as an event callback reads it. Used by the
// test process's Recorder and by the zumi_test_service peer alike.

#include <sstream>
#include <string>

#include <libzumi/ZumiBus.h>

inline std::string eventText(const char* eventName, ZumiEventHandle event) {
    std::ostringstream line;
    line << ZumiGetEventSource(event) << ' ' << eventName;
    int number = 0;
    while (ZumiGetIntParam(event, &number) == ZUMI_OK) line << ' ' << number;
    line << " |";
    const char* text = nullptr;
    while (ZumiGetStringParam(event, &text) == ZUMI_OK) line << ' ' << text;
    return line.str();
}

#endif

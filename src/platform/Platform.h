#ifndef ZUMI_PLATFORM_PLATFORM_H
#define ZUMI_PLATFORM_PLATFORM_H

// Symbols that the device's platform provides to every application: the log
// mask of its utility library and the application identifier. Off the device
// our libzumi (bus/core/PlatformSymbols.cpp) defines both, so that on the device
// the platform's own take their place.

#include <zumi/ZumiExport.h>

extern "C" {
/* Bits 25/24/23/15 enable E/W/I/D lines. Read at the moment of each call. */
ZUMI_EXPORT extern unsigned int g_tessal_log_mask;
/* Names the application in every log line; an application defines its own. */
ZUMI_EXPORT extern const char* APP_ID;
}

#endif

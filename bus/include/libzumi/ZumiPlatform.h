#ifndef LIBZUMI_ZUMIPLATFORM_H
#define LIBZUMI_ZUMIPLATFORM_H

/* Symbols that the device's platform provides to every application: the log
 * mask of its utility library and the application identifier. Off the device
 * our libzumi (bus/core/PlatformSymbols.cpp) defines both, so that on the
 * device the platform's own take their place.
 *
 * They are declared here, beside the library that defines them, rather than
 * in libbramwickzumi: libzumi writes log lines of its own and must build
 * without anything above it, and one declaration serves both libraries
 * (libbramwickzumi's src/platform/Platform.h includes this one). */

#include <libzumi/ZumiTypes.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The bits of g_tessal_log_mask that enable the E, W, I and D lines. */
enum {
    ZUMI_LOG_MASK_E = 0x02000000,
    ZUMI_LOG_MASK_W = 0x01000000,
    ZUMI_LOG_MASK_I = 0x00800000,
    ZUMI_LOG_MASK_D = 0x00008000
};

/* Read at the moment of each log call. */
ZUMI_BUS_EXPORT extern unsigned int g_tessal_log_mask;
/* Names the application in every log line; an application defines its own. */
ZUMI_BUS_EXPORT extern const char* APP_ID;

#ifdef __cplusplus
}
#endif

#endif

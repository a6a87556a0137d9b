#ifndef ZUMI_PLATFORM_PLATFORM_H
#define ZUMI_PLATFORM_PLATFORM_H

// The platform symbols this library reads: the log mask and APP_ID. Declared
// by libzumi, which defines their stand-ins off the device (see
// libzumi/ZumiPlatform.h for why they live there).

#include <libzumi/ZumiPlatform.h>

#endif

#ifndef ZUMI_PLATFORM_ZUMIBUS_H
#define ZUMI_PLATFORM_ZUMIBUS_H

// The bus library's operations that this library calls. libzumi owns their
// declarations (bus/include/libzumi/ZumiBus.h, installed with it); this is
// the one place through which src/ reaches them, and it declares nothing of
// its own.

#include <libzumi/ZumiBus.h>

#endif

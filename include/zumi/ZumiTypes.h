#ifndef ZUMI_ZUMITYPES_H
#define ZUMI_ZUMITYPES_H

// The bus library's opaque handles and status type, as the public headers
// use them. libzumi owns and documents them (libzumi/ZumiTypes.h, installed
// with it); this header only brings them in.

#include <libzumi/ZumiTypes.h>

#endif

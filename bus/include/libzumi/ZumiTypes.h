#ifndef LIBZUMI_ZUMITYPES_H
#define LIBZUMI_ZUMITYPES_H

/// @file
/// The bus library's opaque handles and status type, owned by libzumi and
/// declared apart from its operations (libzumi/ZumiBus.h), so that headers
/// which only pass handles around need nothing more. Plain C.

#include <stdint.h>

/** libzumi is built with hidden visibility; only what carries this mark is
 *  part of its ABI. */
#if defined(__GNUC__)
#define ZUMI_BUS_EXPORT __attribute__((visibility("default")))
#else
#define ZUMI_BUS_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** An open connection to the bus. */
struct ZumiHandleStruct;
/** An open connection to the bus. */
typedef struct ZumiHandleStruct* ZumiHandle;

/** An event as received, valid during the event callback only. */
struct ZumiEventHandleStruct;
/** An event as received, valid during the event callback only. */
typedef struct ZumiEventHandleStruct* ZumiEventHandle;

/** A list of hashes from string keys to integer or string values. */
struct ZumiHasharrayHandleStruct;

/** 0 is success; every other value names a failure (ZumiGetErrorString). */
typedef uint32_t ZumiStatus;

#ifdef __cplusplus
}
#endif

#endif

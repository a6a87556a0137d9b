#ifndef ZUMI_ZUMITYPES_H
#define ZUMI_ZUMITYPES_H

/// @file
/// The bus library's opaque handles and status type. They are only declared
/// here, so that the public headers compile without the bus library's own
/// header; the operations on them are declared in src/platform/ZumiBus.h.

#include <stdint.h>

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

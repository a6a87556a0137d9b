#ifndef ZUMI_ZUMIEXPORT_H
#define ZUMI_ZUMIEXPORT_H

/// @file
/// The shared libraries are built with hidden visibility; only what carries
/// this mark is part of their ABI.
#if defined(__GNUC__)
#define ZUMI_EXPORT __attribute__((visibility("default")))
#else
#define ZUMI_EXPORT
#endif

#endif

#ifndef ZUMI_BENCH_SUPPORT_SEQUENCECOUNT_H
#define ZUMI_BENCH_SUPPORT_SEQUENCECOUNT_H

#include <stdint.h>

// Numbered messages as they arrive: how many, and how many carried a number
// not above the one before (reordered). Used by one thread at a time.
struct SequenceCount {
    uint64_t received = 0;
    uint64_t reordered = 0;
    long last = -1;

    void note(long seq) {
        if (seq <= last) ++reordered;
        last = seq;
        ++received;
    }
};

#endif

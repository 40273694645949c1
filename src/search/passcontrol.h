#pragma once

#include <QtGlobal>
#include <atomic>
#include <cstddef>

namespace kelvara {

// The cores this process may run on, at most 8: the threads a pass uses unless told otherwise.
int defaultThreadCount();

// How a search or replace pass runs, and what it tells while it runs. The caller may set
// stopRequested and read the counters from any thread.
struct PassControl
{
    // Threads that read files at once; 1 reads one file at a time on the calling thread.
    int threads = defaultThreadCount();
    // Bytes of rows that files read ahead may hold until their turn comes.
    size_t heldBytesLimit = 8 << 20;

    // Set to stop the pass: it ends within one read block of each thread, commits nothing more, and
    // leaves no temporary file; what it committed before stands.
    std::atomic<bool> stopRequested{false};
    std::atomic<qint64> filesRead{0};      // read through, in any order
    std::atomic<qint64> filesCommitted{0}; // handed out in their order
    std::atomic<qint64> bytesRead{0};

    bool stopped() const { return stopRequested.load(std::memory_order_relaxed); }
};

} // namespace kelvara

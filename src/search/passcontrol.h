#pragma once

#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>

namespace kelvara {

// The cores this process may run on, at most 8: the threads a pass uses unless told otherwise.
int defaultThreadCount();

// How a search or replace pass runs, and what it tells while it runs. The caller may set
// stopRequested and read the counters from any thread.
struct PassControl
{
    // Threads that read files at once; 1 reads one file at a time (on the calling thread, unless it
    // only commits).
    int threads = defaultThreadCount();
    // Bytes of rows that files read ahead may hold until their turn comes.
    size_t heldBytesLimit = 8 << 20;
    // The calling thread only commits, and reads a file only when a commit asks for it again (after
    // a "try again", or alone when memory ran out); the others go to `threads` workers. For a
    // window's thread, which must stay free for its events. A replace then has the workers name its
    // copies, in file order, ahead of their commits; a stop commits the files already named too.
    bool callerCommitsOnly = false;
    // Runs on the calling thread about every PulseInterval, between commits and while it waits for a file: a
    // window handles its events there, a terminal shows progress. It may set stopRequested.
    std::function<void()> pulse;
    static constexpr int PulseIntervalMs = 25;

    // Set to stop the pass: it ends within one read block of each thread, commits nothing more, and
    // leaves no temporary file; what it committed before stands.
    std::atomic<bool> stopRequested{false};
    std::atomic<qint64> filesRead{0};      // read through, in any order
    std::atomic<qint64> filesCommitted{0}; // handed out in their order
    std::atomic<qint64> bytesRead{0};
    std::atomic<qint64> filesToDo{0}; // of the pass that runs

    // The path, as the user is shown it, of file `file` of the pass that runs; set by the pass for
    // the time it runs, for `pulse` to name the file it waits for.
    std::function<QString(size_t file)> pathOf;

    bool stopped() const { return stopRequested.load(std::memory_order_relaxed); }
    // Runs `step` to its end; with a pulse, on a thread of its own while this one pulses, so that a
    // step that blocks (a flush to a slow disk) does not hold up a window's events.
    void runPulsing(const std::function<void()>& step);
    // Sets of per-thread tools a pass needs: one for each thread that reads, the caller's first.
    int toolSets() const { return std::max(1, threads) + (callerCommitsOnly ? 1 : 0); }
};

} // namespace kelvara

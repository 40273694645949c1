#pragma once

#include "passcontrol.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvara {

// Works on the files of a pass on several threads and commits them on the calling thread, one after
// another in their order.
//
// Invariant: files are taken in their order, each into a slot of its own, and only the calling
// thread commits them, strictly in file order; a file is taken only while it is less than reach_
// ahead of the next to commit and the files done ahead hold fewer bytes than the limit, so the next
// to commit is always let in. With steps ahead, the workers also run the part of each commit that
// needs no calling thread, in file order, over [committed_, ahead_), and the caller commits a file
// only once the steps passed it or halted at it.
class OrderedPool
{
public:
    // Enough for the workers to go on through a window's repaint at a pulse: 8192 small files take
    // some 30 ms to read.
    static constexpr int SlotCount = 8192;
    static constexpr size_t OpenAhead = 64;

    class Task
    {
    public:
        // Works on file `file` into slot `slot` (below SlotCount, its own until its commit) with the
        // tools of thread `thread` (0 is the calling thread's, 1 to control.toolSets() - 1 the
        // workers'). Returns the bytes the slot holds until its commit. Must not throw.
        virtual size_t work(size_t file, int slot, int thread) = 0;
        // Hands out the work of file `file` from its slot, on the calling thread. May call alone().
        virtual void commit(size_t file, int slot) = 0;
        // With steps ahead: the part of file `file`'s commit that may run on a worker, once every file
        // before it has had its own or its commit. False leaves it to the commit. Must not throw.
        virtual bool commitAhead(size_t /*file*/, int /*slot*/) { return true; }
        // Before the first work() of a run: the slots it uses are 0 to `count` - 1.
        virtual void useSlots(int count) = 0;

    protected:
        ~Task() = default;
    };

    OrderedPool(Task& task, PassControl& control) : task_(task), control_(control) {}
    ~OrderedPool() { stopWorkers(); }
    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // Works on and commits files [0, count), pulsing the control as it goes, until the control asks to stop
    // or a commit throws (which asks it to stop too). Every worker is joined when it returns. With
    // `stepsAhead` and a caller that only commits, the workers take commitAhead() too. The control's
    // pathOf is `pathOf` meanwhile.
    void run(size_t count, const std::function<QString(size_t)>& pathOf, bool stepsAhead = false);
    // Runs `step` on the calling thread while no worker works on a file (from a commit).
    void alone(const std::function<void()>& step);
    // Whether files may be read on other threads than the calling one (only during run()).
    bool hasWorkers() const { return parallel_; }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration PulseInterval = std::chrono::milliseconds(PassControl::PulseIntervalMs);

    // Files reach_ apart share a slot: the fewer slots, the fewer buffers in use.
    int slotOf(size_t file) const { return int(file % reach_); }
    void start(size_t count, bool stepsAhead);
    void committedOne(std::unique_lock<std::mutex>& lock, int slot);
    bool canTake() const;
    bool canStep() const;
    bool committable() const;
    bool callerDue() const;
    void stepAhead(std::unique_lock<std::mutex>& lock);
    void waitForTurn(std::unique_lock<std::mutex>& lock);
    void pulse();
    void workerLoop(int thread);
    void finished(size_t file, size_t bytes);
    void startWorkers();
    void stopWorkers();

    Task& task_;
    PassControl& control_;

    std::mutex mutex_;
    std::condition_variable workable_; // for the workers: a file to take, or the end
    std::condition_variable changed_;  // for the caller: a file done, or no worker busy
    size_t count_ = 0;
    size_t next_ = 0;      // the next file to take
    size_t committed_ = 0; // files committed; the next to commit
    size_t held_ = 0;      // bytes held by files done and not committed
    size_t ready_ = 0;     // files done and not committed
    // Set before the workers start: all the slots for a caller that only commits, so that the workers
    // go on while it handles its events, and a quarter of them when they also step ahead (fewer
    // slots stay in the caches, and the steps leave the commits little to do); otherwise OpenAhead,
    // as each file done may hold its copy open until its commit.
    size_t reach_ = OpenAhead;
    std::vector<size_t> bytes_ = std::vector<size_t>(SlotCount);
    std::vector<char> done_ = std::vector<char>(SlotCount);
    int busy_ = 0;        // workers working on a file
    bool paused_ = false; // the caller runs a step alone
    bool ending_ = false;
    // With steps ahead: the next file to step. A stop lets no step start, and the caller still commits the
    // files the steps passed; a file is taken only while less than OpenAhead ahead of the steps.
    size_t ahead_ = 0;
    bool stepping_ = false;   // a worker runs the steps
    bool halted_ = false;     // file ahead_ is left to its commit; the steps go on after it
    bool parallel_ = false;   // set before the workers start, read-only while they run
    bool stepsAhead_ = false; // likewise
    // The calling thread's own: whether it takes files, and when it last pulsed.
    bool callerTakes_ = true;
    Clock::time_point lastPulse_;
    std::vector<std::thread> workers_;
};

} // namespace kelvara

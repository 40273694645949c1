#include "orderedpool.h"

#include <algorithm>
#include <exception>
#include <sched.h>
#include <system_error>

namespace kelvara {

int defaultThreadCount()
{
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::clamp(CPU_COUNT(&set), 1, 8);
}

void PassControl::runPulsing(const std::function<void()>& step)
{
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::exception_ptr failure; // from the step, for this thread to throw
    std::thread thread;
    try {
        if (pulse)
            thread = std::thread([&] {
                try {
                    step();
                } catch (...) {
                    failure = std::current_exception();
                }
                const std::lock_guard lock(mutex);
                done = true;
                ended.notify_one();
            });
    } catch (const std::system_error&) {
    }
    if (!thread.joinable()) {
        step();
        return;
    }
    std::unique_lock lock(mutex);
    while (!ended.wait_for(lock, std::chrono::milliseconds(PulseIntervalMs), [&] { return done; })) {
        lock.unlock();
        pulse();
        lock.lock();
    }
    lock.unlock();
    thread.join();
    if (failure)
        std::rethrow_exception(failure);
}

bool OrderedPool::canTake() const
{
    return !paused_ && next_ < count_ && next_ < committed_ + SlotCount && held_ < control_.heldBytesLimit &&
           !control_.stopped();
}

void OrderedPool::run(size_t count)
{
    {
        std::lock_guard lock(mutex_);
        count_ = count;
        next_ = committed_ = held_ = ready_ = 0;
        std::fill(std::begin(done_), std::end(done_), false); // files done ahead of a stop
    }
    control_.filesToDo = qint64(count);
    // However run() ends, no worker outlives it: what the workers use need only outlive the call.
    // An exception from a commit stops the files in work too.
    struct Join
    {
        OrderedPool& pool;
        ~Join()
        {
            if (std::uncaught_exceptions() > 0)
                pool.control_.stopRequested = true;
            pool.stopWorkers();
        }
    } join{*this};
    parallel_ = control_.callerCommitsOnly ? count > 0 : control_.threads > 1 && count > 1;
    callerTakes_ = !control_.callerCommitsOnly; // read by the workers from their start
    if (parallel_)
        startWorkers();
    if (workers_.empty())
        callerTakes_ = true;
    lastPulse_ = Clock::now();
    std::unique_lock lock(mutex_);
    while (committed_ < count_) {
        const int slot = int(committed_ % SlotCount);
        // While the next file to commit is not done, the calling thread works on a file too, unless it
        // only commits.
        waitForTurn(lock, slot);
        if (control_.stopped())
            break;
        if (!done_[slot]) {
            const size_t file = next_++;
            lock.unlock();
            const size_t bytes = task_.work(file, int(file % SlotCount), 0);
            lock.lock();
            finished(file, bytes);
            continue;
        }
        lock.unlock();
        task_.commit(committed_, slot);
        control_.filesCommitted.fetch_add(1, std::memory_order_relaxed);
        lock.lock();
        held_ -= bytes_[slot];
        done_[slot] = false;
        --ready_;
        ++committed_;
        // Workers that wait for room are woken once half the slots are free again, not at every
        // commit: each wake-up costs both threads more than a small file's reading.
        if (next_ - committed_ <= SlotCount / 2 && canTake()) {
            lock.unlock();
            workable_.notify_all();
            lock.lock();
        }
        if (control_.pulse && Clock::now() - lastPulse_ >= PulseInterval) {
            lock.unlock();
            pulse();
            lock.lock();
        }
    }
}

// Waits until the file in `slot` is done, the calling thread may take a file, or the pass stops;
// pulses meanwhile. Under the lock.
void OrderedPool::waitForTurn(std::unique_lock<std::mutex>& lock, int slot)
{
    const auto ready = [&] { return done_[slot] || (callerTakes_ && canTake()) || control_.stopped(); };
    if (!control_.pulse) {
        changed_.wait(lock, ready);
        return;
    }
    while (!changed_.wait_until(lock, lastPulse_ + PulseInterval, ready)) {
        lock.unlock();
        pulse();
        lock.lock();
    }
}

void OrderedPool::pulse()
{
    control_.pulse();
    lastPulse_ = Clock::now();
}

// Under the lock.
void OrderedPool::finished(size_t file, size_t bytes)
{
    const int slot = int(file % SlotCount);
    bytes_[slot] = bytes;
    held_ += bytes;
    done_[slot] = true;
    ++ready_;
    control_.filesRead.fetch_add(1, std::memory_order_relaxed);
}

void OrderedPool::alone(const std::function<void()>& step)
{
    std::unique_lock lock(mutex_);
    paused_ = true;
    changed_.wait(lock, [this] { return busy_ == 0; });
    lock.unlock();
    struct Resume
    {
        OrderedPool& pool;
        ~Resume()
        {
            {
                std::lock_guard lock(pool.mutex_);
                pool.paused_ = false;
            }
            pool.workable_.notify_all();
        }
    } resume{*this};
    step();
}

void OrderedPool::workerLoop(int thread)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        workable_.wait(lock, [this] { return ending_ || canTake(); });
        if (ending_)
            return;
        const size_t file = next_++;
        ++busy_;
        lock.unlock();
        const size_t bytes = task_.work(file, int(file % SlotCount), thread);
        lock.lock();
        --busy_;
        finished(file, bytes);
        // The caller waits only for the next file to commit, or for no worker to be busy. One that
        // only commits is woken for a batch of files, or when the workers can take no more: a wake
        // per file would cost more than the commit.
        const bool next = done_[committed_ % SlotCount];
        if ((callerTakes_ ? file == committed_ : next && (ready_ >= CommitBatch || !canTake())) ||
            (paused_ && busy_ == 0))
            changed_.notify_one();
    }
}

void OrderedPool::startWorkers()
{
    const int workers = control_.callerCommitsOnly ? std::max(1, control_.threads) : control_.threads - 1;
    try {
        for (int thread = 1; thread <= workers; ++thread)
            workers_.emplace_back([this, thread] { workerLoop(thread); });
    } catch (const std::system_error&) {
        // Fewer threads than asked for: those there are do the work, or the caller alone.
    }
}

void OrderedPool::stopWorkers()
{
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    workable_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
    std::lock_guard lock(mutex_);
    ending_ = false;
}

} // namespace kelvara

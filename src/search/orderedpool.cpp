#include "orderedpool.h"

#include <QScopeGuard>
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
    return !paused_ && next_ < count_ && next_ < committed_ + reach_ && held_ < control_.heldBytesLimit &&
           (!stepsAhead_ || next_ < ahead_ + OpenAhead) && !control_.stopped();
}

bool OrderedPool::canStep() const
{
    return stepsAhead_ && !stepping_ && !halted_ && !paused_ && ahead_ < next_ && done_[slotOf(ahead_)] &&
           !control_.stopped();
}

// Whether the next file to commit may be committed now.
bool OrderedPool::committable() const
{
    return stepsAhead_ ? committed_ < ahead_ || halted_ : done_[slotOf(committed_)];
}

// Whether a caller that only commits is to be woken: for a batch of a quarter of the slots, when the
// workers can take no more, or for a file left to its commit. Every wake-up costs both threads more
// than a small file's commit; the caller also commits what is ready at each pulse.
bool OrderedPool::callerDue() const
{
    const size_t waiting = stepsAhead_ ? ahead_ - committed_ : ready_;
    return committable() && (halted_ || waiting >= reach_ / 4 || !canTake());
}

void OrderedPool::run(size_t count, const std::function<QString(size_t)>& pathOf, bool stepsAhead)
{
    // However run() ends, no worker outlives it: what the workers use need only outlive the call.
    // An exception from a commit stops the files in work too.
    const auto join = qScopeGuard([this] {
        if (std::uncaught_exceptions() > 0)
            control_.stopRequested = true;
        stopWorkers();
        control_.pathOf = nullptr;
    });
    control_.pathOf = pathOf;
    start(count, stepsAhead);
    lastPulse_ = Clock::now();
    std::unique_lock lock(mutex_);
    while (committed_ < count_) {
        const int slot = slotOf(committed_);
        // While the next file to commit is not done, the calling thread works on a file too, unless it
        // only commits.
        waitForTurn(lock);
        // Files the steps ahead passed are committed even after a stop: their part is done.
        if (control_.stopped() && !(stepsAhead_ && committed_ < ahead_))
            break;
        if (!committable()) {
            const size_t file = next_++;
            lock.unlock();
            const size_t bytes = task_.work(file, slotOf(file), 0);
            lock.lock();
            finished(file, bytes);
            continue;
        }
        lock.unlock();
        task_.commit(committed_, slot);
        control_.filesCommitted.fetch_add(1, std::memory_order_relaxed);
        lock.lock();
        committedOne(lock, slot);
        if (control_.pulse && Clock::now() - lastPulse_ >= PulseInterval) {
            lock.unlock();
            pulse();
            lock.lock();
        }
    }
}

// Resets the pool for `count` files and starts the workers.
void OrderedPool::start(size_t count, bool stepsAhead)
{
    {
        std::lock_guard lock(mutex_);
        count_ = count;
        next_ = committed_ = held_ = ready_ = ahead_ = 0;
        stepping_ = halted_ = false;
        std::fill(done_.begin(), done_.end(), false); // files done ahead of a stop
    }
    control_.filesToDo = qint64(count);
    parallel_ = control_.callerCommitsOnly ? count > 0 : control_.threads > 1 && count > 1;
    callerTakes_ = !control_.callerCommitsOnly; // read by the workers from their start
    stepsAhead_ = stepsAhead && control_.callerCommitsOnly;
    reach_ = !control_.callerCommitsOnly ? OpenAhead : stepsAhead_ ? SlotCount / 4 : SlotCount;
    task_.useSlots(int(std::min(reach_, std::max<size_t>(count, 1))));
    if (parallel_)
        startWorkers();
    if (workers_.empty()) { // OpenAhead slots, among those the task was given
        callerTakes_ = true;
        stepsAhead_ = false;
        reach_ = OpenAhead;
    }
}

// After the commit of the file in `slot`: the slot is free, steps ahead that waited for the file go
// on. Under the lock.
void OrderedPool::committedOne(std::unique_lock<std::mutex>& lock, int slot)
{
    held_ -= bytes_[slot];
    done_[slot] = false;
    --ready_;
    ++committed_;
    if (halted_ && committed_ > ahead_) {
        ahead_ = committed_;
        halted_ = false;
    }
    // Workers that wait for room are woken once half the slots are free again, not at every
    // commit: each wake-up costs both threads more than a small file's reading.
    if ((next_ - committed_ <= reach_ / 2 && canTake()) || canStep()) {
        lock.unlock();
        workable_.notify_all();
        lock.lock();
    }
}

// Waits until the next file to commit may be committed, the calling thread may take a file, or the
// pass stops (and no step ahead runs); pulses meanwhile. Under the lock.
void OrderedPool::waitForTurn(std::unique_lock<std::mutex>& lock)
{
    const auto ready = [&] {
        return committable() || (callerTakes_ && canTake()) || (control_.stopped() && !stepping_);
    };
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
    const int slot = slotOf(file);
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
    const auto resume = qScopeGuard([this] {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
        }
        workable_.notify_all();
    });
    step();
}

void OrderedPool::workerLoop(int thread)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        workable_.wait(lock, [this] { return ending_ || canTake() || canStep(); });
        if (ending_)
            return;
        bool first = false; // worked on the next file to commit
        if (!canStep()) {
            const size_t file = next_++;
            ++busy_;
            lock.unlock();
            const size_t bytes = task_.work(file, slotOf(file), thread);
            lock.lock();
            --busy_;
            finished(file, bytes);
            first = file == committed_;
        }
        if (canStep())
            stepAhead(lock);
        // The caller waits only for the next file to commit, or for no worker to be busy; after a
        // stop, for the steps ahead to end.
        if ((callerTakes_ ? first : callerDue() || control_.stopped()) || (paused_ && busy_ == 0))
            changed_.notify_one();
    }
}

// Runs the steps ahead of the files done, in their order, until one is not done or is left to its
// commit. Under the lock.
void OrderedPool::stepAhead(std::unique_lock<std::mutex>& lock)
{
    stepping_ = true;
    ++busy_;
    while (!paused_ && !control_.stopped() && ahead_ < next_ && done_[slotOf(ahead_)]) {
        const size_t file = ahead_;
        lock.unlock();
        const bool passed = task_.commitAhead(file, slotOf(file));
        lock.lock();
        if (!passed) {
            halted_ = true;
            break;
        }
        ++ahead_;
        // A worker that waits for the steps to make room takes files again once they are halfway
        // back, not at the caller's next commit.
        if (next_ - ahead_ == OpenAhead / 2) {
            lock.unlock();
            workable_.notify_one();
            lock.lock();
        }
    }
    stepping_ = false;
    --busy_;
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

#include "threads/ordered_loop.h"

#include <algorithm>
#include <utility>

OrderedLoop::OrderedLoop(int count, int window)
    : count_(std::max(0, count)), window_(std::max(0, window)), done_(size_t(count_), 0)
{
}

OrderedLoop::~OrderedLoop()
{
    stop();
    join();
}

void OrderedLoop::start(WorkerPool& pool, int copies, std::function<void()> work, bool callerWorks)
{
    work_ = std::move(work);
    team_.emplace(pool, copies, work_, callerWorks);
}

void OrderedLoop::run(WorkerPool& pool, int helpers, std::function<void()> work)
{
    start(pool, helpers, std::move(work), true);
    work_();
    join();
}

void OrderedLoop::join()
{
    team_.reset();
}

bool OrderedLoop::mayTake() const
{
    return !stopped_ && next_ < count_ && next_ < delivered_ + window_;
}

bool OrderedLoop::take(int& index)
{
    if (window_ == 0) {
        if (stopped_)
            return false;
        index = next_++;
        return index < count_;
    }
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return stopped_ || next_ >= count_ || mayTake(); });
    if (!mayTake())
        return false;
    index = next_++;
    return true;
}

void OrderedLoop::done(int index)
{
    {
        const std::lock_guard lock(mutex_);
        done_[size_t(index)] = 1;
        ++doneCount_;
    }
    finished_.notify_one();
}

void OrderedLoop::stop()
{
    {
        // Under the lock, so that no waiter misses it between its test and its wait.
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    finished_.notify_all();
    room_.notify_all();
}

bool OrderedLoop::deliver(const std::function<bool(int index)>& inOrder,
                          const std::function<void(int done)>& progress,
                          const std::function<void(int index)>& work)
{
    int shown = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopped_)
            return false;
        int ready = delivered_;
        while (ready < count_ && done_[size_t(ready)])
            ++ready;
        const int nowDone = doneCount_;
        const bool news = progress && nowDone > shown;
        if (ready == count_ && ready == delivered_ && !news)
            return true;
        if (ready > delivered_ || news) {
            // Reports happen outside the lock, so that they never hold up a copy.
            for (int index = delivered_; index < ready; ++index) {
                lock.unlock();
                const bool keepOn = !inOrder || inOrder(index);
                lock.lock();
                if (!keepOn) {
                    lock.unlock();
                    stop();
                    return false;
                }
                ++delivered_;
                if (window_ > 0)
                    room_.notify_all();
                if (stopped_)
                    return false;
            }
            if (news) {
                shown = nowDone;
                lock.unlock();
                progress(nowDone);
                lock.lock();
            }
            continue;
        }
        int index = -1;
        if (work && (window_ == 0 ? next_ < count_ : mayTake())) {
            index = next_++;
            if (index >= count_) // taken meanwhile by a copy on another thread
                index = -1;
        }
        if (index >= 0) {
            lock.unlock();
            work(index);
            lock.lock();
            done_[size_t(index)] = 1;
            ++doneCount_;
            continue;
        }
        finished_.wait(lock);
    }
}

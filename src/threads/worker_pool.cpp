#include "threads/worker_pool.h"

#include <algorithm>
#include <system_error>

namespace {

// Whether this thread already counts as busy for a pool: work it starts inside work gets no
// second core for it.
thread_local bool busyHere = false;

}  // namespace

struct WorkerPool::Offer {
    const std::function<void()>* work;
    int waiting;      // copies not started
    int running = 0;  // copies running on pool threads
};

WorkerPool& WorkerPool::shared()
{
    // Never destroyed: a thread still working as the program ends must not be waited for.
    static WorkerPool* const pool =
        new WorkerPool(int(std::max(1u, std::thread::hardware_concurrency())));
    return *pool;
}

WorkerPool::WorkerPool(int cores) : cores_(std::max(1, cores)) {}

WorkerPool::~WorkerPool()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

int WorkerPool::cores() const
{
    const std::lock_guard lock(mutex_);
    return cores_;
}

void WorkerPool::setCores(int cores)
{
    {
        const std::lock_guard lock(mutex_);
        cores_ = std::max(1, cores);
    }
    wake_.notify_all();
}

void WorkerPool::watch(std::function<void(int change)> watcher)
{
    const std::lock_guard lock(mutex_);
    watcher_ = std::move(watcher);
}

void WorkerPool::busyChange(int change)
{
    if (watcher_)
        watcher_(change);
}

void WorkerPool::threadLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || (busy_ < cores_ && !offers_.empty()); });
        if (stopping_)
            return;
        const std::shared_ptr<Offer> offer = offers_.front();
        if (--offer->waiting == 0)
            offers_.pop_front();
        ++offer->running;
        ++busy_;
        lock.unlock();
        busyHere = true;
        busyChange(+1);
        (*offer->work)();
        busyChange(-1);
        busyHere = false;
        lock.lock();
        --busy_;
        --offer->running;
        settled_.notify_all();
        wake_.notify_one();  // the core is free again
    }
}

void WorkerPool::run(int helpers, const std::function<void()>& work)
{
    Team team(*this, helpers, work, true);
    work();
    team.join();
}

WorkerPool::Team::Team(WorkerPool& pool, int copies, const std::function<void()>& work,
                       bool callerWorks)
    : pool_(pool), offer_(std::make_shared<Offer>(Offer{&work, 0}))
{
    std::unique_lock lock(pool.mutex_);
    // More copies than cores could only start one after another, and each finds what the others
    // left: nothing.
    offer_->waiting = std::clamp(copies, 0, pool.cores_);
    if (callerWorks && !busyHere) {
        counted_ = busyHere = true;
        ++pool.busy_;
    }
    // One thread per core, started as first needed. Without any, a team that does not work
    // itself could never finish.
    try {
        const size_t wanted = size_t(pool.cores_);
        while (offer_->waiting > 0 && pool.threads_.size() < wanted)
            pool.threads_.emplace_back([&pool] { pool.threadLoop(); });
    } catch (const std::system_error&) {
        if (pool.threads_.empty() && !callerWorks)
            throw;
    }
    if (offer_->waiting > 0 && !pool.threads_.empty())
        pool.offers_.push_back(offer_);
    else
        offer_->waiting = 0;
    lock.unlock();
    if (counted_)
        pool.busyChange(+1);
    pool.wake_.notify_all();
}

void WorkerPool::Team::join()
{
    {
        std::unique_lock lock(pool_.mutex_);
        if (offer_->waiting > 0) {
            offer_->waiting = 0;
            pool_.offers_.erase(std::find(pool_.offers_.begin(), pool_.offers_.end(), offer_));
        }
        pool_.settled_.wait(lock, [&] { return offer_->running == 0; });
        if (!counted_)
            return;
        counted_ = busyHere = false;
        --pool_.busy_;
    }
    pool_.busyChange(-1);
    pool_.wake_.notify_one();
}

WorkerPool::Team::~Team()
{
    join();
}

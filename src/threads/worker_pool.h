#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The program's worker threads, shared by everything that works on several cores (opening and
// saving PNGs, the command line's jobs), so that work started inside other work gets only the
// cores left: however it nests, no more threads are busy for the pool at once than it has cores.
// Work is handed out as copies of one function that each take what is left to do until nothing
// is, so a copy that never gets a core is never missed.
class WorkerPool {
public:
    // The pool of the whole program, one core per hardware thread.
    static WorkerPool& shared();

    explicit WorkerPool(int cores);
    // Stops the threads; no work may be running.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int cores() const;
    // How many threads may be busy at once, at least one; tests lower it to see work share.
    void setCores(int cores);

    // Hears every thread that starts (+1) or stops (-1) being busy for the pool, on that thread:
    // a window on the pool for tests and measurements. Set it while no work runs; empty for none.
    void watch(std::function<void(int change)> watcher);

    class Team;

    // Runs work on the calling thread and on up to helpers pool threads, each as a core comes
    // free while the calling thread's copy lasts, and returns when all that started are done.
    // The calling thread counts as busy, even when that makes one more than the cores. Copies of
    // work must not throw.
    void run(int helpers, const std::function<void()>& work);

private:
    struct Offer;

    void threadLoop();
    void busyChange(int change);

    mutable std::mutex mutex_;
    std::condition_variable wake_;     // for the threads: an offer or a free core
    std::condition_variable settled_;  // for teams: a copy ended
    std::deque<std::shared_ptr<Offer>> offers_;
    std::vector<std::thread> threads_;
    std::function<void(int)> watcher_;
    int cores_;
    int busy_ = 0;
    bool stopping_ = false;
};

// Copies of work offered to the pool's threads while the thread that made the team does its own
// part (writes what they make, reports what they finish). join(), or leaving the scope, withdraws
// the copies that have not started and waits for the others. With callerWorks the calling thread
// counts as busy while the team lasts.
class WorkerPool::Team {
public:
    Team(WorkerPool& pool, int copies, const std::function<void()>& work, bool callerWorks);
    ~Team();
    Team(const Team&) = delete;
    Team& operator=(const Team&) = delete;

    void join();

private:
    WorkerPool& pool_;
    std::shared_ptr<Offer> offer_;
    bool counted_ = false;
};

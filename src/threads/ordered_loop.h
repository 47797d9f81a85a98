#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "threads/worker_pool.h"

// Hands the indices 0 .. count - 1 out to copies of one piece of work on a WorkerPool, each copy
// taking the next index left until none is, so a slow index holds up one copy only, and gives
// the finished indices to the thread that started them in increasing order. Stopping it (an
// index failed, or the caller gives up) hands out no further index; those already taken are
// finished by their copies and not delivered.
//
// A copy of the work runs as
//     for (int i; loop.take(i);) { ...work on i...; loop.done(i); }
// done() is needed only when deliver() runs.
class OrderedLoop
{
  public:
    // With a window, no index is handed out window or more past the first not yet delivered (the
    // caller may then keep the results in a ring of window slots); 0 for no such limit.
    explicit OrderedLoop(int count, int window = 0);
    // Stops and waits for the copies.
    ~OrderedLoop();
    OrderedLoop(const OrderedLoop&) = delete;
    OrderedLoop& operator=(const OrderedLoop&) = delete;

    // Offers copies of work to up to copies pool threads while the calling thread goes on, as
    // WorkerPool::Team does (with callerWorks the calling thread counts as busy until join).
    void start(WorkerPool& pool, int copies, std::function<void()> work, bool callerWorks);
    // Runs work on the calling thread and on up to helpers pool threads and returns when all are
    // done, as WorkerPool::run does.
    void run(WorkerPool& pool, int helpers, std::function<void()> work);
    // Withdraws the copies that have not started and waits for the others.
    void join();

    // For a copy of the work: the next index, or false when none is left or the loop stopped.
    // With a window, waits while the window is full.
    bool take(int& index);
    // For a copy of the work: index is finished and may be delivered.
    void done(int index);
    // From any thread: no further index is handed out or delivered.
    void stop();
    bool stopped() const { return stopped_.load(); }

    // On the thread that started the copies, until every index is delivered or the loop stops:
    // calls inOrder(i) for each i in increasing order as soon as i and every index before it are
    // done (false from it stops the loop), and progress(done) after each index finishes, in
    // whatever order they finish, once the indices ready by then are delivered. While the next
    // index to deliver is not done, the calling thread takes indices itself through work(i), when
    // one may be taken. Either function may be empty. True when all were delivered.
    bool deliver(const std::function<bool(int index)>& inOrder,
                 const std::function<void(int done)>& progress = {},
                 const std::function<void(int index)>& work = {});

  private:
    bool mayTake() const;

    const int count_;
    const int window_;
    std::atomic<int> next_{0};
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::condition_variable finished_; // for deliver: an index is done, or the loop stopped
    std::condition_variable room_;     // for take: the window moved, or the loop stopped
    std::vector<char> done_;
    int doneCount_ = 0;
    int delivered_ = 0;
    std::function<void()> work_;
    std::optional<WorkerPool::Team> team_;
};

#include "cli/batch_runner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "threads/worker_pool.h"

void runBatch(int count, int threads, const std::function<void(int index)>& work,
              const std::function<void(int index)>& finished,
              const std::function<void(int done)>& progress)
{
    if (count <= 0)
        return;
    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<char> done(size_t(count), 0);
    int doneCount = 0;

    // Each worker takes the next job until none is left, so a slow sheet holds up one worker only.
    const std::function<void()> worker = [&] {
        for (int i = next++; i < count; i = next++) {
            work(i);
            {
                const std::lock_guard lock(mutex);
                done[size_t(i)] = 1;
                ++doneCount;
            }
            changed.notify_one();
        }
    };
    // The jobs share the program's cores with the work they start themselves (opening and saving
    // PNGs), so that no more threads are busy than there are cores, whatever threads says.
    WorkerPool::Team workers(WorkerPool::shared(), std::clamp(threads, 1, count), worker, false);

    // Reports happen here, outside the lock, so printing never holds up a worker.
    int reported = 0;
    int progressShown = 0;
    while (reported < count) {
        int ready = reported;
        int nowDone = 0;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return doneCount > progressShown; });
            nowDone = doneCount;
            while (ready < count && done[size_t(ready)])
                ++ready;
        }
        for (; reported < ready; ++reported)
            finished(reported);
        progressShown = nowDone;
        progress(nowDone);
    }
    workers.join();
}

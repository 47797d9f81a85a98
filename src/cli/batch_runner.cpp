#include "cli/batch_runner.h"

#include <algorithm>

#include "threads/ordered_loop.h"

void runBatch(int count, int threads, const std::function<void(int index)>& work,
              const std::function<void(int index)>& finished,
              const std::function<void(int done)>& progress)
{
    if (count <= 0)
        return;
    OrderedLoop loop(count);
    // The jobs share the program's cores with the work they start themselves (opening and saving
    // PNGs), so that no more threads are busy than there are cores, whatever threads says.
    loop.start(
        WorkerPool::shared(), std::clamp(threads, 1, count),
        [&] {
            for (int i; loop.take(i);) {
                work(i);
                loop.done(i);
            }
        },
        false);
    loop.deliver(
        [&](int index) {
            finished(index);
            return true;
        },
        progress);
    loop.join();
}

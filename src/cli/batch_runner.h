#pragma once

#include <functional>

// Runs work(i) for every i in 0 .. count - 1 on up to threads threads of the shared worker pool
// (at least one; no more at once than it has cores), and calls finished(i) on the calling thread
// for each i in increasing order, as soon as job i and every job before it are done, so results
// come out in the order of the inputs whatever finishes first.
// progress(done) is called on the calling thread after each job ends, in whatever order they end.
// work must not throw; each call touches only its own job's data.
void runBatch(int count, int threads, const std::function<void(int index)>& work,
              const std::function<void(int index)>& finished,
              const std::function<void(int done)>& progress);

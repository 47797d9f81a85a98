#include <gtest/gtest.h>

#include <QBuffer>
#include <atomic>
#include <random>
#include <vector>

#include "cli/batch_runner.h"
#include "document/image_decoder.h"
#include "document/png_writer.h"
#include "support/test_images.h"
#include "threads/ordered_loop.h"
#include "threads/worker_pool.h"

namespace {

// More sheets at once than cores, each saved and opened in small pieces that its PNG steps share
// out: the threads busy at once never outnumber the cores, and every sheet comes back whole.
TEST(BatchRunner, KeepsNoMoreThreadsBusyThanCoresWhateverTheJobsStart)
{
    WorkerPool& pool = WorkerPool::shared();
    const int machineCores = pool.cores();
    constexpr int kCores = 2, kSheets = 6;
    pool.setCores(kCores);
    std::atomic<int> busy{0}, peak{0};
    pool.watch([&](int change) {
        const int now = busy += change;
        for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
        }
    });
    std::vector<QImage> back(kSheets);
    runBatch(
        kSheets, kSheets,
        [&](int i) {
            const QImage sheet = makeTestImage(200 + i, 120);
            QBuffer file;
            file.open(QIODevice::WriteOnly);
            PngWriteOptions options;
            options.pieceBytes = 2048;
            QString error;
            if (writePng(sheet, file, error, options))
                back[size_t(i)] = decodeImageData(file.data(), QStringLiteral("sheet.png")).image;
        },
        [](int) {}, [](int) {});
    pool.watch({});
    pool.setCores(machineCores);

    EXPECT_GE(peak, 1);
    EXPECT_LE(peak, kCores);
    EXPECT_EQ(busy, 0);
    for (int i = 0; i < kSheets; ++i)
        EXPECT_TRUE(sameRgb(back[size_t(i)], makeTestImage(200 + i, 120))) << "sheet " << i;
}

// Random counts, windows and copies, with or without the calling thread working, and a random
// index where a copy fails or the caller gives up: what is delivered is the plain loop's results
// from 0 on, each once and in order, all of them unless something stopped it; no index is taken
// twice, nor a window or more past the first not yet delivered.
TEST(OrderedLoop, DeliversWhatThePlainLoopMakesInOrderUntilItStops)
{
    WorkerPool& pool = WorkerPool::shared();
    const int machineCores = pool.cores();
    pool.setCores(3);
    std::mt19937 random(20261208);
    const auto make = [](int i) { return i * 7 + 3; };
    for (int trial = 0; trial < 400; ++trial) {
        const int count = int(random() % 50);
        const int window = random() % 3 == 0 ? 0 : 1 + int(random() % 5);
        const bool callerWorks = random() % 2;
        const int copies = int(random() % 4) + (callerWorks ? 0 : 1);
        const int stopAt = count > 0 && random() % 3 ? int(random() % unsigned(count)) : -1;
        const bool callerStops = random() % 2;
        SCOPED_TRACE(testing::Message() << "count " << count << ", window " << window
                                        << ", copies " << copies << ", caller works "
                                        << callerWorks << ", stop at " << stopAt
                                        << (callerStops ? " by the caller" : " by a copy"));

        std::vector<int> plain;
        for (int i = 0; i < count && (stopAt < 0 || i <= stopAt); ++i)
            plain.push_back(make(i));
        std::vector<std::atomic<int>> taken(static_cast<size_t>(count));
        std::vector<int> results(size_t(count), -1);
        std::atomic<int> delivered{0};
        std::atomic<bool> beyondWindow{false}, stopped{false}, takenAfterStop{false};
        OrderedLoop loop(count, window);
        const auto work = [&](int i) {
            ++taken[size_t(i)];
            if (window > 0 && i >= delivered + window)
                beyondWindow = true;
            results[size_t(i)] = make(i);
            if (!callerStops && i == stopAt) {
                loop.stop();
                stopped = true;
            }
        };
        loop.start(
            pool, copies,
            [&] {
                for (;;) {
                    const bool stoppedBefore = stopped;
                    int i = 0;
                    if (!loop.take(i))
                        break;
                    takenAfterStop = takenAfterStop || stoppedBefore;
                    work(i);
                    loop.done(i);
                }
            },
            callerWorks);
        std::vector<int> got;
        int lastDone = 0;
        bool rising = true;
        const bool all = loop.deliver(
            [&](int i) {
                got.push_back(results[size_t(i)]);
                ++delivered;
                return !(callerStops && i == stopAt);
            },
            [&](int done) {
                rising = rising && done > lastDone && done <= count;
                lastDone = done;
            },
            callerWorks ? std::function<void(int)>(work) : std::function<void(int)>());
        loop.join();

        EXPECT_EQ(all, stopAt < 0);
        EXPECT_FALSE(beyondWindow);
        EXPECT_FALSE(takenAfterStop);
        EXPECT_TRUE(rising);
        for (int i = 0; i < count; ++i)
            EXPECT_LE(taken[size_t(i)].load(), 1) << "index " << i;
        if (stopAt < 0) {
            EXPECT_EQ(got, plain);
            EXPECT_EQ(lastDone, count);
            for (int i = 0; i < count; ++i)
                EXPECT_EQ(taken[size_t(i)].load(), 1) << "index " << i;
        } else if (callerStops) {
            EXPECT_EQ(got, plain);
        } else {
            // The index that failed is never delivered, nor any after it.
            ASSERT_LT(got.size(), plain.size());
            EXPECT_EQ(got, std::vector<int>(plain.begin(), plain.begin() + qsizetype(got.size())));
        }
    }
    pool.setCores(machineCores);
}

}  // namespace

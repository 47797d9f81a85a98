#include <gtest/gtest.h>

#include <QBuffer>
#include <atomic>
#include <vector>

#include "cli/batch_runner.h"
#include "document/image_decoder.h"
#include "document/png_writer.h"
#include "support/test_images.h"
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

}  // namespace

#include "level/level_limits.h"

#include <QFile>
#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int64_t kMiB = 1024 * 1024;

// The address space the process already holds, from the kernel's own count; 0 when unknown.
int64_t addressSpaceInUse()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const qint64 pages = statm.readLine().split(' ').value(0).toLongLong();
    return pages * int64_t(sysconf(_SC_PAGESIZE));
}

}  // namespace

int64_t levelMemoryNeed(int64_t fileBytes, int64_t largestLayer)
{
    // The text, its result and the places of its numbers; the largest layer's cells several times.
    return 4 * std::max<int64_t>(fileBytes, 0) + 24 * std::max<int64_t>(largestLayer, 0);
}

QString notEnoughMemory()
{
    return QStringLiteral("not enough memory");
}

int64_t memoryWithinReach()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    int64_t reach = pages > 0 && pageSize > 0 ? int64_t(pages) * pageSize : -1;
    // A limit on the address space (ulimit -v) counts what is taken already.
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const int64_t left = std::max<int64_t>(int64_t(limit.rlim_cur) - addressSpaceInUse(), 0);
        reach = reach < 0 ? left : std::min(reach, left);
    }
    return reach;
}

QString memoryShortfall(int64_t need)
{
    const int64_t reach = memoryWithinReach();
    if (reach < 0 || need <= reach)
        return QString();
    return QStringLiteral("not enough memory (remapping it needs about %1 MiB, %2 MiB are within "
                          "reach)")
        .arg((need + kMiB - 1) / kMiB)
        .arg(reach / kMiB);
}

QString layerTooLarge(int64_t cells)
{
    if (cells <= kMaxLayerCells)
        return QString();
    return QStringLiteral("it holds %1 cells, more than the %2 (8192 × 8192) Tilegrid reads in one "
                          "layer")
        .arg(cells)
        .arg(kMaxLayerCells);
}

QString levelFileTooLarge(int64_t size)
{
    if (size <= kMaxLevelFileBytes)
        return QString();
    return QStringLiteral("it holds %1 MiB, more than the %2 MiB Tilegrid reads in a level file")
        .arg((size + kMiB - 1) / kMiB)
        .arg(kMaxLevelFileBytes / kMiB);
}

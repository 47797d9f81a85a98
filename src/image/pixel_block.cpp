#include "image/pixel_block.h"

#include <cstdint>
#include <utility>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "image/pixel_format.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

int bytesPerPixel(const QImage& image) { return image.depth() / 8; }

#ifdef __linux__
constexpr size_t kHugePage = size_t(2) << 20;

struct Mapping {
    void* base;
    size_t length;
    bool handedOver = false;  // its pixels live on in another image: not unmapped with this one
};

// Our own pixel memory by the first pixel, so that an image made on it can hand it over to an
// image of another format.
std::mutex g_mappingsMutex;
std::map<const uchar*, Mapping*> g_mappings;

void unmap(void* info)
{
    auto* mapping = static_cast<Mapping*>(info);
    if (std::exchange(mapping->handedOver, false))
        return;
    {
        const std::lock_guard lock(g_mappingsMutex);
        for (auto it = g_mappings.begin(); it != g_mappings.end(); ++it)
            if (it->second == mapping) {
                g_mappings.erase(it);
                break;
            }
    }
    munmap(mapping->base, mapping->length);
    delete mapping;
}

// Pixels in memory of our own, aligned to and advised for 2 MiB pages. Fresh memory costs a fault
// at its first write; on a sheet of hundreds of megabytes the faults per 4 KiB page cost more than
// the copying itself, while one fault per 2 MiB is next to nothing.
QImage createOnHugePages(int width, int height, QImage::Format format, qsizetype bytesPerLine)
{
    const size_t bytes = size_t(bytesPerLine) * size_t(height);
    const size_t length = bytes + kHugePage;
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return QImage();
    const auto address = reinterpret_cast<uintptr_t>(base);
    auto* aligned = reinterpret_cast<uchar*>((address + kHugePage - 1) & ~uintptr_t(kHugePage - 1));
    madvise(aligned, bytes, MADV_HUGEPAGE);  // only a hint: without it we get ordinary pages
    auto* mapping = new Mapping{base, length};
    QImage image(aligned, width, height, bytesPerLine, format, unmap, mapping);
    if (image.isNull()) {
        unmap(mapping);
        return image;
    }
    const std::lock_guard lock(g_mappingsMutex);
    g_mappings[aligned] = mapping;
    return image;
}

// The memory under image when it is ours and image its only user, taken out of the registry so
// that nothing else can take it too; null otherwise.
Mapping* takeMapping(const QImage& image)
{
    if (!image.isDetached())
        return nullptr;
    const std::lock_guard lock(g_mappingsMutex);
    const auto found = g_mappings.find(image.constBits());
    if (found == g_mappings.end())
        return nullptr;
    Mapping* mapping = found->second;
    g_mappings.erase(found);
    return mapping;
}
#endif

}  // namespace

void copyBlock(const QImage& src, QPoint srcPos, QImage& dst, QPoint dstPos, QSize size)
{
    Q_ASSERT(src.format() == dst.format());
    const int bpp = bytesPerPixel(src);
    const size_t rowBytes = size_t(size.width()) * bpp;
    const uchar* from = src.constScanLine(srcPos.y()) + size_t(srcPos.x()) * bpp;
    uchar* to = dst.scanLine(dstPos.y()) + size_t(dstPos.x()) * bpp;
    const qsizetype fromStride = src.bytesPerLine();
    const qsizetype toStride = dst.bytesPerLine();
    for (int row = 0; row < size.height(); ++row) {
        std::memcpy(to, from, rowBytes);
        from += fromStride;
        to += toStride;
    }
}

void swapBlocks(QImage& image, QPoint a, QPoint b, QSize size)
{
    const int bpp = bytesPerPixel(image);
    const size_t rowBytes = size_t(size.width()) * bpp;
    std::vector<uchar> scratch(rowBytes);
    for (int row = 0; row < size.height(); ++row) {
        uchar* pa = image.scanLine(a.y() + row) + size_t(a.x()) * bpp;
        uchar* pb = image.scanLine(b.y() + row) + size_t(b.x()) * bpp;
        std::memcpy(scratch.data(), pa, rowBytes);
        std::memcpy(pa, pb, rowBytes);
        std::memcpy(pb, scratch.data(), rowBytes);
    }
}

bool sameBlocks(const QImage& image, QPoint a, QPoint b, QSize size)
{
    const int bpp = bytesPerPixel(image);
    const size_t rowBytes = size_t(size.width()) * bpp;
    for (int row = 0; row < size.height(); ++row) {
        const uchar* pa = image.constScanLine(a.y() + row) + size_t(a.x()) * bpp;
        const uchar* pb = image.constScanLine(b.y() + row) + size_t(b.x()) * bpp;
        if (std::memcmp(pa, pb, rowBytes) != 0)
            return false;
    }
    return true;
}

QImage overBlack24InPlace(QImage argb)
{
#ifdef __linux__
    Mapping* mapping = argb.format() == QImage::Format_ARGB32 ? takeMapping(argb) : nullptr;
    if (!mapping)
        return overBlack24(argb);
    const int width = argb.width(), height = argb.height();
    const qsizetype from = argb.bytesPerLine();
    const qsizetype to = (qsizetype(width) * 24 + 31) / 32 * 4;
    // Each row is laid over black aside first, so that it may overwrite its own four-byte pixels;
    // it ends before the next row's pixels begin.
    uchar* bits = argb.bits();
    std::vector<uchar> row(static_cast<size_t>(to));
    for (int y = 0; y < height; ++y) {
        layOverBlack(bits + y * from, row.data(), width);
        std::memcpy(bits + y * to, row.data(), size_t(to));
    }
    mapping->handedOver = true;
    argb = QImage();
    QImage opaque(bits, width, height, to, QImage::Format_BGR888, unmap, mapping);
    if (opaque.isNull()) {
        unmap(mapping);
        return opaque;
    }
    // The memory beyond the smaller rows goes back to the system.
    constexpr uintptr_t kPage = 4096;
    const auto end = reinterpret_cast<uintptr_t>(mapping->base) + mapping->length;
    const uintptr_t used = (reinterpret_cast<uintptr_t>(bits) + uintptr_t(to) * uintptr_t(height) +
                            kPage - 1) & ~(kPage - 1);
    if (used < end && munmap(reinterpret_cast<void*>(used), end - used) == 0)
        mapping->length = used - reinterpret_cast<uintptr_t>(mapping->base);
    const std::lock_guard lock(g_mappingsMutex);
    g_mappings[bits] = mapping;
    return opaque;
#else
    return overBlack24(argb);
#endif
}

QImage createUninitialized(int width, int height, QImage::Format format)
{
#ifdef __linux__
    // Rows padded to 4 bytes, as QImage pads its own.
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype bytesPerLine = (qsizetype(width) * depth + 31) / 32 * 4;
    if (width > 0 && height > 0 && bytesPerLine * height >= qsizetype(8 * kHugePage))
        return createOnHugePages(width, height, format, bytesPerLine);
#endif
    return QImage(width, height, format);
}


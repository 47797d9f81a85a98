#include "image/pixel_block.h"

#include <cstdint>
#include <cstring>
#include <vector>

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
};

void unmap(void* info)
{
    auto* mapping = static_cast<Mapping*>(info);
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
    if (image.isNull())
        unmap(mapping);
    return image;
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


#include "document/png_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "document/deflate_join.h"
#include "document/png_pieces.h"
#include "image/pixel_format.h"
#include "threads/worker_pool.h"

namespace {

constexpr const char* kDeviceFailed = "the file could not be written";
constexpr const char* kNoMemory = "not enough memory to compress the image";

// Where the rows are and how the file holds them.
struct Rows {
    const uchar* bits;
    qsizetype stride;
    int width;
    int height;
    bool alpha;      // 32 bits a pixel in memory, colour type 6 in the file
    bool keepAlpha;  // the alpha bytes are the sheet's own, not to be made 255
    size_t fileRowBytes;  // the filter byte and the pixels
    int rowsPerPiece;
    int pieces;
};

// One row as the file holds it before compression: filter byte 0 (None), then R,G,B or R,G,B,A
// from the memory's B,G,R or B,G,R,A.
void toFileRow(const Rows& rows, const uchar* from, uchar* to)
{
    *to++ = 0;
    if (rows.alpha)
        swapRedBlue32(from, to, rows.width, rows.keepAlpha ? Alpha::Keep : Alpha::Opaque);
    else
        swapRedBlue24(from, to, rows.width);
}

struct Piece {
    std::vector<uint8_t> packed;  // raw deflate, joinable unless it is the last piece
    uint32_t adler = 1;           // of the piece's uncompressed rows
    size_t rawBytes = 0;
    bool ready = false;
};

using Compressor = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;

// Fills piece with the compressed rows of piece number index. Returns the reason on failure.
const char* compressPiece(const Rows& rows, int index, libdeflate_compressor* compressor,
                          std::vector<uint8_t>& raw, Piece& piece)
{
    try {
        const int first = index * rows.rowsPerPiece;
        const int count = std::min(rows.rowsPerPiece, rows.height - first);
        raw.resize(size_t(count) * rows.fileRowBytes);
        for (int r = 0; r < count; ++r)
            toFileRow(rows, rows.bits + qsizetype(first + r) * rows.stride,
                      &raw[size_t(r) * rows.fileRowBytes]);
        piece.rawBytes = raw.size();
        piece.adler = libdeflate_adler32(1, raw.data(), raw.size());
        piece.packed.resize(libdeflate_deflate_compress_bound(compressor, raw.size()));
        const size_t size = libdeflate_deflate_compress(compressor, raw.data(), raw.size(),
                                                        piece.packed.data(), piece.packed.size());
        piece.packed.resize(size);
        if (size == 0 || (index + 1 < rows.pieces && !makeJoinable(piece.packed)))
            return "the compressor's output could not be joined";
        return nullptr;
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

// Writes one PNG chunk: length, type, data in parts, CRC of type and data.
bool writeChunk(QIODevice& device, const char* type,
                std::initializer_list<std::pair<const void*, size_t>> parts)
{
    size_t length = 0;
    for (const auto& part : parts)
        length += part.second;
    uchar head[8];
    qToBigEndian(quint32(length), head);
    std::memcpy(head + 4, type, 4);
    uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    if (device.write(reinterpret_cast<const char*>(head), 8) != 8)
        return false;
    for (const auto& [data, size] : parts) {
        crc = libdeflate_crc32(crc, data, size);
        if (device.write(static_cast<const char*>(data), qint64(size)) != qint64(size))
            return false;
    }
    uchar tail[4];
    qToBigEndian(crc, tail);
    return device.write(reinterpret_cast<const char*>(tail), 4) == 4;
}

// Compresses the pieces on the calling thread and up to threads - 1 helpers from the shared pool,
// at most a window of pieces ahead of the one being written, and writes them in order as IDAT
// chunks on the calling thread. Returns the reason on failure.
QString writeIdat(const Rows& rows, const PngWriteOptions& options, int threads, QIODevice& device)
{
    const int window = 2 * threads;
    std::vector<Piece> ring(static_cast<size_t>(window));
    std::mutex mutex;
    std::condition_variable changed;
    int nextToTake = 0;
    int written = 0;
    bool stop = false;
    const char* failure = nullptr;

    // Takes the next piece if the window allows; false when there is none to take now.
    const auto takePiece = [&](std::unique_lock<std::mutex>& lock,
                               libdeflate_compressor* compressor, std::vector<uint8_t>& raw) {
        if (stop || failure || nextToTake >= std::min(rows.pieces, written + window))
            return false;
        const int index = nextToTake++;
        Piece& piece = ring[size_t(index % window)];
        lock.unlock();
        const char* why = compressPiece(rows, index, compressor, raw, piece);
        lock.lock();
        if (why && !failure)
            failure = why;
        piece.ready = !why;
        changed.notify_all();
        return true;
    };

    const std::function<void()> helper = [&] {
        Compressor compressor(libdeflate_alloc_compressor(options.level),
                              libdeflate_free_compressor);
        std::vector<uint8_t> raw;
        std::unique_lock lock(mutex);
        if (!compressor) {
            failure = failure ? failure : kNoMemory;
            changed.notify_all();
            return;
        }
        for (;;) {
            if (stop || failure || nextToTake >= rows.pieces)
                return;
            if (!takePiece(lock, compressor.get(), raw))
                changed.wait(lock);
        }
    };
    WorkerPool::Team helpers(WorkerPool::shared(), std::min(threads, rows.pieces) - 1, helper,
                             true);
    // However this function is left (a throwing progress callback included), the helpers stop
    // and are joined before the state they share goes.
    const auto stopHelpers = [&] {
        {
            std::lock_guard lock(mutex);
            stop = true;
            changed.notify_all();
        }
        helpers.join();
    };
    struct OnExit {
        const decltype(stopHelpers)& run;
        ~OnExit() { run(); }
    } joinAtExit{stopHelpers};

    QString reason;
    Compressor compressor(libdeflate_alloc_compressor(options.level), libdeflate_free_compressor);
    std::vector<uint8_t> raw;
    uLong adler = 1;
    for (int index = 0; index < rows.pieces && compressor; ++index) {
        Piece& piece = ring[size_t(index % window)];
        {
            std::unique_lock lock(mutex);
            while (!piece.ready && !failure)
                if (!takePiece(lock, compressor.get(), raw))
                    changed.wait(lock);
            if (failure)
                break;
        }
        adler = adler32_combine(adler, piece.adler, z_off_t(piece.rawBytes));
        uchar trailer[4];
        qToBigEndian(quint32(adler), trailer);
        const bool first = index == 0, last = index + 1 == rows.pieces;
        if (!writeChunk(device, "IDAT",
                        {{kPngZlibHeader, first ? 2 : 0},
                         {piece.packed.data(), piece.packed.size()},
                         {trailer, last ? 4 : 0}})) {
            reason = QString::fromUtf8(kDeviceFailed);
            break;
        }
        {
            std::lock_guard lock(mutex);
            piece.ready = false;
            ++written;
            changed.notify_all();
        }
        const qint64 done = std::min<qint64>(qint64(written) * rows.rowsPerPiece, rows.height);
        if (options.progress && !options.progress(done, rows.height)) {
            reason = QString::fromUtf8(kSaveCancelled);
            break;
        }
    }
    stopHelpers();
    if (!compressor)
        return QString::fromUtf8(kNoMemory);
    if (failure)
        return QString::fromUtf8(failure);
    return reason;
}

}  // namespace

bool writePng(const QImage& image, QIODevice& device, QString& error,
              const PngWriteOptions& options)
{
    const QImage pixels = inSheetLayout(image);
    if (pixels.isNull()) {
        error = QStringLiteral("not enough memory to prepare the image");
        return false;
    }
    const bool alpha = pixels.depth() == 32;
    Rows rows{pixels.constBits(), pixels.bytesPerLine(), pixels.width(), pixels.height(), alpha,
              keepsAlpha(pixels), 1 + size_t(pixels.width()) * (alpha ? 4 : 3), 1, 0};
    rows.rowsPerPiece = pngRowsPerPiece(options.pieceBytes, rows.fileRowBytes, rows.height);
    rows.pieces = pngPieceCount(rows.height, rows.rowsPerPiece);
    const int threads = options.threads > 0 ? options.threads : WorkerPool::shared().cores();

    uchar header[13];
    qToBigEndian(quint32(rows.width), header);
    qToBigEndian(quint32(rows.height), header + 4);
    header[8] = 8;                // bits per channel
    header[9] = alpha ? 6 : 2;    // RGBA or RGB
    header[10] = header[11] = 0;  // deflate, adaptive filtering (each row says None)
    header[12] = 0;               // not interlaced
    static constexpr uchar kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (device.write(reinterpret_cast<const char*>(kSignature), 8) != 8 ||
        !writeChunk(device, "IHDR", {{header, sizeof header}})) {
        error = QString::fromUtf8(kDeviceFailed);
    } else {
        error = writeIdat(rows, options, threads, device);
        if (error.isEmpty() && !writeChunk(device, "IEND", {}))
            error = QString::fromUtf8(kDeviceFailed);
    }
    if (error.isEmpty())
        return true;
    // When the device refused the bytes its own reason says more.
    if (error == QLatin1String(kDeviceFailed) && !device.errorString().isEmpty())
        error = device.errorString();
    return false;
}

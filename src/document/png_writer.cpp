#include "document/png_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <QBuffer>
#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "document/deflate_join.h"
#include "document/png_form.h"
#include "document/png_pieces.h"
#include "image/pixel_format.h"
#include "threads/ordered_loop.h"

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
    const QImage* image = nullptr;
    const PngPlan* plan = nullptr;  // another form than 8-bit RGB or RGBA, or null
    int filterStep = 3;             // bytes the row filters look back
};

// Row y as the file holds it before compression: filter byte 0 (None), then R,G,B or R,G,B,A
// from the memory's B,G,R or B,G,R,A, or the samples of the plan's form.
void toFileRow(const Rows& rows, int y, uchar* to)
{
    *to++ = 0;
    const uchar* from = rows.bits + qsizetype(y) * rows.stride;
    if (rows.plan)
        pngPlanRow(*rows.plan, *rows.image, y, to);
    else if (rows.alpha)
        swapRedBlue32(from, to, rows.width, rows.keepAlpha ? Alpha::Keep : Alpha::Opaque);
    else
        swapRedBlue24(from, to, rows.width);
}

struct Piece {
    std::vector<uint8_t> packed;  // raw deflate, joinable unless it is the last piece
    uint32_t adler = 1;           // of the piece's uncompressed rows
    size_t rawBytes = 0;
};

using Compressor = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;

// Small: zlib's level 8 comes within 1.5 % of level 9 on flat, much repeated pixel art at about
// half its time; libdeflate's levels up to 9 stay 2 to 3 % larger there, and its 10 and up take
// longer than zlib 9. On other sheets libdeflate's quick level can beat zlib 8, so Small keeps
// the smaller of the two for each piece.
constexpr int kSmallZlibLevel = 8;
// Level 8's search, but giving up on a lazy match sooner (good length 8 and lazy 32 instead of 32
// and 128): files within 0.1 % of level 8's in three quarters of its time on both kinds of sheet.
constexpr int kSmallGoodLength = 8, kSmallLazyMatch = 32, kSmallNiceLength = 258,
              kSmallChain = 1024;
constexpr int kSmallestLevel = 12;
// Smallest compresses each piece both ways at this quick level and keeps the filtering that came
// out smaller: filtered rows compress a quarter to a third worse on pixel art and on tiles with
// flat backgrounds, and better on painted or photographic sheets.
constexpr int kTrialLevel = 6;
// Rows of palette indices or grey are compressed both filtered and not, in full, for the trial
// level misjudges them now and then; libdeflate's level 10 comes within 1 % of 12 there at a
// third of its time.
constexpr int kPackedLevel = 10;
// Fast and Small compress such rows at level 9 at least: a third the bytes of RGB rows, they
// take little time even so, for files some 2 to 10 % smaller than at 7.
constexpr int kPackedFastLevel = 9;

// One thread's compressors for the chosen compression, and the room it works in.
class PieceCompressor
{
public:
    // packed: the rows are a palette's indices or grey, a byte a pixel or less, which Smallest
    // compresses both filtered and not at kPackedLevel, and unfiltered as Small does too, keeping
    // the smallest.
    PieceCompressor(const PngWriteOptions& options, bool packed)
        : compression_(options.compression), bothWays_(compression_ == PngCompression::Small ||
                                                       (filters() && packed))
    {
        if (bothWays_)
            zlibReady_ = deflateInit2(&zlib_, kSmallZlibLevel, Z_DEFLATED, -MAX_WBITS, 8,
                                      Z_DEFAULT_STRATEGY) == Z_OK;
        deflater_.reset(libdeflate_alloc_compressor(
            !filters() ? (packed ? std::max(options.level, kPackedFastLevel) : options.level)
            : packed   ? kPackedLevel
                       : kSmallestLevel));
        if (filters())
            trial_.reset(libdeflate_alloc_compressor(kTrialLevel));
    }
    ~PieceCompressor()
    {
        if (zlibReady_)
            deflateEnd(&zlib_);
    }
    PieceCompressor(const PieceCompressor&) = delete;
    PieceCompressor& operator=(const PieceCompressor&) = delete;

    bool ready() const
    {
        return deflater_ && (!bothWays_ || zlibReady_) &&
               (!filters() || trial_);
    }
    // Whether the rows may be filtered when that compresses better.
    bool filters() const { return compression_ == PngCompression::Smallest; }

    // Compresses in into out as raw deflate; unless last, out ends as a sync flush ends, so that
    // the next piece can follow it. False when the compressor failed.
    // Without zlib, libdeflate alone.
    bool compress(const std::vector<uint8_t>& in, bool last, std::vector<uint8_t>& out,
                  bool zlib = true)
    {
        if (!bothWays_ || !zlib)
            return compressWithLibdeflate(in, last, out);
        if (!compressWithZlib(in, last, out))
            return false;
        if (compressWithLibdeflate(in, last, scratch_) && scratch_.size() < out.size())
            out.swap(scratch_);
        return true;
    }

    // How large in comes out at the trial level.
    size_t trialSize(const std::vector<uint8_t>& in)
    {
        scratch_.resize(libdeflate_deflate_compress_bound(trial_.get(), in.size()));
        const size_t size = libdeflate_deflate_compress(trial_.get(), in.data(), in.size(),
                                                        scratch_.data(), scratch_.size());
        return size == 0 ? SIZE_MAX : size;
    }

    std::vector<uint8_t> raw, filtered, above, packedFiltered;

private:
    bool compressWithLibdeflate(const std::vector<uint8_t>& in, bool last, std::vector<uint8_t>& out)
    {
        out.resize(libdeflate_deflate_compress_bound(deflater_.get(), in.size()));
        out.resize(libdeflate_deflate_compress(deflater_.get(), in.data(), in.size(), out.data(),
                                               out.size()));
        return !out.empty() && (last || makeJoinable(out));
    }

    bool compressWithZlib(const std::vector<uint8_t>& in, bool last, std::vector<uint8_t>& out)
    {
        // A sync flush adds at most an empty stored block and a byte of padding to the bound.
        const uLong bound = deflateBound(&zlib_, uLong(in.size())) + 8;
        // A reset brings back the level's own search; the tuning follows it each time.
        if (deflateReset(&zlib_) != Z_OK ||
            deflateTune(&zlib_, kSmallGoodLength, kSmallLazyMatch, kSmallNiceLength,
                        kSmallChain) != Z_OK ||
            in.size() > UINT_MAX || bound > UINT_MAX)
            return false;
        out.resize(bound);
        zlib_.next_in = const_cast<Bytef*>(in.data());
        zlib_.avail_in = uInt(in.size());
        zlib_.next_out = out.data();
        zlib_.avail_out = uInt(out.size());
        const int result = deflate(&zlib_, last ? Z_FINISH : Z_SYNC_FLUSH);
        out.resize(out.size() - zlib_.avail_out);
        return zlib_.avail_in == 0 && zlib_.avail_out > 0 &&
               result == (last ? Z_STREAM_END : Z_OK);
    }

    PngCompression compression_;
    bool bothWays_;  // zlib as well as libdeflate, the smaller kept
    Compressor deflater_{nullptr, libdeflate_free_compressor};
    Compressor trial_{nullptr, libdeflate_free_compressor};
    z_stream zlib_{};
    bool zlibReady_ = false;
    std::vector<uint8_t> scratch_;
};

// Filters count rows as the file holds them unfiltered (a filter byte, then the row) into out,
// each row with whichever of the five filters leaves the smallest sum of absolute differences
// (read as signed bytes), the rule most PNG writers follow. above is the unfiltered row above
// the first, without its filter byte, or null.
void filterRows(const std::vector<uint8_t>& rows, const uint8_t* above, size_t fileRowBytes,
                int pixelBytes, std::vector<uint8_t>& out)
{
    const size_t length = fileRowBytes - 1, back = size_t(pixelBytes);
    out.resize(rows.size());
    std::array<std::vector<uint8_t>, 5> candidates;
    for (auto& candidate : candidates)
        candidate.resize(length);
    for (size_t at = 0; at < rows.size(); at += fileRowBytes) {
        const uint8_t* row = &rows[at + 1];
        const uint8_t* up = at > 0 ? &rows[at + 1 - fileRowBytes] : above;
        std::array<uint64_t, 5> sums{};
        for (size_t i = 0; i < length; ++i) {
            const int left = i >= back ? row[i - back] : 0;
            const int upper = up ? up[i] : 0;
            const int upLeft = up && i >= back ? up[i - back] : 0;
            const std::array<int, 5> guesses{0, left, upper, (left + upper) / 2,
                                             pngPaeth(left, upper, upLeft)};
            for (size_t f = 0; f < 5; ++f) {
                const uint8_t value = uint8_t(row[i] - guesses[f]);
                candidates[f][i] = value;
                sums[f] += uint64_t(std::abs(int(int8_t(value))));
            }
        }
        const size_t best = size_t(std::min_element(sums.begin(), sums.end()) - sums.begin());
        out[at] = uint8_t(best);
        std::memcpy(&out[at + 1], candidates[best].data(), length);
    }
}

// Fills piece with the compressed rows of piece number index. Returns the reason on failure.
const char* compressPiece(const Rows& rows, int index, PieceCompressor& compressor, Piece& piece)
{
    try {
        const int first = index * rows.rowsPerPiece;
        const int count = std::min(rows.rowsPerPiece, rows.height - first);
        std::vector<uint8_t>& raw = compressor.raw;
        raw.resize(size_t(count) * rows.fileRowBytes);
        for (int r = 0; r < count; ++r)
            toFileRow(rows, first + r, &raw[size_t(r) * rows.fileRowBytes]);
        if (compressor.filters()) {
            if (first > 0) {
                compressor.above.resize(rows.fileRowBytes);
                toFileRow(rows, first - 1, compressor.above.data());
            }
            filterRows(raw, first > 0 ? compressor.above.data() + 1 : nullptr,
                       rows.fileRowBytes, rows.filterStep, compressor.filtered);
            if (rows.plan) {
                const bool last = index + 1 == rows.pieces;
                if (!compressor.compress(raw, last, piece.packed) ||
                    !compressor.compress(compressor.filtered, last, compressor.packedFiltered, false))
                    return "the compressor's output could not be joined";
                if (compressor.packedFiltered.size() < piece.packed.size()) {
                    raw.swap(compressor.filtered);
                    piece.packed.swap(compressor.packedFiltered);
                }
                piece.rawBytes = raw.size();
                piece.adler = libdeflate_adler32(1, raw.data(), raw.size());
                return nullptr;
            }
            if (compressor.trialSize(compressor.filtered) < compressor.trialSize(raw))
                raw.swap(compressor.filtered);
        }
        piece.rawBytes = raw.size();
        piece.adler = libdeflate_adler32(1, raw.data(), raw.size());
        if (!compressor.compress(raw, index + 1 == rows.pieces, piece.packed))
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
    std::atomic<const char*> failure{nullptr};
    OrderedLoop loop(rows.pieces, window);

    const auto fail = [&](const char* why) {
        const char* none = nullptr;
        failure.compare_exchange_strong(none, why);
        loop.stop();
    };
    const auto compress = [&](PieceCompressor& compressor, int index) {
        if (const char* why = compressPiece(rows, index, compressor, ring[size_t(index % window)]))
            fail(why);
    };
    // However this function is left (a throwing progress callback included), the helpers stop
    // and are joined before the state they share goes.
    struct JoinAtExit {
        OrderedLoop& loop;
        ~JoinAtExit()
        {
            loop.stop();
            loop.join();
        }
    } joinAtExit{loop};
    loop.start(
        WorkerPool::shared(), std::min(threads, rows.pieces) - 1,
        [&] {
            PieceCompressor compressor(options, rows.plan != nullptr);
            if (!compressor.ready())
                return fail(kNoMemory);
            for (int index; loop.take(index);) {
                compress(compressor, index);
                loop.done(index);
            }
        },
        true);

    QString reason;
    PieceCompressor compressor(options, rows.plan != nullptr);
    uLong adler = 1;
    const auto write = [&](int index) {
        const Piece& piece = ring[size_t(index % window)];
        adler = adler32_combine(adler, piece.adler, z_off_t(piece.rawBytes));
        uchar trailer[4];
        qToBigEndian(quint32(adler), trailer);
        const bool first = index == 0, last = index + 1 == rows.pieces;
        if (!writeChunk(device, "IDAT",
                        {{kPngZlibHeader, first ? 2 : 0},
                         {piece.packed.data(), piece.packed.size()},
                         {trailer, last ? 4 : 0}})) {
            reason = QString::fromUtf8(kDeviceFailed);
            return false;
        }
        const qint64 done = std::min<qint64>(qint64(index + 1) * rows.rowsPerPiece, rows.height);
        if (options.progress && !options.progress(done, rows.height)) {
            reason = QString::fromUtf8(kSaveCancelled);
            return false;
        }
        return true;
    };
    if (compressor.ready())
        loop.deliver(write, {}, [&](int index) { compress(compressor, index); });
    loop.stop();
    loop.join();
    if (!compressor.ready())
        return QString::fromUtf8(kNoMemory);
    if (const char* why = failure.load())
        return QString::fromUtf8(why);
    return reason;
}

}  // namespace

namespace {

// How much larger than the smallest a form's quick file may be and still be tried in full.
constexpr double kNearSmallest = 1.15;

// Writes pixels in plan's form; returns the reason on failure.
QString writePlanned(const QImage& pixels, const PngPlan& plan, QIODevice& device,
                     const PngWriteOptions& options)
{
    const bool plain = (plan.colourType == 2 || plan.colourType == 6) && !plan.key;
    const bool alpha = pixels.depth() == 32;
    Rows rows{pixels.constBits(), pixels.bytesPerLine(), pixels.width(), pixels.height(), alpha,
              keepsAlpha(pixels), 1 + size_t(pixels.width()) * (alpha ? 4 : 3), 1, 0};
    rows.image = &pixels;
    if (!plain) {
        rows.plan = &plan;
        rows.fileRowBytes = 1 + plan.rowBytes(pixels.width());
    }
    rows.filterStep = plain ? (alpha ? 4 : 3) : plan.filterStep();
    rows.rowsPerPiece = pngRowsPerPiece(options.pieceBytes, rows.fileRowBytes, rows.height);
    rows.pieces = pngPieceCount(rows.height, rows.rowsPerPiece);
    const int threads = options.threads > 0 ? options.threads : WorkerPool::shared().cores();

    uchar header[13];
    qToBigEndian(quint32(rows.width), header);
    qToBigEndian(quint32(rows.height), header + 4);
    header[8] = uchar(plain ? 8 : plan.bitDepth);  // bits a sample
    header[9] = uchar(plain ? (alpha ? 6 : 2) : plan.colourType);
    header[10] = header[11] = 0;  // deflate, adaptive filtering (each row says which)
    header[12] = 0;               // not interlaced
    // PLTE and tRNS: a palette's entries and their alpha, or the transparent colour as a sample
    // of the file's depth.
    std::vector<uchar> palette, transparency;
    for (const QRgb entry : plan.colourType == 3 ? plan.palette : std::vector<QRgb>())
        palette.insert(palette.end(), {uchar(qRed(entry)), uchar(qGreen(entry)), uchar(qBlue(entry))});
    for (int i = 0; plan.colourType == 3 && i < plan.alphaEntries; ++i)
        transparency.push_back(uchar(qAlpha(plan.palette[size_t(i)])));
    if (plan.key && (plan.colourType == 0 || plan.colourType == 2)) {
        const int step = plan.bitDepth < 8 ? 255 / ((1 << plan.bitDepth) - 1) : 1;
        for (const int channel : plan.colourType == 0 ? std::vector<int>{qBlue(*plan.key)}
                                                      : std::vector<int>{qRed(*plan.key),
                                                                         qGreen(*plan.key),
                                                                         qBlue(*plan.key)})
            transparency.insert(transparency.end(), {0, uchar(channel / step)});
    }
    static constexpr uchar kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (device.write(reinterpret_cast<const char*>(kSignature), 8) != 8 ||
        !writeChunk(device, "IHDR", {{header, sizeof header}}) ||
        (!palette.empty() && !writeChunk(device, "PLTE", {{palette.data(), palette.size()}})) ||
        (!transparency.empty() &&
         !writeChunk(device, "tRNS", {{transparency.data(), transparency.size()}})))
        return QString::fromUtf8(kDeviceFailed);
    QString error = writeIdat(rows, options, threads, device);
    if (error.isEmpty() && !writeChunk(device, "IEND", {}))
        error = QString::fromUtf8(kDeviceFailed);
    return error;
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
    std::vector<PngPlan> plans;
    try {
        if (options.keep)
            if (std::optional<PngPlan> kept = keptPngPlan(pixels, *options.keep))
                plans.push_back(std::move(*kept));
        if (plans.empty()) {
            plans.push_back(plainPngPlan(pixels));
            if (options.compression != PngCompression::Fast) {
                std::vector<PngPlan> reduced =
                    reducedPngPlans(pixels, options.compression == PngCompression::Small);
                std::move(reduced.begin(), reduced.end(), std::back_inserter(plans));
            }
        }
    } catch (const std::bad_alloc&) {
        error = QString::fromUtf8(kNoMemory);
        return false;
    }
    size_t chosen = 0;
    if (plans.size() > 1) {
        // A quick look at each form first: only those within kNearSmallest of the smallest
        // quick file are written in full.
        PngWriteOptions quick = options;
        quick.compression = PngCompression::Fast;
        quick.progress = nullptr;
        std::vector<qsizetype> quickSizes;
        for (size_t i = 0; i < plans.size() && error.isEmpty(); ++i) {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            error = writePlanned(pixels, plans[i], buffer, quick);
            quickSizes.push_back(buffer.data().size());
        }
        if (!error.isEmpty())
            return false;
        const qsizetype least = *std::min_element(quickSizes.begin(), quickSizes.end());
        std::vector<PngPlan> near;
        for (size_t i = 0; i < plans.size(); ++i)
            if (double(quickSizes[i]) <= double(least) * kNearSmallest)
                near.push_back(std::move(plans[i]));
        plans = std::move(near);
    }
    if (plans.size() == 1 && error.isEmpty()) {
        error = writePlanned(pixels, plans[0], device, options);
    } else if (error.isEmpty()) {
        // Each form is written to memory and the smallest file kept; progress runs over them all.
        QByteArray smallest;
        for (size_t i = 0; i < plans.size() && error.isEmpty(); ++i) {
            PngWriteOptions each = options;
            if (options.progress)
                each.progress = [&, i](qint64 done, qint64 total) {
                    return options.progress(qint64(i) * total + done,
                                            qint64(plans.size()) * total);
                };
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            error = writePlanned(pixels, plans[i], buffer, each);
            if (error.isEmpty() && (smallest.isNull() || buffer.data().size() < smallest.size())) {
                smallest = buffer.data();
                chosen = i;
            }
        }
        if (error.isEmpty() &&
            device.write(smallest.constData(), smallest.size()) != smallest.size())
            error = QString::fromUtf8(kDeviceFailed);
    }
    if (options.writtenColourType)
        *options.writtenColourType = plans[chosen].colourType;
    if (error.isEmpty())
        return true;
    // When the device refused the bytes its own reason says more.
    if (error == QLatin1String(kDeviceFailed) && !device.errorString().isEmpty())
        error = device.errorString();
    return false;
}

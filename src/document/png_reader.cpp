#include "document/png_reader.h"

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <atomic>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "document/png_pieces.h"
#include "image/pixel_block.h"
#include "image/pixel_format.h"
#include "threads/ordered_loop.h"

// Everything the libpng callbacks need. Plain data only: libpng leaves by longjmp, which must
// never skip a destructor.
struct PngReadState {
    QIODevice* device;
    png_structp png = nullptr;
    png_infop info = nullptr;
    bool alpha = false;
    bool interlaced = false;
    bool plain = false;  // 8-bit RGB or RGBA without tRNS, or a palette; not interlaced
    int colourType = 0;
    int bitDepth = 0;
    // A palette's entries as straight 0xAARRGGBB, tRNS's alpha in them; 256 for any index a file
    // of bad indices may hold.
    QRgb palette[256] = {};
    int paletteSize = 0;
    int alphaEntries = 0;
    bool badTransparency = false;  // libpng found the tRNS chunk invalid and passed over it
    qint64 inflatedSize = 0;  // of the image data: every row of every pass with its filter byte
    bool transparent = false;  // some pixel read was not opaque
    char message[256] = "libpng could not start (out of memory)";
};

namespace {

void keepMessage(PngReadState* state, const char* text)
{
    std::strncpy(state->message, text ? text : "unknown error", sizeof state->message - 1);
    state->message[sizeof state->message - 1] = '\0';
}

void readFromDevice(png_structp png, png_bytep data, png_size_t length)
{
    auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
    if (state->device->read(reinterpret_cast<char*>(data), qint64(length)) != qint64(length))
        png_error(png, "the file ends before the picture does");
}

[[noreturn]] void onPngError(png_structp png, png_const_charp text)
{
    keepMessage(static_cast<PngReadState*>(png_get_error_ptr(png)), text);
    png_longjmp(png, 1);
}

// libpng passes over a tRNS chunk it finds invalid (longer than the palette, or of the wrong
// length) with a warning: refused here, as damage that would change the picture. (A palette
// index beyond the palette, which libpng would read as black, is refused where it is looked up.)
void onPngWarning(png_structp png, png_const_charp text)
{
    auto* state = static_cast<PngReadState*>(png_get_error_ptr(png));
    if (!text)
        return;
    if (std::strcmp(text, "tRNS: invalid") == 0)
        state->badTransparency = true;
}

constexpr const char* kBadTransparency = "its tRNS chunk does not fit its colour type or palette";
constexpr const char* kBadIndex = "a pixel names a palette entry beyond the palette";

}  // namespace

qint64 pngInflatedSize(quint32 width, quint32 height, int bitsPerPixel, bool interlaced)
{
    const auto rows = [&](quint64 columns, quint64 count) {
        return columns == 0 ? 0 : qint64(count * (1 + (columns * quint64(bitsPerPixel) + 7) / 8));
    };
    if (!interlaced)
        return rows(width, height);
    // The seven passes of Adam7: first column and row, then the steps between them.
    static constexpr int kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    qint64 total = 0;
    for (const auto& [x, y, dx, dy] : kPasses)
        total += rows((quint64(width) + dx - 1 - x) / dx, (quint64(height) + dy - 1 - y) / dy);
    return total;
}

namespace {

bool readInfo(PngReadState* state)
{
    png_structp png = state->png;
    png_infop info = state->info;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, state, readFromDevice);
    // Our own guard words the size limit; libpng's would only stop the absurd.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);
    if (state->badTransparency)
        png_error(png, kBadTransparency);

    const int colourType = png_get_color_type(png, info);
    state->colourType = colourType;
    state->bitDepth = png_get_bit_depth(png, info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp entries = nullptr;
        int count = 0;
        png_get_PLTE(png, info, &entries, &count);
        png_bytep alphas = nullptr;
        int alphaCount = 0;
        if (png_get_valid(png, info, PNG_INFO_tRNS))
            png_get_tRNS(png, info, &alphas, &alphaCount, nullptr);
        state->paletteSize = std::clamp(count, 0, 256);
        state->alphaEntries = std::clamp(alphaCount, 0, state->paletteSize);
        for (int i = 0; i < state->paletteSize; ++i)
            state->palette[i] = qRgba(entries[i].red, entries[i].green, entries[i].blue,
                                      i < state->alphaEntries ? alphas[i] : 255);
    }
    state->alpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    state->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    state->plain = !state->interlaced &&
                   ((png_get_bit_depth(png, info) == 8 &&
                     (colourType == PNG_COLOR_TYPE_RGB || colourType == PNG_COLOR_TYPE_RGB_ALPHA) &&
                     !png_get_valid(png, info, PNG_INFO_tRNS)) ||
                    colourType == PNG_COLOR_TYPE_PALETTE);
    state->inflatedSize = pngInflatedSize(
        png_get_image_width(png, info), png_get_image_height(png, info),
        png_get_bit_depth(png, info) * png_get_channels(png, info), state->interlaced);
    // Whatever the file holds becomes 8-bit B,G,R, with A where it has transparency; a palette's
    // indices a byte each, which this reader looks up itself to refuse those beyond it.
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_packing(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        if (png_get_rowbytes(png, info) != png_get_image_width(png, info))
            png_error(png, "unexpected pixel layout");
        return true;
    }
    png_set_expand(png);
    png_set_scale_16(png);
    if (!(colourType & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != png_get_image_width(png, info) * (state->alpha ? 4u : 3u))
        png_error(png, "unexpected pixel layout");
    return true;
}

// rows points at each row the decoder writes: the image's own, or the 4-byte rows of rgba.
// Rows are read one at a time unless interlaced, when libpng needs them all at once. Every row
// read into rgba is laid over black into bgr at once; every row read with alpha into the image
// itself is looked at for transparency.
bool readRows(PngReadState* state, png_bytepp rows, int height, uchar* bgr, qsizetype bgrStride,
              int width, bool overBlack)
{
    png_structp png = state->png;
    if (setjmp(png_jmpbuf(png)))
        return false;
    const auto finishRow = [state, rows, bgr, bgrStride, width, overBlack](int y) {
        if (overBlack)
            state->transparent |= layOverBlack(rows[y], bgr + y * bgrStride, width);
        else if (state->alpha)
            state->transparent = state->transparent || !rowIsOpaque(rows[y], width);
    };
    if (state->interlaced) {
        png_read_image(png, rows);
    } else {
        for (int y = 0; y < height; ++y) {
            png_read_row(png, rows[y], nullptr);
            finishRow(y);
        }
    }
    if (state->interlaced)
        for (int y = 0; y < height; ++y)
            finishRow(y);
    png_read_end(png, nullptr);
    return true;
}

// A palette's entries as an image takes them: straight, or laid over black; the alpha byte is
// the entry's own either way (a 24-bit image leaves it out).
std::array<QRgb, 256> imageEntries(const PngReadState* state, bool keepAlpha)
{
    std::array<QRgb, 256> entries{};
    for (int i = 0; i < state->paletteSize; ++i) {
        const QRgb c = state->palette[i];
        const auto over = [&](int channel) { return (channel * qAlpha(c) + 127) / 255; };
        entries[size_t(i)] =
            keepAlpha ? c : qRgba(over(qRed(c)), over(qGreen(c)), over(qBlue(c)), qAlpha(c));
    }
    return entries;
}

// One row of indices of depth bits into the image's B,G,R(,A) pixels; clear is set when some
// entry named is not opaque. False at an index beyond the palette.
bool expandIndices(const PngReadState* state, const std::array<QRgb, 256>& entries,
                   const uchar* row, int depth, int width, bool keepAlpha, uchar* to, bool& clear)
{
    if (width == 0)
        return true;
    const int perByte = 8 / depth, mask = (1 << depth) - 1;
    QRgb alphas = 0xffffffffu;  // the alpha bytes of every entry named, and-ed
    const auto indexAt = [&](int x) {
        return depth == 8 ? row[x] : uchar(row[x / perByte] >> (8 - depth * (x % perByte + 1)) & mask);
    };
    if (depth == 8) {
        if (*std::max_element(row, row + width) >= state->paletteSize)
            return false;
    } else {
        for (int x = 0; x < width; ++x)
            if (indexAt(x) >= state->paletteSize)
                return false;
    }
    if (keepAlpha) {
        for (int x = 0; x < width; ++x) {
            const QRgb c = entries[indexAt(x)];
            alphas &= c;
            std::memcpy(to + size_t(x) * 4, &c, 4);
        }
    } else {
        // Four bytes at a time; the fourth is the next pixel's, written again by it.
        for (int x = 0; x + 1 < width; ++x) {
            const QRgb c = entries[indexAt(x)];
            alphas &= c;
            std::memcpy(to + size_t(x) * 3, &c, 4);
        }
        const QRgb c = entries[indexAt(width - 1)];
        alphas &= c;
        std::memcpy(to + size_t(width - 1) * 3, &c, 3);
    }
    clear = clear || qAlpha(alphas) != 255;
    return true;
}

// Reads a palette's indices, one byte each, into rows (one row reused, or all when interlaced)
// and expands each into the image's rows at bits.
bool readIndexedRows(PngReadState* state, png_bytepp rows, int height, uchar* bits,
                     qsizetype stride, int width, bool keepAlpha)
{
    png_structp png = state->png;
    if (setjmp(png_jmpbuf(png)))
        return false;
    const std::array<QRgb, 256> entries = imageEntries(state, keepAlpha);
    bool clear = false;
    if (state->interlaced)
        png_read_image(png, rows);
    for (int y = 0; y < height; ++y) {
        if (!state->interlaced)
            png_read_row(png, rows[y], nullptr);
        if (!expandIndices(state, entries, rows[y], 8, width, keepAlpha, bits + y * stride, clear))
            png_error(png, kBadIndex);
    }
    state->transparent = clear;
    png_read_end(png, nullptr);
    return true;
}

// The plain layouts, as nearly every PNG is, are inflated by libdeflate, several times faster
// than zlib, into the filtered rows as a whole (libdeflate takes no stream in parts); above this
// that copy would cost too much memory, and libpng reads them row by row instead.
constexpr qint64 kMaxInflatedBytes = qint64(512) << 20;

// Reads the remaining chunks from the first image data chunk, whose header libpng has read, to
// the end chunk, and returns the image data and where each of its chunks ends in it. Sets why
// and returns false on a damaged file.
bool readImageData(QIODevice& device, QByteArray& data, std::vector<qsizetype>& chunkEnds,
                   const char*& why)
{
    why = "the file ends before the picture does";
    if (!device.seek(device.pos() - 8))
        return false;
    bool dataEnded = false;
    for (;;) {
        uchar head[8];
        if (device.read(reinterpret_cast<char*>(head), 8) != 8)
            return false;
        const quint32 length = qFromBigEndian<quint32>(head);
        const bool imageData = std::memcmp(head + 4, "IDAT", 4) == 0;
        if (std::memcmp(head + 4, "IEND", 4) == 0)
            return true;
        if (length > 0x7fffffffu || device.bytesAvailable() < qint64(length) + 4) {
            why = length > 0x7fffffffu ? "a chunk is longer than the format allows" : why;
            return false;
        }
        if (!imageData) {
            dataEnded = true;
            device.seek(device.pos() + length + 4);  // other chunks carry nothing we keep
            continue;
        }
        if (dataEnded) {
            why = "its image data is split by other chunks";
            return false;
        }
        const qsizetype at = data.size();
        data.resize(at + qsizetype(length));
        uchar crc[4];
        if (device.read(data.data() + at, length) != qint64(length) ||
            device.read(reinterpret_cast<char*>(crc), 4) != 4)
            return false;
        if (libdeflate_crc32(libdeflate_crc32(0, head + 4, 4), data.constData() + at, length) !=
            qFromBigEndian<quint32>(crc)) {
            why = "IDAT: CRC error";
            return false;
        }
        chunkEnds.push_back(data.size());
    }
}

// A piece of a zlib stream that inflates on its own: it starts a block at a byte boundary with
// nothing before it to refer back to, as this program's writer makes each image data chunk (see
// png_pieces.h).
struct Piece {
    qsizetype begin;
    qsizetype end;
};

// The stream's pieces when every image data chunk but the last ends where a sync flush does
// (an empty stored block, 00 00 FF FF), as this program writes; none when the stream is one
// piece or laid out otherwise. The zlib header and checksum are not part of any piece.
std::vector<Piece> flushedPieces(const QByteArray& data, const std::vector<qsizetype>& chunkEnds)
{
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype size = data.size();
    if (chunkEnds.size() < 2 || size < 6 || (bytes[0] & 0x0f) != 8 || (bytes[1] & 0x20) ||
        (bytes[0] * 256 + bytes[1]) % 31 != 0)
        return {};
    std::vector<Piece> pieces;
    qsizetype begin = 2;
    for (size_t i = 0; i + 1 < chunkEnds.size(); ++i) {
        const qsizetype end = chunkEnds[i];
        if (end - begin < 4 || std::memcmp(bytes + end - 4, kEmptyStoredBlockEnd, 4) != 0)
            return {};
        pieces.push_back({begin, end});
        begin = end;
    }
    if (size - 4 <= begin)
        return {};
    pieces.push_back({begin, size - 4});
    return pieces;
}

using Inflater = std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)>;

Inflater makeInflater()
{
    return Inflater(libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
}

// Inflates piece into at most room bytes at out; returns how many it made, 0 when it does not
// inflate on its own. A piece but the last ends without a final block: an empty final block is
// added after it (what zlib's finish writes after a flush), and all of it must be used.
size_t inflatePiece(libdeflate_decompressor* inflater, const QByteArray& data, const Piece& piece,
                    bool last, std::vector<uchar>& input, uchar* out, size_t room)
{
    const auto* from = reinterpret_cast<const uchar*>(data.constData()) + piece.begin;
    size_t length = size_t(piece.end - piece.begin);
    if (!last) {
        input.assign(from, from + length);
        input.insert(input.end(), std::begin(kEmptyFinalBlock), std::end(kEmptyFinalBlock));
        from = input.data();
        length = input.size();
    }
    size_t used = 0, made = 0;
    if (libdeflate_deflate_decompress_ex(inflater, from, length, out, room, &used, &made) !=
            LIBDEFLATE_SUCCESS ||
        used != length)
        return 0;
    return made;
}

// Inflates a stream laid out in pieces on several threads into rowsSize bytes at rows. The first
// piece tells the size of every piece but the last. False, for the caller to inflate the stream
// as a whole, when any piece does not inflate on its own, the sizes disagree or the checksum is
// wrong: a file that only looks laid out this way costs a second try, and a wrong picture would
// have to inflate piece by piece to the right sizes and still match the stream's checksum.
bool inflatePieces(const QByteArray& data, const std::vector<Piece>& pieces, uchar* rows,
                   size_t rowsSize)
{
    const size_t count = pieces.size();
    std::vector<uint32_t> adlers(count);
    std::vector<uchar> input;
    const Inflater first = makeInflater();
    if (!first)
        return false;
    const size_t pieceSize =
        inflatePiece(first.get(), data, pieces[0], false, input, rows, rowsSize);
    if (!pngPiecesFit(pieceSize, count, rowsSize))
        return false;
    adlers[0] = libdeflate_adler32(1, rows, pieceSize);

    // Pieces 1 .. count - 1, the first being done.
    OrderedLoop loop(int(count) - 1);
    loop.run(WorkerPool::shared(), int(count) - 2, [&]() noexcept {
        try {
            const Inflater inflater = makeInflater();
            if (!inflater)
                return loop.stop();
            std::vector<uchar> buffer;
            for (int taken; loop.take(taken);) {
                const size_t i = size_t(taken) + 1;
                const bool last = i + 1 == count;
                const size_t at = i * pieceSize;
                const size_t size = pngPieceSize(i, count, pieceSize, rowsSize);
                if (inflatePiece(inflater.get(), data, pieces[i], last, buffer, rows + at, size) !=
                    size)
                    loop.stop();
                else
                    adlers[i] = libdeflate_adler32(1, rows + at, size);
            }
        } catch (const std::bad_alloc&) {
            loop.stop();
        }
    });
    if (loop.stopped())
        return false;
    uLong adler = adlers[0];
    for (size_t i = 1; i < count; ++i) {
        adler = adler32_combine(adler, adlers[i],
                                z_off_t(pngPieceSize(i, count, pieceSize, rowsSize)));
    }
    return adler == qFromBigEndian<quint32>(data.constData() + data.size() - 4);
}

// Undoes row's filter in place, given the row above already undone (null for the first row).
bool unfilter(uchar* row, const uchar* above, size_t length, int pixelBytes)
{
    const int filter = row[-1];
    const auto upAt = [&](size_t i) { return above ? int(above[i]) : 0; };
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (size_t i = size_t(pixelBytes); i < length; ++i)
            row[i] = uchar(row[i] + row[i - size_t(pixelBytes)]);
        return true;
    case 2:
        for (size_t i = 0; above && i < length; ++i)
            row[i] = uchar(row[i] + above[i]);
        return true;
    case 3:
        for (size_t i = 0; i < length; ++i) {
            const int left = i >= size_t(pixelBytes) ? row[i - size_t(pixelBytes)] : 0;
            row[i] = uchar(row[i] + (left + upAt(i)) / 2);
        }
        return true;
    case 4:
        for (size_t i = 0; i < length; ++i) {
            const bool first = i < size_t(pixelBytes);
            row[i] = uchar(row[i] + pngPaeth(first ? 0 : row[i - size_t(pixelBytes)], upAt(i),
                                          first ? 0 : upAt(i - size_t(pixelBytes))));
        }
        return true;
    default:
        return false;
    }
}

}  // namespace

PngReader::PngReader(QIODevice& device) : state_(new PngReadState{&device})
{
    state_->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state_, onPngError, onPngWarning);
    if (state_->png)
        state_->info = png_create_info_struct(state_->png);
}

PngReader::~PngReader()
{
    if (state_->png)
        png_destroy_read_struct(&state_->png, state_->info ? &state_->info : nullptr, nullptr);
    delete state_;
}

bool PngReader::readHeader()
{
    // libpng says only "Invalid IHDR data" of a bit depth the colour type does not allow.
    const QByteArray head = state_->device->peek(26);
    if (head.size() == 26 && head.startsWith("\x89PNG\r\n\x1a\n") && head.mid(12, 4) == "IHDR") {
        const int depth = uchar(head[24]), type = uchar(head[25]);
        const bool allowed = type == 0   ? depth == 1 || depth == 2 || depth == 4 || depth == 8 ||
                                               depth == 16
                             : type == 3 ? depth == 1 || depth == 2 || depth == 4 || depth == 8
                                         : depth == 8 || depth == 16;
        if (!allowed && (type == 0 || type == 2 || type == 3 || type == 4 || type == 6)) {
            const QByteArray why = QStringLiteral("its bit depth of %1 is not one colour type %2 "
                                                  "allows")
                                       .arg(depth)
                                       .arg(type)
                                       .toUtf8();
            keepMessage(state_, why.constData());
            return false;
        }
    }
    if (!state_->info || !readInfo(state_))
        return false;
    size_ = QSize(int(png_get_image_width(state_->png, state_->info)),
                  int(png_get_image_height(state_->png, state_->info)));
    return true;
}

bool PngReader::readPixels(QImage& image)
{
    Q_ASSERT(image.format() == QImage::Format_BGR888 ||
             (image.format() == QImage::Format_ARGB32 && state_->alpha));
    state_->transparent = false;
    if (state_->plain && state_->inflatedSize <= kMaxInflatedBytes)
        return inflatePlain(image);
    const int width = image.width(), height = image.height();
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    // With transparency into 24-bit rows: one 4-byte row at a time, or the whole picture when
    // interlaced, laid over black. Otherwise libpng writes straight into the image.
    const bool overBlack = state_->alpha && image.format() == QImage::Format_BGR888;
    try {
        if (state_->colourType == PNG_COLOR_TYPE_PALETTE) {
            std::vector<uchar> indices(size_t(width) * size_t(state_->interlaced ? height : 1));
            std::vector<png_bytep> rows(static_cast<size_t>(height));
            for (int y = 0; y < height; ++y)
                rows[size_t(y)] = indices.data() + (state_->interlaced ? size_t(y) * size_t(width) : 0);
            return readIndexedRows(state_, rows.data(), height, bits, stride, width,
                                   image.format() == QImage::Format_ARGB32);
        }
        std::vector<uchar> rgba;
        if (overBlack)
            rgba.resize(size_t(width) * 4 * size_t(state_->interlaced ? height : 1));
        std::vector<png_bytep> rows(static_cast<size_t>(height));
        for (int y = 0; y < height; ++y)
            rows[size_t(y)] = !overBlack ? bits + y * stride
                              : state_->interlaced ? rgba.data() + size_t(y) * size_t(width) * 4
                                                   : rgba.data();
        return readRows(state_, rows.data(), height, bits, stride, width, overBlack);
    } catch (const std::bad_alloc&) {
        keepMessage(state_, "not enough memory");
        return false;
    }
}

qint64 PngReader::inflatedSize() const
{
    return state_->inflatedSize;
}

bool PngReader::hasAlpha() const
{
    return state_->alpha;
}

StoredForm PngReader::storedForm() const
{
    StoredForm form;
    form.colourType = state_->colourType;
    form.bitDepth = state_->bitDepth;
    form.palette.assign(state_->palette, state_->palette + state_->paletteSize);
    form.alphaEntries = state_->alphaEntries;
    return form;
}

bool PngReader::transparent() const
{
    return state_->transparent;
}

QString PngReader::error() const
{
    return QString::fromUtf8(state_->message);
}

bool PngReader::inflatePlain(QImage& image)
{
    const char* why = nullptr;
    try {
        QByteArray data;
        std::vector<qsizetype> chunkEnds;
        if (!readImageData(*state_->device, data, chunkEnds, why)) {
            keepMessage(state_, why);
            return false;
        }
        const bool indexed = state_->colourType == PNG_COLOR_TYPE_PALETTE;
        const int depth = state_->bitDepth;
        const int pixelBytes = indexed ? 1 : state_->alpha ? 4 : 3;
        const size_t rowBytes = indexed ? (size_t(size_.width()) * size_t(depth) + 7) / 8
                                        : size_t(size_.width()) * size_t(pixelBytes);
        // Not zeroed first: the inflater writes every byte, or the file is refused.
        const size_t rowsSize = size_t(state_->inflatedSize);
        const std::unique_ptr<uchar[]> rows(new uchar[rowsSize]);
        const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)>
            inflater(libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
        size_t inflated = 0;
        if (!inflater) {
            keepMessage(state_, "not enough memory");
            return false;
        }
        const std::vector<Piece> pieces = flushedPieces(data, chunkEnds);
        if (pieces.empty() || !inflatePieces(data, pieces, rows.get(), rowsSize)) {
            if (libdeflate_zlib_decompress(inflater.get(), data.constData(), size_t(data.size()),
                                           rows.get(), rowsSize, &inflated) != LIBDEFLATE_SUCCESS)
                inflated = 0;
        } else {
            inflated = rowsSize;
        }
        if (inflated != rowsSize) {
            keepMessage(state_, "its image data is damaged");
            return false;
        }
        // Rows that need none above them (filter None or Sub, as this program writes) are laid
        // out by all cores in bands; any other filter makes it one band, top to bottom.
        const int height = size_.height(), width = size_.width();
        bool banded = true;
        for (int y = 0; y < height && banded; ++y)
            banded = rows[size_t(y) * (rowBytes + 1)] <= 1;
        const int bands = banded ? int(std::clamp<qint64>(rowsSize >> 22, 1, 64)) : 1;
        uchar* const bgr = image.bits();
        const qsizetype stride = image.bytesPerLine();
        const bool alpha = state_->alpha;
        std::atomic<bool> transparent{false};
        const bool keepAlpha = image.format() == QImage::Format_ARGB32;
        const std::array<QRgb, 256> entries = imageEntries(state_, keepAlpha);
        // A row that cannot be laid out stops the loop; badIndex tells which way it failed.
        OrderedLoop loop(bands);
        std::atomic<bool> badIndex{false};
        loop.run(WorkerPool::shared(), bands - 1, [&]() noexcept {
            for (int band; loop.take(band);) {
                for (int y = int(qint64(height) * band / bands);
                     y < int(qint64(height) * (band + 1) / bands); ++y) {
                    uchar* row = rows.get() + size_t(y) * (rowBytes + 1) + 1;
                    if (!unfilter(row, y > 0 ? row - rowBytes - 1 : nullptr, rowBytes,
                                  pixelBytes)) {
                        loop.stop();
                        return;
                    }
                    uchar* to = bgr + y * stride;
                    if (indexed) {
                        bool clear = false;
                        if (!expandIndices(state_, entries, row, depth, width, keepAlpha, to,
                                           clear)) {
                            badIndex = true;
                            loop.stop();
                            return;
                        }
                        if (clear)
                            transparent.store(true, std::memory_order_relaxed);
                    } else if (keepAlpha) {
                        swapRedBlue32(row, to, width, Alpha::Keep);
                        if (!rowIsOpaque(to, width))
                            transparent.store(true, std::memory_order_relaxed);
                    } else if (alpha) {
                        if (layOverBlack(row, to, width, true))
                            transparent.store(true, std::memory_order_relaxed);
                    } else {
                        swapRedBlue24(row, to, width);
                    }
                }
            }
        });
        state_->transparent = transparent;
        if (badIndex) {
            keepMessage(state_, kBadIndex);
            return false;
        }
        if (loop.stopped()) {
            keepMessage(state_, "a row has an unknown filter");
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        keepMessage(state_, "not enough memory");
        return false;
    }
}

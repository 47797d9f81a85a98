#include "level/layer_codec.h"

#include "level/level_limits.h"
#include "level/text_splice.h"

#include <zlib.h>
#include <zstd.h>

#include <QtEndian>
#include <algorithm>
#include <memory>
#include <utility>

namespace {

constexpr qsizetype kPiece = 256 * 1024;

// Output grows as the data yields it, up to one byte more than expected: a layer that claims many
// cells with little data costs no memory, and the spare byte tells a longer stream from an exact
// one.
class GrowingOutput
{
  public:
    explicit GrowingOutput(qint64 expected, qsizetype packedSize) : limit_(expected + 1)
    {
        bytes_.resize(
            qsizetype(std::min<qint64>(limit_, std::max<qint64>(kPiece, qint64(packedSize) * 8))));
    }
    char* at(qint64 produced) { return bytes_.data() + produced; }
    qint64 capacity() const { return bytes_.size(); }
    // Doubles the room, up to the limit; false when it stands there already.
    bool grow()
    {
        if (capacity() == limit_)
            return false;
        bytes_.resize(qsizetype(std::min<qint64>(limit_, capacity() * 2)));
        return true;
    }
    QByteArray take(qint64 produced)
    {
        bytes_.resize(qsizetype(produced));
        return std::move(bytes_);
    }

  private:
    qint64 limit_;
    QByteArray bytes_;
};

QString tooMany()
{
    return QStringLiteral("the data holds more cells than the layer");
}

bool failed(QString& error, const QString& reason)
{
    error = reason;
    return false;
}

bool inflateInto(QByteArrayView packed, bool gzip, qint64 expectedBytes, QByteArray& raw,
                 QString& error)
{
    z_stream stream{};
    if (inflateInit2(&stream, gzip ? 16 + MAX_WBITS : MAX_WBITS) != Z_OK)
        return failed(error, QStringLiteral("zlib could not start"));
    const std::unique_ptr<z_stream, decltype(&inflateEnd)> ending(&stream, &inflateEnd);
    const QString method = gzip ? QStringLiteral("gzip") : QStringLiteral("zlib");
    GrowingOutput out(expectedBytes, packed.size());
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = uInt(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.at(0));
    stream.avail_out = uInt(out.capacity());
    for (;;) {
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_STREAM_END)
            break;
        const bool stuck = status == Z_BUF_ERROR && stream.avail_in != 0 && stream.avail_out != 0;
        if ((status != Z_OK && status != Z_BUF_ERROR) || stuck)
            return failed(error, QStringLiteral("the %1 data is damaged").arg(method));
        if (stream.avail_out == 0) {
            if (!out.grow())
                return failed(error, tooMany());
            stream.next_out = reinterpret_cast<Bytef*>(out.at(qint64(stream.total_out)));
            stream.avail_out = uInt(out.capacity() - qint64(stream.total_out));
        } else if (stream.avail_in == 0) {
            return failed(error, QStringLiteral("the %1 data ends too early").arg(method));
        }
    }
    if (stream.avail_in != 0)
        return failed(error, QStringLiteral("bytes follow the end of the %1 data").arg(method));
    raw = out.take(qint64(stream.total_out));
    return true;
}

bool zstdInto(QByteArrayView packed, qint64 expectedBytes, QByteArray& raw, QString& error)
{
    const std::unique_ptr<ZSTD_DStream, decltype(&ZSTD_freeDStream)> stream(ZSTD_createDStream(),
                                                                            &ZSTD_freeDStream);
    if (!stream)
        return failed(error, QStringLiteral("zstd could not start"));
    GrowingOutput out(expectedBytes, packed.size());
    ZSTD_inBuffer in{packed.data(), size_t(packed.size()), 0};
    ZSTD_outBuffer target{out.at(0), size_t(out.capacity()), 0};
    for (;;) {
        const size_t before = in.pos + target.pos;
        const size_t status = ZSTD_decompressStream(stream.get(), &target, &in);
        if (ZSTD_isError(status))
            return failed(error, QStringLiteral("the zstd data is damaged (%1)")
                                     .arg(QString::fromLatin1(ZSTD_getErrorName(status))));
        if (target.pos == target.size) {
            if (!out.grow())
                return failed(error, tooMany());
            target.dst = out.at(0);
            target.size = size_t(out.capacity());
        } else if (in.pos == in.size) {
            // Everything read and room left: the stream has given all it holds.
            if (status == 0)
                break;
            return failed(error, QStringLiteral("the zstd data ends too early"));
        } else if (in.pos + target.pos == before) {
            return failed(error, QStringLiteral("the zstd data is damaged"));
        }
    }
    raw = out.take(qint64(target.pos));
    return true;
}

QByteArray deflateBytes(const QByteArray& raw, bool gzip, int level)
{
    z_stream stream{};
    deflateInit2(&stream, std::clamp(level, -1, 9), Z_DEFLATED, gzip ? 16 + MAX_WBITS : MAX_WBITS,
                 8, Z_DEFAULT_STRATEGY);
    QByteArray packed(qsizetype(deflateBound(&stream, uLong(raw.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    stream.avail_in = uInt(raw.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = uInt(packed.size());
    deflate(&stream, Z_FINISH);
    packed.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return packed;
}

QByteArray zstdBytes(const QByteArray& raw, int level)
{
    const int chosen = level < 0 ? ZSTD_CLEVEL_DEFAULT : std::clamp(level, 1, ZSTD_maxCLevel());
    QByteArray packed(qsizetype(ZSTD_compressBound(size_t(raw.size()))), Qt::Uninitialized);
    const size_t size = ZSTD_compress(packed.data(), size_t(packed.size()), raw.constData(),
                                      size_t(raw.size()), chosen);
    packed.resize(ZSTD_isError(size) ? 0 : qsizetype(size));
    return packed;
}

}  // namespace

std::optional<LayerCompression> layerCompressionNamed(QStringView name)
{
    static constexpr std::pair<const char16_t*, LayerCompression> kNames[] = {
        {u"", LayerCompression::None},
        {u"zlib", LayerCompression::Zlib},
        {u"gzip", LayerCompression::Gzip},
        {u"zstd", LayerCompression::Zstd}};
    for (const auto& [named, compression] : kNames)
        if (name == QStringView(named))
            return compression;
    return std::nullopt;
}

bool decodeLayerData(QByteArrayView base64, LayerCompression compression, qint64 expectedCells,
                     std::vector<uint32_t>& cells, QString& error)
{
    // Checked here as well as by the readers: the byte count below must not overflow, and the
    // output limit must stay one the inflaters can reach.
    error = expectedCells < 0 ? QStringLiteral("the layer's size is negative")
                              : layerTooLarge(expectedCells);
    if (!error.isEmpty())
        return false;
    QByteArray compact;
    compact.reserve(base64.size());
    for (const char c : base64)
        if (!isBlank(c))
            compact.append(c);
    const auto decoded = QByteArray::fromBase64Encoding(
        compact, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return failed(error, QStringLiteral("the data is not valid base64"));
    const qint64 expectedBytes = expectedCells * 4;
    QByteArray raw = decoded.decoded;
    const bool unpacked =
        compression == LayerCompression::None ||
        (compression == LayerCompression::Zstd
             ? zstdInto(decoded.decoded, expectedBytes, raw, error)
             : inflateInto(decoded.decoded, compression == LayerCompression::Gzip, expectedBytes,
                           raw, error));
    if (!unpacked)
        return false;
    if (raw.size() != expectedBytes)
        return failed(error, raw.size() % 4 != 0
                                 ? QStringLiteral("the data ends in the middle of a cell")
                                 : QStringLiteral("the data holds %1 cells instead of %2")
                                       .arg(raw.size() / 4)
                                       .arg(expectedCells));
    cells.resize(size_t(expectedCells));
    qFromLittleEndian<uint32_t>(raw.constData(), qsizetype(expectedCells), cells.data());
    return true;
}

QByteArray encodeLayerData(const std::vector<uint32_t>& cells, LayerCompression compression,
                           int level)
{
    QByteArray raw(qsizetype(cells.size() * 4), Qt::Uninitialized);
    qToLittleEndian<uint32_t>(cells.data(), qsizetype(cells.size()), raw.data());
    if (compression == LayerCompression::Zstd)
        raw = zstdBytes(raw, level);
    else if (compression != LayerCompression::None)
        raw = deflateBytes(raw, compression == LayerCompression::Gzip, level);
    return raw.toBase64();
}

#include "level/remap_file.h"

#include <QFile>
#include <QList>

#include "document/atomic_file.h"
#include "document/file_messages.h"

namespace {

constexpr char kHeader[] = "tilegrid-remap 1";
constexpr char kDropped[] = "dropped";
constexpr char kLetters[] = {'h', 'v', 'd'};
constexpr unsigned kBits[] = {TileSymmetry::kH, TileSymmetry::kV, TileSymmetry::kD};

// A whole number of at most nine digits, nothing else.
std::optional<int32_t> smallNumber(QByteArrayView word)
{
    if (word.isEmpty() || word.size() > 9)
        return std::nullopt;
    int32_t value = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<TileSymmetry> symmetryOf(QByteArrayView word)
{
    unsigned bits = 0;
    for (char c : word) {
        unsigned bit = 0;
        for (size_t i = 0; i < 3; ++i)
            if (c == kLetters[i])
                bit = kBits[i];
        if (bit == 0 || (bits & bit))
            return std::nullopt;
        bits |= bit;
    }
    return TileSymmetry(bits);
}

}  // namespace

QByteArray writeRemapText(const TileRemap& remap)
{
    QByteArray text = QByteArray(kHeader) + '\n' + QByteArray::number(remap.newTileCount()) + ' ' +
                      QByteArray::number(remap.newColumns()) + '\n';
    for (size_t tile = 0; tile < remap.newIndexOf.size(); ++tile) {
        const int32_t now = remap.newIndexOf[tile];
        if (now == TileRemap::kDropped) {
            text += kDropped;
        } else {
            text += QByteArray::number(now);
            const TileSymmetry symmetry = remap.symmetry(tile);
            if (!symmetry.isIdentity()) {
                text += ' ';
                for (size_t i = 0; i < 3; ++i)
                    if (symmetry.bits() & kBits[i])
                        text += kLetters[i];
            }
        }
        text += '\n';
    }
    return text;
}

RemapParseResult parseRemapText(QByteArrayView text)
{
    RemapParseResult result;
    TileRemap remap;
    qsizetype lineNumber = 0;
    auto refuse = [&](const QString& why) {
        result.error = QStringLiteral("line %1: %2").arg(lineNumber).arg(why);
        return result;
    };
    qsizetype at = 0;
    bool turned = false;
    std::vector<TileSymmetry> symmetries;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (line.endsWith('\r'))
            line.chop(1);
        const QList<QByteArray> words = line.toByteArray().simplified().split(' ');
        const bool blank = words.size() == 1 && words.front().isEmpty();
        if (lineNumber == 1) {
            if (line != QByteArrayView(kHeader))
                return refuse(
                    QStringLiteral("a remap file starts with \"%1\"").arg(QLatin1String(kHeader)));
        } else if (lineNumber == 2) {
            const auto count = words.size() == 2 ? smallNumber(words[0]) : std::nullopt;
            const auto columns = words.size() == 2 ? smallNumber(words[1]) : std::nullopt;
            if (!count || !columns || *columns == 0)
                return refuse(QStringLiteral("the second line holds the new tile count and the "
                                             "new column count, the columns at least 1"));
            remap.newTiles = *count;
            remap.newColumnCount = *columns;
        } else if (blank) {
            if (text.sliced(at).trimmed().isEmpty())
                break;  // trailing empty lines
            return refuse(QStringLiteral("an empty line among the tiles"));
        } else if (words.size() == 1 && words[0] == kDropped) {
            remap.newIndexOf.push_back(TileRemap::kDropped);
            symmetries.push_back({});
        } else {
            const auto now = words.size() <= 2 ? smallNumber(words[0]) : std::nullopt;
            const auto symmetry =
                words.size() == 2 ? symmetryOf(words[1]) : std::optional(TileSymmetry());
            if (!now || !symmetry)
                return refuse(QStringLiteral("\"%1\" is not a tile number, a tile number and "
                                             "its flips (h, v, d), or \"dropped\"")
                                  .arg(QString::fromUtf8(line.first(std::min<qsizetype>(
                                      line.size(), 40)))));
            if (*now >= remap.newTiles)
                return refuse(QStringLiteral("tile %1 becomes %2, but there are %3 new tiles")
                                  .arg(remap.newIndexOf.size())
                                  .arg(*now)
                                  .arg(remap.newTiles));
            remap.newIndexOf.push_back(*now);
            symmetries.push_back(*symmetry);
            turned = turned || !symmetry->isIdentity();
        }
    }
    if (lineNumber < 2)
        return refuse(QStringLiteral("the file ends before the new tile count"));
    if (turned)
        remap.symmetryOf = std::move(symmetries);
    // What is wrong with the tiles as a whole goes against the line that counts the new ones.
    lineNumber = 2;
    if (const QString why = remap.check(); !why.isEmpty())
        return refuse(why);
    result.remap = std::move(remap);
    return result;
}

RemapParseResult readRemapFile(const QString& path)
{
    RemapParseResult result;
    QFile file(path);
    result.error = openForReading(file, QStringLiteral("a remap file"));
    if (!result.error.isEmpty())
        return result;
    // A remap takes a few bytes a tile; far more is no remap file.
    if (file.size() > (qint64(1) << 28)) {
        result.error = QStringLiteral("%1 is too large to be a remap file.").arg(quotedPath(path));
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.error =
            QStringLiteral("%1 cannot be read: %2.").arg(quotedPath(path), file.errorString());
        return result;
    }
    result = parseRemapText(bytes);
    if (!result.remap)
        result.error = QStringLiteral("%1, %2.").arg(quotedPath(path), result.error);
    return result;
}

QString writeRemapFile(const TileRemap& remap, const QString& path)
{
    return writeFileAtomically(path, writeRemapText(remap));
}

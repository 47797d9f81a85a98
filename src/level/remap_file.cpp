#include "level/remap_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include "document/atomic_file.h"
#include "document/file_messages.h"

namespace {

constexpr char kHeader[] = "tilegrid-remap 1";
constexpr char kHeader2[] = "tilegrid-remap 2";
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

// What follows a line's first word, as written; empty when the line does not start with it.
QString restAfter(QByteArrayView line, const char* key)
{
    const QByteArrayView prefix(key);
    return line.startsWith(prefix) && line.size() > prefix.size() + 1 && line[prefix.size()] == ' '
               ? QString::fromUtf8(line.sliced(prefix.size() + 1)).trimmed()
               : QString();
}

// Lines 2 to 4 of version 2: the sheet, the atlas, and the tiles' shape and columns. Empty when
// the line is fine, otherwise why not.
QString readNamingLine(qsizetype lineNumber, QByteArrayView line, const QList<QByteArray>& words,
                       RemapFiles& files, TileRemap& remap)
{
    if (lineNumber == 2) {
        files.sheet = restAfter(line, "sheet");
        return files.sheet.isEmpty()
                   ? QStringLiteral("the second line names the sheet: \"sheet PATH\"")
                   : QString();
    }
    if (lineNumber == 3) {
        files.atlas = restAfter(line, "atlas");
        return files.atlas.isEmpty()
                   ? QStringLiteral("the third line names the atlas: \"atlas PATH\"")
                   : QString();
    }
    const QList<QByteArray> shape =
        words.size() == 3 && words[0] == "tiles" ? words[1].split('x') : QList<QByteArray>();
    const int32_t width = shape.size() == 2 ? smallNumber(shape[0]).value_or(0) : 0;
    const int32_t height = shape.size() == 2 ? smallNumber(shape[1]).value_or(0) : 0;
    const int32_t columns = words.size() == 3 ? smallNumber(words[2]).value_or(0) : 0;
    if (width == 0 || height == 0 || columns == 0)
        return QStringLiteral("the fourth line gives the tiles' shape and columns: \"tiles WxH "
                              "COLUMNS\", each at least 1");
    remap.tile = TileShape(width, height);
    remap.columns = columns;
    return {};
}

}  // namespace

QByteArray writeRemapText(const TileRemap& remap, const RemapFiles& files)
{
    QByteArray text;
    if (files.sheet.isEmpty()) {
        text = QByteArray(kHeader) + '\n';
    } else {
        const TileShape tile = remap.tile.value_or(TileShape(0));
        text = QByteArray(kHeader2) + "\nsheet " + files.sheet.toUtf8() + "\natlas " +
               files.atlas.toUtf8() + "\ntiles " + QByteArray::number(tile.width) + 'x' +
               QByteArray::number(tile.height) + ' ' + QByteArray::number(remap.columns) + '\n';
    }
    text += QByteArray::number(remap.newTileCount()) + ' ' +
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
    // Version 2 names its files and the tiles' shape before the count line.
    qsizetype countLine = 2;
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
            if (line == QByteArrayView(kHeader2))
                countLine = 5;
            else if (line != QByteArrayView(kHeader))
                return refuse(QStringLiteral("a remap file starts with \"%1\" or \"%2\"")
                                  .arg(QLatin1String(kHeader2), QLatin1String(kHeader)));
        } else if (lineNumber < countLine) {
            if (const QString why = readNamingLine(lineNumber, line, words, result.files, remap);
                !why.isEmpty())
                return refuse(why);
        } else if (lineNumber == countLine) {
            const auto count = words.size() == 2 ? smallNumber(words[0]) : std::nullopt;
            const auto columns = words.size() == 2 ? smallNumber(words[1]) : std::nullopt;
            if (!count || !columns || *columns == 0)
                return refuse(QStringLiteral("the %1 line holds the new tile count and the "
                                             "new column count, the columns at least 1")
                                  .arg(countLine == 2 ? QStringLiteral("second")
                                                      : QStringLiteral("fifth")));
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
    if (lineNumber < countLine)
        return refuse(QStringLiteral("the file ends before the new tile count"));
    if (turned)
        remap.symmetryOf = std::move(symmetries);
    // What is wrong with the tiles as a whole goes against the line that counts the new ones.
    lineNumber = countLine;
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
    if (!result.remap) {
        result.error = QStringLiteral("%1, %2.").arg(quotedPath(path), result.error);
        return result;
    }
    const QDir folder = QFileInfo(path).absoluteDir();
    for (QString* named : {&result.files.sheet, &result.files.atlas})
        if (!named->isEmpty())
            *named = QDir::cleanPath(folder.absoluteFilePath(*named));
    return result;
}

QString writeRemapFile(const TileRemap& remap, const QString& path, const RemapFiles& files)
{
    const QDir folder = QFileInfo(path).absoluteDir();
    RemapFiles relative = files;
    for (QString* named : {&relative.sheet, &relative.atlas})
        if (!named->isEmpty())
            *named = folder.relativeFilePath(QFileInfo(*named).absoluteFilePath());
    return writeFileAtomically(path, writeRemapText(remap, relative));
}

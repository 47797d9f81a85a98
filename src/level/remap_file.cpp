#include "level/remap_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>

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

// "tiles WxH COLUMNS" into remap; empty when the line is one, otherwise why not.
QString readTilesLine(const QList<QByteArray>& words, TileRemap& remap)
{
    const QList<QByteArray> shape =
        words.size() == 3 && words[0] == "tiles" ? words[1].split('x') : QList<QByteArray>();
    const int32_t width = shape.size() == 2 ? smallNumber(shape[0]).value_or(0) : 0;
    const int32_t height = shape.size() == 2 ? smallNumber(shape[1]).value_or(0) : 0;
    const int32_t columns = words.size() == 3 ? smallNumber(words[2]).value_or(0) : 0;
    if (width == 0 || height == 0 || columns == 0)
        return QStringLiteral("a sheet's line is followed by its tiles' shape and columns: "
                              "\"tiles WxH COLUMNS\", each at least 1");
    remap.tile = TileShape(width, height);
    remap.columns = columns;
    return {};
}

// One tile's line into remap and symmetries: its new number and flips, or "dropped". Empty when
// the line is one, otherwise why not.
QString readTileLine(QByteArrayView line, const QList<QByteArray>& words, int32_t newTiles,
                     TileRemap& remap, std::vector<TileSymmetry>& symmetries)
{
    if (words.size() == 1 && words[0] == kDropped) {
        remap.newIndexOf.push_back(TileRemap::kDropped);
        symmetries.push_back({});
        return {};
    }
    const auto now = words.size() <= 2 ? smallNumber(words[0]) : std::nullopt;
    const auto symmetry =
        words.size() == 2 ? symmetryOf(words[1]) : std::optional(TileSymmetry());
    if (!now || !symmetry)
        return QStringLiteral("\"%1\" is not a tile number, a tile number and its flips (h, v, "
                              "d), or \"dropped\"")
            .arg(QString::fromUtf8(line.first(std::min<qsizetype>(line.size(), 40))));
    if (*now >= newTiles)
        return QStringLiteral("tile %1 becomes %2, but there are %3 new tiles")
            .arg(remap.newIndexOf.size())
            .arg(*now)
            .arg(newTiles);
    remap.newIndexOf.push_back(*now);
    symmetries.push_back(*symmetry);
    return {};
}

void writeTiles(const TileRemap& remap, QByteArray& text)
{
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
}

// Every new tile must be shown by a tile of some sheet: the sheets are checked as one remap.
QString checkTogether(const std::vector<RemapSheet>& sheets)
{
    TileRemap all = sheets.front().remap;
    all.newIndexOf.clear();
    all.symmetryOf.clear();
    const bool turned = std::any_of(sheets.begin(), sheets.end(),
                                    [](const RemapSheet& s) { return !s.remap.symmetryOf.empty(); });
    for (const RemapSheet& sheet : sheets) {
        all.newIndexOf.insert(all.newIndexOf.end(), sheet.remap.newIndexOf.begin(),
                              sheet.remap.newIndexOf.end());
        if (turned)
            for (size_t tile = 0; tile < sheet.remap.newIndexOf.size(); ++tile)
                all.symmetryOf.push_back(sheet.remap.symmetry(tile));
    }
    return all.check();
}

}  // namespace

QByteArray writeRemapText(const RemapFile& file)
{
    const bool named = !file.sheets.empty() && !file.sheets.front().path.isEmpty();
    const TileRemap& first = file.sheets.front().remap;
    QByteArray text = named ? QByteArray(kHeader2) + "\natlas " + file.atlas.toUtf8() + '\n'
                            : QByteArray(kHeader) + '\n';
    text += QByteArray::number(first.newTileCount()) + ' ' +
            QByteArray::number(first.newColumns()) + '\n';
    for (const RemapSheet& sheet : file.sheets) {
        if (named) {
            const TileShape tile = sheet.remap.tile.value_or(TileShape(0));
            text += "sheet " + sheet.path.toUtf8() + "\ntiles " + QByteArray::number(tile.width) +
                    'x' + QByteArray::number(tile.height) + ' ' +
                    QByteArray::number(sheet.remap.columns) + '\n';
        }
        writeTiles(sheet.remap, text);
    }
    return text;
}

namespace {

// Every sheet's remap takes the atlas's tile and column counts, and its turns where it has any.
void giveCounts(RemapFile& file, int32_t newTiles, int newColumns,
                std::vector<std::vector<TileSymmetry>> symmetries)
{
    symmetries.resize(file.sheets.size());
    for (size_t i = 0; i < file.sheets.size(); ++i) {
        TileRemap& remap = file.sheets[i].remap;
        remap.newTiles = newTiles;
        remap.newColumnCount = newColumns;
        if (std::any_of(symmetries[i].begin(), symmetries[i].end(),
                        [](TileSymmetry g) { return !g.isIdentity(); }))
            remap.symmetryOf = std::move(symmetries[i]);
    }
}

// The lines before the tiles: the version, the atlas in version 2, the new counts.
struct RemapHead {
    bool version2 = false;
    qsizetype countLine = 2;  // version 2 names the atlas first
    int32_t newTiles = 0;
    int newColumns = 0;

    // Empty when line number n is what it should be, otherwise why not.
    QString read(qsizetype n, QByteArrayView line, const QList<QByteArray>& words, RemapFile& file)
    {
        if (n == 1) {
            version2 = line == QByteArrayView(kHeader2);
            countLine = version2 ? 3 : 2;
            if (!version2 && line != QByteArrayView(kHeader))
                return QStringLiteral("a remap file starts with \"%1\" or \"%2\"")
                    .arg(QLatin1String(kHeader2), QLatin1String(kHeader));
        } else if (n < countLine) {
            file.atlas = restAfter(line, "atlas");
            if (file.atlas.isEmpty())
                return QStringLiteral("the second line names the atlas: \"atlas PATH\"");
        } else {
            newTiles = words.size() == 2 ? smallNumber(words[0]).value_or(-1) : -1;
            newColumns = words.size() == 2 ? smallNumber(words[1]).value_or(0) : 0;
            if (newTiles < 0 || newColumns == 0)
                return QStringLiteral("the %1 line holds the new tile count and the "
                                      "new column count, the columns at least 1")
                    .arg(version2 ? "third" : "second");
            if (!version2)
                file.sheets.push_back({});
        }
        return {};
    }
};

}  // namespace

RemapParseResult parseRemapText(QByteArrayView text)
{
    RemapParseResult result;
    RemapFile file;
    qsizetype lineNumber = 0;
    auto refuse = [&](const QString& why) {
        result.error = QStringLiteral("line %1: %2").arg(lineNumber).arg(why);
        return result;
    };
    qsizetype at = 0;
    RemapHead head;
    std::vector<std::vector<TileSymmetry>> symmetries;
    bool expectTiles = false;  // a sheet's line was just read
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
        if (lineNumber <= head.countLine) {
            if (const QString why = head.read(lineNumber, line, words, file); !why.isEmpty())
                return refuse(why);
        } else if (expectTiles) {
            if (const QString why = readTilesLine(words, file.sheets.back().remap); !why.isEmpty())
                return refuse(why);
            expectTiles = false;
        } else if (head.version2 && !restAfter(line, "sheet").isEmpty()) {
            file.sheets.push_back(RemapSheet{restAfter(line, "sheet"), {}});
            expectTiles = true;
        } else if (file.sheets.empty()) {
            return refuse(QStringLiteral("the tiles of a sheet follow its line: \"sheet PATH\""));
        } else if (blank) {
            if (text.sliced(at).trimmed().isEmpty())
                break;  // trailing empty lines
            return refuse(QStringLiteral("an empty line among the tiles"));
        } else {
            symmetries.resize(file.sheets.size());
            if (const QString why = readTileLine(line, words, head.newTiles, file.sheets.back().remap,
                                                 symmetries.back());
                !why.isEmpty())
                return refuse(why);
        }
    }
    if (lineNumber < head.countLine)
        return refuse(QStringLiteral("the file ends before the new tile count"));
    if (expectTiles)
        return refuse(QStringLiteral("the file ends before the sheet's tiles' shape"));
    if (file.sheets.empty())
        return refuse(QStringLiteral("the file names no sheet"));
    giveCounts(file, head.newTiles, head.newColumns, std::move(symmetries));
    // What is wrong with the tiles as a whole goes against the line that counts the new ones.
    lineNumber = head.countLine;
    if (const QString why = checkTogether(file.sheets); !why.isEmpty())
        return refuse(why);
    result.file = std::move(file);
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
    if (!result.file) {
        result.error = QStringLiteral("%1, %2.").arg(quotedPath(path), result.error);
        return result;
    }
    const QDir folder = QFileInfo(path).absoluteDir();
    const auto resolved = [&](QString& named) {
        if (!named.isEmpty())
            named = QDir::cleanPath(folder.absoluteFilePath(named));
    };
    resolved(result.file->atlas);
    for (RemapSheet& sheet : result.file->sheets)
        resolved(sheet.path);
    return result;
}

QString writeRemapFile(const RemapFile& file, const QString& path)
{
    const QDir folder = QFileInfo(path).absoluteDir();
    RemapFile relative = file;
    const auto fromFolder = [&](QString& named) {
        if (!named.isEmpty())
            named = folder.relativeFilePath(QFileInfo(named).absoluteFilePath());
    };
    fromFolder(relative.atlas);
    for (RemapSheet& sheet : relative.sheets)
        fromFolder(sheet.path);
    return writeFileAtomically(path, writeRemapText(relative));
}

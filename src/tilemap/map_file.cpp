#include "tilemap/map_file.h"

#include <charconv>
#include <cstdint>
#include <vector>

#include "document/problem.h"

namespace
{

struct ScannedNumber {
    bool hasDigits = false;
    std::optional<int32_t> value; // nullopt when beyond 32 bits
};

int digitValue(char c, int base)
{
    int value = 36;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

ScannedNumber scanNumber(QByteArrayView line)
{
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < n && (line[i] == '-' || line[i] == '+'))
        negative = line[i++] == '-';
    int base = 10;
    if (i < n && line[i] == '$') {
        base = 16;
        ++i;
    } else if (i < n && line[i] == '%') {
        base = 2;
        ++i;
    }

    // The magnitude may reach 2^31 for a negative number; once past that it cannot come back.
    constexpr int64_t kLimit = int64_t(1) << 31;
    ScannedNumber result;
    int64_t magnitude = 0;
    bool tooLarge = false;
    for (; i < n; ++i) {
        const int digit = digitValue(line[i], base);
        if (digit < 0)
            break;
        result.hasDigits = true;
        if (!tooLarge) {
            magnitude = magnitude * base + digit;
            tooLarge = magnitude > kLimit;
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (!tooLarge && value >= INT32_MIN && value <= INT32_MAX)
        result.value = int32_t(value);
    return result;
}

// The lines of a map file: each ends at LF, CR LF, a lone CR or a NUL; the end of the text ends the
// last one, and a final line end starts no further line.
std::vector<QByteArrayView> splitLines(QByteArrayView text)
{
    std::vector<QByteArrayView> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = text[i];
        if (c != '\n' && c != '\r' && c != '\0')
            continue;
        lines.push_back(text.sliced(start, i - start));
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.push_back(text.sliced(start));
    return lines;
}

// The lines that hold a map file's numbers: all of them but trailing empty ones, after a byte
// order mark.
std::vector<QByteArrayView> numberLines(QByteArrayView text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    std::vector<QByteArrayView> lines = splitLines(text);
    while (!lines.empty() && lines.back().isEmpty())
        lines.pop_back();
    return lines;
}

} // namespace

QByteArray writeMapText(const TileMap& map)
{
    QByteArray text;
    // At most 11 characters for a 32-bit number plus CR LF.
    text.reserve(qsizetype(map.fullTiles()) * 13);
    char buffer[16];
    for (int y = 0; y < map.rows(); ++y) {
        for (int x = 0; x < map.columns(); ++x) {
            const auto end = std::to_chars(buffer, buffer + sizeof buffer, map.at(x, y)).ptr;
            text.append(buffer, end - buffer);
            text.append("\r\n", 2);
        }
    }
    return text;
}

std::optional<int32_t> parseMapNumber(QByteArrayView line)
{
    const ScannedNumber scanned = scanNumber(line);
    if (!scanned.hasDigits)
        return 0;
    return scanned.value;
}

qsizetype mapLineCount(QByteArrayView text)
{
    return qsizetype(numberLines(text).size());
}

MapParseResult parseMapText(QByteArrayView text, int columns, int rows, const QString& fileName,
                            TileShape tile)
{
    MapParseResult result;
    const std::vector<QByteArrayView> lines = numberLines(text);
    std::vector<int32_t> numbers;
    numbers.reserve(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const ScannedNumber scanned = scanNumber(lines[i]);
        if (!scanned.hasDigits) {
            result.error = QStringLiteral("Line %1 holds no tile number.").arg(i + 1);
            return result;
        }
        if (!scanned.value) {
            result.error =
                QStringLiteral("Line %1 holds a number too large to be a tile number.").arg(i + 1);
            return result;
        }
        numbers.push_back(*scanned.value);
    }

    const qint64 tiles = qint64(columns) * rows;
    if (qint64(numbers.size()) != tiles) {
        // The name is put in last, so a "%" in it is never taken for a placeholder.
        result.error =
            fileName + QStringLiteral(" holds %1, but the open sheet has %2 of %3.")
                           .arg(plural(qint64(numbers.size()), QStringLiteral("tile number"),
                                       QStringLiteral("tile numbers")),
                                plural(tiles, QStringLiteral("tile"), QStringLiteral("tiles")),
                                tileText(tile));
        return result;
    }

    TileMap map(columns + 1, rows + 1);
    std::vector<bool> seen(size_t(tiles), false);
    for (size_t i = 0; i < numbers.size(); ++i) {
        const int32_t number = numbers[i];
        if (number < 0 || number >= tiles) {
            result.error = QStringLiteral("Line %1 holds tile number %2, but the tiles of the open "
                                          "sheet are numbered 0 to %3.")
                               .arg(i + 1)
                               .arg(number)
                               .arg(tiles - 1);
            return result;
        }
        if (seen[size_t(number)]) {
            result.error = QStringLiteral("Tile number %1 appears twice.").arg(number);
            return result;
        }
        seen[size_t(number)] = true;
        map.at(int(i % size_t(columns)), int(i / size_t(columns))) = number;
    }
    result.map = std::move(map);
    return result;
}

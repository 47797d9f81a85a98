// Map file text from an untrusted file: the first two bytes choose a small sheet (columns, rows),
// the rest is the file. Whatever the text, the reader must either refuse it with a message or
// give a map that is a permutation of the sheet's tiles and survives writing and reading back.
#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "tilemap/map_file.h"

namespace {

void checkAccepted(const TileMap& map, int columns, int rows)
{
    FUZZ_CHECK(map.columns() == columns && map.rows() == rows);
    std::vector<bool> seen(size_t(columns) * size_t(rows), false);
    for (int y = 0; y < map.extentY(); ++y) {
        for (int x = 0; x < map.extentX(); ++x) {
            const int32_t number = map.at(x, y);
            if (x == columns || y == rows) {
                FUZZ_CHECK(number == 0);  // the partial strip never holds a tile number
                continue;
            }
            FUZZ_CHECK(number >= 0 && number < columns * rows);
            FUZZ_CHECK(!seen[size_t(number)]);
            seen[size_t(number)] = true;
        }
    }

    const QByteArray written = writeMapText(map);
    const MapParseResult again = parseMapText(written, columns, rows, QStringLiteral("again"), 8);
    FUZZ_CHECK(again.map && *again.map == map);
}

// A line of blanks, an optional sign and up to 18 decimal digits has one right value, computed
// here independently; anything after the digits is ignored.
void checkPlainDecimal(QByteArrayView line)
{
    qsizetype i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    const bool negative = i < line.size() && line[i] == '-';
    if (i < line.size() && (line[i] == '-' || line[i] == '+'))
        ++i;
    int64_t value = 0;
    int digits = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 18; ++i, ++digits)
        value = value * 10 + (line[i] - '0');
    if (i < line.size() && line[i] >= '0' && line[i] <= '9')
        return;  // too long for the reference
    if (i < line.size() && digits == 0 && (line[i] == '$' || line[i] == '%'))
        return;  // another base
    if (negative)
        value = -value;

    const std::optional<int32_t> number = parseMapNumber(line);
    if (value < INT32_MIN || value > INT32_MAX)
        FUZZ_CHECK(!number);
    else
        FUZZ_CHECK(number && *number == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int columns = data[0] % 17;
    const int rows = data[1] % 17;
    const QByteArrayView text(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));

    const MapParseResult result =
        parseMapText(text, columns, rows, QStringLiteral("100% fuzz %1.zeko-map"), 16);
    FUZZ_CHECK(result.map.has_value() == result.error.isEmpty());
    if (result.map)
        checkAccepted(*result.map, columns, rows);

    checkPlainDecimal(text);
    return 0;
}

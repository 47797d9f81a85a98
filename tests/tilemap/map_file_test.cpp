#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tilemap/map_file.h"

namespace {

// A columns x rows map holding a shuffled permutation of its tile numbers.
TileMap shuffledMap(int columns, int rows, unsigned seed)
{
    std::vector<int32_t> numbers(size_t(columns) * size_t(rows));
    for (size_t i = 0; i < numbers.size(); ++i)
        numbers[i] = int32_t(i);
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(seed));
    TileMap map(columns + 1, rows + 1);
    for (size_t i = 0; i < numbers.size(); ++i)
        map.at(int(i) % columns, int(i) / columns) = numbers[i];
    return map;
}

// The lines of a map text joined by the given line ends, used in turn.
QByteArray joinLines(const TileMap& map, const std::vector<QByteArray>& ends)
{
    QByteArray text;
    size_t next = 0;
    for (int y = 0; y < map.rows(); ++y) {
        for (int x = 0; x < map.columns(); ++x) {
            text += QByteArray::number(map.at(x, y));
            text += ends[next++ % ends.size()];
        }
    }
    return text;
}

TEST(WriteMapText, TheIdentityOfThreeByTwoIsEighteenBytes)
{
    const QByteArray text = writeMapText(TileMap::identity(3, 2));
    EXPECT_EQ(text.size(), 18);
    EXPECT_EQ(text, QByteArray("0\r\n1\r\n2\r\n3\r\n4\r\n5\r\n"));
}

TEST(WriteMapText, WritesFullTilesRowByRowWithSignsAndNoSpareEntries)
{
    TileMap map(3, 2);  // two full columns, one row
    map.at(0, 0) = -5;
    map.at(1, 0) = 65536;
    map.at(2, 0) = 99;  // spare
    map.at(0, 1) = 98;  // spare
    EXPECT_EQ(writeMapText(map), QByteArray("-5\r\n65536\r\n"));
    EXPECT_EQ(writeMapText(TileMap::identity(0, 4)), QByteArray());
}

TEST(ParseMapNumber, ReadsLinesLeniently)
{
    const struct {
        QByteArray line;
        std::optional<int32_t> value;
    } cases[] = {
        // The seven-line file a hand editor might produce.
        {" 7", 7},
        {"+7", 7},
        {"$1F", 31},
        {"%101", 5},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        // More of the same syntax.
        {"\t \t-42 tiles", -42},
        {"-$ff", -255},
        {"$", 0},
        {"%2", 0},
        {"-", 0},
        {"0007", 7},
        {"1 2", 1},
        {"$7fffffff", INT32_MAX},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"00000000000000000000000000000042", 42},
        // Beyond 32 bits a line holds no usable number.
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"$100000000", std::nullopt},
        {"99999999999999999999999999999", std::nullopt},
        {"18446744073709551621", std::nullopt},  // 2^64 + 5
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseMapNumber(c.line), c.value) << "line \"" << c.line.toStdString() << "\"";
}

TEST(ParseMapText, ReadsBackWhatWasWritten)
{
    for (const auto& [columns, rows] :
         std::initializer_list<std::pair<int, int>>{{3, 2}, {1, 1}, {17, 5}, {256, 128}}) {
        const TileMap map = shuffledMap(columns, rows, unsigned(columns * rows));
        const MapParseResult parsed = parseMapText(writeMapText(map), columns, rows, "m", 8);
        ASSERT_TRUE(parsed.map) << parsed.error.toStdString();
        EXPECT_EQ(*parsed.map, map);
        EXPECT_TRUE(parsed.error.isEmpty());
    }
}

TEST(ParseMapText, AcceptsAnyLineEndsAByteOrderMarkAndTrailingEmptyLines)
{
    const TileMap map = shuffledMap(4, 3, 1);
    const struct {
        const char* what;
        QByteArray text;
    } cases[] = {
        {"LF", joinLines(map, {"\n"})},
        {"lone CR", joinLines(map, {"\r"})},
        {"NUL", joinLines(map, {QByteArray(1, '\0')})},
        {"mixed", joinLines(map, {"\r\n", "\n", "\r", QByteArray(1, '\0')})},
        {"no end after the last line", joinLines(map, {"\r\n"}).chopped(2)},
        {"byte-order mark", "\xEF\xBB\xBF" + joinLines(map, {"\r\n"})},
        {"trailing empty lines", joinLines(map, {"\r\n"}) + "\r\n\n\r"},
        {"text after the numbers", joinLines(map, {" tile\n"})},
    };
    for (const auto& c : cases) {
        const MapParseResult parsed = parseMapText(c.text, 4, 3, "m", 16);
        ASSERT_TRUE(parsed.map) << c.what << ": " << parsed.error.toStdString();
        EXPECT_EQ(*parsed.map, map) << c.what;
        // What a reader without a sheet looks for.
        EXPECT_EQ(mapLineCount(c.text), 12) << c.what;
    }
}

TEST(ParseMapText, AnEmptyFileFitsASheetWithoutFullTiles)
{
    const MapParseResult parsed = parseMapText("", 0, 3, "m", 8);
    ASSERT_TRUE(parsed.map);
    EXPECT_EQ(*parsed.map, TileMap(1, 4));
}

QByteArray identityLines(int count)
{
    return writeMapText(TileMap::identity(count, 1));
}

TEST(ParseMapText, RefusesFilesThatDoNotFitTheSheetAndSaysWhy)
{
    QByteArray withEmptyLine = identityLines(30);
    withEmptyLine.insert(withEmptyLine.indexOf("11\r\n"), "\r\n");
    QByteArray duplicate = identityLines(30);
    duplicate.replace("9\r\n", "7\r\n");
    QByteArray outOfRange = identityLines(30);
    outOfRange.replace("\r\n29\r\n", "\r\n30\r\n");
    QByteArray negative = identityLines(30);
    negative.replace("\r\n4\r\n", "\r\n-4\r\n");
    QByteArray word = identityLines(30);
    word.replace("\r\n3\r\n", "\r\nthree\r\n");
    QByteArray huge = identityLines(30);
    huge.replace("\r\n3\r\n", "\r\n4294967299\r\n");
    const QByteArray bomOnSecondLine = "0\r\n\xEF\xBB\xBF" "1\r\n";

    const struct {
        const char* what;
        QByteArray text;
        int columns;
        int rows;
        int tileSize;
        const char* message;
    } cases[] = {
        {"too few", identityLines(60), 20, 12, 8,
         "level.zeko-map holds 60 tile numbers, but the open sheet has 240 tiles of 8 × 8."},
        {"too many", identityLines(7), 3, 2, 16,
         "level.zeko-map holds 7 tile numbers, but the open sheet has 6 tiles of 16 × 16."},
        {"one and one", identityLines(1), 1, 0, 16,
         "level.zeko-map holds 1 tile number, but the open sheet has 0 tiles of 16 × 16."},
        {"empty", "", 1, 1, 8,
         "level.zeko-map holds 0 tile numbers, but the open sheet has 1 tile of 8 × 8."},
        {"repeated", duplicate, 6, 5, 8, "Tile number 7 appears twice."},
        {"empty line", withEmptyLine, 6, 5, 8, "Line 12 holds no tile number."},
        {"no digits", word, 6, 5, 8, "Line 4 holds no tile number."},
        {"beyond 32 bits", huge, 6, 5, 8,
         "Line 4 holds a number too large to be a tile number."},
        {"out of range", outOfRange, 6, 5, 8,
         "Line 30 holds tile number 30, but the tiles of the open sheet are numbered 0 to 29."},
        {"negative", negative, 6, 5, 8,
         "Line 5 holds tile number -4, but the tiles of the open sheet are numbered 0 to 29."},
        {"mark not at the start", bomOnSecondLine, 2, 1, 8, "Line 2 holds no tile number."},
    };
    for (const auto& c : cases) {
        const MapParseResult parsed =
            parseMapText(c.text, c.columns, c.rows, "level.zeko-map", c.tileSize);
        EXPECT_FALSE(parsed.map) << c.what;
        EXPECT_EQ(parsed.error.toStdString(), c.message) << c.what;
    }
}

TEST(ParseMapText, APercentSignInTheFileNameIsKept)
{
    const MapParseResult parsed = parseMapText("0\r\n", 2, 1, "100%1 %2.zeko-map", 8);
    EXPECT_EQ(parsed.error.toStdString(),
              "100%1 %2.zeko-map holds 1 tile number, but the open sheet has 2 tiles of 8 × 8.");
}

}  // namespace

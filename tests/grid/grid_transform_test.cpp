#include <gtest/gtest.h>

#include <tuple>

#include "grid/grid_transform.h"
#include "image/pixel_block.h"
#include "support/test_images.h"

namespace {

// A colour the small test images never hold, so a grid pixel cannot pass by accident.
const QRgb kGrid = qRgb(1, 2, 250);

enum class Direction { Insert, Remove };

struct GridCase {
    const char* name;
    Direction direction;
    int tileSize;
    int sourceWidth;
    int sourceHeight;
    int resultWidth;
    int resultHeight;
};

GridResult runTransform(Direction direction, const QImage& source, int tileSize)
{
    return direction == Direction::Insert ? insertGrid(source, tileSize, kGrid)
                                          : removeGrid(source, tileSize, kGrid);
}

void PrintTo(const GridCase& c, std::ostream* os) { *os << c.name; }

class GridInstances
    : public ::testing::TestWithParam<std::tuple<GridCase, QImage::Format>> {};

TEST_P(GridInstances, CopiesEveryWholeTileAndFillsTheRestWithTheGridColour)
{
    const auto& [c, format] = GetParam();
    const int sourcePitch = c.direction == Direction::Insert ? c.tileSize : c.tileSize + 1;
    const int targetPitch = c.direction == Direction::Insert ? c.tileSize + 1 : c.tileSize;
    const QImage source = makeTestImage(c.sourceWidth, c.sourceHeight, format);

    const GridResult result = runTransform(c.direction, source, c.tileSize);

    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_TRUE(result.error.isEmpty());
    const QImage& image = result.image;
    ASSERT_EQ(image.size(), QSize(c.resultWidth, c.resultHeight));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ASSERT_EQ(qAlpha(image.pixel(x, y)), 255) << x << "," << y;
            const int inX = x % targetPitch;
            const int inY = y % targetPitch;
            const QRgb expected =
                inX >= c.tileSize || inY >= c.tileSize
                    ? kGrid
                    : pixelColour(x / targetPitch * sourcePitch + inX,
                                  y / targetPitch * sourcePitch + inY);
            ASSERT_EQ(rgbAt(image, x, y), expected) << "pixel " << x << "," << y;
        }
    }
}

// The geometry of the four instances, as a user sees it.
const GridCase kGridCases[] = {
    {"Insert16On40x35", Direction::Insert, 16, 40, 35, 34, 34},
    {"Insert8On16x8", Direction::Insert, 8, 16, 8, 18, 9},
    {"Remove8On26x18", Direction::Remove, 8, 26, 18, 16, 16},
    {"Remove16On35x35", Direction::Remove, 16, 35, 35, 32, 32},
    {"Insert8ExactMultiple", Direction::Insert, 8, 24, 16, 27, 18},
    {"Remove16ExactMultiple", Direction::Remove, 16, 51, 17, 48, 16},
};

INSTANTIATE_TEST_SUITE_P(
    AllInstances, GridInstances,
    ::testing::Combine(::testing::ValuesIn(kGridCases),
                       ::testing::Values(QImage::Format_BGR888, QImage::Format_RGB32)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == QImage::Format_BGR888 ? "_24bit" : "_32bit");
    });

TEST(GridTransform, InsertGivesTheLinesAndTilesAUserExpects)
{
    // 40 x 35 with 16: tile (1, 0) comes from (16, 0) and lands at (17, 0); columns and rows 16
    // and 33 are grid lines.
    const QImage source = makeTestImage(40, 35);
    const QImage image = insertGrid(source, 16, kGrid).image;
    ASSERT_EQ(image.size(), QSize(34, 34));
    EXPECT_TRUE(sameBlock(image, 17, 0, source, 16, 0, 16, 16));
    for (int i = 0; i < 34; ++i) {
        for (int line : {16, 33}) {
            EXPECT_EQ(rgbAt(image, line, i), kGrid);
            EXPECT_EQ(rgbAt(image, i, line), kGrid);
        }
    }
}

TEST(GridTransform, InsertThenRemoveGivesBackTheWholeTiles)
{
    for (const QImage::Format format : {QImage::Format_BGR888, QImage::Format_RGB32}) {
        for (const int tileSize : {8, 16}) {
            for (const QSize size : {QSize(16, 8), QSize(37, 21), QSize(50, 33), QSize(65, 80)}) {
                if (size.width() < tileSize || size.height() < tileSize)
                    continue;
                SCOPED_TRACE(testing::Message() << "tile " << tileSize << " size " << size.width()
                                                << "x" << size.height() << " format " << format);
                const QImage source = makeTestImage(size.width(), size.height(), format);
                const GridResult inserted = insertGrid(source, tileSize, kGrid);
                ASSERT_TRUE(inserted.ok());
                const GridResult removed = removeGrid(inserted.image, tileSize, qRgb(9, 9, 9));
                ASSERT_TRUE(removed.ok());

                const QImage cut = source.copy(0, 0, size.width() / tileSize * tileSize,
                                               size.height() / tileSize * tileSize);
                EXPECT_EQ(removed.image.format(), QImage::Format_RGB32);
                EXPECT_TRUE(sameRgb(removed.image, cut));
            }
        }
    }
}

TEST(GridTransform, TheSourceIsLeftAsItWas)
{
    const QImage source = makeTestImage(40, 35);
    const QImage before = source.copy();
    ASSERT_TRUE(insertGrid(source, 8, kGrid).ok());
    EXPECT_EQ(source, before);
}

struct RefusedCase {
    const char* name;
    Direction direction;
    int tileSize;
    int width;
    int height;
    const char* message;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class GridRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(GridRefused, GivesNoImageAndSaysWhy)
{
    const RefusedCase& c = GetParam();
    QImage source(c.width, c.height, QImage::Format_BGR888);
    source.fill(Qt::darkCyan);

    const GridResult result = runTransform(c.direction, source, c.tileSize);

    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(result.image.isNull());
    EXPECT_EQ(result.error.toStdString(), c.message);
}

const RefusedCase kRefusedCases[] = {
    {"NarrowerThanATile", Direction::Insert, 16, 15, 40,
     "The sheet is smaller than one 16 × 16 tile."},
    {"LowerThanATile", Direction::Insert, 8, 40, 7, "The sheet is smaller than one 8 × 8 tile."},
    {"NoWholeGriddedCell", Direction::Remove, 16, 16, 40,
     "The sheet is smaller than one 16 × 16 tile with its grid line (17 × 17 pixels)."},
    {"GriddedTooLow", Direction::Remove, 8, 40, 8,
     "The sheet is smaller than one 8 × 8 tile with its grid line (9 × 9 pixels)."},
    {"ResultTooWide", Direction::Insert, 8, 29136, 8,
     "The result would be 32778 × 9 pixels, but a sheet can be at most 32767 pixels wide and "
     "high."},
    {"ResultTooHigh", Direction::Insert, 16, 16, 30848,
     "The result would be 17 × 32776 pixels, but a sheet can be at most 32767 pixels wide and "
     "high."},
};

INSTANTIATE_TEST_SUITE_P(Cases, GridRefused, ::testing::ValuesIn(kRefusedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GridTransform, ResultOfTheLargestSideIsAccepted)
{
    // 3640 tiles of 8 give 32760 pixels with the grid, just inside the limit.
    QImage source(3640 * 8, 8, QImage::Format_BGR888);
    source.fill(Qt::white);
    const GridResult result = insertGrid(source, 8, kGrid);
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.image.size(), QSize(32760, 9));
    EXPECT_LE(result.image.width(), kMaxImageSide);
}

TEST(GridTransform, NoSheetIsRefused)
{
    EXPECT_FALSE(insertGrid(QImage(), 8, kGrid).ok());
    EXPECT_FALSE(removeGrid(QImage(), 16, kGrid).error.isEmpty());
}

TEST(GridTransform, OtherFormatsAreCopiedByColour)
{
    const QImage source = makeTestImage(17, 9, QImage::Format_RGB888);
    const GridResult result = insertGrid(source, 8, kGrid);
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(sameBlock(result.image, 9, 0, source, 8, 0, 8, 8));
}

}  // namespace

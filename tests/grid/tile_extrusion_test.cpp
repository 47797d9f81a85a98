#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "grid/tile_extrusion.h"

namespace {

// A sheet of random colours and random alpha, so a lost alpha byte or a shifted pixel shows.
QImage randomSheet(int width, int height, std::mt19937& random)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, QRgb(random()));
    return image;
}

// The plain reading of extrusion, pixel by pixel: where a pixel of the result lies in its extruded
// tile decides which source pixel it shows; margin and spacing show the fill.
QRgb expectedPixel(const QImage& source, const TileLayout& layout, int extrusion, int x, int y)
{
    const QSize tiles = fitLayout(source.size(), layout).tiles;
    const auto place = [&](int at, int count, int side, int& sourceAt) {
        const int cell = side + 2 * extrusion;
        const int inside = at - layout.margin;
        const int tile = inside / (cell + layout.spacing);
        const int offset = inside % (cell + layout.spacing);
        if (inside < 0 || tile >= count || offset >= cell)
            return false;
        sourceAt = layout.margin + tile * (side + layout.spacing) +
                   std::clamp(offset - extrusion, 0, side - 1);
        return true;
    };
    int sx = 0, sy = 0;
    return place(x, tiles.width(), layout.tileWidth, sx) &&
                   place(y, tiles.height(), layout.tileHeight, sy)
               ? source.pixel(sx, sy)
               : 0x00ffffffu;
}

TEST(TileExtrusion, ExtrudesEveryTileFromItsEdgesAndUnextrudesBackExactly)
{
    std::mt19937 random(21);
    for (int round = 0; round < 60; ++round) {
        // Half the rounds cut tiles that are not square.
        const int tileWidth = 1 + int(random() % 9);
        const int tileHeight = round % 2 ? 1 + int(random() % 9) : tileWidth;
        const int margin = int(random() % 3);
        const TileLayout layout =
            TileLayout::spaced(tileWidth, tileHeight, margin, int(random() % 3));
        const int extrusion = 1 + int(random() % 4);
        const QSize tiles(1 + int(random() % 4), 1 + int(random() % 4));
        const QSize strips(round % 4 < 2 ? int(random() % layout.tileWidth) : 0,
                           round % 3 ? int(random() % layout.tileHeight) : 0);
        const int width = 2 * layout.margin + tiles.width() * (layout.tileWidth + layout.spacing) -
                          layout.spacing + strips.width();
        const int height = 2 * layout.margin + tiles.height() * (layout.tileHeight + layout.spacing) -
                           layout.spacing + strips.height();
        SCOPED_TRACE(testing::Message() << "round " << round);
        const QImage source = randomSheet(width, height, random);
        ASSERT_EQ(fitLayout(source.size(), layout).tiles, tiles);
        ASSERT_EQ(fitLayout(source.size(), layout).strips, strips);

        const GridResult extruded = extrudeTiles(source, layout, extrusion);
        ASSERT_TRUE(extruded.ok()) << extruded.error.toStdString();
        const QImage& image = extruded.image;
        ASSERT_EQ(image.format(), QImage::Format_ARGB32);
        const LayoutFit fit = fitLayout(image.size(), extrudedLayout(layout, extrusion));
        EXPECT_EQ(fit.tiles, tiles);
        EXPECT_EQ(fit.strips, QSize(0, 0));
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ASSERT_EQ(image.pixel(x, y), expectedPixel(source, layout, extrusion, x, y))
                    << "pixel " << x << "," << y;

        // Every ring is copies of its edges until one pixel of the last tile's changes.
        EXPECT_EQ(firstUnextrudedTile(image, layout, extrusion), std::nullopt);
        QImage touched = image.copy();
        const QSize pitch(layout.tileWidth + 2 * extrusion + layout.spacing,
                          layout.tileHeight + 2 * extrusion + layout.spacing);
        const QPoint corner(layout.margin + (tiles.width() - 1) * pitch.width(),
                            layout.margin + (tiles.height() - 1) * pitch.height());
        touched.setPixel(corner, touched.pixel(corner) ^ 1);
        EXPECT_EQ(firstUnextrudedTile(touched, layout, extrusion),
                  QPoint(tiles.width() - 1, tiles.height() - 1));
        // So does one pixel of any one side of a tile's ring, corners left out: top, bottom, left,
        // right.
        std::mt19937 pick{unsigned(round)};
        const QPoint tile(int(pick() % unsigned(tiles.width())),
                          int(pick() % unsigned(tiles.height())));
        const int alongX = extrusion + int(pick() % unsigned(layout.tileWidth));
        const int alongY = extrusion + int(pick() % unsigned(layout.tileHeight));
        const int out = int(pick() % unsigned(extrusion));
        const int right = extrusion + layout.tileWidth + out;
        const int below = extrusion + layout.tileHeight + out;
        for (const QPoint side : {QPoint(alongX, out), QPoint(alongX, below), QPoint(out, alongY),
                                  QPoint(right, alongY)}) {
            QImage painted = image.copy();
            const QPoint at = QPoint(layout.margin + tile.x() * pitch.width(),
                                     layout.margin + tile.y() * pitch.height()) +
                              side;
            painted.setPixel(at, painted.pixel(at) ^ 1);
            EXPECT_EQ(firstUnextrudedTile(painted, layout, extrusion), tile)
                << "pixel " << at.x() << "," << at.y();
        }

        const GridResult back = unextrudeTiles(image, layout, extrusion);
        ASSERT_TRUE(back.ok()) << back.error.toStdString();
        const QImage whole = source.copy(0, 0, width - strips.width(), height - strips.height());
        // With margin or spacing the gaps come back as the fill, every tile exactly.
        EXPECT_EQ(layout.margin + layout.spacing == 0
                      ? back.image
                      : extrudeTiles(back.image, layout, extrusion).image,
                  layout.margin + layout.spacing == 0 ? whole : image);
    }
}

// A 6 x 6 sheet of 2 x 2 tiles of 3 x 3, pixels named by letters, extruded by 1: each tile's ring
// repeats its edge, its corners the corner pixel.
TEST(TileExtrusion, TwoByTwoTilesGiveTheseExactPixels)
{
    const char* const source[] = {"abcdef", "ghijkl", "mnopqr", "stuvwx", "yzABCD", "EFGHIJ"};
    const char* const expected[] = {
        "aabccddeff", "aabccddeff", "gghiijjkll", "mmnooppqrr", "mmnooppqrr",
        "sstuuvvwxx", "sstuuvvwxx", "yyzAABBCDD", "EEFGGHHIJJ", "EEFGGHHIJJ",
    };
    // A letter's colour: half transparent, so alpha must survive too.
    const auto colour = [](char letter) { return qRgba(letter, 255 - letter, 7, 128); };
    QImage sheet(6, 6, QImage::Format_ARGB32);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            sheet.setPixel(x, y, colour(source[y][x]));
    const GridResult result = extrudeTiles(sheet, TileLayout::spaced(3, 3, 0, 0), 1);
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result.image.size(), QSize(10, 10));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(result.image.pixel(x, y), colour(expected[y][x])) << x << "," << y;
}

}  // namespace

#include <gtest/gtest.h>

#include "support/test_images.h"
#include "tilemap/tile_symmetry.h"

namespace {

// The composition table, the inverse and the pixel moves agree with mirroring real pixels: a cell
// turned by f showing a tile that is another turned by s shows that other turned by f after s.
TEST(TileSymmetry, AgreesWithMirroredPixels)
{
    for (int edge : {3, 4}) {
        const QImage tile = makeTestImage(edge, edge, QImage::Format_ARGB32);
        for (unsigned f = 0; f < 8; ++f) {
            const TileSymmetry outer(f);
            QImage moved(edge, edge, tile.format());
            for (int y = 0; y < edge; ++y)
                for (int x = 0; x < edge; ++x) {
                    const auto [sx, sy] = outer.sourceOf(x, y, edge);
                    moved.setPixel(x, y, tile.pixel(sx, sy));
                }
            EXPECT_EQ(moved, turnedTile(tile, f)) << f;
            EXPECT_EQ(turnedTile(turnedTile(tile, f), outer.inverse().bits()), tile) << f;
            for (unsigned s = 0; s < 8; ++s)
                EXPECT_EQ(turnedTile(tile, outer.after(TileSymmetry(s)).bits()),
                          turnedTile(turnedTile(tile, s), f))
                    << f << " after " << s;
        }
    }
}

// Dedupe turns a tile only by the symmetries that keep its shape: every one of a square, the
// identity and the three mirrors of a tile that is not square, each once, the identity first.
TEST(TileSymmetry, OnlyTheMirrorsKeepATileThatIsNotSquareInItsShape)
{
    const QImage tall(3, 5, QImage::Format_RGB32);
    for (const bool square : {true, false}) {
        const std::vector<TileSymmetry> turns = TileSymmetry::keepingShape(square);
        ASSERT_EQ(turns.size(), square ? 8u : 4u);
        EXPECT_TRUE(turns.front().isIdentity());
        for (size_t a = 0; a < turns.size(); ++a) {
            EXPECT_TRUE(square || turnedTile(tall, turns[a].bits()).size() == tall.size());
            for (size_t b = 0; b < a; ++b)
                EXPECT_NE(turns[a].bits(), turns[b].bits());
        }
    }
}

}  // namespace

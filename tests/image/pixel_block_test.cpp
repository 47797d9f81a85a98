#include <gtest/gtest.h>

#include "image/pixel_block.h"
#include "image/pixel_format.h"
#include "support/test_images.h"

namespace {

// Large enough for the pixels to live in memory of our own rather than QImage's.
constexpr int kLargeSide = 2048;

TEST(CreateUninitialized, GivesWritableImagesThatShareAndDetachLikeAnyOther)
{
    for (const int side : {3, kLargeSide}) {
        for (const QImage::Format format : {QImage::Format_BGR888, QImage::Format_RGB32}) {
            SCOPED_TRACE(testing::Message() << side << " format " << format);
            QImage image = createUninitialized(side, side + 1, format);
            ASSERT_FALSE(image.isNull());
            EXPECT_EQ(image.size(), QSize(side, side + 1));
            EXPECT_EQ(image.format(), format);
            EXPECT_GE(image.bytesPerLine(), qsizetype(side) * image.depth() / 8);
            image.fill(QColor(10, 20, 30));
            image.setPixel(side - 1, side, qRgb(1, 2, 3));

            QImage copy = image;
            copy.setPixel(0, 0, qRgb(4, 5, 6));
            EXPECT_EQ(rgbAt(image, 0, 0), qRgb(10, 20, 30));
            EXPECT_EQ(rgbAt(image, side - 1, side), qRgb(1, 2, 3));
            EXPECT_EQ(rgbAt(copy, 0, 0), qRgb(4, 5, 6));
        }
    }
}

// A straight-alpha sheet laid over black gives the pixels overBlack24 gives; a large one that
// nothing shares becomes them in its own memory, so opening it never needs a second copy.
TEST(CreateUninitialized, LaysALargeSheetOverBlackInItsOwnMemory)
{
    for (const int side : {3, kLargeSide}) {
        for (const bool shared : {false, true}) {
            SCOPED_TRACE(testing::Message() << side << (shared ? " shared" : ""));
            QImage argb = createUninitialized(side + 1, side, QImage::Format_ARGB32);
            ASSERT_FALSE(argb.isNull());
            for (int y = 0; y < argb.height(); ++y)
                for (int x = 0; x < argb.width(); ++x)
                    argb.setPixel(x, y, qRgba(x * 7, y * 3, x ^ y, (x + y) % 5 == 0 ? 255 : x * y));
            const QImage expected = overBlack24(argb);
            const QImage keep = shared ? argb : QImage();
            const uchar* memory = argb.constBits();

            const QImage opaque = overBlack24InPlace(std::move(argb));

            ASSERT_EQ(opaque.format(), QImage::Format_BGR888);
            EXPECT_EQ(opaque, expected);
            EXPECT_EQ(opaque.constBits() == memory, side == kLargeSide && !shared);
            if (shared) {
                EXPECT_EQ(overBlack24(keep), expected);
            }
        }
    }
}

TEST(PixelBlocks, CopyAndSwapMoveExactlyTheirBlocks)
{
    for (const QImage::Format format : {QImage::Format_BGR888, QImage::Format_RGB32}) {
        const QImage source = makeTestImage(20, 12, format);
        QImage target(20, 12, format);
        target.fill(Qt::black);
        copyBlock(source, QPoint(3, 2), target, QPoint(11, 5), QSize(7, 4));
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 20; ++x) {
                const bool inside = x >= 11 && x < 18 && y >= 5 && y < 9;
                ASSERT_EQ(rgbAt(target, x, y),
                          inside ? pixelColour(x - 8, y - 3) : qRgb(0, 0, 0))
                    << x << "," << y;
            }

        QImage swapped = source.copy();
        swapBlocks(swapped, QPoint(0, 0), QPoint(12, 6), QSize(5, 6));
        EXPECT_TRUE(sameBlock(swapped, 0, 0, source, 12, 6, 5, 6));
        EXPECT_TRUE(sameBlock(swapped, 12, 6, source, 0, 0, 5, 6));
        EXPECT_TRUE(sameBlock(swapped, 5, 0, source, 5, 0, 7, 6));
    }
}

}  // namespace

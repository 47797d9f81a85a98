#include "support/tile_model.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>

#include "support/test_images.h"

TileModel::TileModel(int columns, int rows) : columns(columns), rows(rows), numbers(size_t(columns) * rows)
{
    std::iota(numbers.begin(), numbers.end(), 0);
}

void TileModel::apply(const std::vector<TileStep>& steps)
{
    std::set<int> froms, tos;
    std::vector<int> next = numbers;
    for (const TileStep& step : steps) {
        const int from = step.from.y() * columns + step.from.x();
        const int to = step.to.y() * columns + step.to.x();
        froms.insert(from);
        tos.insert(to);
        next[size_t(to)] = numbers[size_t(from)];
    }
    EXPECT_EQ(froms, tos) << "the steps do not form a permutation";
    EXPECT_EQ(froms.size(), steps.size());
    numbers = std::move(next);
}

void expectArrangedAs(const Document& doc, const QImage& original, const TileModel& model)
{
    const TileMap& map = doc.tileMap();
    ASSERT_EQ(map.columns(), model.columns);
    ASSERT_EQ(map.rows(), model.rows);
    EXPECT_EQ(map.numbers(), std::vector<int32_t>(model.numbers.begin(), model.numbers.end()));
    const TileShape pitch = doc.tilePitch();
    const int w = pitch.width;
    const int h = pitch.height;
    const QImage& image = doc.workingImage();
    ASSERT_EQ(image.size(), original.size());
    for (int y = 0; y < model.rows; ++y)
        for (int x = 0; x < model.columns; ++x) {
            const int number = model.numbers[size_t(y * model.columns + x)];
            EXPECT_TRUE(sameBlock(image, x * w, y * h, original, number % model.columns * w,
                                  number / model.columns * h, w, h))
                << "tile (" << x << ", " << y << ") should show tile " << number;
        }
    const int tilesWidth = model.columns * w, tilesHeight = model.rows * h;
    EXPECT_TRUE(sameBlock(image, tilesWidth, 0, original, tilesWidth, 0, image.width() - tilesWidth,
                          image.height()));
    EXPECT_TRUE(sameBlock(image, 0, tilesHeight, original, 0, tilesHeight, tilesWidth,
                          image.height() - tilesHeight));
}

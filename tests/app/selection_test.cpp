#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <random>

#include "support/test_images.h"
#include "support/tile_model.h"
#include "support/window_fixture.h"
#include "view/zoom_canvas.h"

namespace {

class SelectionTest : public WindowTest {
protected:
    // A canvas point a few pixels into a tile.
    QPoint at(QPoint tile) const { return canvasPoint(tile); }
    void press(QPoint tile, Qt::KeyboardModifiers with = {}) { QTest::mousePress(window->viewCanvas, Qt::LeftButton, with, at(tile)); }
    void release(QPoint tile) { QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, at(tile)); }
    // The pointer moves with the left button held.
    void moveTo(QPoint tile)
    {
        QMouseEvent move(QEvent::MouseMove, at(tile), window->viewCanvas->mapToGlobal(at(tile)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(window->viewCanvas, &move);
    }
    void drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = {})
    {
        press(from, modifiers);
        moveTo(to);
        release(to);
    }
    void key(int key, Qt::KeyboardModifiers with = {}) { QTest::keyClick(window->viewCanvas, Qt::Key(key), with); }
};

}  // namespace

TEST_F(SelectionTest, SelectMoveNudgeAndRefuseThroughTheCanvas)
{
    const QImage sheet = makeTestImage(6 * 16 + 5, 4 * 16);
    openSheet(sheet);
    TileModel model(6, 4);
    const auto expectModel = [&](const char* what) {
        SCOPED_TRACE(what);
        expectArrangedAs(state.document, sheet, model);
    };

    drag({1, 1}, {2, 2}, Qt::ShiftModifier);
    EXPECT_EQ(state.selection, QRect(1, 1, 2, 2));
    EXPECT_EQ(window->selectionField->text(), QStringLiteral("2 × 2 selected"));
    drag({5, 3}, {5, 3});  // a click
    EXPECT_EQ(state.selection, QRect(5, 3, 1, 1));
    drag({3, 2}, {3, 2}, Qt::ShiftModifier);  // Shift+click grows it from the first tile
    EXPECT_EQ(state.selection, QRect(3, 2, 3, 2));
    key(Qt::Key_Escape);
    EXPECT_TRUE(state.selection.isEmpty());
    EXPECT_EQ(window->selectionField->text(), QString());
    expectModel("selecting changes nothing");
    EXPECT_EQ(state.document.undoName(), QString());

    // Red marks a refused drop; grabbed from the canvas as the user sees it.
    const auto redPixels = [this] {
        const QImage shown = window->viewCanvas->grab().toImage();
        int red = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                red += shown.pixelColor(x, y) == QColor(220, 0, 0);
        return red;
    };

    // A drag inside the selection moves it, overlapping its old place; the selection follows.
    drag({0, 0}, {1, 1}, Qt::ShiftModifier);
    press({1, 0});
    moveTo({2, 1});
    EXPECT_EQ(redPixels(), 0);
    release({2, 1});
    model.apply(blockMoveSteps({QRect(0, 0, 2, 2), QPoint(1, 1)}));
    expectModel("moved");
    EXPECT_EQ(state.selection, QRect(1, 1, 2, 2));
    EXPECT_EQ(state.document.undoName(), QStringLiteral("Move Tiles"));

    // A drop that would reach past the whole tiles is marked as refused and changes nothing.
    press({1, 1});
    moveTo({5, 3});
    EXPECT_GT(redPixels(), 0);
    release({5, 3});
    expectModel("refused");
    EXPECT_EQ(state.selection, QRect(1, 1, 2, 2));

    key(Qt::Key_Right, Qt::ControlModifier);
    key(Qt::Key_Up, Qt::ControlModifier);
    key(Qt::Key_Up, Qt::ControlModifier);  // at the edge: nothing
    model.apply(blockMoveSteps({QRect(1, 1, 2, 2), QPoint(1, 0)}));
    model.apply(blockMoveSteps({QRect(2, 1, 2, 2), QPoint(0, -1)}));
    expectModel("nudged");
    key(Qt::Key_Down, Qt::ShiftModifier);
    key(Qt::Key_Left);
    EXPECT_EQ(state.selection, QRect(1, 0, 2, 3));

    // A drag from outside the selection swaps two tiles and drops the selection.
    drag({5, 3}, {0, 3});
    model.apply(blockMoveSteps({QRect(5, 3, 1, 1), QPoint(-5, 0)}));
    expectModel("swapped");
    EXPECT_TRUE(state.selection.isEmpty());

    QTest::mouseMove(window->viewCanvas, at({0, 3}));
    EXPECT_EQ(window->tileField->text(), QStringLiteral("Tile 18 (0, 3), from 23"));
    EXPECT_TRUE(window->zoomField->text().startsWith(QStringLiteral("Zoom")));
}

// Random selections, moves (overlapping ones too), nudges, undo and redo through the dispatch at
// awkward pitches and both depths, compared with the plain model after every action.
TEST_F(SelectionTest, EveryActionAgreesWithThePlainModel)
{
    std::mt19937 random(7);
    const auto pick = [&random](int low, int high) { return std::uniform_int_distribution(low, high)(random); };
    // Half the shapes are not square.
    for (auto [tileSize, gridFlag, format] :
         {std::tuple{TileShape(2), 1, QImage::Format_BGR888}, {TileShape(5, 3), 0, QImage::Format_RGB32},
          {TileShape(16), 0, QImage::Format_BGR888}, {TileShape(12, 32), 1, QImage::Format_RGB32}}) {
        const TileShape pitch = tileSize.grown(gridFlag);
        const int columns = 7, rows = 5;
        const QImage sheet = makeTestImage(columns * pitch.width + pitch.width - 1, rows * pitch.height + 1, format);
        openSheet(sheet, tileSize, gridFlag);
        Dispatch& dispatch = window->dispatch();
        const QRect whole(0, 0, columns, rows);
        std::vector<TileModel> done{TileModel(columns, rows)};
        size_t now = 0;
        const auto expectMove = [&](const QRect& block, QPoint offset) {
            if (offset.isNull() || !whole.contains(block.translated(offset)))
                return;
            done.erase(done.begin() + std::ptrdiff_t(now) + 1, done.end());
            done.push_back(done.back());
            done.back().apply(blockMoveSteps({block, offset}));
            ++now;
        };
        for (int action = 0; action < 60; ++action) {
            const QRect before = state.selection;
            // Presses often on the selection; presses and releases anywhere, partial strips too.
            const QPoint a = pick(0, 1) && !before.isEmpty() ? before.topLeft() : QPoint(pick(0, columns), pick(0, rows));
            const QPoint b(pick(0, columns), pick(0, rows));
            const QPoint step = std::vector<QPoint>{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}[size_t(pick(0, 3))];
            switch (pick(0, 5)) {
            case 0:  // Shift+drag or Shift+click: selects only
                dispatch.onCanvasPress(at(a), Qt::ShiftModifier);
                dispatch.onCanvasRelease(at(b));
                break;
            case 1:  // a drag moves the selected block from its tiles, and swaps two tiles otherwise
                dispatch.onCanvasPress(at(a));
                dispatch.onCanvasRelease(at(b));
                if (before.contains(a))
                    expectMove(before, b - a);
                else if (whole.contains(a))
                    expectMove(QRect(a, QSize(1, 1)), b - a);
                break;
            case 2: {
                const int key = step.x() ? (step.x() > 0 ? Qt::Key_Right : Qt::Key_Left)
                                         : (step.y() > 0 ? Qt::Key_Down : Qt::Key_Up);
                const Qt::KeyboardModifiers modifiers =
                    std::vector{Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier}[size_t(pick(0, 2))];
                dispatch.onCanvasKey(key, modifiers);
                if (modifiers == Qt::ControlModifier && !before.isEmpty())
                    expectMove(before, step);
                break;
            }
            case 3:
                dispatch.onUndo();
                now = now > 0 ? now - 1 : 0;
                break;
            case 4:
                dispatch.onRedo();
                now = std::min(now + 1, done.size() - 1);
                break;
            case 5:
                dispatch.onSelectAll();
                break;
            }
            SCOPED_TRACE(testing::Message() << "pitch " << shapeText(pitch).toStdString() << " action " << action);
            expectArrangedAs(state.document, sheet, done[now]);
            EXPECT_EQ(state.document.remapped(), now > 0 ? 1 : 0);
            ASSERT_TRUE(whole.contains(state.selection) || state.selection.isEmpty());
        }
    }
}

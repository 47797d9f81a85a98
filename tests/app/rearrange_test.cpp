#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QDir>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "support/test_images.h"
#include "support/tile_model.h"
#include "support/window_fixture.h"
#include "tilemap/tile_ops.h"
#include "view/zoom_canvas.h"

namespace {

class RearrangeTest : public WindowTest {
protected:
    // A press on tile a and a release on tile b, each a few pixels into the tile.
    void drag(QPoint a, QPoint b)
    {
        const TileShape pitch = state.document.tilePitch();
        QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, canvasPoint(a));
        QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {},
                            canvasPoint(b, QPoint(pitch.width * state.zoom - 1, 3)));
    }

    void dropFiles(const QStringList& paths)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        const QPointF at(window->width() / 2.0, window->height() / 2.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(window.get(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(window.get(), &drop);
    }

    QString writeSheet(const QImage& image, const QString& name)
    {
        const QString path = folder.filePath(name);
        EXPECT_TRUE(image.save(path, "PNG"));
        return path;
    }

    QTemporaryDir folder;
};

bool blockMoved(const QImage& before, QPoint from, const QImage& after, QPoint to, int pitch)
{
    return sameBlock(before, from.x() * pitch, from.y() * pitch, after, to.x() * pitch,
                     to.y() * pitch, pitch, pitch);
}

}  // namespace

TEST_F(RearrangeTest, DragSwapsTwoTilesAtAnyPitchAndZoom)
{
    for (int zoom : {1, 3})
        for (auto [tileSize, gridFlag] : {std::pair{8, 0}, {8, 1}, {16, 0}, {16, 1}}) {
            const int pitch = tileSize + gridFlag;
            const QImage sheet = makeTestImage(4 * pitch + 3, 3 * pitch + 2);
            openSheet(sheet, tileSize, gridFlag);
            state.zoom = zoom;
            window->redrawView();
            drag({1, 0}, {2, 1});
            SCOPED_TRACE(testing::Message() << "zoom " << zoom << " pitch " << pitch);
            EXPECT_TRUE(blockMoved(sheet, {1, 0}, state.document.workingImage(), {2, 1}, pitch));
            EXPECT_TRUE(blockMoved(sheet, {2, 1}, state.document.workingImage(), {1, 0}, pitch));
            EXPECT_TRUE(blockMoved(sheet, {0, 0}, state.document.workingImage(), {0, 0}, pitch));
            EXPECT_EQ(state.document.tileMap().at(1, 0), 6);
            EXPECT_EQ(state.document.tileMap().at(2, 1), 1);
            EXPECT_EQ(state.document.remapped(), 1);
            EXPECT_TRUE(window->resetMapButton->isEnabled());
            EXPECT_EQ(state.dragStartX, -1);
            EXPECT_EQ(state.dragEndY, -1);
        }
}

TEST_F(RearrangeTest, PressAtFiftyTenAndReleaseAtHundredSixtyAtZoomThree)
{
    const QImage sheet = makeTestImage(64, 48);
    openSheet(sheet);
    state.zoom = 3;
    window->redrawView();
    QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(50, 10));
    EXPECT_EQ(QPoint(state.dragStartX, state.dragStartY), QPoint(1, 0));
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(100, 60));
    EXPECT_TRUE(blockMoved(sheet, {1, 0}, state.document.workingImage(), {2, 1}, 16));
    EXPECT_EQ(state.document.tileMap().at(2, 1), 1);
}

TEST_F(RearrangeTest, DragsThatMustNotSwapLeaveTheSheetAlone)
{
    const QImage sheet = makeTestImage(3 * 16 + 5, 2 * 16 + 7);  // partial strips right and below
    openSheet(sheet);
    const TileMap identity = state.document.tileMap();
    const auto unchanged = [&](const char* what) {
        EXPECT_EQ(state.document.workingImage(), sheet) << what;
        EXPECT_EQ(state.document.tileMap(), identity) << what;
        EXPECT_EQ(state.document.remapped(), 0) << what;
        EXPECT_EQ(state.dragStartX, -1) << what;
    };
    drag({1, 1}, {1, 1});
    unchanged("same tile");
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(40, 20));
    unchanged("release without a press");
    drag({3, 0}, {0, 0});
    unchanged("press on the right strip");
    drag({0, 0}, {1, 2});
    unchanged("release on the bottom strip");
    QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(-3, 5));
    unchanged("release left of the canvas");
    QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(500, 5));
    unchanged("release beyond the canvas");
}

TEST_F(RearrangeTest, SwappingTwiceRestoresPixelsAndMapButStaysRemapped)
{
    const QImage sheet = makeTestImage(32, 32);
    openSheet(sheet, 8, 0);
    drag({0, 0}, {3, 3});
    drag({3, 3}, {0, 0});
    EXPECT_EQ(state.document.workingImage(), sheet);
    EXPECT_TRUE(state.document.tileMap().isIdentity());
    EXPECT_EQ(state.document.remapped(), 1);
}

TEST_F(RearrangeTest, ResetMapFromButtonAndMenuRestoresTheSheet)
{
    const QImage sheet = makeTestImage(48, 32);
    for (bool useMenu : {false, true}) {
        openSheet(sheet);
        drag({0, 0}, {2, 1});
        drag({1, 0}, {0, 1});
        ASSERT_NE(state.document.workingImage(), sheet);
        if (useMenu)
            window->menuAction(MenuCommand::ResetMap)->trigger();
        else
            QTest::mouseClick(window->resetMapButton, Qt::LeftButton);
        EXPECT_EQ(state.document.workingImage(), sheet) << (useMenu ? "menu" : "button");
        EXPECT_TRUE(state.document.tileMap().isIdentity());
        EXPECT_EQ(state.document.remapped(), 0);
        EXPECT_FALSE(window->resetMapButton->isEnabled());
    }
}

TEST_F(RearrangeTest, TileModeChangeAsksWhenRemappedAndRestoresOnYes)
{
    const QImage sheet = makeTestImage(64, 32);
    for (bool yes : {true, false}) {
        openSheet(sheet, 16);
        drag({0, 0}, {3, 1});
        const QImage swapped = state.document.workingImage();
        dialogs.yesNoAnswers = {yes};
        window->tileModeCombo->setCurrentIndex(0);  // as the user picks " 8x8 Grid"
        EXPECT_EQ(dialogs.asked.last(), QStringLiteral("yesno: Reset alle remapped tiles?"));
        EXPECT_EQ(state.document.workingImage(), yes ? sheet : swapped);
        EXPECT_EQ(state.document.tileSize(), 8);
        EXPECT_EQ(state.document.tileMap(), TileMap::identity(8, 4));
        EXPECT_EQ(state.document.remapped(), 0);
        EXPECT_FALSE(window->resetMapButton->isEnabled());
    }
    // Not remapped: no question.
    const qsizetype asked = dialogs.asked.size();
    window->tileModeCombo->setCurrentIndex(1);
    EXPECT_EQ(dialogs.asked.size(), asked);
    EXPECT_EQ(state.document.tileSize(), 16);
}

// Any tile size from Settings "Tile Size..": one undoable step with the list showing the size,
// asking to restore first when tiles were moved.
TEST_F(RearrangeTest, TileSizeSetsAnySizeAndTheGridAsOneStep)
{
    const QImage sheet = makeTestImage(4 * 32 + 5, 2 * 32);
    openSheet(sheet, 16);
    const auto listed = [this] {
        QStringList items;
        for (int i = 0; i < window->tileModeCombo->count(); ++i)
            items << window->tileModeCombo->itemText(i);
        return items.join(u'|') + u'@' + window->tileModeCombo->currentText();
    };
    dialogs.tileSizeAnswers = {TileSizeAnswer{32, false}};
    window->menuAction(MenuCommand::TileSize)->trigger();
    EXPECT_EQ(dialogs.asked.last(), QStringLiteral("tile size: 16"));
    EXPECT_EQ(state.document.tileMap(), TileMap::identity(4, 2));
    EXPECT_EQ(listed(), QStringLiteral(" 8x8 Grid|16x16 Grid (default)|32x32 Grid@32x32 Grid"));

    drag({0, 0}, {3, 1});
    const QImage swapped = state.document.workingImage();
    EXPECT_TRUE(blockMoved(sheet, {0, 0}, swapped, {3, 1}, 32));
    dialogs.tileSizeAnswers = {TileSizeAnswer{7, true}};
    dialogs.yesNoAnswers = {true};
    window->menuAction(MenuCommand::TileSize)->trigger();
    EXPECT_EQ(state.document.workingImage(), sheet);
    EXPECT_EQ(state.document.tileSize(), 7);
    EXPECT_EQ(state.document.gridFlag(), 1);
    EXPECT_EQ(state.document.tileMap(), TileMap::identity(16, 8));
    EXPECT_EQ(listed(), QStringLiteral(" 8x8 Grid|16x16 Grid (default)|7x7 Grid@7x7 Grid"));

    window->dispatch().onUndo();
    EXPECT_EQ(state.document.workingImage(), swapped);
    EXPECT_EQ(state.document.gridFlag(), 0);
    EXPECT_EQ(state.document.tileMap().at(3, 1), 0);
    EXPECT_EQ(listed(), QStringLiteral(" 8x8 Grid|16x16 Grid (default)|32x32 Grid@32x32 Grid"));
    dialogs.yesNoAnswers = {false};
    window->tileModeCombo->setCurrentIndex(1);
    EXPECT_EQ(state.document.tileSize(), 16);
    EXPECT_EQ(listed(), QStringLiteral(" 8x8 Grid|16x16 Grid (default)@16x16 Grid (default)"));
}

// Tiles that are not square: set through Settings "Tile Size..", swapped, pointed at and reset.
TEST_F(RearrangeTest, TallTilesRearrangeThroughTileSizeAndResetBack)
{
    const QImage sheet = makeTestImage(4 * 32 + 5, 2 * 64 + 3);
    openSheet(sheet, 16);
    dialogs.tileSizeAnswers = {TileSizeAnswer{TileShape(32, 64), false}};
    window->menuAction(MenuCommand::TileSize)->trigger();
    EXPECT_EQ(window->tileModeCombo->currentText(), QStringLiteral("32x64 Grid"));
    EXPECT_EQ(state.document.tileMap(), TileMap::identity(4, 2));

    drag({0, 0}, {3, 1});
    TileModel model(4, 2);
    model.apply(blockMoveSteps({QRect(0, 0, 1, 1), QPoint(3, 1)}));
    expectArrangedAs(state.document, sheet, model);
    QTest::mouseMove(window->viewCanvas, canvasPoint({3, 1}, {31, 63}));
    EXPECT_EQ(window->tileField->text(), QStringLiteral("Tile 7 (3, 1), from 0"));

    QTest::mouseClick(window->resetMapButton, Qt::LeftButton);
    EXPECT_EQ(state.document.workingImage(), sheet);
    EXPECT_EQ(state.document.tileMap(), TileMap::identity(4, 2));
}

TEST_F(RearrangeTest, DropOpensOnlyTheFirstFileAndMapsByExtension)
{
    ASSERT_TRUE(folder.isValid());
    const QImage first = makeTestImage(32, 16);
    const QString firstPath = writeSheet(first, QStringLiteral("first.png"));
    const QString secondPath = writeSheet(makeTestImage(8, 8), QStringLiteral("second.png"));
    state.zoom = 4;
    dialogs.gridAnswers = {GridAnswer::NoGrid};
    dropFiles({firstPath, secondPath, secondPath});
    EXPECT_TRUE(sameRgb(state.document.workingImage(), first));
    EXPECT_EQ(state.zoom, 1);
    EXPECT_EQ(window->zoomField->text(), QStringLiteral("Zoom: 1x1"));

    // A map, in either case of its extension: loaded, zoom untouched.
    QByteArray mapText("1\r\n0\r\n");
    for (const QString& name : {QStringLiteral("swap.ZEKO-MAP"), QStringLiteral("swap.zeko-map")}) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(mapText);
        file.close();
        state.document.undo();  // back to the identity, if a map was dropped before
        state.zoom = 3;
        window->redrawView();
        dropFiles({file.fileName()});
        EXPECT_EQ(state.document.tileMap().at(0, 0), 1) << name.toStdString();
        EXPECT_EQ(state.document.remapped(), 1);
        EXPECT_TRUE(window->resetMapButton->isEnabled());
        EXPECT_EQ(state.zoom, 3);
    }
}

TEST_F(RearrangeTest, DroppedFilesWithoutAMapExtensionOpenAsImages)
{
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("sheets.zeko-map")));
    const QImage sheet = makeTestImage(16, 16);
    const QString inDottedFolder = writeSheet(sheet, QStringLiteral("sheets.zeko-map/level"));
    dialogs.gridAnswers = {GridAnswer::NoGrid};
    dropFiles({inDottedFolder});
    EXPECT_TRUE(sameRgb(state.document.workingImage(), sheet));

    // A text file is not an image: the message, and the sheet stays.
    const QString text = folder.filePath(QStringLiteral("notes.txt"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture\n");
    file.close();
    const QImage before = state.document.workingImage();
    dropFiles({text});
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("notes.txt")));
    EXPECT_EQ(state.document.workingImage(), before);
}

// Open, swap, save image and map, open the saved image, open the map, Reset Map: the original
// sheet, at both tile sizes and with a grid.
TEST_F(RearrangeTest, SavedMapRestoresTheSavedSheet)
{
    struct Case {
        int tileSize;
        bool addGrid;
        GridAnswer reopenAnswer;
    };
    for (Case c : {Case{8, false, GridAnswer::NoGrid}, Case{16, false, GridAnswer::NoGrid},
                   Case{16, true, GridAnswer::Grid16x16}}) {
        SCOPED_TRACE(testing::Message() << "tile " << c.tileSize << " grid " << c.addGrid);
        const QImage original = makeTestImage(5 * c.tileSize + 3, 4 * c.tileSize);
        const QString source = writeSheet(original, QStringLiteral("original.png"));
        dialogs.openAnswers = {{source, 0}};
        dialogs.gridAnswers = {GridAnswer::NoGrid};
        window->menuAction(MenuCommand::OpenImage)->trigger();
        ASSERT_TRUE(state.document.hasImage());
        if (c.tileSize == 8)
            window->tileModeCombo->setCurrentIndex(0);
        if (c.addGrid)
            QTest::mouseClick(window->addGridButton, Qt::LeftButton);
        const QImage arranged = state.document.workingImage();
        state.zoom = 2;
        window->redrawView();
        drag({0, 0}, {4, 3});
        drag({1, 2}, {3, 0});
        drag({4, 3}, {2, 2});

        const QString image = folder.filePath(QStringLiteral("arranged"));
        const QString map = folder.filePath(QStringLiteral("arranged"));
        dialogs.saveAnswers = {{image, 1}, {map, 0}};
        window->menuAction(MenuCommand::SaveImage)->trigger();
        window->menuAction(MenuCommand::SaveMap)->trigger();
        ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();

        dialogs.openAnswers = {{image + QStringLiteral(".bmp"), 0},
                               {map + QStringLiteral(".zeko-map"), 0}};
        dialogs.gridAnswers = {c.reopenAnswer};
        window->menuAction(MenuCommand::OpenImage)->trigger();
        if (c.tileSize == 8)
            window->tileModeCombo->setCurrentIndex(0);
        window->menuAction(MenuCommand::OpenMap)->trigger();
        EXPECT_TRUE(window->resetMapButton->isEnabled());
        QTest::mouseClick(window->resetMapButton, Qt::LeftButton);
        EXPECT_TRUE(sameRgb(state.document.workingImage(), arranged));
        EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();
        // Nothing is unsaved that matters: the next open must not ask.
        state.document.markImageSaved();
    }
}

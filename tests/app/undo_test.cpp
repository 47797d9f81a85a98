#include <gtest/gtest.h>

#include <array>

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <numeric>
#include <random>

#include "document/sheet_edits.h"
#include "grid/grid_transform.h"
#include "support/image_files.h"
#include "support/test_images.h"
#include "support/window_fixture.h"
#include "tilemap/map_file.h"
#include "tilemap/tile_ops.h"
#include "view/zoom_canvas.h"

namespace {

// One edit as a plain replay does it, with the core's operations and nothing of the history.
struct Step {
    enum Kind { Swap, Insert, Remove, Reset, TileMode, OpenMap } kind;
    explicit Step(Kind k) : kind(k) {}

    QPoint a, b;       // Swap
    QRgb colour = 0;   // Insert, Remove
    TileShape tileSize{0};  // TileMode
    bool yes = false;  // TileMode: the answer to the question
    TileMap map;       // OpenMap
    int id = 0;
    bool changesImage = false;
    bool changesMap = false;

    QString name() const
    {
        const char* names[] = {"Swap Tiles", "Insert Grid", "Remove Grid",
                               "Reset Map",  "Change Tile Mode", "Open Map"};
        return QLatin1String(names[kind]);
    }

    void replay(Sheet& sheet) const
    {
        switch (kind) {
        case Swap:
            swapTiles(sheet, a.x(), a.y(), b.x(), b.y());
            break;
        case Insert:
            sheet.workingImage = insertGrid(sheet.workingImage, sheet.tileSize, colour).image;
            sheet.gridFlag = 1;
            break;
        case Remove:
            sheet.workingImage = removeGrid(sheet.workingImage, sheet.tileSize, colour).image;
            sheet.gridFlag = 0;
            break;
        case Reset:
            restoreTileOrder(sheet);
            rebuildTileMap(sheet);
            break;
        case TileMode:
            if (sheet.remapped == 1 && yes)
                restoreTileOrder(sheet);
            sheet.tileSize = tileSize;
            rebuildTileMap(sheet);
            break;
        case OpenMap:
            sheet.tileMap = map;
            sheet.remapped = 1;
            break;
        }
    }
};

// Whether a step between a saved point and now changes what the mark guards: the steps done when
// it was saved and the steps done now share a prefix; everything after it on either side counts.
bool changedSince(const std::vector<Step>& saved, const std::vector<Step>& done, bool image)
{
    size_t common = 0;
    while (common < saved.size() && common < done.size() && saved[common].id == done[common].id)
        ++common;
    for (const auto* steps : {&saved, &done})
        for (size_t i = common; i < steps->size(); ++i)
            if (image ? (*steps)[i].changesImage : (*steps)[i].changesMap)
                return true;
    return false;
}

class UndoTest : public WindowTest {
protected:
    Sheet replayed() const
    {
        Sheet sheet = initial;
        for (const Step& step : done)
            step.replay(sheet);
        return sheet;
    }

    // Does a new step in the model, as the window is about to; the model's redo steps go.
    void expectStep(Step step)
    {
        const Sheet before = replayed();
        Sheet after = before;
        step.replay(after);
        step.id = ++lastId;
        step.changesImage = after.workingImage != before.workingImage;
        step.changesMap = after.tileMap != before.tileMap || after.remapped != before.remapped;
        // Opening the map the sheet already has is no step at all.
        if (step.kind == Step::OpenMap && !step.changesMap)
            return;
        done.push_back(step);
        undone.clear();
    }

    void expectMatchesReplay(const std::string& after)
    {
        SCOPED_TRACE(after);
        const Sheet sheet = replayed();
        const Document& doc = state.document;
        ASSERT_EQ(doc.workingImage(), sheet.workingImage);
        ASSERT_EQ(doc.tileMap(), sheet.tileMap);
        ASSERT_EQ(doc.tileSize(), sheet.tileSize);
        ASSERT_EQ(doc.gridFlag(), sheet.gridFlag);
        ASSERT_EQ(doc.remapped(), sheet.remapped);
        if (initial.workingImage.format() == QImage::Format_ARGB32)
            expectAlphaKept(doc);
        ASSERT_EQ(doc.imageUnsaved(), changedSince(imageSaved, done, true));
        ASSERT_EQ(doc.mapUnsaved(), changedSince(mapSaved, done, false));
        QAction* undo = window->menuAction(MenuCommand::Undo);
        QAction* redo = window->menuAction(MenuCommand::Redo);
        ASSERT_EQ(undo->isEnabled(), !done.empty());
        ASSERT_EQ(redo->isEnabled(), !undone.empty());
        ASSERT_EQ(undo->text(), done.empty() ? QStringLiteral("Undo\tCtrl + Z")
                                             : "Undo " + done.back().name() + "\tCtrl + Z");
        ASSERT_EQ(redo->text(), undone.empty()
                                    ? QStringLiteral("Redo\tCtrl + Shift + Z")
                                    : "Redo " + undone.back().name() + "\tCtrl + Shift + Z");
        EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();
    }

    // Every pixel of every whole tile still has the alpha the test image gave its colour.
    static void expectAlphaKept(const Document& doc)
    {
        const QImage& image = doc.workingImage();
        ASSERT_EQ(image.format(), QImage::Format_ARGB32);
        const TileShape pitch = doc.tilePitch();
        const TileShape tile = doc.tileSize();
        for (int y = 0; y < doc.tileMap().rows() * pitch.height; ++y)
            for (int x = 0; x < doc.tileMap().columns() * pitch.width; ++x)
                if (x % pitch.width < tile.width && y % pitch.height < tile.height) {
                    ASSERT_EQ(qAlpha(image.pixel(x, y)), pixelAlphaOf(image.pixel(x, y)))
                        << x << "," << y;
                }
    }

    QPoint randomTile(const TileMap& map)
    {
        return {std::uniform_int_distribution<int>(0, map.columns() - 1)(random),
                std::uniform_int_distribution<int>(0, map.rows() - 1)(random)};
    }

    // One random user action through the window, mirrored in the model. Returns its name.
    std::string act()
    {
        const Sheet now = replayed();
        switch (std::uniform_int_distribution<int>(0, 10)(random)) {
        case 0:
        case 1: {
            const QPoint a = randomTile(now.tileMap), b = randomTile(now.tileMap);
            if (a != b) {
                Step step(Step::Swap);
                step.a = a;
                step.b = b;
                expectStep(step);
            }
            QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, canvasPoint(a, {1, 2}));
            QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, canvasPoint(b));
            return "swap";
        }
        case 2: {
            QPushButton* button = now.gridFlag ? window->removeGridButton : window->addGridButton;
            Step step(now.gridFlag ? Step::Remove : Step::Insert);
            step.colour = state.document.gridColor();
            expectStep(step);
            QTest::mouseClick(button, Qt::LeftButton);
            return now.gridFlag ? "remove grid" : "add grid";
        }
        case 3:
            if (now.gridFlag == 0) {
                // From the list, or any shape from Settings "Tile Size..".
                Step step(Step::TileMode);
                const bool listed = random() % 2;
                step.tileSize = listed ? TileShape(now.tileSize == TileShape(8) ? 16 : 8)
                                       : TileShape(3 + int(random() % 6), 3 + int(random() % 9));
                step.yes = random() % 2;
                if (now.remapped == 1)
                    dialogs.yesNoAnswers.push_back(step.yes);
                expectStep(step);
                if (!listed) {
                    dialogs.tileSizeAnswers.push_back(TileSizeAnswer{step.tileSize, false});
                    window->menuAction(MenuCommand::TileSize)->trigger();
                    return "tile size";
                }
                window->tileModeCombo->setCurrentIndex(step.tileSize == TileShape(8) ? 0 : 1);
                return "tile mode";
            }
            [[fallthrough]];
        case 4:
            if (now.remapped == 1 || !now.tileMap.isIdentity())
                expectStep(Step(Step::Reset));
            window->menuAction(MenuCommand::ResetMap)->trigger();
            return "reset map";
        case 5: {
            std::vector<int32_t> numbers(size_t(now.tileMap.fullTiles()));
            std::iota(numbers.begin(), numbers.end(), 0);
            std::shuffle(numbers.begin(), numbers.end(), random);
            Step step(Step::OpenMap);
            step.map = now.tileMap.withNumbers(numbers);
            const QString path = folder.filePath(QStringLiteral("level.zeko-map"));
            writeFileBytes(path, writeMapText(step.map));
            dialogs.openAnswers.push_back({path, 0});
            expectStep(step);
            window->menuAction(MenuCommand::OpenMap)->trigger();
            mapSaved = done;
            return "open map";
        }
        case 6:
        case 7:
            if (!done.empty()) {
                undone.push_back(done.back());
                done.pop_back();
            }
            window->menuAction(MenuCommand::Undo)->trigger();
            return "undo";
        case 8:
            if (!undone.empty()) {
                done.push_back(undone.back());
                undone.pop_back();
            }
            window->menuAction(MenuCommand::Redo)->trigger();
            return "redo";
        case 9:
            dialogs.saveAnswers.push_back({folder.filePath(QStringLiteral("sheet.bmp")), 1});
            window->menuAction(MenuCommand::SaveImage)->trigger();
            imageSaved = done;
            return "save image";
        default:
            if (random() % 2) {
                dialogs.saveAnswers.push_back({folder.filePath(QStringLiteral("level")), 0});
                window->menuAction(MenuCommand::SaveMap)->trigger();
                mapSaved = done;
                return "save map";
            }
            dialogs.colorAnswers.push_back(qRgb(int(random() % 256), 7, 99));
            window->menuAction(MenuCommand::SetGridColor)->trigger();
            return "grid colour";
        }
    }

    std::mt19937 random;
    QTemporaryDir folder;
    Sheet initial;
    std::vector<Step> done, undone, imageSaved, mapSaved;
    int lastId = 0;
};

// Random edits, undos and redos through the window always leave what a plain replay of the steps
// still done gives, pixel for pixel (alpha too, on a sheet that keeps it) and map for map; the unsaved state follows the save marks; and
// the Edit menu names the steps it would take.
TEST_F(UndoTest, AnyMixOfEditsUndosAndRedosEqualsAReplayOfWhatRemains)
{
    const QImage::Format formats[] = {QImage::Format_BGR888, QImage::Format_RGB32,
                                      QImage::Format_ARGB32};
    for (int round = 0; round < 24; ++round) {
        random.seed(unsigned(round));
        // Half the sheets open with tiles that are not square.
        const TileShape tileSize = std::array{TileShape(16), TileShape(8), TileShape(6, 10),
                                              TileShape(16, 8)}[size_t(round + round / 4) % 4];
        const int gridFlag = round / 2 % 2;
        const QImage::Format format = formats[round / 4 % 3];
        const TileShape pitch = tileSize.grown(gridFlag);
        const int columns = 2 + int(random() % 4), rows = 2 + int(random() % 3);
        initial = Sheet();
        initial.workingImage = makeTestImage(columns * pitch.width + int(random() % 4),
                                             rows * pitch.height + int(random() % 3), format);
        initial.tileSize = tileSize;
        initial.gridFlag = gridFlag;
        rebuildTileMap(initial);
        openSheet(initial.workingImage, tileSize, gridFlag);
        done.clear();
        undone.clear();
        imageSaved.clear();
        mapSaved.clear();

        SCOPED_TRACE(testing::Message() << "round " << round << ": "
                                        << shapeText(tileSize).toStdString() << " grid "
                                        << gridFlag << " depth " << initial.workingImage.depth());
        expectMatchesReplay("open");
        for (int i = 0; i < 40; ++i) {
            const std::string what = act();
            expectMatchesReplay(std::to_string(i) + " " + what);
            if (HasFatalFailure())
                return;
        }
        // Undoing everything gives back the sheet as it was opened, with nothing unsaved when no
        // save happened since.
        while (window->menuAction(MenuCommand::Undo)->isEnabled())
            window->menuAction(MenuCommand::Undo)->trigger();
        EXPECT_EQ(state.document.workingImage(), initial.workingImage);
        EXPECT_EQ(state.document.tileMap(), initial.tileMap);
        state.document.markImageSaved();
        state.document.markMapSaved();
    }
}

// What each kind of step keeps for its undo: only what the inverse cannot recompute, and never a
// share of the working image's pixels.
TEST(UndoMemory, EachStepKeepsOnlyWhatItsInverseNeeds)
{
    Document doc;
    // 40 x 20 tiles of 8 with strips of 5 and 3 pixels: a map of 800 numbers.
    const QImage sheet = makeTestImage(40 * 8 + 5, 20 * 8 + 3);
    doc.replaceSheet(sheet, 8, 0);
    qint64 kept = 0;
    const auto step = [&](const QString& error, qint64 atMost, const char* what) {
        ASSERT_EQ(error, QString()) << what;
        const qint64 now = doc.history().keptBytes();
        EXPECT_LE(now - kept, atMost) << what;
        EXPECT_TRUE(doc.workingImage().isDetached()) << what << " shares the sheet's pixels";
        kept = now;
    };
    const qint64 map = 41 * 21 * 4;
    const qint64 strips = (5 * 160 + 3 * 325) * 4;
    const qint64 overhead = 256;

    step(doc.swapTiles(0, 0, 3, 2), 64, "a swap: two positions");
    step(doc.insertGrid(), strips + overhead, "insert grid: the strips it drops");
    step(doc.removeGrid(), overhead, "remove grid of one colour: a few runs");
    step(doc.resetMap(), 2 * 4 * 2 + overhead, "reset after one swap: two changed entries");
    for (int i = 0; i < 40; ++i)
        doc.swapTiles(i % 40, 0, i % 40, 1 + i % 19);
    kept = doc.history().keptBytes();
    step(doc.resetMap(), map + overhead, "reset after many swaps: at most the map");
    step(doc.changeTileMode(16, true), map + overhead, "tile mode: at most the map");
    for (int i = 0; i < 10; ++i) {
        step(doc.undo(), 0, "undo keeps nothing more");
        step(doc.redo(), 0, "redo keeps nothing more");
    }

    // Grid lines of many colours are kept as they are, and no more.
    const int pitch = 9;
    QImage gridded = makeTestImage(30 * pitch, 10 * pitch, QImage::Format_RGB32);
    doc.replaceSheet(gridded, 8, 1);
    kept = 0;
    const qint64 lines = qint64(gridded.width()) * gridded.height() - 30 * 10 * 64;
    step(doc.removeGrid(), lines * 4 + overhead, "remove grid of many colours: the lines");
    EXPECT_GE(doc.history().keptBytes(), lines * 4);
    step(doc.undo(), 0, "its undo");
    EXPECT_EQ(doc.workingImage(), gridded);

    // A step keeps other things once undone: the count follows what the steps hold each time.
    doc.replaceSheet(sheet, 8, 0);
    std::vector<int32_t> reversed(size_t(doc.tileMap().fullTiles()));
    std::iota(reversed.rbegin(), reversed.rend(), 0);
    ASSERT_EQ(doc.perform(makeOpenMapEdit(doc.tileMap().withNumbers(reversed))), QString());
    ASSERT_EQ(doc.undo(), QString());
    EXPECT_EQ(doc.history().keptBytes(), doc.history().toRedo()->keptBytes());
    ASSERT_EQ(doc.redo(), QString());
    EXPECT_EQ(doc.history().keptBytes(), doc.history().toUndo()->keptBytes());
}

TEST(UndoMemory, TheOldestStepsGoWhenTheBudgetIsExceeded)
{
    Document doc;
    doc.replaceSheet(makeTestImage(10 * 9, 10 * 9, QImage::Format_RGB32), 8, 1);
    doc.setHistoryBudget(4096);
    // The first removal keeps the many-coloured lines, 1 700 pixels; later steps, of magenta
    // lines, keep a few bytes. The first goes as soon as it is not the newest.
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(i % 2 ? doc.insertGrid() : doc.removeGrid(), QString());
        if (i == 0) {
            EXPECT_EQ(doc.undoName(), QStringLiteral("Remove Grid")) << "the newest step went";
        }
    }
    EXPECT_LE(doc.history().keptBytes(), 4096);
    EXPECT_EQ(doc.history().count(), 9);
    // The point where the sheet was opened (and saved) can no longer be reached.
    while (!doc.undoName().isEmpty())
        ASSERT_EQ(doc.undo(), QString());
    EXPECT_TRUE(doc.imageUnsaved());

    // A forgotten step that changed the image still counts once the mark has moved past it,
    // whatever the steps after it do: here swaps of identical tiles.
    QImage plain(4 * 8, 8, QImage::Format_RGB32);
    plain.fill(qRgb(40, 90, 20));
    doc.replaceSheet(plain, 8, 0);
    doc.setHistoryBudget(1);
    ASSERT_EQ(doc.insertGrid(), QString());
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(doc.swapTiles(0, 0, 1 + i, 0), QString());
        EXPECT_TRUE(doc.imageUnsaved()) << "after swap " << i;
    }
}

// While the button is held the pressed tile is outlined and the target marked; Escape forgets the
// drag, so the release swaps nothing. None of it reaches the image.
TEST_F(WindowTest, DragShowsWhereTheTileGoesAndEscapeCancelsIt)
{
    const QImage sheet = makeTestImage(64, 32);
    openSheet(sheet, 16);
    state.zoom = 2;
    window->redrawView();
    const auto shown = [this] {
        QCoreApplication::processEvents();
        return window->viewCanvas->grab().toImage();
    };
    const QImage plain = shown();
    QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(5, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(70, 40), window->viewCanvas->mapToGlobal(QPointF(70, 40)),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(window->viewCanvas, &move);
    const QImage dragging = shown();
    // The frame around the pressed tile (0, 0) and the mark on the target tile (2, 1).
    EXPECT_NE(dragging.pixel(31, 10), plain.pixel(31, 10));
    EXPECT_NE(dragging.pixel(70, 40), plain.pixel(70, 40));
    EXPECT_EQ(dragging.pixel(100, 10), plain.pixel(100, 10));

    QTest::keyClick(window->viewCanvas, Qt::Key_Escape);
    EXPECT_EQ(shown(), plain);
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(70, 40));
    EXPECT_EQ(state.document.workingImage(), sheet);
    EXPECT_FALSE(window->menuAction(MenuCommand::Undo)->isEnabled());

    // Without Escape the same drag swaps, and the marks go with the release.
    QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(5, 5));
    QApplication::sendEvent(window->viewCanvas, &move);
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(70, 40));
    EXPECT_NE(state.document.workingImage(), sheet);
    EXPECT_EQ(shown().pixel(31, 10) | 0xff000000u, rgbAt(state.document.workingImage(), 15, 5));
    EXPECT_EQ(window->menuAction(MenuCommand::Undo)->text(), QStringLiteral("Undo Swap Tiles\tCtrl + Z"));
    EXPECT_EQ(window->menuAction(MenuCommand::Redo)->shortcuts(),
              (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
                                   QKeySequence(Qt::CTRL | Qt::Key_Y)}));
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(state.document.workingImage(), sheet);
    QTest::keyClick(window.get(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_NE(state.document.workingImage(), sheet);
}

}  // namespace

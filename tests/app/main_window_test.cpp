#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "app/captions.h"
#include "support/document_checks.h"
#include "support/image_files.h"
#include "support/test_images.h"
#include "support/window_fixture.h"
#include "view/zoom_canvas.h"

namespace {

struct EnableState {
    bool addGrid, removeGrid, tileMode, resetMap;
    bool operator==(const EnableState&) const = default;
};

EnableState enableState(const MainWindow& window)
{
    return {window.addGridButton->isEnabled(), window.removeGridButton->isEnabled(),
            window.tileModeCombo->isEnabled(), window.resetMapButton->isEnabled()};
}

// Canvas pixels as the screen shows them.
QImage canvasPixels(ZoomCanvas* canvas, const QRect& rect)
{
    return canvas->grab(rect).toImage();
}

}  // namespace

TEST_F(WindowTest, StartsWithNoSheetAndTheControlsDisabled)
{
    EXPECT_EQ(enableState(*window), (EnableState{false, false, false, false}));
    EXPECT_EQ(window->tileModeCombo->currentText(), QStringLiteral("16x16 Grid (default)"));
    EXPECT_EQ(window->zoomField->text(), QStringLiteral("Zoom: 1x1"));
    EXPECT_EQ(window->windowTitle(), windowTitleText());
    EXPECT_EQ(window->viewInner->size(), QSize(256, 256));
    EXPECT_EQ(window->viewCanvas->geometry(), QRect(0, 0, 256, 256));
    const QImage shown = canvasPixels(window->viewCanvas, QRect(0, 0, 256, 256));
    for (QPoint p : {QPoint(0, 0), QPoint(128, 77), QPoint(255, 255)})
        EXPECT_EQ(shown.pixel(p) | 0xff000000u, qRgb(128, 128, 128));
    EXPECT_EQ(state.document.tileMap(), TileMap(2, 2));
    EXPECT_EQ(state.zoom, 1);
    EXPECT_EQ(state.dragStartX, -1);
}

TEST_F(WindowTest, MenusCarryTheirTextsAndShortcuts)
{
    EXPECT_EQ(window->menuAction(MenuCommand::OpenImage)->text(), QStringLiteral("Open..\tCtrl + O"));
    EXPECT_EQ(window->menuAction(MenuCommand::SaveImage)->text(),
              QStringLiteral("Save As..\tCtrl + S"));
    EXPECT_EQ(window->menuAction(MenuCommand::OpenImage)->shortcut(),
              QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(window->menuAction(MenuCommand::SaveImage)->shortcut(),
              QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(window->menuAction(MenuCommand::SetGridColor)->text(), QStringLiteral("Set GridColor"));
    EXPECT_EQ(window->menuAction(MenuCommand::ResetMap)->text(), QStringLiteral("Reset Map"));
}

TEST_F(WindowTest, LaysOutControlsAtTheMinimumSizeAndWhenWidened)
{
    EXPECT_EQ(window->minimumSize(), QSize(640, 480));
    EXPECT_EQ(window->interior->width(), 640);
    EXPECT_EQ(window->tileModeLabel->geometry(), QRect(5, 7, 70, 20));
    EXPECT_EQ(window->tileModeCombo->geometry(), QRect(85, 5, 120, 20));
    EXPECT_EQ(window->addGridButton->geometry(), QRect(210, 5, 120, 20));
    EXPECT_EQ(window->removeGridButton->geometry(), QRect(335, 5, 120, 20));
    EXPECT_EQ(window->resetMapButton->geometry(), QRect(515, 5, 120, 20));
    const QRect area = window->viewScrollArea->geometry();
    EXPECT_EQ(area, QRect(5, 30, 630, window->interior->height() - 35));

    window->resize(window->width() + 100, window->height());
    QTest::qWait(1);
    EXPECT_EQ(window->resetMapButton->geometry(), QRect(615, 5, 120, 20));
    EXPECT_EQ(window->viewScrollArea->geometry(), area.adjusted(0, 0, 100, 0));
    EXPECT_EQ(window->removeGridButton->geometry(), QRect(335, 5, 120, 20));
    EXPECT_EQ(window->tileModeCombo->geometry(), QRect(85, 5, 120, 20));
}

TEST_F(WindowTest, EnableStatesFollowTheSheet)
{
    struct Row {
        bool image;
        int gridFlag;
        int remapped;
        EnableState expected;
    };
    const Row rows[] = {
        {false, 0, 0, {false, false, false, false}},
        {true, 0, 0, {true, false, true, false}},
        {true, 0, 1, {true, false, true, true}},
        {true, 1, 0, {false, true, false, false}},
        {true, 1, 1, {false, true, false, true}},
    };
    for (const Row& row : rows) {
        state.document.replaceSheet(row.image ? makeTestImage(64, 64) : QImage(), 16, row.gridFlag);
        if (row.remapped) {
            ASSERT_EQ(state.document.swapTiles(0, 0, 1, 1), QString());
        }
        EXPECT_EQ(enableState(*window), row.expected)
            << "image " << row.image << " grid " << row.gridFlag << " remapped " << row.remapped;
    }
}

TEST_F(WindowTest, RefreshSelectsTheTileSizeOnlyWithASheet)
{
    state.document.replaceSheet(QImage(), 8, 0);  // no sheet: the selection stays
    EXPECT_EQ(window->tileModeCombo->currentIndex(), 1);
    openSheet(makeTestImage(32, 32), 8);
    EXPECT_EQ(window->tileModeCombo->currentText(), QStringLiteral(" 8x8 Grid"));
    window->tileModeCombo->setCurrentIndex(1);
    EXPECT_EQ(state.document.tileSize(), 16);
    EXPECT_EQ(window->tileModeCombo->currentText(), QStringLiteral("16x16 Grid (default)"));
    EXPECT_TRUE(dialogs.asked.isEmpty()) << "a selection made by the program must not ask";
}

// ctest runs this test once more with the primary screen right of another and lower down.
TEST_F(WindowTest, OpensCentredOnThePrimaryScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QSize free = screen.size() - window->size();
    EXPECT_EQ(window->pos(), screen.topLeft() + QPoint(free.width() / 2, free.height() / 2))
        << "window at " << window->x() << "," << window->y() << " on a screen at " << screen.x()
        << "," << screen.y();
    EXPECT_EQ(window->screen(), QGuiApplication::primaryScreen());
}

TEST_F(WindowTest, WheelZoomsOneStepPerNotchWithinOneToTen)
{
    // Without a sheet the zoom still moves and stays within bounds; nothing is drawn.
    for (int i = 0; i < 12; ++i)
        turnWheel(window->viewCanvas, 120);
    EXPECT_EQ(state.zoom, 10);
    EXPECT_EQ(window->zoomField->text(), QStringLiteral("Zoom: 10x10"));
    EXPECT_EQ(window->viewInner->size(), QSize(256, 256));

    openSheet(makeTestImage(20, 10));
    turnWheel(window->viewCanvas, 120);
    turnWheel(window->viewCanvas, 120);
    EXPECT_EQ(state.zoom, 3);
    EXPECT_EQ(window->zoomField->text(), QStringLiteral("Zoom: 3x3"));
    EXPECT_EQ(window->viewInner->size(), QSize(60, 30));
    turnWheel(window->viewCanvas, 0);
    EXPECT_EQ(state.zoom, 3);
    for (int i = 0; i < 5; ++i)
        turnWheel(window->viewCanvas, -120);
    EXPECT_EQ(state.zoom, 1);
    EXPECT_EQ(window->viewCanvas->size(), QSize(20, 10));
    EXPECT_EQ(window->zoomField->text(), QStringLiteral("Zoom: 1x1"));
}

struct WheelTurns {
    const char* what;
    std::vector<int> deltas;
    int zoom;  // afterwards, from 1
};

void PrintTo(const WheelTurns& turns, std::ostream* out)
{
    *out << turns.what;
}

class WheelTest : public WindowTest, public testing::WithParamInterface<WheelTurns> {};

TEST_P(WheelTest, TakesOneStepPerNotchOfTurnInOneDirection)
{
    openSheet(makeTestImage(20, 10));
    for (int delta : GetParam().deltas)
        turnWheel(window->viewCanvas, delta);
    EXPECT_EQ(state.zoom, GetParam().zoom);
    EXPECT_EQ(window->viewCanvas->size(), QSize(20, 10) * GetParam().zoom);
}

INSTANTIATE_TEST_SUITE_P(
    Turns, WheelTest,
    testing::Values(WheelTurns{"one notch", {120}, 2},
                    WheelTurns{"eight eighths of a notch", std::vector<int>(8, 15), 2},
                    WheelTurns{"seven eighths of a notch", std::vector<int>(7, 15), 1},
                    WheelTurns{"the rest carries over", {180, 60}, 3},
                    WheelTurns{"three notches at once", {360}, 4},
                    WheelTurns{"notches back", {120, 120, -120}, 2},
                    WheelTurns{"a turn back starts afresh", {90, -30, 90}, 1},
                    WheelTurns{"and so does a turn forward", {240, -90, 30, -90}, 3}),
    [](const testing::TestParamInfo<WheelTurns>& info) {
        return QString::fromUtf8(info.param.what).replace(' ', '_').toStdString();
    });

// The wheel zooms about the pointer: the image pixel under it stays under it. Over the other
// controls (the list, a scroll bar) the one in the middle of the view stays; the wheel never
// changes the list.
TEST_F(WindowTest, WheelZoomsAboutThePointerAndNeverChangesTheList)
{
    openSheet(makeTestImage(1000, 800), 8);
    state.zoom = 3;
    window->redrawView();
    QTest::qWait(1);  // the scroll bars show
    QWidget* viewport = window->viewScrollArea->viewport();
    QScrollBar* horizontal = window->viewScrollArea->horizontalScrollBar();
    QScrollBar* vertical = window->viewScrollArea->verticalScrollBar();
    horizontal->setValue(600);
    vertical->setValue(700);
    ASSERT_EQ(QPoint(horizontal->value(), vertical->value()), QPoint(600, 700));
    const QPoint middle = viewport->rect().center();
    // The image pixel shown at a point of the view.
    const auto imagePixelAt = [&](QPoint inView) {
        const QPoint canvas = inView - window->viewInner->pos();
        return QPoint(canvas.x() / state.zoom, canvas.y() / state.zoom);
    };
    struct Turn {
        QWidget* widget;  // turned over, at its point that shows fixed (or at)
        QPoint at;
        int delta;
        QPoint fixed;  // in the view
        int zoom;      // afterwards
    };
    const Turn turns[] = {
        {window->viewCanvas, {}, 120, QPoint(37, 51), 4},
        {viewport, QPoint(301, 203), -120, QPoint(301, 203), 3},
        {window->tileModeCombo, QPoint(10, 10), -120, middle, 2},
        {vertical, QPoint(5, 30), 120, middle, 3},
        {window->viewCanvas, {}, 240, QPoint(500, 300), 5},
    };
    for (const Turn& turn : turns) {
        const QPoint before = imagePixelAt(turn.fixed);
        const bool onCanvas = turn.widget == window->viewCanvas;
        const QPoint at = onCanvas ? turn.widget->mapFrom(viewport, turn.fixed) : turn.at;
        turnWheel(turn.widget, turn.delta, at);
        ASSERT_EQ(state.zoom, turn.zoom);
        EXPECT_EQ(imagePixelAt(turn.fixed), before)
            << "zoom " << turn.zoom << " at " << turn.fixed.x() << "," << turn.fixed.y();
    }
    EXPECT_EQ(window->tileModeCombo->currentIndex(), 0);
    EXPECT_TRUE(dialogs.asked.isEmpty());
}

TEST_F(WindowTest, CanvasShowsEveryImagePixelAsAZoomBlock)
{
    const QImage image = makeTestImage(37, 23);
    openSheet(image);
    for (int zoom : {1, 4, 10}) {
        state.zoom = zoom;
        window->redrawView();
        ASSERT_EQ(window->viewCanvas->size(), QSize(37 * zoom, 23 * zoom));
        ASSERT_EQ(window->viewInner->size(), QSize(37 * zoom, 23 * zoom));
        const QRect part(3 * zoom - 1, 2 * zoom + 1, 9 * zoom, 7 * zoom);
        const QImage shown = canvasPixels(window->viewCanvas, part);
        for (int y = 0; y < part.height(); ++y)
            for (int x = 0; x < part.width(); ++x) {
                const int cx = part.x() + x;
                const int cy = part.y() + y;
                ASSERT_EQ(shown.pixel(x, y) | 0xff000000u, rgbAt(image, cx / zoom, cy / zoom))
                    << "zoom " << zoom << " canvas " << cx << "," << cy;
            }
    }
}

TEST_F(WindowTest, ScrolledInPartShowsTheRightPixelsAndSmallSheetsAreCentred)
{
    const QImage image = makeTestImage(300, 200, QImage::Format_RGB32);
    openSheet(image);
    state.zoom = 10;
    window->redrawView();
    QScrollArea* area = window->viewScrollArea;
    area->horizontalScrollBar()->setValue(1234);
    area->verticalScrollBar()->setValue(987);
    QTest::qWait(1);
    const QImage shown = area->viewport()->grab().toImage();
    const QPoint offset(area->horizontalScrollBar()->value(), area->verticalScrollBar()->value());
    for (QPoint p : {QPoint(0, 0), QPoint(17, 33), QPoint(shown.width() - 1, shown.height() - 1)}) {
        const QPoint canvas = p + offset;
        EXPECT_EQ(shown.pixel(p) | 0xff000000u, rgbAt(image, canvas.x() / 10, canvas.y() / 10));
    }

    openSheet(makeTestImage(10, 10));
    const QImage small = area->viewport()->grab().toImage();
    const QPoint corner = window->viewInner->pos();
    EXPECT_GT(corner.x(), 0);
    EXPECT_GT(corner.y(), 0);
    EXPECT_EQ(small.pixel(corner) | 0xff000000u, rgbAt(makeTestImage(10, 10), 0, 0));
    EXPECT_EQ(small.pixel(corner.x() - 1, corner.y()) | 0xff000000u, qRgb(128, 128, 128));
}

TEST_F(WindowTest, AboutBoxShowsTheTextAndChangesNothing)
{
    openSheet(makeTestImage(32, 16), 8);
    ASSERT_EQ(state.document.swapTiles(0, 0, 1, 0), QString());
    const DocumentState before = stateOf(state.document);
    const int zoom = state.zoom;
    window->menuAction(MenuCommand::About)->trigger();
    window->menuAction(MenuCommand::About)->trigger();
    ASSERT_EQ(dialogs.abouts.size(), 2);
    EXPECT_TRUE(dialogs.abouts[0].startsWith(windowTitleText()));
    EXPECT_GT(dialogs.abouts[0].size(), windowTitleText().size());
    expectSameDocument(state.document, before);
    EXPECT_EQ(state.zoom, zoom);
}

TEST_F(WindowTest, QuitAndCloseEndTheProgramWhenNothingIsUnsaved)
{
    window->menuAction(MenuCommand::Quit)->trigger();
    EXPECT_EQ(shutDowns, 1);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(state.quitRequested, 1);
    EXPECT_TRUE(dialogs.asked.isEmpty());
}

TEST(Captions, UnscrambleSubtractsThreeFromEveryCharacter)
{
    EXPECT_EQ(unscrambleCaption(QString()), QString());
    EXPECT_EQ(unscrambleCaption(QStringLiteral("def")), QStringLiteral("abc"));
    EXPECT_EQ(unscrambleCaption(QStringLiteral("#Wlohjulg")), QStringLiteral(" Tilegrid"));
    const char16_t odd[] = {3, u'd', 1, 2, 3, 0};
    const QString result = unscrambleCaption(QString::fromUtf16(odd));
    ASSERT_EQ(result.size(), 3);
    EXPECT_EQ(result[0], QChar(u'a'));
    EXPECT_EQ(result[1].unicode(), 65534);
    EXPECT_EQ(result[2].unicode(), 65535);
    EXPECT_TRUE(aboutText().startsWith(windowTitleText()));
    EXPECT_FALSE(windowTitleText().isEmpty());
}

TEST_F(WindowTest, OpenCancelledStillResetsTheZoomAndKeepsTheSheet)
{
    const QImage sheet = makeTestImage(40, 30);
    openSheet(sheet);
    turnWheel(window->viewCanvas, 120);
    turnWheel(window->viewCanvas, 120);
    ASSERT_EQ(state.zoom, 3);
    dialogs.openAnswers = {FileChoice{}};
    window->menuAction(MenuCommand::OpenImage)->trigger();
    EXPECT_EQ(state.zoom, 1);
    EXPECT_EQ(window->zoomField->text(), QStringLiteral("Zoom: 1x1"));
    EXPECT_EQ(window->viewCanvas->size(), QSize(40, 30));
    EXPECT_EQ(state.document.workingImage(), sheet);
    EXPECT_EQ(dialogs.asked.first(), QStringLiteral("open: Please choose file to open.. | "
                                                    "Supported Images (*.bmp;*.jpg;*.png;*.gif)|"
                                                    "*.bmp;*.jpg;*.png;*.gif"));
}

// The file dialogs open in the folder of the last file named in this run: the sheet's, given at
// start-up or dropped, or that of a file chosen in any of them; before any, where the platform
// starts them.
TEST_F(WindowTest, FileDialogsOpenInTheFolderOfTheLastFileNamed)
{
    QTemporaryDir folder;
    for (const char* name : {"a", "b", "c"})
        ASSERT_TRUE(QDir(folder.path()).mkdir(QString::fromLatin1(name)));
    const auto at = [&folder](const char* name) {
        return folder.filePath(QString::fromLatin1(name));
    };
    ASSERT_TRUE(makeTestImage(32, 32).save(at("a/sheet.png")));
    ASSERT_TRUE(makeTestImage(32, 32).save(at("c/dropped.png")));
    // Open, Save As, Map Open and Save As, Apply to Level Files, each cancelled.
    const auto everyFileDialog = [this] {
        dialogs.folders.clear();
        dialogs.openAnswers = {FileChoice{}, FileChoice{}};
        dialogs.saveAnswers = {FileChoice{}, FileChoice{}};
        dialogs.openFilesAnswers = {QStringList{}};
        for (MenuCommand command : {MenuCommand::OpenImage, MenuCommand::SaveImage,
                                    MenuCommand::OpenMap, MenuCommand::SaveMap,
                                    MenuCommand::ApplyToLevels})
            window->menuAction(command)->trigger();
        return dialogs.folders;
    };

    dialogs.openAnswers = {FileChoice{}};
    window->menuAction(MenuCommand::OpenImage)->trigger();
    EXPECT_EQ(dialogs.folders, QStringList{QString()});

    dialogs.gridAnswers = {GridAnswer::NoGrid};
    window->dispatch().onOpenAtStart(at("a/sheet.png"));
    EXPECT_EQ(everyFileDialog(), QStringList(5, at("a")));

    dialogs.saveAnswers = {{at("b/saved.png"), 0}};
    window->menuAction(MenuCommand::SaveImage)->trigger();
    ASSERT_TRUE(QFileInfo::exists(at("b/saved.png")));
    EXPECT_EQ(everyFileDialog(), QStringList(5, at("b")));

    dialogs.gridAnswers = {GridAnswer::NoGrid};
    window->dispatch().onFilesDropped(at("c/dropped.png"));
    ASSERT_EQ(state.document.openedPath(), at("c/dropped.png"));
    EXPECT_EQ(everyFileDialog(), QStringList(5, at("c")));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();
}

TEST_F(WindowTest, CtrlOAndCtrlSRaiseOpenAndSave)
{
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    openSheet(makeTestImage(16, 16));
    dialogs.openAnswers = {FileChoice{}};
    dialogs.saveAnswers = {FileChoice{}};
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(dialogs.asked.size(), 2);
    EXPECT_TRUE(dialogs.asked[0].startsWith(QStringLiteral("open: ")));
    EXPECT_TRUE(dialogs.asked[1].startsWith(QStringLiteral("save: Please choose file to save..")));
}

TEST_F(WindowTest, AFileNamedAtStartOpensWithTheGridQuestionAndAMapIsRefused)
{
    QTemporaryDir folder;
    const QImage sheet = makeTestImage(40, 18);
    const QString path = folder.filePath(QStringLiteral("sheet.png"));
    ASSERT_TRUE(sheet.save(path));
    const QString map = folder.filePath(QStringLiteral("sheet.zeko-map"));
    writeFileBytes(map, "0\r\n");

    window->dispatch().onOpenAtStart(map);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0], QStringLiteral("“%1” is a map file. Open the sheet it belongs to "
                                                "first, then the map with Map “Open..”.")
                                     .arg(map));
    EXPECT_FALSE(state.document.hasImage());

    dialogs.gridAnswers = {GridAnswer::Grid8x8};
    window->dispatch().onOpenAtStart(path);
    EXPECT_TRUE(sameRgb(state.document.workingImage(), sheet));
    EXPECT_EQ(state.document.tileSize(), 8);
    EXPECT_EQ(state.document.gridFlag(), 1);
    EXPECT_EQ(window->viewCanvas->size(), QSize(40, 18));
}

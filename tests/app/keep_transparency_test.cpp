#include <gtest/gtest.h>

#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include "document/image_decoder.h"
#include "support/image_files.h"
#include "support/window_fixture.h"
#include "view/zoom_canvas.h"

namespace {

const QString kDroppedText = QStringLiteral(
    "Transparent pixels are shown and saved as black (Settings > Keep Transparency keeps them)");

class KeepTransparencyTest : public WindowTest {
protected:
    void TearDown() override
    {
        // The setting lives in the tests' own settings folder; the next test starts without it.
        QSettings(QSettings::UserScope, QStringLiteral("tilegrid"), QStringLiteral("tilegrid"))
            .clear();
        WindowTest::TearDown();
    }

    QAction* keepItem() const { return window->menuAction(MenuCommand::KeepTransparency); }

    void open(const QString& path)
    {
        dialogs.openAnswers.push_back({path, 0});
        dialogs.gridAnswers.push_back(GridAnswer::NoGrid);
        window->menuAction(MenuCommand::OpenImage)->trigger();
    }

    QImage savedAs(const QString& path, int filterIndex)
    {
        dialogs.saveAnswers.push_back({path, filterIndex});
        window->menuAction(MenuCommand::SaveImage)->trigger();
        const DecodeResult back = loadImageFile(path, Transparency::Keep);
        EXPECT_TRUE(back.ok()) << back.error.toStdString();
        return back.image;
    }

    QTemporaryDir folder;
};

// Off at first: the documented behaviour, and the status bar says once what became of the
// transparent pixels. Checked, it is remembered for the next start, and applies from the next
// opened sheet on.
TEST_F(KeepTransparencyTest, IsOffAtFirstSaysWhatIsLostAndIsRemembered)
{
    const QString input = folder.filePath(QStringLiteral("in.png"));
    writeFileBytes(input, makePng(37, 35, PngLayout{6, 8}));
    ASSERT_TRUE(keepItem()->isCheckable());
    EXPECT_FALSE(keepItem()->isChecked());
    open(input);
    EXPECT_EQ(state.document.workingImage().format(), QImage::Format_BGR888);
    EXPECT_EQ(window->statusBar()->currentMessage(), kDroppedText);

    keepItem()->trigger();
    EXPECT_EQ(state.document.workingImage().format(), QImage::Format_BGR888);
    AppState again;
    ScriptedDialogs moreDialogs;
    MainWindow next(again, moreDialogs);
    EXPECT_TRUE(next.menuAction(MenuCommand::KeepTransparency)->isChecked());

    open(input);
    EXPECT_EQ(state.document.workingImage(), loadImageFile(input, Transparency::Keep).image);
    EXPECT_EQ(state.document.workingImage().format(), QImage::Format_ARGB32);
    EXPECT_EQ(window->statusBar()->currentMessage(), QString());
}

class KeepTransparencyKinds : public KeepTransparencyTest,
                              public testing::WithParamInterface<PngLayout> {};

// Checked, every kind of PNG keeps its alpha through opening, Add Grid (with opaque lines), a swap,
// Remove Grid and Reset Map, and saves it as PNG (colour type 6) and as BMP.
TEST_P(KeepTransparencyKinds, KeepsEveryAlphaThroughEditsAndSaves)
{
    const QString input = folder.filePath(QStringLiteral("in.png"));
    writeFileBytes(input, makePng(37, 35, GetParam()));
    // The reader, checked against Qt's elsewhere.
    const QImage reference = loadImageFile(input, Transparency::Keep).image;
    keepItem()->trigger();
    open(input);
    ASSERT_EQ(state.document.workingImage(), reference);

    QTest::mouseClick(window->addGridButton, Qt::LeftButton);
    const QImage& gridded = state.document.workingImage();
    ASSERT_EQ(gridded.format(), QImage::Format_ARGB32);
    for (int i = 0; i < gridded.width(); ++i)
        ASSERT_EQ(gridded.pixel(i, 16), qRgb(255, 0, 255)) << i;
    QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(19, 20));
    ASSERT_EQ(state.document.remapped(), 1);
    QTest::mouseClick(window->removeGridButton, Qt::LeftButton);
    QTest::mouseClick(window->resetMapButton, Qt::LeftButton);

    const QImage whole = reference.copy(0, 0, 32, 32);
    EXPECT_EQ(state.document.workingImage(), whole);
    EXPECT_EQ(savedAs(folder.filePath(QStringLiteral("out.png")), 0), whole);
    EXPECT_EQ(readFileBytes(folder.filePath(QStringLiteral("out.png"))).at(25), 6);
    EXPECT_EQ(savedAs(folder.filePath(QStringLiteral("out.bmp")), 1), whole);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Kinds, KeepTransparencyKinds, testing::ValuesIn(transparentPngLayouts()));

}  // namespace

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include "document/image_decoder.h"
#include "support/image_files.h"
#include "support/window_fixture.h"
#include "view/zoom_canvas.h"
#include "view/zoom_render.h"

namespace {

class KeepTransparencyTest : public WindowTest, public testing::WithParamInterface<PngLayout> {
protected:
    void TearDown() override
    {
        // The tests' own settings folder; the next test starts without the setting.
        QSettings(QSettings::UserScope, QStringLiteral("tilegrid"), QStringLiteral("tilegrid"))
            .clear();
        WindowTest::TearDown();
    }

    QAction* keepItem() const { return window->menuAction(MenuCommand::KeepTransparency); }

    // Opens a PNG of the layout; returns it as the reader keeps it (checked against Qt elsewhere).
    QImage open(const PngLayout& layout)
    {
        const QString input = folder.filePath(QStringLiteral("in.png"));
        writeFileBytes(input, makePng(37, 35, layout));
        dialogs.openAnswers.push_back({input, 0});
        dialogs.gridAnswers.push_back(GridAnswer::NoGrid);
        window->menuAction(MenuCommand::OpenImage)->trigger();
        return loadImageFile(input, Transparency::Keep).image;
    }

    QTemporaryDir folder;
};

// Off at first: opened as ever, and the status bar says once what became of the transparent
// pixels. Checked, it applies from the next opened sheet on and is remembered for the next start.
TEST_F(KeepTransparencyTest, IsOffAtFirstSaysWhatIsLostAndIsRemembered)
{
    ASSERT_TRUE(keepItem()->isCheckable());
    EXPECT_FALSE(keepItem()->isChecked());
    open(PngLayout{6, 8});
    EXPECT_EQ(state.document.workingImage().format(), QImage::Format_BGR888);
    const QString note = window->statusBar()->currentMessage();
    EXPECT_EQ(note,
              QStringLiteral("Transparent pixels shown as black: Settings > Keep Transparency"));
    // Whole in the message field of the window at its smallest, left of the zoom field.
    window->resize(window->minimumSize());
    QTest::qWait(1);
    EXPECT_LE(window->statusBar()->fontMetrics().horizontalAdvance(note) + 12,
              window->zoomField->x());
    const QImage shownBlack = window->viewCanvas->grab(QRect(0, 0, 37, 35)).toImage();

    keepItem()->trigger();
    EXPECT_EQ(state.document.workingImage().format(), QImage::Format_BGR888);
    AppState again;
    ScriptedDialogs moreDialogs;
    EXPECT_TRUE(MainWindow(again, moreDialogs).menuAction(MenuCommand::KeepTransparency)->isChecked());
    const QImage kept = open(PngLayout{6, 8});
    EXPECT_EQ(state.document.workingImage(), kept);
    EXPECT_EQ(window->statusBar()->currentMessage(), QString());

    // Off, transparent pixels show black; on, over light and dark checks, opaque ones as they are.
    const QImage shownChecked = window->viewCanvas->grab(QRect(0, 0, 37, 35)).toImage();
    int transparent = 0;
    for (int y = 0; y < kept.height(); ++y)
        for (int x = 0; x < kept.width(); ++x) {
            const QRgb pixel = kept.pixel(x, y);
            const QRgb check = checkAt(x, y);
            ASSERT_EQ(shownChecked.pixel(x, y) | 0xff000000u, laidOver(pixel, check))
                << x << "," << y;
            ASSERT_EQ(shownBlack.pixel(x, y) | 0xff000000u, laidOver(pixel, qRgb(0, 0, 0)))
                << x << "," << y;
            if (qAlpha(pixel) == 0) {
                ++transparent;
                EXPECT_EQ(shownChecked.pixel(x, y) | 0xff000000u, check);
            }
        }
    EXPECT_GT(transparent, 0);
    EXPECT_NE(checkAt(0, 0), checkAt(kCheckSize, 0));
    EXPECT_EQ(checkAt(0, 0), checkAt(kCheckSize, kCheckSize));
}

// Checked, every kind of PNG keeps its alpha through Add Grid (opaque lines), a swap, Remove Grid
// and Reset Map, and saves it as PNG (colour type 6) and as BMP.
TEST_P(KeepTransparencyTest, EveryKindKeepsItsAlphaThroughEditsAndSaves)
{
    keepItem()->trigger();
    const QImage reference = open(GetParam());
    ASSERT_EQ(state.document.workingImage(), reference);
    QTest::mouseClick(window->addGridButton, Qt::LeftButton);
    for (int i = 0; i < state.document.workingImage().width(); ++i)
        ASSERT_EQ(state.document.workingImage().pixel(i, 16), qRgb(255, 0, 255)) << i;
    QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(19, 20));
    ASSERT_EQ(state.document.remapped(), 1);
    QTest::mouseClick(window->removeGridButton, Qt::LeftButton);
    QTest::mouseClick(window->resetMapButton, Qt::LeftButton);
    EXPECT_EQ(state.document.workingImage(), reference.copy(0, 0, 32, 32));

    for (const char* name : {"out.png", "out.bmp"}) {
        const QString path = folder.filePath(QLatin1StringView(name));
        dialogs.saveAnswers.push_back({path, path.endsWith(QLatin1String("png")) ? 0 : 1});
        window->menuAction(MenuCommand::SaveImage)->trigger();
        EXPECT_EQ(loadImageFile(path, Transparency::Keep).image, reference.copy(0, 0, 32, 32));
    }
    EXPECT_EQ(readFileBytes(folder.filePath(QStringLiteral("out.png"))).at(25), 6);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Kinds, KeepTransparencyTest, testing::ValuesIn(transparentPngLayouts()),
                         [](const auto& info) { return pngLayoutName(info.param); });

}  // namespace

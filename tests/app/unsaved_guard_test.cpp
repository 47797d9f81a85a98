#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "support/test_images.h"
#include "support/window_fixture.h"
#include "view/zoom_canvas.h"

namespace {

// The four ways a sheet can be lost: Quit, a close request, File "Open.." and a dropped image.
enum class Trigger { Quit, Close, Open, DropImage };

std::string triggerName(const ::testing::TestParamInfo<Trigger>& info)
{
    const char* names[] = {"Quit", "Close", "Open", "DropImage"};
    return names[int(info.param)];
}

class UnsavedGuardTest : public WindowTest, public ::testing::WithParamInterface<Trigger> {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        otherSheet = folder.filePath(QStringLiteral("other.png"));
        ASSERT_TRUE(makeTestImage(16, 16).save(otherSheet));
        openSheet(sheet);
    }

    void swapTwoTiles()
    {
        QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(1, 1));
        QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(20, 1));
        ASSERT_TRUE(state.document.imageUnsaved());
        ASSERT_TRUE(state.document.mapUnsaved());
    }

    // Runs the trigger; returns true when it went on (program ended or another sheet opened).
    bool fire(bool expectOpenDialog)
    {
        const int before = shutDowns;
        switch (GetParam()) {
        case Trigger::Quit:
            window->menuAction(MenuCommand::Quit)->trigger();
            return shutDowns > before;
        case Trigger::Close:
            return window->close();
        case Trigger::Open:
            if (expectOpenDialog) {
                dialogs.openAnswers.push_back({otherSheet, 0});
                dialogs.gridAnswers.push_back(GridAnswer::NoGrid);
            }
            window->menuAction(MenuCommand::OpenImage)->trigger();
            return state.document.workingImage().size() == QSize(16, 16);
        case Trigger::DropImage:
            if (expectOpenDialog)
                dialogs.gridAnswers.push_back(GridAnswer::NoGrid);
            window->dispatch().onFilesDropped(otherSheet);
            return state.document.workingImage().size() == QSize(16, 16);
        }
        return false;
    }

    QTemporaryDir folder;
    QString otherSheet;
    const QImage sheet = makeTestImage(48, 32);
};

}  // namespace

TEST_P(UnsavedGuardTest, NothingUnsavedAsksNothing)
{
    EXPECT_TRUE(fire(true));
    EXPECT_FALSE(dialogs.asked.join(',').contains(QStringLiteral("unsaved")));
}

TEST_P(UnsavedGuardTest, CancelKeepsEverything)
{
    swapTwoTiles();
    const QImage swapped = state.document.workingImage();
    dialogs.unsavedAnswers = {UnsavedAnswer::Cancel};
    EXPECT_FALSE(fire(false));
    EXPECT_EQ(state.document.workingImage(), swapped);
    EXPECT_EQ(state.document.remapped(), 1);
    EXPECT_TRUE(state.document.imageUnsaved());
    EXPECT_EQ(shutDowns, 0);
    EXPECT_FALSE(dialogs.asked.join(',').contains(QStringLiteral("open:")));
}

TEST_P(UnsavedGuardTest, DiscardGoesOn)
{
    swapTwoTiles();
    dialogs.unsavedAnswers = {UnsavedAnswer::Discard};
    EXPECT_TRUE(fire(true));
    EXPECT_TRUE(dialogs.asked.join(',').contains(QStringLiteral("unsaved: ")));
}

TEST_P(UnsavedGuardTest, SaveWritesImageAndMapThenGoesOn)
{
    swapTwoTiles();
    dialogs.unsavedAnswers = {UnsavedAnswer::Save};
    const QString image = folder.filePath(QStringLiteral("kept"));
    dialogs.saveAnswers = {{image, 0}, {image, 0}};
    EXPECT_TRUE(fire(true));
    EXPECT_TRUE(QFile::exists(image + QStringLiteral(".png")));
    EXPECT_TRUE(QFile::exists(image + QStringLiteral(".zeko-map")));
}

TEST_P(UnsavedGuardTest, FailedSaveStopsAndKeepsTheFacts)
{
    swapTwoTiles();
    const QImage swapped = state.document.workingImage();
    dialogs.unsavedAnswers = {UnsavedAnswer::Save};
    dialogs.saveAnswers = {{folder.filePath(QStringLiteral("missing/folder/kept")), 0}};
    EXPECT_FALSE(fire(false));
    EXPECT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(state.document.workingImage(), swapped);
    EXPECT_TRUE(state.document.imageUnsaved());
    EXPECT_TRUE(state.document.mapUnsaved());
    EXPECT_EQ(shutDowns, 0);
}

TEST_P(UnsavedGuardTest, OnlyAnUnsavedMapStillAsks)
{
    swapTwoTiles();
    dialogs.saveAnswers = {{folder.filePath(QStringLiteral("image")), 0}};
    window->menuAction(MenuCommand::SaveImage)->trigger();
    ASSERT_FALSE(state.document.imageUnsaved());
    dialogs.unsavedAnswers = {UnsavedAnswer::Cancel};
    EXPECT_FALSE(fire(false));
    EXPECT_TRUE(dialogs.asked.last().contains(QStringLiteral("tile map")));
}

INSTANTIATE_TEST_SUITE_P(Triggers, UnsavedGuardTest,
                         ::testing::Values(Trigger::Quit, Trigger::Close, Trigger::Open,
                                           Trigger::DropImage),
                         triggerName);

TEST_F(WindowTest, SavingTheImageAndMapClearsTheFactsAndMapLoadsAskNothing)
{
    QTemporaryDir folder;
    openSheet(makeTestImage(32, 16));
    QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(20, 1));
    dialogs.saveAnswers = {{folder.filePath(QStringLiteral("a")), 0},
                           {folder.filePath(QStringLiteral("a")), 0}};
    window->menuAction(MenuCommand::SaveImage)->trigger();
    window->menuAction(MenuCommand::SaveMap)->trigger();
    EXPECT_FALSE(state.document.imageUnsaved());
    EXPECT_FALSE(state.document.mapUnsaved());
    // With a swap unsaved, a map may still be opened without a question.
    QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(20, 1));
    dialogs.openAnswers = {{folder.filePath(QStringLiteral("a.zeko-map")), 0}};
    window->menuAction(MenuCommand::OpenMap)->trigger();
    EXPECT_EQ(state.document.tileMap().at(0, 0), 1);
    dialogs.unsavedAnswers = {UnsavedAnswer::Cancel};
    window->menuAction(MenuCommand::Quit)->trigger();  // the image is unsaved: asks
    EXPECT_TRUE(dialogs.asked.last().startsWith(QStringLiteral("unsaved")));
    EXPECT_EQ(shutDowns, 0);
}

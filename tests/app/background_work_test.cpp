#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <thread>

#include "app/background_work.h"
#include "document/atomic_file.h"
#include "document/document.h"
#include "support/image_files.h"
#include "support/test_images.h"
#include "support/window_fixture.h"
#include "view/zoom_canvas.h"

namespace {

// Work of any size runs away from the window's thread, and every write of a save first waits a
// while, so the window's behaviour during long work can be watched.
class BackgroundWorkTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        window->work().setThreshold(0);
        openSheet(sheet);
    }
    void TearDown() override
    {
        g_failWriteForTesting = nullptr;
        WindowTest::TearDown();
    }

    // While the next save runs: a timer that counts its turns and runs during.
    void whileSaving(std::function<void()> during, int saveMs, bool fail = false)
    {
        g_failWriteForTesting = [saveMs, fail, first = true](qint64) mutable {
            if (first)
                std::this_thread::sleep_for(std::chrono::milliseconds(saveMs));
            first = false;
            return fail;
        };
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            ++ticks;
            if (during && ticks == 3)
                during();
        });
        timer.start(20);
        window->menuAction(MenuCommand::SaveImage)->trigger();
    }

    const QImage sheet = makeTestImage(64, 48);
    QTemporaryDir folder;
    int ticks = 0;
};

TEST_F(BackgroundWorkTest, TheWindowKeepsRunningDuringALongSaveAndItsCommandsWait)
{
    const QString target = folder.filePath(QStringLiteral("sheet.png"));
    dialogs.saveAnswers = {{target, 0}};
    bool busyDuring = false;
    QString shown;
    whileSaving(
        [&] {
            busyDuring = window->work().isBusy();
            // A click on Add Grid and a drag wait: the save's image must not change under it.
            QTest::mouseClick(window->addGridButton, Qt::LeftButton);
            QTest::mousePress(window->viewCanvas, Qt::LeftButton, {}, QPoint(1, 1));
            QTest::mouseRelease(window->viewCanvas, Qt::LeftButton, {}, QPoint(20, 1));
            window->menuAction(MenuCommand::ResetMap)->trigger();
            QTest::qWait(BackgroundWork::kShowAfterMs);
            if (auto* progress = window->findChild<QProgressDialog*>())
                shown = progress->isVisible() ? progress->labelText() : QString();
        },
        1200);

    EXPECT_TRUE(busyDuring);
    EXPECT_GE(ticks, 10) << "the window's timers stood still during the save";
    EXPECT_EQ(shown, QStringLiteral("Saving “sheet.png”…"));
    EXPECT_FALSE(window->work().isBusy());
    EXPECT_EQ(window->findChild<QProgressDialog*>(), nullptr);
    EXPECT_EQ(state.document.workingImage(), sheet);
    EXPECT_FALSE(state.document.imageUnsaved());
    EXPECT_TRUE(sameRgb(QImage(target), sheet));
}

TEST_F(BackgroundWorkTest, AFailedSaveInTheBackgroundKeepsTheOldFile)
{
    const QString target = folder.filePath(QStringLiteral("sheet.bmp"));
    writeFileBytes(target, "last week's sheet");
    dialogs.saveAnswers = {{target, 1}};
    state.document.swapTiles(0, 0, 1, 1);
    whileSaving({}, 100, true);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith(QStringLiteral("Could not save “%1”").arg(target)));
    EXPECT_EQ(readFileBytes(target), "last week's sheet");
    EXPECT_EQ(folderEntries(folder.path()), QStringList(QStringLiteral("sheet.bmp")));
    EXPECT_TRUE(state.document.imageUnsaved());
}

TEST_F(BackgroundWorkTest, ASaveCancelledFromItsProgressKeepsTheOldFileAndSaysNothing)
{
    const QString target = folder.filePath(QStringLiteral("sheet.png"));
    writeFileBytes(target, "last week's sheet");
    dialogs.saveAnswers = {{target, 0}};
    state.document.swapTiles(0, 0, 1, 1);
    bool offered = false;
    whileSaving(
        [&] {
            QTest::qWait(BackgroundWork::kShowAfterMs + 100);
            auto* progress = window->findChild<QProgressDialog*>();
            auto* button = progress ? progress->findChild<QPushButton*>() : nullptr;
            offered = progress && progress->isVisible() && button;
            if (offered)
                QTest::mouseClick(button, Qt::LeftButton);
        },
        1000);
    EXPECT_TRUE(offered);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();
    EXPECT_EQ(readFileBytes(target), "last week's sheet");
    EXPECT_EQ(folderEntries(folder.path()), QStringList(QStringLiteral("sheet.png")));
    EXPECT_TRUE(state.document.imageUnsaved());
}

TEST_F(BackgroundWorkTest, ACloseRequestDuringWorkCanWaitForIt)
{
    dialogs.saveAnswers = {{folder.filePath(QStringLiteral("sheet.png")), 0}};
    dialogs.yesNoAnswers = {true};
    bool closedAtOnce = true;
    whileSaving([&] { closedAtOnce = window->close(); }, 300);
    EXPECT_FALSE(closedAtOnce);
    EXPECT_TRUE(dialogs.asked.contains(QStringLiteral(
        "yesno: Saving “sheet.png”… is not finished yet. Wait until it is done, then close?")));
    // The close goes on once the save is done, with nothing unsaved to ask about.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
    EXPECT_EQ(state.quitRequested, 1);
}

// A close that waits for an open waits for its grid question too: the window stays while the
// question is on screen, and closes once it is answered.
TEST_F(BackgroundWorkTest, ACloseWaitingForAnOpenWaitsForItsQuestion)
{
    const QString file = folder.filePath(QStringLiteral("next.png"));
    ASSERT_TRUE(makeTestImage(48, 32).save(file));
    dialogs.openAnswers = {{file, 0}};
    dialogs.yesNoAnswers = {true};
    dialogs.gridAnswers = {GridAnswer::Grid8x8};
    bool stayedWhileAsked = false;
    dialogs.duringGridQuestion = [&] {
        QDialog question(window.get());
        question.setModal(true);
        question.show();
        QTest::qWait(200);
        stayedWhileAsked = window->isVisible();
    };
    // Asked as soon as the decoding runs away from the window's thread.
    QTimer::singleShot(0, window.get(), [&] { window->close(); });
    window->menuAction(MenuCommand::OpenImage)->trigger();
    EXPECT_TRUE(dialogs.asked.contains(QStringLiteral(
        "yesno: Opening “next.png”… is not finished yet. Wait until it is done, then close?")));
    EXPECT_TRUE(stayedWhileAsked);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
    EXPECT_EQ(state.document.tileSize(), 8);
}

// A close that waited and was then cancelled at the unsaved-map question is over: later work
// does not take it up again.
TEST_F(BackgroundWorkTest, ACloseCancelledAfterWaitingEndsThere)
{
    dialogs.saveAnswers = {{folder.filePath(QStringLiteral("sheet.png")), 0}};
    dialogs.yesNoAnswers = {true};
    dialogs.unsavedAnswers = {UnsavedAnswer::Cancel};
    ASSERT_EQ(state.document.swapTiles(0, 0, 1, 1), QString());
    whileSaving([&] { window->close(); }, 300);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialogs.unsavedAnswers.empty(); }));
    QTest::mouseClick(window->addGridButton, Qt::LeftButton);
    QTest::qWait(100);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(dialogs.asked.filter(QStringLiteral("unsaved: ")).size(), 1);
    EXPECT_EQ(state.quitRequested, 0);
}

TEST_F(BackgroundWorkTest, EditsAndTheirUndoGiveTheSameResultAwayFromTheWindowsThread)
{
    QTest::mouseClick(window->addGridButton, Qt::LeftButton);
    const QImage gridded = state.document.workingImage();
    EXPECT_EQ(gridded.size(), QSize(4 * 17, 3 * 17));
    window->menuAction(MenuCommand::Undo)->trigger();
    EXPECT_EQ(state.document.workingImage(), sheet);
    window->menuAction(MenuCommand::Redo)->trigger();
    EXPECT_EQ(state.document.workingImage(), gridded);
    EXPECT_TRUE(dialogs.errors.isEmpty());

    // Above a threshold of one byte only the heavy steps leave: a swap's undo stays in place.
    window->menuAction(MenuCommand::Undo)->trigger();
    window->work().setThreshold(1);
    int busyChanges = 0;
    QObject::connect(&window->work(), &BackgroundWork::busyChanged, [&] { ++busyChanges; });
    ASSERT_EQ(state.document.swapTiles(0, 0, 1, 1), QString());
    window->menuAction(MenuCommand::Undo)->trigger();
    EXPECT_EQ(busyChanges, 0);
    QTest::mouseClick(window->addGridButton, Qt::LeftButton);
    EXPECT_EQ(busyChanges, 2);
    EXPECT_EQ(state.document.workingImage(), gridded);
}

// Running out of memory while a step is prepared, on either thread, is a refusal like any other.
TEST_F(BackgroundWorkTest, RunningOutOfMemoryChangesNothingAndEndsNothing)
{
    class Hungry : public Edit {
    public:
        QString name() const override { return QStringLiteral("Hungry"); }
        QString prepare(const Sheet&, Direction) override { throw std::bad_alloc(); }
        void apply(Sheet&, Direction) override { ADD_FAILURE() << "applied"; }
        bool changesImage() const override { return true; }
        bool changesMap() const override { return false; }
        qint64 keptBytes() const override { return 0; }
    };
    EXPECT_EQ(state.document.perform(std::make_unique<Hungry>()),
              QStringLiteral("There is not enough memory for this step. Nothing was changed."));
    EXPECT_EQ(state.document.workingImage(), sheet);
    EXPECT_TRUE(state.document.undoName().isEmpty());

    // Whatever a piece of work throws reaches the thread that started it, not the worker's end.
    EXPECT_THROW(window->work().run(QStringLiteral("Failing…"), 1,
                                    [](BackgroundWork::Progress&) { throw std::bad_alloc(); }),
                 std::bad_alloc);
    EXPECT_FALSE(window->work().isBusy());
}

}  // namespace

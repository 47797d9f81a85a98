#include <gtest/gtest.h>

#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <thread>

#include "app/background_work.h"
#include "document/atomic_file.h"
#include "document/image_decoder.h"
#include "image/pixel_format.h"
#include "support/image_files.h"
#include "support/test_images.h"
#include "support/window_fixture.h"

namespace {

QByteArray tmx(const char* image, const char* cells)
{
    return QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?>
<map version="1.8" orientation="orthogonal" renderorder="right-down" width="2" height="1" tilewidth="16" tileheight="16" infinite="0" nextlayerid="2" nextobjectid="1">
 <tileset firstgid="1" name="tiles" tilewidth="16" tileheight="16" tilecount="8" columns="4">
  <image source=")") + image + R"(" width="64" height="32"/>
 </tileset>
 <layer id="1" name="Ground" width="2" height="1">
  <data encoding="csv">
)" + cells + R"(
</data>
 </layer>
</map>
)";
}

// The tile map and the grid inserted since the sheet was opened reach the levels the user picks;
// a level of another sheet is left alone and the summary says so.
TEST_F(WindowTest, ApplyToLevelFilesCarriesTheMapAndTheGridIntoThePickedLevels)
{
    QTemporaryDir folder;
    const QString sheet = folder.filePath(QStringLiteral("tiles.png"));
    ASSERT_TRUE(makeTestImage(64, 32).save(sheet));
    dialogs.gridAnswers = {GridAnswer::NoGrid};
    window->dispatch().onOpenAtStart(sheet);
    ASSERT_EQ(state.document.swapTiles(0, 0, 1, 1), QString());  // tiles 0 and 5 change places
    ASSERT_EQ(state.document.insertGrid(), QString());

    const QString csv = folder.filePath(QStringLiteral("level.csv"));
    const QString map = folder.filePath(QStringLiteral("level.tmx"));
    const QString other = folder.filePath(QStringLiteral("other.tmx"));
    writeFileBytes(csv, "0,5,-1\n3,,7\n");
    writeFileBytes(map, tmx("tiles.png", "1,6"));
    writeFileBytes(other, tmx("other.png", "1,6"));
    const QString project = folder.filePath(QStringLiteral("world.ldtk"));
    const QByteArray ldtk = R"({"defs": {"tilesets": [{"__cWid": 4, "__cHei": 2, "uid": 1,
 "relPath": "tiles.png", "pxWid": 64, "pxHei": 32, "tileGridSize": 16, "spacing": 0,
 "padding": 0}]}, "levels": [{"layerInstances": [{"__tilesetDefUid": 1,
 "gridTiles": [{"src": [0, 0], "f": 1, "t": 0}]}]}]})";
    writeFileBytes(project, ldtk);
    dialogs.openFilesAnswers = {{csv, map, other, project}};
    // tiles.png still holds the sheet as it was opened: saved over first, it shows what the
    // levels will show.
    dialogs.outdatedSheetAnswers = {OutdatedSheetAnswer::Save};

    window->menuAction(MenuCommand::ApplyToLevels)->trigger();

    EXPECT_EQ(dialogs.asked.value(1),
              QStringLiteral("open files: Please choose level files.. | Level Files "
                             "(*.tmx;*.tsx;*.tx;*.tmj;*.tsj;*.tj;*.json;*.csv;*.ldtk;*.ldtkl;*.tscn;*.tres)|"
                             "*.tmx;*.tsx;*.tx;*.tmj;*.tsj;*.tj;*.json;*.csv;*.ldtk;*.ldtkl;*.tscn;*.tres|"
                             "All Files (*)|*"));
    EXPECT_EQ(dialogs.asked.value(2),
              QStringLiteral("outdated sheet: “tiles.png”, which these levels use, does not hold "
                             "the sheet as it is now. Save the sheet over it first?"));
    EXPECT_TRUE(sameRgb(QImage(sheet), state.document.workingImage()));
    EXPECT_EQ(readFileBytes(csv), "5,0,-1\n3,,7\n");
    const QByteArray remapped = readFileBytes(map);
    EXPECT_TRUE(remapped.contains("\n6,1\n")) << remapped.toStdString();
    EXPECT_TRUE(remapped.contains("spacing=\"1\"")) << remapped.toStdString();
    EXPECT_TRUE(remapped.contains("width=\"68\" height=\"34\"")) << remapped.toStdString();
    EXPECT_EQ(readFileBytes(other), tmx("other.png", "1,6"));
    EXPECT_EQ(readFileBytes(project), QByteArray(ldtk)
                                          .replace("64, \"pxHei\": 32", "68, \"pxHei\": 34")
                                          .replace("\"spacing\": 0", "\"spacing\": 1")
                                          .replace("[0, 0], \"f\": 1, \"t\": 0",
                                                   "[17, 17], \"f\": 1, \"t\": 5"));
    ASSERT_EQ(dialogs.infos.size(), 1);
    EXPECT_TRUE(dialogs.infos[0].startsWith(
        QStringLiteral("3 files updated (5 cells changed), 1 skipped, 0 failed.\n\nSkipped “%1”")
            .arg(other)))
        << dialogs.infos[0].toStdString();
    EXPECT_TRUE(dialogs.errors.isEmpty());

    // Cancelling the dialog writes nothing.
    dialogs.openFilesAnswers = {{}};
    window->menuAction(MenuCommand::ApplyToLevels)->trigger();
    EXPECT_EQ(readFileBytes(csv), "5,0,-1\n3,,7\n");
    EXPECT_EQ(dialogs.infos.size(), 1);
}

// A sheet opened from tiles.png without a grid, for levels beside it.
class ApplyLevelsTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(makeTestImage(64, 32).save(path("tiles.png")));
        dialogs.gridAnswers = {GridAnswer::NoGrid};
        window->dispatch().onOpenAtStart(path("tiles.png"));
    }
    QString path(const char* name) const { return folder.filePath(QString::fromUtf8(name)); }
    void apply(const QStringList& files)
    {
        dialogs.openFilesAnswers = {files};
        window->menuAction(MenuCommand::ApplyToLevels)->trigger();
    }
    static QString outdated(const QString& name)
    {
        return QStringLiteral("outdated sheet: “%1”, which these levels use, does not hold the "
                              "sheet as it is now. Save the sheet over it first?")
            .arg(name);
    }
    QTemporaryDir folder;
};

// A level applied twice in one sitting gets only what changed in between, and the grid once: it
// ends as a copy that is applied once at the end.
TEST_F(ApplyLevelsTest, ASecondApplyCarriesOnlyWhatChangedSince)
{
    writeFileBytes(path("early.tmx"), tmx("tiles.png", "1,6"));
    writeFileBytes(path("late.tmx"), tmx("tiles.png", "1,6"));
    ASSERT_EQ(state.document.swapTiles(0, 0, 1, 1), QString());
    ASSERT_EQ(state.document.insertGrid(), QString());
    // tiles.png still holds the sheet as opened, which neither level shows once brought along.
    dialogs.outdatedSheetAnswers = {OutdatedSheetAnswer::ApplyAnyway};
    apply({path("early.tmx")});
    ASSERT_EQ(state.document.swapTiles(0, 0, 2, 0), QString());
    dialogs.outdatedSheetAnswers = {OutdatedSheetAnswer::ApplyAnyway};
    apply({path("early.tmx"), path("late.tmx")});

    EXPECT_EQ(dialogs.asked.filter(QStringLiteral("outdated")),
              QStringList(2, outdated(QStringLiteral("tiles.png"))));
    const QByteArray late = readFileBytes(path("late.tmx"));
    EXPECT_TRUE(late.contains("\n6,3\n") && late.contains("spacing=\"1\"")) << late.toStdString();
    EXPECT_EQ(readFileBytes(path("early.tmx")), late);
    ASSERT_EQ(dialogs.infos.size(), 2);
    EXPECT_EQ(dialogs.infos[1], QStringLiteral("2 files updated (3 cells changed), 0 skipped, 0 "
                                               "failed.\n\n“%1” was brought along before in this "
                                               "sitting: only what changed since then was carried "
                                               "into it.")
                                    .arg(path("early.tmx")));
}

// A tileset brought along with one level knows the sheet as it was then: a level not brought
// along before cannot carry it along, so both are left as they were and the report says why.
TEST_F(ApplyLevelsTest, ATilesetThatKnowsAnotherArrangementIsLeftAndSaysWhy)
{
    const QByteArray tsx = R"(<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.10" name="tiles" tilewidth="16" tileheight="16" tilecount="8" columns="4">
 <image source="tiles.png" width="64" height="32"/>
 <tile id="1" type="wall"/>
</tileset>
)";
    QByteArray map = tmx("tiles.png", "1,6");
    map.replace(map.indexOf(" <tileset"), map.indexOf(" <layer") - map.indexOf(" <tileset"),
                " <tileset firstgid=\"1\" source=\"tiles.tsx\"/>\n");
    writeFileBytes(path("tiles.tsx"), tsx);
    writeFileBytes(path("first.tmx"), map);
    writeFileBytes(path("second.tmx"), map);
    ASSERT_EQ(state.document.swapTiles(0, 0, 1, 0), QString());
    dialogs.outdatedSheetAnswers = {OutdatedSheetAnswer::ApplyAnyway};
    apply({path("first.tmx")});
    const QByteArray tsxOnce = readFileBytes(path("tiles.tsx"));
    ASSERT_NE(tsxOnce, tsx);
    dialogs.outdatedSheetAnswers = {OutdatedSheetAnswer::ApplyAnyway};
    apply({path("second.tmx")});

    EXPECT_EQ(readFileBytes(path("second.tmx")), map);
    EXPECT_EQ(readFileBytes(path("tiles.tsx")), tsxOnce);
    ASSERT_EQ(dialogs.infos.size(), 2);
    EXPECT_EQ(dialogs.infos[1],
              QStringLiteral("0 files updated (0 cells changed), 0 skipped, 2 failed.\n\n"
                             "Left “%1” as it was: it goes with “%2”, which could not be "
                             "written.\n\n"
                             "Left “%2” as it was: it knows another arrangement of the sheet than "
                             "the files given with it.")
                  .arg(path("second.tmx"), path("tiles.tsx")));
}

// Levels whose image holds another sheet: Cancel changes nothing, Apply Anyway only the level,
// Save puts the sheet as it is now into that image first.
TEST_F(ApplyLevelsTest, ALevelWhoseImageHoldsAnotherSheetAsksFirst)
{
    QDir(folder.path()).mkdir(QStringLiteral("art"));
    const QImage stranger = makeTestImage(64, 32).mirrored(true, false);
    ASSERT_EQ(state.document.swapTiles(0, 0, 1, 1), QString());
    for (const OutdatedSheetAnswer answer :
         {OutdatedSheetAnswer::Cancel, OutdatedSheetAnswer::ApplyAnyway,
          OutdatedSheetAnswer::Save}) {
        SCOPED_TRACE(int(answer));
        ASSERT_TRUE(stranger.save(path("art/tiles.png")));
        // A level of its own each time: one applied before would get only what changed since.
        const QString level = path("level%1.tmx").arg(int(answer));
        writeFileBytes(level, tmx("art/tiles.png", "1,6"));
        dialogs.outdatedSheetAnswers = {answer};
        dialogs.asked.clear();
        dialogs.infos.clear();
        apply({level});

        EXPECT_EQ(dialogs.asked.value(1), outdated(QStringLiteral("tiles.png")));
        const bool applied = answer != OutdatedSheetAnswer::Cancel;
        EXPECT_EQ(readFileBytes(level), tmx("art/tiles.png", applied ? "6,1" : "1,6"));
        EXPECT_EQ(dialogs.infos.size(), applied ? 1 : 0);
        EXPECT_TRUE(sameRgb(QImage(path("art/tiles.png")),
                            answer == OutdatedSheetAnswer::Save ? state.document.workingImage()
                                                                : stranger));
        EXPECT_EQ(state.document.imageUnsaved(), answer != OutdatedSheetAnswer::Save);
    }
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();
}

// However small the levels, applying runs in the background with a Cancel that leaves every file
// as it was, also the ones already written.
TEST_F(ApplyLevelsTest, ApplyingRunsInTheBackgroundAndCancelLeavesEveryFileAsItWas)
{
    writeFileBytes(path("a.tmx"), tmx("tiles.png", "1,6"));
    writeFileBytes(path("b.csv"), "0,5\n");
    ASSERT_EQ(state.document.swapTiles(0, 0, 1, 1), QString());
    int busyChanges = 0;
    QObject::connect(&window->work(), &BackgroundWork::busyChanged, [&] { ++busyChanges; });
    // The first file written waits until Cancel was pressed.
    const auto wait = std::chrono::milliseconds(BackgroundWork::kShowAfterMs * 2);
    g_failWriteForTesting = [first = true, wait](qint64) mutable {
        if (std::exchange(first, false))
            std::this_thread::sleep_for(wait);
        return false;
    };
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, [&] {
        auto* progress = window->findChild<QProgressDialog*>();
        if (auto* cancel = progress ? progress->findChild<QPushButton*>() : nullptr;
            cancel && progress->isVisible()) {
            QTest::mouseClick(cancel, Qt::LeftButton);
            presser.stop();
        }
    });
    presser.start(20);
    dialogs.outdatedSheetAnswers = {OutdatedSheetAnswer::ApplyAnyway};
    apply({path("a.tmx"), path("b.csv")});
    g_failWriteForTesting = nullptr;

    EXPECT_FALSE(presser.isActive()) << "no Cancel was offered";
    EXPECT_EQ(busyChanges, 4);  // the check of the image, then the levels
    EXPECT_EQ(readFileBytes(path("a.tmx")), tmx("tiles.png", "1,6"));
    EXPECT_EQ(readFileBytes(path("b.csv")), "0,5\n");
    EXPECT_TRUE(dialogs.infos.isEmpty() && dialogs.errors.isEmpty());
}

// A level whose image holds the sheet as it was opened asks before it follows the rearranged
// sheet, and once the sheet is saved over that image it asks no more: the image is read as the
// sheet shows, laid over black or with its alpha kept.
class ApplyTransparentSheetTest : public WindowTest, public testing::WithParamInterface<bool> {
protected:
    void TearDown() override
    {
        QSettings(QSettings::UserScope, QStringLiteral("tilegrid"), QStringLiteral("tilegrid"))
            .clear();
        WindowTest::TearDown();
    }
};

TEST_P(ApplyTransparentSheetTest, AsksToSaveTheSheetUntilItsImageHoldsItAsShown)
{
    const bool keep = GetParam();
    QTemporaryDir folder;
    const QString sheet = folder.filePath(QStringLiteral("tiles.png"));
    ASSERT_TRUE(makeTestImage(64, 32, QImage::Format_ARGB32).save(sheet));
    if (keep)
        window->menuAction(MenuCommand::KeepTransparency)->trigger();
    dialogs.gridAnswers = {GridAnswer::NoGrid};
    window->dispatch().onOpenAtStart(sheet);
    ASSERT_EQ(keepsAlpha(state.document.workingImage()), keep);
    dialogs.tileSizeAnswers = {TileSizeAnswer{32, false}};
    window->menuAction(MenuCommand::TileSize)->trigger();
    ASSERT_EQ(state.document.tileSize(), 32);
    ASSERT_EQ(state.document.swapTiles(0, 0, 1, 0), QString());
    const auto level = [](const char* cells) {
        return tmx("tiles.png", cells)
            .replace("tilewidth=\"16\" tileheight=\"16\"", "tilewidth=\"32\" tileheight=\"32\"")
            .replace("tilecount=\"8\" columns=\"4\"", "tilecount=\"2\" columns=\"2\"");
    };
    const QString first = folder.filePath(QStringLiteral("first.tmx"));
    const QString second = folder.filePath(QStringLiteral("second.tmx"));
    writeFileBytes(first, level("1,2"));
    writeFileBytes(second, level("1,2"));
    const auto apply = [this](const QString& file, std::optional<OutdatedSheetAnswer> answer) {
        dialogs.asked.clear();
        if (answer)
            dialogs.outdatedSheetAnswers = {*answer};
        dialogs.openFilesAnswers = {{file}};
        window->menuAction(MenuCommand::ApplyToLevels)->trigger();
        return dialogs.asked.filter(QStringLiteral("outdated")).size();
    };

    EXPECT_EQ(apply(first, OutdatedSheetAnswer::Cancel), 1);
    EXPECT_EQ(readFileBytes(first), level("1,2"));
    EXPECT_EQ(apply(first, OutdatedSheetAnswer::Save), 1);
    EXPECT_EQ(readFileBytes(first), level("2,1"));
    EXPECT_EQ(loadImageFile(sheet, keep ? Transparency::Keep : Transparency::OverBlack).image,
              state.document.workingImage().convertToFormat(keep ? QImage::Format_ARGB32
                                                                 : QImage::Format_BGR888));
    EXPECT_EQ(apply(second, std::nullopt), 0);
    EXPECT_EQ(readFileBytes(second), level("2,1"));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Transparency, ApplyTransparentSheetTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "KeptAlpha" : "OverBlack";
                         });

}  // namespace

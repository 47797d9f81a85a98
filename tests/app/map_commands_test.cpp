#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "document/atomic_file.h"
#include "app/file_commands.h"
#include "document/document.h"
#include "support/image_files.h"
#include "support/scripted_dialogs.h"
#include "support/test_images.h"
#include "tilemap/map_file.h"
#include "tilemap/tile_ops.h"

namespace {

const QString kAskedOpen = QStringLiteral("open: ") + kOpenImageTitle + " | " + kMapFilter;
const QString kAskedSave = QStringLiteral("save: ") + kSaveTitle + " | " + kMapFilter;

class MapCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        doc.replaceSheet(makeTestImage(3 * 8 + 2, 2 * 8 + 5), 8, 0);
    }

    void TearDown() override { g_failWriteForTesting = nullptr; }

    QString pathOf(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    Document doc;
    ScriptedDialogs dialogs;
};

TEST_F(MapCommands, WithoutASheetNothingIsReadOrAskedAndTheUserIsTold)
{
    Document empty;
    const QString path = pathOf("level.zeko-map");
    writeFileBytes(path, "0\r\n");
    for (const QString& given : {path, QString()}) {
        EXPECT_FALSE(openMapFile(empty, dialogs, given));
        EXPECT_EQ(empty.remapped(), 0);
    }
    EXPECT_EQ(dialogs.asked, QStringList({"error", "error"}));
    EXPECT_EQ(dialogs.errors.first(), "Open the sheet this map belongs to first.");

    dialogs.asked.clear();
    EXPECT_FALSE(saveMapFile(empty, dialogs));
    EXPECT_TRUE(dialogs.asked.isEmpty());
}

TEST_F(MapCommands, OpensTheChosenFileAsTheNewMap)
{
    TileMap swapped = TileMap::identity(3, 2);
    std::swap(swapped.at(0, 0), swapped.at(2, 1));
    const QString path = pathOf("level.zeko-map");
    writeFileBytes(path, writeMapText(swapped));
    dialogs.openAnswers.push_back({path, 0});
    doc.swapTiles(1, 0, 1, 1);
    ASSERT_TRUE(doc.mapUnsaved());

    EXPECT_TRUE(openMapFile(doc, dialogs, QString()));

    EXPECT_EQ(dialogs.asked, QStringList{kAskedOpen});
    EXPECT_EQ(doc.tileMap(), swapped);
    EXPECT_EQ(doc.remapped(), 1);
    EXPECT_FALSE(doc.mapUnsaved());
}

TEST_F(MapCommands, CancellingTheOpenDialogChangesNothing)
{
    dialogs.openAnswers.push_back({});
    const TileMap before = doc.tileMap();
    EXPECT_FALSE(openMapFile(doc, dialogs, QString()));
    EXPECT_EQ(doc.tileMap(), before);
    EXPECT_EQ(doc.remapped(), 0);
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(MapCommands, AFileThatDoesNotFitOrCannotBeReadChangesNothingAndIsExplained)
{
    QByteArray repeated = writeMapText(TileMap::identity(3, 2));
    repeated.replace("5\r\n", "4\r\n");
    QDir(dir.path()).mkdir("folder.zeko-map");
    const struct {
        const char* name;
        QByteArray bytes;  // not written when empty
        QString message;
    } cases[] = {
        {"level.zeko-map", writeMapText(TileMap::identity(4, 2)),
         "“" + pathOf("level.zeko-map") +
             "” holds 8 tile numbers, but the open sheet has 6 tiles of 8 × 8."},
        {"repeated.zeko-map", repeated, "Tile number 4 appears twice."},
        {"gap.zeko-map", "0\r\n1\r\n\r\n3\r\n4\r\n5\r\n", "Line 3 holds no tile number."},
        {"range.zeko-map", "0\r\n1\r\n2\r\n3\r\n4\r\n6\r\n",
         "Line 6 holds tile number 6, but the tiles of the open sheet are numbered 0 to 5."},
        {"missing.zeko-map", {}, "“" + pathOf("missing.zeko-map") + "” does not exist."},
        {"folder.zeko-map", {}, "“" + pathOf("folder.zeko-map") + "” is a folder, not a map file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = pathOf(c.name);
        if (!c.bytes.isEmpty())
            writeFileBytes(path, c.bytes);
        doc.swapTiles(1, 0, 1, 1);
        const TileMap before = doc.tileMap();
        dialogs.errors.clear();

        EXPECT_FALSE(openMapFile(doc, dialogs, path));

        EXPECT_EQ(dialogs.errors, QStringList{c.message});
        EXPECT_EQ(doc.tileMap(), before);
        EXPECT_EQ(doc.remapped(), 1);
        EXPECT_TRUE(doc.mapUnsaved());
    }
}

TEST_F(MapCommands, AFarTooLargeFileIsNotRead)
{
    const QString path = pathOf("huge.zeko-map");
    writeFileBytes(path, QByteArray(2 << 20, '\n'));
    EXPECT_FALSE(openMapFile(doc, dialogs, path));
    EXPECT_EQ(dialogs.errors,
              QStringList{"“" + path + "” is too large to be the map of the open sheet."});
}

TEST_F(MapCommands, SavesUnderTheChosenNameWithTheMapExtension)
{
    QDir(dir.path()).mkdir("maps.v2");
    const struct {
        const char* typed;
        const char* written;
    } cases[] = {
        {"level", "level.zeko-map"},
        {"level.ZEKO-MAP", "level.ZEKO-MAP"},
        {"mixed.Zeko-Map", "mixed.Zeko-Map"},
        {"level.txt", "level.txt.zeko-map"},
        {"maps.v2/level", "maps.v2/level.zeko-map"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        dialogs.saveAnswers.push_back({pathOf(c.typed), 0});
        doc.swapTiles(1, 0, 1, 1);
        ASSERT_TRUE(doc.mapUnsaved());

        EXPECT_TRUE(saveMapFile(doc, dialogs));

        EXPECT_EQ(dialogs.asked.last(), kAskedSave);
        EXPECT_EQ(readFileBytes(pathOf(c.written)), writeMapText(doc.tileMap()));
        EXPECT_FALSE(doc.mapUnsaved());
    }
    // The identity of three by two tiles, each number on its own CR LF line.
    EXPECT_EQ(readFileBytes(pathOf("level.zeko-map")).size(), 18);
}

TEST_F(MapCommands, CancellingTheSaveDialogWritesNothing)
{
    dialogs.saveAnswers.push_back({});
    doc.swapTiles(1, 0, 1, 1);
    EXPECT_FALSE(saveMapFile(doc, dialogs));
    EXPECT_TRUE(doc.mapUnsaved());
    EXPECT_TRUE(folderEntries(dir.path()).isEmpty());
}

TEST_F(MapCommands, AFailedSaveKeepsTheOldFileAndSaysWhy)
{
    const QString path = pathOf("level.zeko-map");
    writeFileBytes(path, "old");
    g_failWriteForTesting = [](qint64) { return true; };
    dialogs.saveAnswers.push_back({path, 0});
    doc.swapTiles(1, 0, 1, 1);

    EXPECT_FALSE(saveMapFile(doc, dialogs));

    EXPECT_EQ(readFileBytes(path), "old");
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors.first().contains(path));
    EXPECT_TRUE(doc.mapUnsaved());

    g_failWriteForTesting = nullptr;
    dialogs.saveAnswers.push_back({pathOf("no such folder/level"), 0});
    EXPECT_FALSE(saveMapFile(doc, dialogs));
    EXPECT_EQ(dialogs.errors.size(), 2);
}

TEST_F(MapCommands, ASavedMapPutsARearrangedSheetBackAnotherDay)
{
    const QImage original = doc.workingImage().copy();
    ASSERT_EQ(doc.swapTiles(0, 0, 2, 1), QString());
    ASSERT_EQ(doc.swapTiles(1, 0, 0, 1), QString());
    dialogs.saveAnswers.push_back({pathOf("level"), 0});
    ASSERT_TRUE(saveMapFile(doc, dialogs));

    Document later;
    later.replaceSheet(doc.workingImage(), 8, 0);
    ASSERT_TRUE(openMapFile(later, dialogs, pathOf("level.zeko-map")));
    ASSERT_EQ(later.resetMap(), QString());

    EXPECT_TRUE(sameRgb(later.workingImage(), original));
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

}  // namespace

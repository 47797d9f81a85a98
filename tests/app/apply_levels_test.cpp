#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>

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
    dialogs.openFilesAnswers = {{csv, map, other}};

    window->menuAction(MenuCommand::ApplyToLevels)->trigger();

    EXPECT_EQ(dialogs.asked.value(1),
              QStringLiteral("open files: Please choose level files.. | Level Files "
                             "(*.tmx;*.tsx;*.tmj;*.tsj;*.json;*.csv)|*.tmx;*.tsx;*.tmj;*.tsj;*.json;"
                             "*.csv|All Files (*)|*"));
    EXPECT_EQ(readFileBytes(csv), "5,0,-1\n3,,7\n");
    const QByteArray remapped = readFileBytes(map);
    EXPECT_TRUE(remapped.contains("\n6,1\n")) << remapped.toStdString();
    EXPECT_TRUE(remapped.contains("spacing=\"1\"")) << remapped.toStdString();
    EXPECT_TRUE(remapped.contains("width=\"68\" height=\"34\"")) << remapped.toStdString();
    EXPECT_EQ(readFileBytes(other), tmx("other.png", "1,6"));
    ASSERT_EQ(dialogs.infos.size(), 1);
    EXPECT_TRUE(dialogs.infos[0].startsWith(
        QStringLiteral("2 files updated (4 cells changed), 1 skipped, 0 failed.\n\nSkipped “%1”")
            .arg(other)))
        << dialogs.infos[0].toStdString();
    EXPECT_TRUE(dialogs.errors.isEmpty());

    // Cancelling the dialog writes nothing.
    dialogs.openFilesAnswers = {{}};
    window->menuAction(MenuCommand::ApplyToLevels)->trigger();
    EXPECT_EQ(readFileBytes(csv), "5,0,-1\n3,,7\n");
    EXPECT_EQ(dialogs.infos.size(), 1);
}

}  // namespace

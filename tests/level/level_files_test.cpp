// Whole runs over files on disk: external tilesets done once, failures and skips leaving files as
// they were while the others are done, output into another folder, and which tileset is the sheet.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include "document/atomic_file.h"
#include "level/level_remap.h"
#include "level/sheet_choice.h"
#include "support/image_files.h"
#include "support/level_files.h"

namespace {

TileRemap fourTiles()
{
    TileRemap remap;
    remap.newIndexOf = {2, 0, 3, 1};
    return remap;
}

const QByteArray kSheetTsx =
    "<tileset name=\"sheet\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"4\" "
    "columns=\"2\">\n <image source=\"sheet.png\" width=\"16\" height=\"16\"/>\n"
    " <tile id=\"1\"><animation><frame tileid=\"3\" duration=\"9\"/></animation></tile>\n"
    "</tileset>\n";

QByteArray mapUsing(const QByteArray& tilesetSource, const QByteArray& cells)
{
    return "<map>\n <tileset firstgid=\"1\" source=\"" + tilesetSource +
           "\"/>\n <layer name=\"L\" width=\"2\" height=\"1\"><data encoding=\"csv\">" + cells +
           "</data></layer>\n</map>\n";
}

class LevelRunTest : public ::testing::Test
{
  protected:
    QString path(const QString& name) const { return QDir(folder.path()).filePath(name); }
    void put(const QString& name, const QByteArray& bytes)
    {
        QDir(folder.path()).mkpath(QFileInfo(path(name)).path());
        writeFileBytes(path(name), bytes);
    }
    QByteArray get(const QString& name) const { return readFileBytes(path(name)); }
    QStringList paths(const QStringList& names) const
    {
        QStringList out;
        for (const QString& name : names)
            out << path(name);
        return out;
    }
    // What happened to each file, in order: "a.tmx updated 2", "b.tmx skipped", ...
    QStringList outcomes(const LevelRemapRun& run) const
    {
        QStringList out;
        for (const LevelFileResult& file : run.files) {
            const QString name = QDir(folder.path()).relativeFilePath(file.path);
            switch (file.status) {
            case LevelFileStatus::Updated:
                out << QStringLiteral("%1 updated %2")
                           .arg(name)
                           .arg(file.cellsChanged + file.tilesMoved);
                break;
            case LevelFileStatus::Unchanged:
                out << name + QStringLiteral(" unchanged");
                break;
            case LevelFileStatus::Skipped:
                out << name + QStringLiteral(" skipped");
                break;
            case LevelFileStatus::Failed:
                out << name + QStringLiteral(" failed");
                break;
            }
        }
        return out;
    }

    QTemporaryDir folder;
};

TEST_F(LevelRunTest, AnExternalTilesetIsRemappedOnceHoweverManyMapsNameIt)
{
    put("tiles/sheet.tsx", kSheetTsx);
    put("a.tmx", mapUsing("tiles/sheet.tsx", "1,2"));
    put("b.tmx", mapUsing("tiles/sheet.tsx", "3,0"));
    put("deep/c.tmx", mapUsing("../tiles/sheet.tsx", "4,4"));
    put("d.csv", "0,1\n2,3\n");
    const QStringList files = paths({"a.tmx", "b.tmx", "tiles/sheet.tsx", "deep/c.tmx", "d.csv"});
    const QByteArray original = get("tiles/sheet.tsx");

    const LevelRemapRun run = remapLevelFiles(files, fourTiles(), {});
    EXPECT_EQ(outcomes(run),
              QStringList({"a.tmx updated 2", "tiles/sheet.tsx updated 2", "b.tmx updated 1",
                           "tiles/sheet.tsx skipped", "deep/c.tmx updated 2", "d.csv updated 4"}));
    EXPECT_EQ(run.files[3].reason, QStringLiteral("it was already remapped in this run"));
    EXPECT_EQ(get("tiles/sheet.tsx"), QByteArray(kSheetTsx)
                                          .replace("id=\"1\"", "id=\"0\"")
                                          .replace("tileid=\"3\"", "tileid=\"1\""));
    EXPECT_EQ(get("a.tmx"), mapUsing("tiles/sheet.tsx", "3,1"));
    EXPECT_EQ(get("deep/c.tmx"), mapUsing("../tiles/sheet.tsx", "2,2"));
    EXPECT_EQ(run.summary(),
              QStringLiteral("5 files updated (9 cells changed), 1 skipped, 0 failed."));

    // A second run with the same remap would permute everything again; its inverse undoes the
    // first.
    const LevelRemapRun back = remapLevelFiles(files, fourTiles().inverse(), {});
    EXPECT_EQ(back.count(LevelFileStatus::Updated), 5);
    EXPECT_EQ(get("tiles/sheet.tsx"), original);
    EXPECT_EQ(get("a.tmx"), mapUsing("tiles/sheet.tsx", "1,2"));
    EXPECT_EQ(get("d.csv"), QByteArray("0,1\n2,3\n"));
}

// Tile objects placed through templates (TMX and JSON forms): a template of the sheet follows it
// like a tileset file, once per run and along with the maps that use it; a template of another
// sheet stays as it was, and so does a file whose bytes would not change.
TEST_F(LevelRunTest, TemplatesFollowTheSheetAlongWithTheMapsThatUseThem)
{
    put("tiles/sheet.tsx", kSheetTsx);
    const QByteArray tree = "<template>\n <tileset firstgid=\"1\" source=\"../tiles/sheet.tsx\"/>\n"
                            " <object gid=\"2\" width=\"8\" height=\"8\"/>\n</template>\n";
    const QByteArray rock = "<template><tileset firstgid=\"1\" name=\"o\" tilecount=\"4\"><image "
                            "source=\"o.png\"/></tileset><object gid=\"2\"/></template>";
    const QByteArray bush = R"({"type": "template",
 "tileset": {"firstgid": 1, "source": "sheet.tsj"}, "object": {"gid": 3, "width": 8}})";
    const QByteArray sheetTsj = R"({"type": "tileset", "image": "tiles/sheet.png", "tilecount": 4,
 "columns": 2, "tilewidth": 8, "tileheight": 8})";
    for (const auto& [name, text] : {std::pair{"templates/tree.tx", tree},
                                     {"templates/rock.tx", rock}, {"bush.tj", bush},
                                     {"sheet.tsj", sheetTsj}})
        put(name, text);
    auto tmx = [](const QByteArray& cells, const QByteArray& ownGid) {
        return mapUsing("tiles/sheet.tsx", cells).replace("</map>", R"(<objectgroup name="things">
 <object id="1" template="templates/tree.tx"/><object id="2" template="templates/tree.tx" gid=")" +
            ownGid + R"("/><object id="3" template="templates/rock.tx"/></objectgroup></map>)");
    };
    auto tmj = [](const QByteArray& cell) {
        return R"({"type": "map", "tilesets": [{"firstgid": 1, "source": "tiles/sheet.tsx"}],
 "layers": [{"type": "tilelayer", "name": "L", "width": 1, "height": 1, "data": [)" + cell +
               R"(]}, {"type": "objectgroup", "name": "things", "objects": [{"id": 1,
 "template": "bush.tj"}, {"id": 2, "template": "templates/tree.tx"}]}]})";
    };
    put("a.tmx", tmx("1,2", "3"));
    put("b.tmj", tmj("4"));
    const QDateTime yesterday = QDateTime::currentDateTime().addDays(-1);
    QFile old(path("sheet.tsj"));
    ASSERT_TRUE(old.open(QIODevice::ReadWrite) &&
                old.setFileTime(yesterday, QFileDevice::FileModificationTime));

    const LevelRemapRun run =
        remapLevelFiles(paths({"a.tmx", "b.tmj", "templates/tree.tx"}), fourTiles(), {});
    EXPECT_EQ(outcomes(run),
              QStringList({"a.tmx updated 3", "tiles/sheet.tsx updated 2",
                           "templates/tree.tx updated 1", "b.tmj updated 1", "bush.tj updated 1",
                           "sheet.tsj unchanged", "templates/tree.tx skipped"}));
    EXPECT_EQ(get("a.tmx"), tmx("3,1", "4"));
    EXPECT_EQ(get("templates/tree.tx"), QByteArray(tree).replace("gid=\"2\"", "gid=\"1\""));
    EXPECT_EQ(get("templates/rock.tx"), rock);
    EXPECT_EQ(get("b.tmj"), tmj("2"));
    EXPECT_EQ(get("bush.tj"), QByteArray(bush).replace("\"gid\": 3", "\"gid\": 4"));
    EXPECT_EQ(QFileInfo(path("sheet.tsj")).lastModified().toSecsSinceEpoch(),
              yesterday.toSecsSinceEpoch());
}

// A map and its tileset file are written all or nothing: the second one failing to take its place
// puts the first one back, and leaves no temporary file behind.
TEST_F(LevelRunTest, AMapAndItsTilesetAreWrittenAllOrNothing)
{
    put("tiles/sheet.tsx", kSheetTsx);
    put("a.tmx", mapUsing("tiles/sheet.tsx", "1,2"));
    g_failRenameForTesting = [](qsizetype placed) { return placed == 1; };
    const LevelRemapRun failed = remapLevelFiles(paths({"a.tmx"}), fourTiles(), {});
    g_failRenameForTesting = nullptr;
    EXPECT_EQ(outcomes(failed), QStringList({"a.tmx failed", "tiles/sheet.tsx failed"}));
    EXPECT_EQ(failed.files[0].reason, QStringLiteral("it goes with “%1”, which could not be "
                                                     "written").arg(path("tiles/sheet.tsx")));
    EXPECT_TRUE(failed.files[1].reason.contains(QStringLiteral("could not take its place")));
    EXPECT_EQ(get("a.tmx"), mapUsing("tiles/sheet.tsx", "1,2"));
    EXPECT_EQ(get("tiles/sheet.tsx"), kSheetTsx);
    EXPECT_EQ(folderEntries(folder.path()), QStringList({"a.tmx", "tiles"}));
    EXPECT_EQ(folderEntries(path("tiles")), QStringList({"sheet.tsx"}));

    // Without the failure both are written; through a link, the file linked to, the link staying.
    ASSERT_TRUE(QFile::link(path("a.tmx"), path("link.tmx")));
    EXPECT_EQ(outcomes(remapLevelFiles(paths({"link.tmx"}), fourTiles(), {})),
              QStringList({"link.tmx updated 2", "tiles/sheet.tsx updated 2"}));
    EXPECT_TRUE(QFileInfo(path("link.tmx")).isSymLink());
    EXPECT_EQ(get("a.tmx"), mapUsing("tiles/sheet.tsx", "3,1"));
}

// A project's level files go with it; one named alone first is done once, from its project.
TEST_F(LevelRunTest, AnLdtkProjectIsWrittenWithItsLevelFilesAllOrNothing)
{
    const QByteArray project =
        R"({"defs":{"tilesets":[{"__cWid":2,"__cHei":2,"uid":1,"relPath":"sheet.png",)"
        R"("tileGridSize":8}]},"levels":[{"externalRelPath":"world/a.ldtkl"},)"
        R"({"externalRelPath":"world/b.ldtkl"}]})";
    auto level = [](const char* tile) {
        return QByteArray(R"({"layerInstances":[{"__tilesetDefUid":1,"gridTiles":[)") + tile +
               "]}]}";
    };
    put("world.ldtk", project);
    put("world/a.ldtkl", level(R"({"src":[8,0],"t":1})"));
    put("world/b.ldtkl", level(R"({"src":[8,8],"t":4})"));
    EXPECT_EQ(outcomes(remapLevelFiles(paths({"world/b.ldtkl", "world.ldtk"}), fourTiles(), {})),
              QStringList({"world/b.ldtkl failed", "world.ldtk failed"}));
    EXPECT_EQ(get("world/a.ldtkl"), level(R"({"src":[8,0],"t":1})"));

    put("world/b.ldtkl", level(R"({"src":[8,8],"t":3})"));
    EXPECT_EQ(outcomes(remapLevelFiles(paths({"world/a.ldtkl", "world.ldtk"}), fourTiles(), {})),
              QStringList({"world/a.ldtkl updated 1", "world.ldtk unchanged",
                           "world/b.ldtkl updated 1"}));
    EXPECT_EQ(get("world/a.ldtkl"), level(R"({"src":[0,0],"t":0})"));
    EXPECT_EQ(get("world/b.ldtkl"), level(R"({"src":[8,0],"t":1})"));
    EXPECT_EQ(get("world.ldtk"), project);
}

TEST_F(LevelRunTest, FailedAndSkippedFilesStayAsTheyWereWhileTheOthersAreDone)
{
    put("tiles/sheet.tsx", kSheetTsx);
    // Every level shows the one file called sheet.png: by its name alone it is the sheet.
    const QByteArray broken = QByteArray(kSheetTsx)
                                  .replace("tile id=\"1\"", "tile id=\"7\"")
                                  .replace("\"sheet.png\"", "\"tiles/sheet.png\"");
    put("broken.tsx", broken);
    const QByteArray beyond = mapUsing("tiles/sheet.tsx", "1,9");
    const QByteArray other =
        "<map><tileset firstgid=\"1\" name=\"o\" tilecount=\"4\"><image source=\"o.png\"/>"
        "</tileset></map>";
    const QByteArray usesBroken = mapUsing("broken.tsx", "1,2");
    const QByteArray missingTileset = mapUsing("gone.tsx", "1,2");
    put("beyond.tmx", beyond);
    put("other.tmx", other);
    put("uses-broken.tmx", usesBroken);
    put("missing-tileset.tmx", missingTileset);
    put("good.tmx", mapUsing("tiles/sheet.tsx", "1,2"));
    const QByteArray lost = R"({"defs":{"tilesets":[{"__cWid":2,"__cHei":2,"uid":1,)"
                            R"("relPath":"tiles/sheet.png","tileGridSize":8}]},)"
                            R"("levels":[{"externalRelPath":"lost/a.ldtkl"}]})";
    put("lost.ldtk", lost);
    LevelRemapOptions options;
    options.sheet = QStringLiteral("sheet.png");

    const LevelRemapRun run =
        remapLevelFiles(paths({"beyond.tmx", "other.tmx", "nowhere.tmx", "uses-broken.tmx",
                               "missing-tileset.tmx", "lost.ldtk", "good.tmx"}),
                        fourTiles(), options);
    EXPECT_EQ(outcomes(run), QStringList({"beyond.tmx failed", "other.tmx skipped",
                                          "nowhere.tmx failed", "uses-broken.tmx failed",
                                          "broken.tsx failed", "missing-tileset.tmx failed",
                                          "lost.ldtk failed", "good.tmx updated 2",
                                          "tiles/sheet.tsx updated 2"}));
    // A map that fails does not carry its tileset along: the tileset was untouched until good.tmx.
    EXPECT_EQ(get("beyond.tmx"), beyond);
    EXPECT_EQ(get("other.tmx"), other);
    EXPECT_EQ(get("uses-broken.tmx"), usesBroken);
    EXPECT_EQ(get("broken.tsx"), broken);
    EXPECT_EQ(get("missing-tileset.tmx"), missingTileset);
    EXPECT_FALSE(QFileInfo::exists(path("nowhere.tmx")));
    EXPECT_EQ(get("good.tmx"), mapUsing("tiles/sheet.tsx", "3,1"));

    EXPECT_EQ(
        run.files[0].message(),
        QStringLiteral("Left “%1” as it was: line 3, column 62, layer “L”, cell (1, 0): gid 9 lies "
                       "beyond the tileset “sheet” (gids 1 to 4).")
            .arg(path("beyond.tmx")));
    EXPECT_EQ(run.files[1].message(),
              QStringLiteral("Skipped “%1”: it does not use the sheet “sheet.png” "
                             "(its tilesets show “o.png”).")
                  .arg(path("other.tmx")));
    EXPECT_EQ(run.files[2].message(),
              QStringLiteral("Left “%1” as it was: “%1” does not exist.").arg(path("nowhere.tmx")));
    EXPECT_EQ(run.files[3].reason,
              QStringLiteral("its tileset “%1” could not be remapped").arg(path("broken.tsx")));
    EXPECT_EQ(run.files[4].message(),
              QStringLiteral("Left “%1” as it was: line 3, column 12, tileset "
                             "“sheet”: the tile id 7 lies beyond the tileset's 4 tiles.")
                  .arg(path("broken.tsx")));
    EXPECT_EQ(run.files[5].message(),
              QStringLiteral("Left “%1” as it was: line 2, column 2: its tileset cannot be used: "
                             "“%2” does not exist.")
                  .arg(path("missing-tileset.tmx"), path("gone.tsx")));
    EXPECT_EQ(get("lost.ldtk"), lost);
    EXPECT_TRUE(run.files[6].reason.startsWith(QStringLiteral("its level file “%1” cannot be read")
                                                   .arg(path("lost/a.ldtkl"))))
        << run.files[6].reason.toStdString();
    EXPECT_EQ(run.summary(),
              QStringLiteral("2 files updated (2 cells changed), 1 skipped, 6 failed."));
}

TEST_F(LevelRunTest, ResultsGoIntoAnotherFolderWithoutTouchingTheLevels)
{
    put("one/a.csv", "0,1\n");
    put("two/a.csv", "2,3\n");
    put("b.csv", "3\n");
    QDir(folder.path()).mkdir("out");
    const LevelRemapRun run = remapLevelFiles(paths({"one/a.csv", "two/a.csv", "b.csv"}),
                                              fourTiles(), {}, levelOutputIntoFolder(path("out")));
    EXPECT_EQ(outcomes(run),
              QStringList({"one/a.csv updated 2", "two/a.csv failed", "b.csv updated 1"}));
    EXPECT_EQ(run.files[1].reason,
              QStringLiteral("its result would overwrite “%1”, written before in this run")
                  .arg(path("out/a.csv")));
    EXPECT_EQ(get("out/a.csv"), QByteArray("2,0\n"));
    EXPECT_EQ(get("out/b.csv"), QByteArray("1\n"));
    EXPECT_EQ(get("one/a.csv"), QByteArray("0,1\n"));
    EXPECT_EQ(run.files[0].message(), QStringLiteral("Updated “%1” into “%2”: 2 cells changed.")
                                          .arg(path("one/a.csv"), path("out/a.csv")));

    // A folder that is not there: the write fails and says so.
    const LevelRemapRun nowhere =
        remapLevelFiles(paths({"b.csv"}), fourTiles(), {}, levelOutputIntoFolder(path("missing")));
    ASSERT_EQ(nowhere.count(LevelFileStatus::Failed), 1);
    EXPECT_TRUE(nowhere.files[0].reason.startsWith(
        QStringLiteral("Could not save “%1”: the folder").arg(path("missing/b.csv"))))
        << nowhere.files[0].reason.toStdString();
}

// Into a folder, a map whose tileset lies elsewhere would show the original tileset: refused, and
// nothing of it written; beside its map the tileset goes along.
TEST_F(LevelRunTest, IntoAFolderAMapMustFindItsRemappedTileset)
{
    put("tiles/sheet.tsx", kSheetTsx);
    put("sheet.tsx", kSheetTsx);
    put("deep/c.tmx", mapUsing("../tiles/sheet.tsx", "1,2"));
    put("a.tmx", mapUsing("sheet.tsx", "1,2"));
    QDir(folder.path()).mkdir("out");
    const LevelRemapRun run = remapLevelFiles(paths({"deep/c.tmx", "a.tmx"}), fourTiles(), {},
                                              levelOutputIntoFolder(path("out")));
    EXPECT_EQ(outcomes(run),
              QStringList({"deep/c.tmx failed", "a.tmx updated 2", "sheet.tsx updated 2"}));
    EXPECT_TRUE(run.files[0].reason.startsWith(
        QStringLiteral("written to “%1” it would show the tileset “%2”")
            .arg(path("out/c.tmx"), QDir::cleanPath(path("out/../tiles/sheet.tsx")))))
        << run.files[0].reason.toStdString();
    EXPECT_FALSE(QFile::exists(path("out/c.tmx")));
    EXPECT_EQ(get("out/a.tmx"), mapUsing("sheet.tsx", "3,1"));
    EXPECT_EQ(get("tiles/sheet.tsx"), QByteArray(kSheetTsx));
}

TEST_F(LevelRunTest, ARunRefusesARemapThatIsNoPermutation)
{
    put("a.csv", "0\n");
    TileRemap twice;
    twice.newIndexOf = {0, 0};
    const LevelRemapRun run = remapLevelFiles(paths({"a.csv"}), twice, {});
    EXPECT_TRUE(run.files.empty());
    EXPECT_EQ(
        run.summary(),
        QStringLiteral(
            "The tile map cannot be applied to levels: two tiles would stand at position 0."));
    LevelRemapOptions two;
    two.firstId = 2;
    EXPECT_FALSE(remapLevelFiles(paths({"a.csv"}), fourTiles(), two).error.isEmpty());
    EXPECT_EQ(get("a.csv"), QByteArray("0\n"));
}

// Which tilesets show the sheet, named by path (that file only), by file name (the one image of
// that name) or not at all.
TEST_F(LevelRunTest, TheSheetIsFoundByItsFileOrByItsName)
{
    put("art/sheet.png", "png");
    put("old/sheet.png", "png");
    put("art/other.png", "png");
    auto tileset = [&](const QString& image, const QString& folderName = QString()) {
        TilesetFacts facts;
        facts.image = image;
        facts.folder = folderName.isEmpty() ? folder.path() : path(folderName);
        return facts;
    };
    const std::vector<TilesetFacts> tilesets = {tileset("art/sheet.png"),
                                                tileset("../old/sheet.png", "art"),
                                                tileset("art/other.png"), tileset("")};
    using V = SheetChoice::Verdict;
    const struct {
        QString sheet;
        std::vector<TilesetFacts> tilesets;
        V verdict;
        std::vector<bool> isSheet;
    } cases[] = {
        {path("art/sheet.png"), tilesets, V::Use, {true, false, false, false}},
        {path("art/../old/sheet.png"), tilesets, V::Use, {false, true, false, false}},
        {QStringLiteral("other.png"), tilesets, V::Use, {false, false, true, false}},
        // Another file of a tileset image's name is another sheet.
        {path("old/other.png"), tilesets, V::Skip, {false, false, false, false}},
        {path("art/../sheet.png"), tilesets, V::Skip, {false, false, false, false}},
        {QStringLiteral("sheet.png"), tilesets, V::Refuse, {false, false, false, false}},
        {QStringLiteral("missing.png"), tilesets, V::Skip, {false, false, false, false}},
        {QString(), tilesets, V::Refuse, {false, false, false, false}},
        // Two tilesets showing one file are both the sheet; a tileset without an image never is.
        {QString(),
         {tileset("art/sheet.png"), tileset("sheet.png", "art"), tileset("")},
         V::Use,
         {true, true, false}},
        {QString(), {tileset("")}, V::Skip, {false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sheet.toStdString());
        const SheetChoice choice = chooseSheet(c.tilesets, c.sheet);
        EXPECT_EQ(choice.verdict, c.verdict) << choice.reason.toStdString();
        EXPECT_EQ(choice.isSheet, c.isSheet);
        EXPECT_EQ(choice.reason.isEmpty(), c.verdict == V::Use);
    }

    // By its name alone the sheet is one image in the whole run: levels that show two files of
    // that name leave it open, and nothing is changed.
    put("art/sheet.tsx", kSheetTsx);
    put("old/sheet.tsx", kSheetTsx);
    put("art/c.tmx", mapUsing("sheet.tsx", "1,2"));
    put("old/d.tmx", mapUsing("sheet.tsx", "1,2"));
    LevelRemapOptions byName;
    byName.sheet = QStringLiteral("sheet.png");
    const LevelRemapRun open =
        remapLevelFiles(paths({"art/c.tmx", "old/d.tmx"}), fourTiles(), byName);
    EXPECT_TRUE(open.files.empty());
    EXPECT_EQ(open.error,
              QStringLiteral("Several images that the levels show are called “sheet.png” (“%1”, "
                             "“%2”); name the sheet by its path. Nothing was changed.")
                  .arg(QDir::current().relativeFilePath(path("art/sheet.png")),
                       QDir::current().relativeFilePath(path("old/sheet.png"))));
    EXPECT_EQ(get("art/c.tmx"), mapUsing("sheet.tsx", "1,2"));
    EXPECT_EQ(get("art/sheet.tsx"), kSheetTsx);
    // By its path, only the levels of that file change.
    byName.sheet = path("old/sheet.png");
    EXPECT_EQ(outcomes(remapLevelFiles(paths({"art/c.tmx", "old/d.tmx"}), fourTiles(), byName)),
              QStringList({"art/c.tmx skipped", "old/d.tmx updated 2", "old/sheet.tsx updated 2"}));
}

}  // namespace

#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "document/atomic_file.h"
#include "app/file_commands.h"
#include "document/document.h"
#include "support/document_checks.h"
#include "support/image_files.h"
#include "support/scripted_dialogs.h"
#include "support/test_images.h"
#include "support/test_names.h"

namespace {

// A document in the middle of work: an 8 x 8 grid layout, a rearranged map, unsaved changes.
std::unique_ptr<Document> busyDocument()
{
    auto doc = std::make_unique<Document>();
    doc->replaceSheet(makeTestImage(18, 9), 8, 1);
    doc->swapTiles(0, 0, 1, 0);
    doc->setGridColor(qRgb(1, 2, 3));
    return doc;
}

class ImageCommandsTest : public testing::Test {
protected:
    QString savedPng(const QString& name, const QImage& image)
    {
        const QString path = dir.filePath(name);
        image.save(path, "PNG");
        return path;
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
};

TEST_F(ImageCommandsTest, OpenAsksForTheFileThenTheGridAndNumbersTheTiles)
{
    const QImage sheet = makeTestImage(20, 9);
    dialogs.openAnswers.push_back({savedPng("sheet.png", sheet), 0});
    dialogs.gridAnswers.push_back(GridAnswer::Grid8x8);
    auto doc = busyDocument();

    EXPECT_TRUE(openImage(*doc, dialogs, QString()));
    EXPECT_EQ(dialogs.asked,
              QStringList({QStringLiteral("open: %1 | %2").arg(kOpenImageTitle, kImageOpenFilter),
                           QStringLiteral("grid")}));
    EXPECT_TRUE(sameRgb(doc->workingImage(), sheet));
    EXPECT_EQ(doc->workingImage().format(), QImage::Format_BGR888);
    EXPECT_EQ(doc->tileMap(), TileMap::identity(2, 1));  // pitch 9
    EXPECT_EQ(doc->remapped(), 0);
    EXPECT_FALSE(doc->imageUnsaved());
    EXPECT_FALSE(doc->mapUnsaved());
    EXPECT_EQ(doc->gridColor(), qRgb(1, 2, 3));
}

TEST_F(ImageCommandsTest, GridAnswersSetTheLayoutAndClosingKeepsThePreviousOne)
{
    const struct {
        GridAnswer first;
        GridAnswer second;
        int tileSize;
        int gridFlag;
    } rows[] = {
        {GridAnswer::Grid8x8, GridAnswer::NoGrid, 16, 0},
        {GridAnswer::NoGrid, GridAnswer::Grid8x8, 8, 1},
        {GridAnswer::Grid8x8, GridAnswer::Grid16x16, 16, 1},
        {GridAnswer::Grid8x8, GridAnswer::Closed, 8, 1},
        {GridAnswer::Grid16x16, GridAnswer::Closed, 16, 1},
        {GridAnswer::Closed, GridAnswer::Closed, 16, 0},  // the layout at start-up
    };
    const QImage sheet = makeTestImage(40, 20);
    const QString path = savedPng("sheet.png", sheet);
    for (const auto& row : rows) {
        auto doc = std::make_unique<Document>();
        dialogs.gridAnswers = {row.first, row.second};
        ASSERT_TRUE(openImage(*doc, dialogs, path));
        ASSERT_TRUE(openImage(*doc, dialogs, path));
        EXPECT_EQ(doc->tileSize(), row.tileSize);
        EXPECT_EQ(doc->gridFlag(), row.gridFlag);
        const int pitch = row.tileSize + row.gridFlag;
        EXPECT_EQ(doc->tileMap(), TileMap::identity(40 / pitch, 20 / pitch));
    }
    EXPECT_TRUE(dialogs.allAnswered());
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(ImageCommandsTest, OneByOneImageHasNoFullTiles)
{
    dialogs.gridAnswers.push_back(GridAnswer::Grid8x8);
    auto doc = std::make_unique<Document>();
    ASSERT_TRUE(openImage(*doc, dialogs, savedPng("dot.png", makeTestImage(1, 1))));
    EXPECT_EQ(doc->workingImage().size(), QSize(1, 1));
    EXPECT_EQ(doc->tileMap().fullTiles(), 0);
}

TEST_F(ImageCommandsTest, CancelledOpenChangesNothing)
{
    dialogs.openAnswers.push_back({});
    auto doc = busyDocument();
    EXPECT_FALSE(openImage(*doc, dialogs, QString()));
    expectSameDocument(*doc, *busyDocument());
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(ImageCommandsTest, FailedOpenShowsWhyAndKeepsTheSheet)
{
    const QString text = dir.filePath("notes.png");
    writeFileBytes(text, "not a picture\n");
    const QString empty = dir.filePath("empty.bmp");
    writeFileBytes(empty, {});
    const QByteArray png = readFileBytes(savedPng("full.png", makeTestImage(64, 64)));
    const QString cut = dir.filePath("cut.png");
    writeFileBytes(cut, png.left(png.size() - 30));

    for (const QString& path : {dir.filePath("missing.png"), dir.path(), text, empty, cut}) {
        ScriptedDialogs script;  // no grid answer queued: asking would fail the test
        auto doc = busyDocument();
        EXPECT_FALSE(openImage(*doc, script, path));
        ASSERT_EQ(script.errors.size(), 1) << path.toStdString();
        EXPECT_TRUE(script.errors[0].contains(path)) << script.errors[0].toStdString();
        expectSameDocument(*doc, *busyDocument());
    }
}

struct SaveName {
    const char* typed;
    int filterIndex;
    const char* written;
};

void PrintTo(const SaveName& row, std::ostream* out)
{
    *out << '"' << row.typed << "\" with filter " << row.filterIndex;
}

class SaveNameTest : public ImageCommandsTest, public testing::WithParamInterface<SaveName> {};

TEST_P(SaveNameTest, FilterDecidesTheFormatAndTheMissingExtensionIsAppended)
{
    const SaveName row = GetParam();
    dialogs.saveAnswers.push_back({dir.filePath(QString::fromUtf8(row.typed)), row.filterIndex});
    auto doc = busyDocument();

    EXPECT_TRUE(saveImageAs(*doc, dialogs));
    EXPECT_EQ(dialogs.asked,
              QStringList(QStringLiteral("save: %1 | %2").arg(kSaveTitle, kImageSaveFilter)));
    EXPECT_TRUE(dialogs.errors.isEmpty());
    EXPECT_EQ(folderEntries(dir.path()), QStringList(QString::fromUtf8(row.written)));
    const QByteArray file = readFileBytes(dir.filePath(QString::fromUtf8(row.written)));
    EXPECT_TRUE(file.startsWith(row.filterIndex == 0 ? kPngSignature : QByteArray("BM")));

    auto expected = busyDocument();
    expected->markImageSaved();
    expectSameDocument(*doc, *expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SaveNameTest,
    testing::Values(SaveName{"sheet", 0, "sheet.png"}, SaveName{"sheet.PNG", 0, "sheet.PNG"},
                    SaveName{"sheet.Png", 0, "sheet.Png"},
                    SaveName{"sheet.bmp", 0, "sheet.bmp.png"},
                    SaveName{"sheet.", 0, "sheet..png"},
                    SaveName{"my sheet.old png", 0, "my sheet.old png.png"},
                    SaveName{"sheet", 1, "sheet.bmp"}, SaveName{"sheet.png", 1, "sheet.png.bmp"},
                    SaveName{"sheet.BMP", 1, "sheet.BMP"}),
    [](const testing::TestParamInfo<SaveName>& info) {
        // Dots spelt out, so that "sheet." and "sheet" differ.
        return testNameOf(QString::fromUtf8(info.param.typed)
                              .replace('.', QStringLiteral(" dot "))
                              .toStdString()) +
               (info.param.filterIndex == 0 ? "_PngFilter" : "_BmpFilter");
    });

TEST_F(ImageCommandsTest, SaveWithoutImageOrWhenCancelledWritesNothing)
{
    Document empty;
    EXPECT_FALSE(saveImageAs(empty, dialogs));
    EXPECT_TRUE(dialogs.asked.isEmpty());

    dialogs.saveAnswers.push_back({});
    auto doc = busyDocument();
    EXPECT_FALSE(saveImageAs(*doc, dialogs));
    EXPECT_TRUE(folderEntries(dir.path()).isEmpty());
    EXPECT_TRUE(dialogs.errors.isEmpty());
    expectSameDocument(*doc, *busyDocument());
}

// Restores the write hook whatever way a test ends.
struct WriteFailure {
    explicit WriteFailure(qint64 afterBytes)
    {
        g_failWriteForTesting = [afterBytes](qint64 soFar) { return soFar >= afterBytes; };
    }
    ~WriteFailure() { g_failWriteForTesting = nullptr; }
};

TEST_F(ImageCommandsTest, FailedSaveKeepsTheOldFileAndLeavesNoStrayFile)
{
    const QByteArray oldBytes = "last week's sheet";
    const QString blocker = dir.filePath("blocker");
    writeFileBytes(blocker, "a file where a folder should be");
    const QString locked = dir.filePath("locked");
    QDir(dir.path()).mkdir("locked");
    // So long that the temporary file beside it cannot be named, while the file itself exists.
    const QString longName = dir.filePath(QString(250, u'x') + ".png");

    const struct {
        const char* what;
        QString target;
        int filterIndex;
        qint64 failAfter;  // bytes before an injected full disk, or -1 for none
        bool needsPermissions;
    } rows[] = {
        {"disk full during PNG", dir.filePath("old.png"), 0, 100, false},
        {"disk full during BMP", dir.filePath("old.bmp"), 1, 100, false},
        {"disk full at once", dir.filePath("old.png"), 0, 0, false},
        {"name too long for a temporary file", longName, 0, -1, false},
        {"folder missing", dir.filePath("nowhere/sheet.png"), 0, -1, false},
        {"file in place of the folder", blocker + "/sheet.png", 0, -1, false},
        {"read-only folder", locked + "/sheet.png", 0, -1, true},
    };
    for (const auto& row : rows) {
        if (row.needsPermissions && geteuid() == 0)
            continue;  // permissions do not stop root
        SCOPED_TRACE(row.what);
        const bool targetFolderExists = QFileInfo(QFileInfo(row.target).path()).isDir();
        if (targetFolderExists)
            writeFileBytes(row.target, oldBytes);
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QStringList before = folderEntries(dir.path());
        const QStringList beforeLocked = folderEntries(locked);

        ScriptedDialogs script;
        script.saveAnswers.push_back({row.target, row.filterIndex});
        auto doc = busyDocument();
        bool saved = false;
        if (row.failAfter >= 0) {
            WriteFailure failure(row.failAfter);
            saved = saveImageAs(*doc, script);
        } else {
            saved = saveImageAs(*doc, script);
        }
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);

        EXPECT_FALSE(saved);
        ASSERT_EQ(script.errors.size(), 1);
        EXPECT_TRUE(script.errors[0].startsWith(QStringLiteral("Could not save “%1”: ").arg(row.target)))
            << script.errors[0].toStdString();
        if (targetFolderExists) {
            EXPECT_EQ(readFileBytes(row.target), oldBytes);
        }
        EXPECT_EQ(folderEntries(dir.path()), before);
        EXPECT_EQ(folderEntries(locked), beforeLocked);
        expectSameDocument(*doc, *busyDocument());
    }
}

TEST_F(ImageCommandsTest, SaveReplacesAnExistingFileWholly)
{
    const QString path = dir.filePath("sheet.bmp");
    writeFileBytes(path, QByteArray(100000, 'x'));
    dialogs.saveAnswers.push_back({path, 1});
    auto doc = busyDocument();
    ASSERT_TRUE(saveImageAs(*doc, dialogs));
    EXPECT_EQ(readFileBytes(path).size(), 54 + 9 * 56);  // 18 pixels of 3 bytes, padded to 56
    EXPECT_EQ(folderEntries(dir.path()), QStringList("sheet.bmp"));
}

TEST(GridColour, CancelKeepsItAndTheNextDialogStartsFromTheLastChoice)
{
    ScriptedDialogs dialogs;
    dialogs.colorAnswers = {qRgb(10, 20, 30), std::nullopt, qRgb(40, 50, 60)};
    auto doc = std::make_unique<Document>();
    chooseGridColor(*doc, dialogs);
    EXPECT_EQ(doc->gridColor(), qRgb(10, 20, 30));
    chooseGridColor(*doc, dialogs);
    EXPECT_EQ(doc->gridColor(), qRgb(10, 20, 30));
    chooseGridColor(*doc, dialogs);
    EXPECT_EQ(doc->gridColor(), qRgb(40, 50, 60));
    EXPECT_EQ(dialogs.colorInitials,
              std::vector<QRgb>({qRgb(255, 0, 255), qRgb(10, 20, 30), qRgb(10, 20, 30)}));
    EXPECT_FALSE(doc->hasImage());
}

}  // namespace

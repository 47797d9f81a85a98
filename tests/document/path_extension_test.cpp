#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "document/file_identity.h"
#include "document/path_extension.h"
#include "support/image_files.h"
#include "support/test_names.h"

namespace {

struct ExtensionRow {
    const char* path;
    const char* extension;
};

class PathExtensionTest : public testing::TestWithParam<ExtensionRow> {};

TEST_P(PathExtensionTest, TakesTheTextAfterTheLastDot)
{
    EXPECT_EQ(pathExtension(QString::fromUtf8(GetParam().path)),
              QString::fromUtf8(GetParam().extension));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PathExtensionTest,
    testing::Values(ExtensionRow{R"(C:\tiles\set.zeko-map)", "zeko-map"},
                    ExtensionRow{"a.b.png", "png"},
                    ExtensionRow{R"(C:\my.dir\sheet)", ""},
                    ExtensionRow{"sheet.old png", ""},
                    ExtensionRow{".png", ""},
                    ExtensionRow{R"(C:\dir\.png)", ""},
                    ExtensionRow{"sheet.", ""},
                    // Unix folders stop the scan like backslashes do.
                    ExtensionRow{"/home/me.v2/sheet", ""},
                    ExtensionRow{"/home/me/.png", ""},
                    ExtensionRow{"/home/me/sheet.PNG", "PNG"},
                    // A double quote ends the extension; the scan itself runs past it.
                    ExtensionRow{R"(sheet.png"x)", "png"},
                    ExtensionRow{"", ""},
                    ExtensionRow{"sheet", ""}),
    [](const testing::TestParamInfo<ExtensionRow>& info) {
        // Dots spelt out, so that "sheet." and "sheet" differ.
        return testNameOf(
            QString::fromUtf8(info.param.path).replace('.', QStringLiteral(" dot ")).toStdString());
    });

// Links and ".." lead where the file system says, for files there or not: "deep" links to
// real/sub, so "deep/.." is real, not the folder that holds the link.
TEST(FileIdentity, NamesEachFileOnceHoweverAPathReachesIt)
{
    QTemporaryDir dir;
    const auto at = [&](const char* path) { return dir.filePath(QString::fromUtf8(path)); };
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("real/sub")));
    writeFileBytes(at("real/a.png"), "a");
    ASSERT_TRUE(QFile::link(at("real/sub"), at("deep")));
    ASSERT_TRUE(QFile::link(at("real/a.png"), at("b.png")));
    const QString root = QDir(dir.path()).canonicalPath() + QLatin1Char('/');
    const struct {
        const char* path;
        const char* file;
    } rows[] = {{"real/a.png", "real/a.png"},         {"b.png", "real/a.png"},
                {"deep/../a.png", "real/a.png"},      {"./real//sub/../a.png", "real/a.png"},
                {"deep/new.png", "real/sub/new.png"}, {"deep/../new.png", "real/new.png"},
                {"gone/../real/a.png", "real/a.png"}, {"gone/x/../new.png", "gone/new.png"}};
    for (const auto& row : rows)
        EXPECT_EQ(fileIdentity(at(row.path)), root + QString::fromUtf8(row.file)) << row.path;

    // Relative paths start from the working folder.
    const QString working = QDir::currentPath();
    QDir::setCurrent(at("real"));
    EXPECT_EQ(fileIdentity(QStringLiteral("../deep/../a.png")), root + QStringLiteral("real/a.png"));
    EXPECT_EQ(fileIdentity(QStringLiteral("new.png")), root + QStringLiteral("real/new.png"));
    QDir::setCurrent(working);
}

}  // namespace

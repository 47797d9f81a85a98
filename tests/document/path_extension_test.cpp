#include <gtest/gtest.h>

#include "document/path_extension.h"

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
                    ExtensionRow{"sheet", ""}));

}  // namespace

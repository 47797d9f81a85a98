#include <gtest/gtest.h>

#include "document/drop_target.h"

namespace {

TEST(DropTarget, TheFirstPathDecidesByItsExtension)
{
    const struct {
        const char* dropped;
        const char* path;
        DropKind kind;
    } cases[] = {
        {"/a/sheet.png\n/a/level.zeko-map\n/a/other.zeko-map", "/a/sheet.png", DropKind::Image},
        {"/a/level.zeko-map\n/a/sheet.png", "/a/level.zeko-map", DropKind::Map},
        {"/a/level.ZEKO-MAP", "/a/level.ZEKO-MAP", DropKind::Map},
        {"C:\\maps\\level.Zeko-Map", "C:\\maps\\level.Zeko-Map", DropKind::Map},
        {"/a/maps.zeko-map/level", "/a/maps.zeko-map/level", DropKind::Image},
        {"/a/level.zeko-map.txt", "/a/level.zeko-map.txt", DropKind::Image},
        {"/a/notes.txt", "/a/notes.txt", DropKind::Image},
        {"/a/.zeko-map", "/a/.zeko-map", DropKind::Image},
    };
    for (const auto& c : cases) {
        const DropTarget target = dropTarget(QString::fromUtf8(c.dropped));
        EXPECT_EQ(target.path, QString::fromUtf8(c.path)) << c.dropped;
        EXPECT_EQ(target.kind, c.kind) << c.dropped;
    }
}

}  // namespace

#include "level/tileset_facts.h"

#include <QDir>
#include <QImageReader>
#include <climits>

#include "document/file_messages.h"
#include "image/tile_layout.h"

namespace {

// The tileset's tiles as it lays them out: margin and spacing, no gutter.
TileLayout64 layoutOf(const TilesetFacts& tileset)
{
    return TileLayout64::spaced(tileset.tileWidth, tileset.tileHeight, tileset.margin,
                                tileset.spacing);
}

// Whether the tileset's numbers make a layout at all; how many tiles fit is unknown otherwise.
bool laidOut(const TilesetFacts& tileset, int64_t side, int64_t tile)
{
    return side >= 0 && tile > 0 && tileset.spacing >= 0 && tileset.margin >= 0;
}

QString pixelSize(int64_t width, int64_t height)
{
    return QStringLiteral("%1 × %2 pixels").arg(width).arg(height);
}

// A new margin and spacing only describe the sheet's image as it now is: an image of another size
// was extruded otherwise (at another tile size, say), and its tiles would be cut wrongly.
QString checkLaidOutImage(const TilesetFacts& tileset, const TileRemap& remap)
{
    const SheetGeometry after = geometryAfter(tileset, remap);
    // The header alone tells the size; no pixel is decoded.
    QImageReader reader(QDir(tileset.folder).absoluteFilePath(tileset.image));
    const QSize size = reader.size();
    if (!size.isValid())
        return QStringLiteral("the image %1 of the tileset %2 cannot be read (%3), so it is not "
                              "known to have the size its new margin and spacing give (%4)")
            .arg(quotedPath(tileset.image), tileset.label(), reader.errorString(),
                 pixelSize(after.imageWidth, after.imageHeight));
    if (size.width() != after.imageWidth || size.height() != after.imageHeight)
        return QStringLiteral("the image %1 of the tileset %2 is %3, but a margin of %4 and a "
                              "spacing of %5 around its %6 × %7 tiles of %8 × %9 pixels give "
                              "%10")
            .arg(quotedPath(tileset.image), tileset.label(),
                 pixelSize(size.width(), size.height()))
            .arg(after.margin)
            .arg(after.spacing)
            .arg(tileset.knownColumns())
            .arg((tileset.knownTileCount() + tileset.knownColumns() - 1) / tileset.knownColumns())
            .arg(tileset.tileWidth)
            .arg(tileset.tileHeight)
            .arg(pixelSize(after.imageWidth, after.imageHeight));
    return QString();
}

}  // namespace

int64_t TilesetFacts::knownColumns() const
{
    if (columns >= 0)
        return columns;
    return laidOut(*this, imageWidth, tileWidth) ? layoutOf(*this).columnsIn(imageWidth) : -1;
}

int64_t TilesetFacts::knownTileCount() const
{
    if (tileCount >= 0)
        return tileCount;
    const int64_t across = knownColumns();
    const int64_t down =
        laidOut(*this, imageHeight, tileHeight) ? layoutOf(*this).rowsIn(imageHeight) : -1;
    return across < 0 || down < 0 ? -1 : across * down;
}

QString TilesetFacts::label() const
{
    return quotedPath(name.isEmpty() ? image : name);
}

QString completeFromImage(TilesetFacts& tileset)
{
    const bool sizeKnown = tileset.imageWidth >= 0 && tileset.imageHeight >= 0;
    if (sizeKnown || (tileset.tileCount >= 0 && tileset.columns >= 0) || tileset.image.isEmpty())
        return QString();
    // The header alone tells the size; no pixel is decoded.
    QImageReader reader(QDir(tileset.folder).absoluteFilePath(tileset.image));
    const QSize size = reader.size();
    if (!size.isValid() && tileset.tileCount >= 0)
        return QString();  // the count is known; only the columns stay unknown
    if (!size.isValid())
        return QStringLiteral("the tileset %1 gives neither its tile count nor its image size, and "
                              "its image %2 cannot be read (%3)")
            .arg(tileset.label(), quotedPath(tileset.image), reader.errorString());
    if (tileset.imageWidth < 0)
        tileset.imageWidth = size.width();
    if (tileset.imageHeight < 0)
        tileset.imageHeight = size.height();
    return QString();
}

bool leavesOutPadding(const TilesetFacts& tileset, const TileRemap& remap)
{
    const int64_t count = tileset.knownTileCount();
    return !remap.isRearrangement() && count <= remap.tileCount() &&
           count > remap.tileCount() - tileset.knownColumns();
}

QString checkSheetTileset(const TilesetFacts& tileset, const TileRemap& remap)
{
    const int64_t count = tileset.knownTileCount();
    if (count < 0)
        return QStringLiteral("the tileset %1 does not say how many tiles it has")
            .arg(tileset.label());
    // Tiles cut at another shape than the tileset's would show the wrong pixels.
    const bool known = tileset.tileWidth > 0 && tileset.tileHeight > 0 &&
                       tileset.tileWidth <= INT_MAX && tileset.tileHeight <= INT_MAX;
    const TileShape shape = known ? TileShape(int(tileset.tileWidth), int(tileset.tileHeight))
                                  : TileShape();
    const bool otherShape = known && remap.tile && *remap.tile != shape;
    if (!remap.keepsIds && count != remap.tileCount() && !leavesOutPadding(tileset, remap)) {
        QString message = QStringLiteral("the tileset %1 has %2 tiles, the tile map %3")
                              .arg(tileset.label(), QString::number(count),
                                   QString::number(remap.tileCount()));
        if (otherShape)
            message += QStringLiteral(" (the tileset's tiles are %1; --tile %2?)")
                           .arg(tileText(shape), shapeText(shape));
        return message;
    }
    if (otherShape)
        return QStringLiteral("the tileset %1's tiles are %2, but the sheet's were cut at %3; "
                              "--tile %4?")
            .arg(tileset.label(), tileText(shape), tileText(*remap.tile), shapeText(shape));
    const int64_t columns = tileset.knownColumns();
    if (remap.columns > 0 && columns >= 0 && columns != remap.columns)
        return QStringLiteral("the tileset %1 has %2 tile columns, the sheet %3")
            .arg(tileset.label(), QString::number(columns), QString::number(remap.columns));
    if (remap.grid == TileRemap::GridChange::None && !remap.changesLayout())
        return QString();
    // A packed sheet's last row may be short: its image still holds whole rows.
    if (columns <= 0)
        return QStringLiteral("the tileset %1 does not say how its tiles stand in columns")
            .arg(tileset.label());
    if (remap.grid == TileRemap::GridChange::None)
        return checkLaidOutImage(tileset, remap);
    if (tileset.margin != 0)
        return QStringLiteral("the tileset %1 has a margin of %2 pixels, but a grid starts at the "
                              "sheet's corner")
            .arg(tileset.label(), QString::number(tileset.margin));
    const bool added = remap.grid == TileRemap::GridChange::Added;
    if (tileset.spacing != (added ? 0 : 1))
        return added ? QStringLiteral("the tileset %1 has a spacing of %2 pixels, but the grid was "
                                      "added to a sheet without one")
                           .arg(tileset.label(), QString::number(tileset.spacing))
                     : QStringLiteral("the tileset %1 has a spacing of %2 pixels, but the grid was "
                                      "removed from a sheet that had a one-pixel grid")
                           .arg(tileset.label(), QString::number(tileset.spacing));
    return QString();
}

SheetGeometry geometryAfter(const TilesetFacts& tileset, const TileRemap& remap)
{
    // A line follows every whole tile, none comes before the first; strips beyond the whole tiles
    // are gone after a grid step.
    SheetGeometry after;
    after.spacing = remap.grid == TileRemap::GridChange::Added ? 1 : 0;
    const int64_t columns = tileset.knownColumns();
    const int64_t rows = (tileset.knownTileCount() + columns - 1) / columns;
    if (remap.changesLayout()) {
        // The margin on all four sides, the spacing only between tiles.
        after.margin = remap.margin >= 0 ? remap.margin : tileset.margin;
        after.spacing = remap.spacing >= 0 ? remap.spacing : tileset.spacing;
        const TileLayout64 layout = TileLayout64::spaced(tileset.tileWidth, tileset.tileHeight,
                                                         after.margin, after.spacing);
        after.imageWidth = layout.widthFor(columns);
        after.imageHeight = layout.heightFor(rows);
        return after;
    }
    // The grid's line is the gutter after every tile; the tileset calls it spacing.
    const TileLayout64 grid =
        TileLayout64::grid(tileset.tileWidth, tileset.tileHeight, after.spacing);
    after.imageWidth = grid.widthFor(columns);
    after.imageHeight = grid.heightFor(rows);
    return after;
}

#include "level/sheet_tileset.h"

#include <algorithm>

#include "document/file_messages.h"

namespace {

// Rewrites a per-tile cache: one unit of `width` characters per tile, in tile order, for the
// `units` tiles of the columns and rows the tileset will state (the rest of a packed sheet's last
// row is empty). A cache that does not hold one unit per tile is left for its editor to renew.
void remapCache(const QByteArray& bytes, Span span, int width, int64_t units,
                const TileRemap& remap, TextSplice& splice)
{
    if (!span.valid() || span.size() != qsizetype(remap.tileCount()) * width)
        return;
    const QByteArrayView old = QByteArrayView(bytes).sliced(span.begin, span.size());
    QByteArray now(qsizetype(std::max<int64_t>(units, remap.newTileCount())) * width, '0');
    std::vector<bool> filled(size_t(remap.newTileCount()), false);
    for (size_t tile = 0; tile < remap.newIndexOf.size(); ++tile) {
        const int32_t to = remap.newIndexOf[tile];
        if (to < 0 || filled[size_t(to)])
            continue;  // a merged tile keeps the first original's data
        filled[size_t(to)] = true;
        std::copy_n(old.data() + tile * width, width, now.data() + qsizetype(to) * width);
    }
    if (now != old)
        splice.replace(span, now);
}

// The tileset's geometry values as they stand and as they will: spacing, margin, image width
// and height, columns, rows and the tile count, each with its place in the file.
struct GeometryValue {
    Span span;
    int64_t before;
    int64_t after;
};

std::vector<GeometryValue> geometryValues(const SheetTileset& sheet, const TileRemap& remap)
{
    const TilesetSite& site = *sheet.site;
    const TilesetFacts& facts = sheet.facts;
    return {{site.spacing, facts.spacing, sheet.newSpacing},
            {site.margin, facts.margin, sheet.newMargin},
            {site.imageWidth, facts.imageWidth, sheet.newWidth},
            {site.imageHeight, facts.imageHeight, sheet.newHeight},
            {site.columns, sheet.columns, sheet.newColumns},
            {site.rows, sheet.columns > 0 ? sheet.count / sheet.columns : 0, sheet.newRows},
            {site.tileCount, sheet.count,
             remap.isRearrangement() ? sheet.count : remap.newTileCount()}};
}

bool changesGeometry(const TileRemap& remap)
{
    return !remap.isRearrangement() || remap.grid != TileRemap::GridChange::None ||
           remap.changesLayout();
}

}  // namespace

QString planSheetTileset(const TilesetSite* site, const TilesetFacts& facts,
                         const TileRemap& remap, SheetTileset& sheet)
{
    const QStringList& names = facts.geometryNames;
    QString unfit = checkSheetTileset(facts, remap);
    if (unfit.isEmpty() && !names.isEmpty() && facts.tileWidth <= 0)
        unfit = QStringLiteral("the tileset %1 gives no %2").arg(facts.label(), names.value(6));
    if (unfit.isEmpty() && !names.isEmpty() && facts.knownColumns() <= 0)
        unfit = QStringLiteral("the tileset %1 does not say how many columns it has")
                    .arg(facts.label());
    if (!unfit.isEmpty())
        return unfit;
    sheet.site = site;
    sheet.facts = facts;
    sheet.count = facts.knownTileCount();
    sheet.columns = facts.knownColumns();
    sheet.newMargin = facts.margin;
    sheet.newSpacing = facts.spacing;
    sheet.newColumns = sheet.columns;
    sheet.newRows = sheet.columns > 0 ? (sheet.count + sheet.columns - 1) / sheet.columns : 0;
    sheet.newWidth = facts.imageWidth;
    sheet.newHeight = facts.imageHeight;
    if (!remap.isRearrangement()) {
        if (facts.margin != 0)
            return QStringLiteral("the tileset %1 has a %2 of %3 pixels, but a packed sheet starts "
                                  "at its corner")
                .arg(facts.label(), names.isEmpty() ? QStringLiteral("margin") : names.value(1),
                     QString::number(facts.margin));
        sheet.newColumns = remap.newColumns() > 0 ? remap.newColumns() : sheet.columns;
        sheet.newRows = (remap.newTileCount() + sheet.newColumns - 1) / sheet.newColumns;
        // Laid out with the spacing after every tile, as the sheet was packed.
        const TileLayout64 packed =
            TileLayout64::grid(facts.tileWidth, facts.tileHeight, facts.spacing);
        sheet.newWidth = packed.widthFor(sheet.newColumns);
        sheet.newHeight = packed.heightFor(sheet.newRows);
    } else if (changesGeometry(remap)) {
        const SheetGeometry after = geometryAfter(facts, remap);
        sheet.newMargin = after.margin;
        sheet.newSpacing = after.spacing;
        sheet.newWidth = after.imageWidth;
        sheet.newHeight = after.imageHeight;
    }
    // The image's new size is measured in tiles; without their size it would come out as nothing.
    if (site && changesGeometry(remap) &&
        ((site->imageWidth.valid() && facts.tileWidth <= 0) ||
         (site->imageHeight.valid() && facts.tileHeight <= 0)))
        return QStringLiteral("the tileset %1 does not say how large its tiles are, which its "
                              "image's new size needs")
            .arg(facts.label());
    if (!site || names.isEmpty())
        return {};
    // A value of the tileset that the remap must change has to be there to be changed.
    const std::vector<GeometryValue> values = geometryValues(sheet, remap);
    for (size_t i = 0; i < 6; ++i)
        if (!values[i].span.valid() && values[i].before != values[i].after)
            return QStringLiteral("the tileset %1 gives no %2, which has to become %3")
                .arg(facts.label(), names.value(qsizetype(i)), QString::number(values[i].after));
    return {};
}

void rewriteSheetTileset(const SheetTileset& sheet, const TileRemap& remap,
                         const QByteArray& bytes, TextSplice& splice)
{
    if (!sheet.site)
        return;
    const TilesetSite& site = *sheet.site;
    if (!remap.keepsIds) {
        const int64_t units = sheet.newColumns * sheet.newRows;
        for (const TilesetSite::Cache& cache : site.caches)
            remapCache(bytes, cache.span, cache.width, units, remap, splice);
    }
    if (!changesGeometry(remap))
        return;
    for (const GeometryValue& value : geometryValues(sheet, remap))
        if (value.span.valid() && value.after != value.before)
            splice.replaceNumber(value.span, value.after);
    if (!remap.isRearrangement() || site.spacingInsertAt < 0)
        return;
    // A missing spacing, and a missing margin that is not 0, go in where a missing spacing goes.
    QByteArray missing;
    if (!site.spacing.valid())
        missing += site.spacingPrefix + QByteArray::number(sheet.newSpacing) + site.spacingSuffix;
    if (!site.margin.valid() && sheet.newMargin != 0)
        missing += site.marginPrefix + QByteArray::number(sheet.newMargin) + site.spacingSuffix;
    if (!missing.isEmpty())
        splice.insert(site.spacingInsertAt, missing);
}

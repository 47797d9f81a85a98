#include "tilemap/block_move.h"

#include "image/tile_layout.h"

#include <cstring>
#include <new>

namespace {

// Walks the tiles of area that lie outside other, in reading order. The places the block leaves
// are the block outside the target, the places it lands on outside itself the target outside the
// block; both are equally many, and the k-th landed-on tile fills the k-th place left.
class OutsideWalk {
public:
    OutsideWalk(const QRect& area, const QRect& other) : area_(area), other_(other), at_(area.topLeft()) {}

    bool next(QPoint& tile)
    {
        while (at_.y() <= area_.bottom()) {
            const QPoint here = at_;
            at_.rx() = here.x() < area_.right() ? here.x() + 1 : area_.left();
            if (here.x() == area_.right())
                ++at_.ry();
            if (!other_.contains(here)) {
                tile = here;
                return true;
            }
        }
        return false;
    }

private:
    QRect area_;
    QRect other_;
    QPoint at_;
};

qsizetype tilesOutside(const QRect& block, const QRect& target)
{
    return qsizetype(block.width()) * block.height() -
           qsizetype((block & target).width()) * (block & target).height();
}

// Moves a w x h block of cells (each cellBytes wide, linesPerRow lines of stride bytes high) by
// offset cells. Source and destination may overlap, so lines are taken in the order that reads
// each before it is written, and each with memmove.
void shiftCells(uchar* base, qsizetype stride, const QRect& block, QPoint offset, size_t cellBytes,
                int linesPerRow)
{
    const size_t rowBytes = size_t(block.width()) * cellBytes;
    const int lines = block.height() * linesPerRow;
    const qsizetype cell = qsizetype(cellBytes);
    const qsizetype from = qsizetype(block.top()) * linesPerRow * stride + block.left() * cell;
    const qsizetype by = qsizetype(offset.y()) * linesPerRow * stride + offset.x() * cell;
    const bool downward = offset.y() > 0;
    for (int i = 0; i < lines; ++i) {
        uchar* source = base + from + qsizetype(downward ? lines - 1 - i : i) * stride;
        std::memmove(source + by, source, rowBytes);
    }
}

}  // namespace

std::vector<TileStep> blockMoveSteps(const BlockMove& move)
{
    std::vector<TileStep> steps;
    for (int y = move.block.top(); y <= move.block.bottom(); ++y)
        for (int x = move.block.left(); x <= move.block.right(); ++x)
            steps.push_back({QPoint(x, y), QPoint(x, y) + move.offset});
    OutsideWalk left(move.block, move.target());
    OutsideWalk landedOn(move.target(), move.block);
    QPoint from, to;
    while (left.next(to) && landedOn.next(from))
        steps.push_back({from, to});
    return steps;
}

QString blockMoveProblem(const TileMap& map, const BlockMove& move)
{
    const QRect whole(0, 0, map.columns(), map.rows());
    const QRect& block = move.block;
    if (block.isEmpty())
        return QStringLiteral("The block holds no tiles.");
    if (!whole.contains(block))
        return QStringLiteral("The block of %1 x %2 tiles at column %3, row %4 lies outside the "
                              "%5 x %6 whole tiles.")
            .arg(block.width()).arg(block.height()).arg(block.x()).arg(block.y())
            .arg(whole.width()).arg(whole.height());
    const QRect target = move.target();
    if (!whole.contains(target))
        return QStringLiteral("The block of %1 x %2 tiles, moved to column %3, row %4, would lie "
                              "outside the %5 x %6 whole tiles.")
            .arg(block.width()).arg(block.height()).arg(target.x()).arg(target.y())
            .arg(whole.width()).arg(whole.height());
    return {};
}

size_t blockMoveScratchBytes(const BlockMove& move, TileShape cell, int bytesPerPixel)
{
    const size_t tiles = size_t(tilesOutside(move.block, move.target()));
    return tiles * (size_t(cell.area()) * size_t(bytesPerPixel) + sizeof(int32_t));
}

bool moveBlock(QImage& image, TileMap& map, TileShape cell, const BlockMove& move, uchar* scratch)
{
    // A tile moves with its gutter, grid line and all, as one cell.
    const TileLayout cells = TileLayout::grid(cell);
    if (image.isNull() || !blockMoveProblem(map, move).isEmpty() ||
        cells.widthFor(map.columns()) > image.width() ||
        cells.heightFor(map.rows()) > image.height())
        return false;

    // The tiles landed on are put aside, the block is shifted by whole lines, and the tiles put
    // aside fill the places it left: each moving byte is copied once, those landed on twice.
    const size_t tileBytes = size_t(cell.width) * size_t(image.depth() / 8);
    const qsizetype stride = image.bytesPerLine();
    uchar* pixels = image.bits();  // no copy: the sheet's pixels are shared with no one
    if (!pixels)
        return false;
    const auto tileStart = [&](QPoint tile) {
        const QRect at = cells.cellRect(tile);
        return pixels + qsizetype(at.y()) * stride + qsizetype(at.x()) * (image.depth() / 8);
    };
    const size_t count = size_t(tilesOutside(move.block, move.target()));
    uchar* aside = scratch;
    auto* asideNumbers =
        reinterpret_cast<int32_t*>(scratch + count * tileBytes * size_t(cell.height));

    OutsideWalk landedOn(move.target(), move.block);
    QPoint tile;
    for (size_t k = 0; landedOn.next(tile); ++k) {
        const uchar* in = tileStart(tile);
        for (int line = 0; line < cell.height; ++line, aside += tileBytes)
            std::memcpy(aside, in + qsizetype(line) * stride, tileBytes);
        std::memcpy(asideNumbers + k, &map.at(tile.x(), tile.y()), sizeof(int32_t));
    }

    shiftCells(pixels, stride, move.block, move.offset, tileBytes, cell.height);
    shiftCells(reinterpret_cast<uchar*>(&map.at(0, 0)), qsizetype(map.extentX()) * qsizetype(sizeof(int32_t)),
               move.block, move.offset, sizeof(int32_t), 1);

    OutsideWalk left(move.block, move.target());
    aside = scratch;
    for (size_t k = 0; left.next(tile); ++k) {
        uchar* out = tileStart(tile);
        for (int line = 0; line < cell.height; ++line, aside += tileBytes)
            std::memcpy(out + qsizetype(line) * stride, aside, tileBytes);
        std::memcpy(&map.at(tile.x(), tile.y()), asideNumbers + k, sizeof(int32_t));
    }
    return true;
}

bool moveBlock(QImage& image, TileMap& map, TileShape cell, const BlockMove& move)
{
    if (image.isNull() || !blockMoveProblem(map, move).isEmpty())
        return false;
    std::vector<uchar> scratch;
    try {
        scratch.resize(blockMoveScratchBytes(move, cell, image.depth() / 8));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return moveBlock(image, map, cell, move, scratch.data());
}

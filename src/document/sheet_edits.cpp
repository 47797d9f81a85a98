#include "document/sheet_edits.h"

#include <optional>
#include <utility>
#include <vector>

#include "grid/grid_transform.h"
#include "grid/tile_residue.h"
#include "image/pixel_block.h"
#include "tilemap/block_move.h"
#include "tilemap/tile_ops.h"

namespace {

const QString kNoSheet = QStringLiteral("No sheet is open.");

// A tile map kept for an undo: only the entries that differ from the identity when they are few
// (a map after a handful of swaps), all of them otherwise.
class KeptMap {
public:
    KeptMap() = default;
    explicit KeptMap(const TileMap& map) : extentX_(map.extentX()), extentY_(map.extentY())
    {
        std::vector<int32_t> numbers = map.numbers();
        size_t differing = 0;
        for (size_t i = 0; i < numbers.size(); ++i)
            differing += numbers[i] != int32_t(i);
        if (differing * 2 < numbers.size()) {
            for (size_t i = 0; i < numbers.size(); ++i)
                if (numbers[i] != int32_t(i))
                    changed_.push_back({int32_t(i), numbers[i]});
        } else {
            all_ = std::move(numbers);
        }
    }

    TileMap map() const
    {
        if (!all_.empty())
            return TileMap(extentX_, extentY_).withNumbers(all_);
        const int columns = extentX_ - 1;
        TileMap map = TileMap::identity(columns, extentY_ - 1);
        for (const auto& [position, number] : changed_)
            map.at(position % columns, position / columns) = number;
        return map;
    }

    qint64 bytes() const
    {
        return qint64(all_.capacity() * sizeof(int32_t) + changed_.capacity() * sizeof(changed_[0]));
    }

private:
    int extentX_ = 1;
    int extentY_ = 1;
    std::vector<int32_t> all_;
    std::vector<std::pair<int32_t, int32_t>> changed_;
};

// What every map-changing step keeps: the map and remapped it replaced.
struct KeptMapState {
    KeptMap map;
    int remapped = 0;

    void keep(const Sheet& sheet)
    {
        map = KeptMap(sheet.tileMap);
        remapped = sheet.remapped;
    }
    void putBack(Sheet& sheet) const
    {
        sheet.tileMap = map.map();
        sheet.remapped = remapped;
    }
};

bool tilesAreMoved(const Sheet& sheet)
{
    return sheet.hasImage() && !sheet.tileMap.isIdentity();
}

class SwapTilesEdit : public Edit {
public:
    SwapTilesEdit(int x1, int y1, int x2, int y2) : x1_(x1), y1_(y1), x2_(x2), y2_(y2) {}

    QString name() const override { return QStringLiteral("Swap Tiles"); }
    bool isHeavy() const override { return false; }

    QString prepare(const Sheet& sheet, Direction) override
    {
        if (!sheet.hasImage())
            return kNoSheet;
        if ((x1_ == x2_ && y1_ == y2_) || !isFullTile(sheet.tileMap, x1_, y1_) ||
            !isFullTile(sheet.tileMap, x2_, y2_))
            return QStringLiteral("Only two different whole tiles can swap places.");
        // Two tiles of the same pixels (blank ones, say) leave the image as it was.
        const TileLayout layout = sheet.tileLayout();
        const QRect first = layout.cellRect(QPoint(x1_, y1_));
        samePixels_ = sameBlocks(sheet.workingImage, first.topLeft(),
                                 layout.cellRect(QPoint(x2_, y2_)).topLeft(), first.size());
        return {};
    }

    void apply(Sheet& sheet, Direction direction) override
    {
        if (direction == Direction::Forward)
            remappedBefore_ = sheet.remapped;
        // swapTiles sets remapped; an undo puts back what it was.
        swapTiles(sheet, x1_, y1_, x2_, y2_);
        if (direction == Direction::Backward)
            sheet.remapped = remappedBefore_;
    }

    bool changesImage() const override { return !samePixels_; }
    bool changesMap() const override { return true; }
    qint64 keptBytes() const override { return sizeof(*this); }

private:
    int x1_, y1_, x2_, y2_;
    int remappedBefore_ = 0;
    bool samePixels_ = false;
};

class MoveTilesEdit : public Edit {
public:
    explicit MoveTilesEdit(const BlockMove& move) : move_(move) {}

    QString name() const override { return QStringLiteral("Move Tiles"); }
    bool isHeavy() const override { return false; }

    QString prepare(const Sheet& sheet, Direction direction) override
    {
        if (!sheet.hasImage())
            return kNoSheet;
        const BlockMove move = direction == Direction::Forward ? move_ : move_.inverse();
        const QString problem = blockMoveProblem(sheet.tileMap, move);
        if (!problem.isEmpty())
            return problem;
        // Taken here, where running out of memory is a refusal that changes nothing.
        scratch_.resize(
            blockMoveScratchBytes(move, sheet.tileLayout().cell(), sheet.workingImage.depth() / 8));
        return {};
    }

    void apply(Sheet& sheet, Direction direction) override
    {
        if (direction == Direction::Forward)
            remappedBefore_ = sheet.remapped;
        moveBlock(sheet.workingImage, sheet.tileMap, sheet.tileLayout().cell(),
                  direction == Direction::Forward ? move_ : move_.inverse(), scratch_.data());
        sheet.remapped = direction == Direction::Forward ? 1 : remappedBefore_;
        std::vector<uchar>().swap(scratch_);
    }

    bool changesNothing() const override { return move_.offset.isNull(); }
    bool changesImage() const override { return true; }
    bool changesMap() const override { return true; }
    qint64 keptBytes() const override { return sizeof(*this); }

private:
    BlockMove move_;
    int remappedBefore_ = 0;
    std::vector<uchar> scratch_;  // between prepare and apply only
};

class GridEdit : public Edit {
public:
    GridEdit(bool insert, QRgb gridColor) : insert_(insert), gridColor_(gridColor) {}

    QString name() const override
    {
        return insert_ ? QStringLiteral("Insert Grid") : QStringLiteral("Remove Grid");
    }

    QString prepare(const Sheet& sheet, Direction direction) override
    {
        if (!sheet.hasImage())
            return kNoSheet;
        const TileShape tile = sheet.tileSize;
        // Forward goes from no grid to a grid when inserting; backward the other way.
        const bool addsGrid = insert_ == (direction == Direction::Forward);
        if (direction == Direction::Forward) {
            if (sheet.gridFlag == (insert_ ? 1 : 0))
                return insert_ ? QStringLiteral("The sheet already has a grid.")
                               : QStringLiteral("The sheet has no grid to remove.");
            const GridResult result = insert_ ? insertGrid(sheet.workingImage, tile, gridColor_)
                                              : removeGrid(sheet.workingImage, tile, gridColor_);
            if (!result.ok())
                return result.error;
            rest_ = pixelsOutsideTiles(sheet.workingImage, tile, sheet.gridFlag);
            before_ = sheet.workingImage.size();
            format_ = sheet.workingImage.format();
            next_ = result.image;
            return {};
        }
        next_ = placeTiles(sheet.workingImage, tile, sheet.gridFlag, before_, addsGrid ? 1 : 0,
                           format_, rest_);
        if (next_.isNull())
            return QStringLiteral("There is not enough memory to undo the grid step.");
        return {};
    }

    void apply(Sheet& sheet, Direction direction) override
    {
        sheet.workingImage = std::move(next_);
        next_ = QImage();
        const bool gridded = insert_ == (direction == Direction::Forward);
        sheet.gridFlag = gridded ? 1 : 0;
    }

    bool changesImage() const override { return true; }
    bool changesMap() const override { return false; }
    qint64 keptBytes() const override { return qint64(sizeof(*this) + rest_.bytes()); }

private:
    bool insert_;
    QRgb gridColor_;
    PixelRuns rest_;      // what the forward step drops
    QSize before_;        // the image's size and format before the forward step
    QImage::Format format_ = QImage::Format_Invalid;
    QImage next_;         // between prepare and apply only
};

// Reset Map and the tile-mode change share their shape: maybe put the tiles back, then number the
// map afresh (at a new tile size for the latter). The undo puts the old map back and, when tiles
// moved, arranges them forward by it.
class RenumberEdit : public Edit {
public:
    RenumberEdit(QString name, std::optional<TileShape> tileSize, bool restore,
                 std::optional<int> gridFlag = std::nullopt)
        : name_(std::move(name)), tileSize_(tileSize), gridFlag_(gridFlag), restore_(restore)
    {
    }

    QString name() const override { return name_; }

    QString prepare(const Sheet& sheet, Direction direction) override
    {
        if (!sheet.hasImage())
            return kNoSheet;
        if (direction == Direction::Forward) {
            kept_.keep(sheet);
            oldTileSize_ = sheet.tileSize;
            oldGridFlag_ = sheet.gridFlag;
            moved_ = restore_ && tilesAreMoved(sheet);
            nothing_ = !moved_ && sheet.remapped == 0 && sheet.tileMap.isIdentity() &&
                       tileSize_.value_or(sheet.tileSize) == sheet.tileSize &&
                       gridFlag_.value_or(sheet.gridFlag) == sheet.gridFlag;
            if (moved_) {
                next_ = restoredImage(sheet.workingImage, sheet.tileMap, sheet.tileLayout().cell());
                if (next_.isNull())
                    return QStringLiteral("There is not enough memory to restore the tile order. "
                                          "Nothing was changed.");
            }
            return {};
        }
        if (moved_) {
            next_ =
                appliedImage(sheet.workingImage, kept_.map.map(), oldTileSize_.grown(oldGridFlag_));
            if (next_.isNull())
                return QStringLiteral("There is not enough memory to undo the restore. Nothing "
                                      "was changed.");
        }
        return {};
    }

    void apply(Sheet& sheet, Direction direction) override
    {
        if (moved_) {
            sheet.workingImage = std::move(next_);
            next_ = QImage();
        }
        if (direction == Direction::Forward) {
            sheet.tileSize = tileSize_.value_or(sheet.tileSize);
            sheet.gridFlag = gridFlag_.value_or(sheet.gridFlag);
            rebuildTileMap(sheet);  // also clears remapped
        } else {
            sheet.tileSize = oldTileSize_;
            sheet.gridFlag = oldGridFlag_;
            kept_.putBack(sheet);
        }
    }

    bool changesNothing() const override { return nothing_; }
    bool changesImage() const override { return moved_; }
    bool changesMap() const override { return true; }
    qint64 keptBytes() const override { return qint64(sizeof(*this)) + kept_.map.bytes(); }

private:
    QString name_;
    std::optional<TileShape> tileSize_;  // the new tile size; none for Reset Map
    std::optional<int> gridFlag_;  // whether the sheet has a grid, when that is said anew
    bool restore_;
    KeptMapState kept_;
    TileShape oldTileSize_ = 16;
    int oldGridFlag_ = 0;
    bool moved_ = false;
    bool nothing_ = false;
    QImage next_;
};

class OpenMapEdit : public Edit {
public:
    explicit OpenMapEdit(const TileMap& map) : other_(map), extentX_(map.extentX()), extentY_(map.extentY()) {}

    QString name() const override { return QStringLiteral("Open Map"); }
    bool isHeavy() const override { return false; }

    QString prepare(const Sheet& sheet, Direction direction) override
    {
        if (!sheet.hasImage())
            return kNoSheet;
        if (extentX_ != sheet.tileMap.extentX() || extentY_ != sheet.tileMap.extentY())
            return QStringLiteral("The map does not fit the open sheet.");
        if (direction == Direction::Forward)
            changes_ = sheet.remapped != 1 || other_.map() != sheet.tileMap;
        return {};
    }

    // Holds whichever of the two maps is not in the sheet; a step either way swaps them.
    void apply(Sheet& sheet, Direction direction) override
    {
        KeptMap replaced(sheet.tileMap);
        sheet.tileMap = other_.map();
        other_ = std::move(replaced);
        if (direction == Direction::Forward) {
            remappedBefore_ = sheet.remapped;
            sheet.remapped = 1;
        } else {
            sheet.remapped = remappedBefore_;
        }
    }

    bool changesNothing() const override { return !changes_; }
    bool changesImage() const override { return false; }
    bool changesMap() const override { return changes_; }
    qint64 keptBytes() const override { return qint64(sizeof(*this)) + other_.bytes(); }

private:
    KeptMap other_;
    int extentX_;
    int extentY_;
    int remappedBefore_ = 0;
    bool changes_ = true;
};

}  // namespace

std::unique_ptr<Edit> makeSwapTilesEdit(int x1, int y1, int x2, int y2)
{
    return std::make_unique<SwapTilesEdit>(x1, y1, x2, y2);
}

std::unique_ptr<Edit> makeMoveTilesEdit(const QRect& block, QPoint offset)
{
    return std::make_unique<MoveTilesEdit>(BlockMove{block, offset});
}

std::unique_ptr<Edit> makeGridEdit(bool insert, QRgb gridColor)
{
    return std::make_unique<GridEdit>(insert, gridColor);
}

std::unique_ptr<Edit> makeResetMapEdit()
{
    return std::make_unique<RenumberEdit>(QStringLiteral("Reset Map"), std::nullopt, true);
}

std::unique_ptr<Edit> makeTileModeEdit(TileShape tileSize, bool restoreFirst,
                                       std::optional<int> gridFlag)
{
    return std::make_unique<RenumberEdit>(QStringLiteral("Change Tile Mode"), tileSize,
                                          restoreFirst, gridFlag);
}

std::unique_ptr<Edit> makeOpenMapEdit(const TileMap& map)
{
    return std::make_unique<OpenMapEdit>(map);
}

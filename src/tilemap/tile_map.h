#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Which original tile stands at each tile position of the sheet. The extent is one column and one
// row larger than the full tiles: the spare entries stand for the partial strip at the right and
// bottom edge and hold 0 after every rebuild. Numbers are 32-bit so that huge sheets restore exactly.
class TileMap {
public:
    TileMap() : TileMap(1, 1) {}
    // A map of (extentX x extentY) entries, all 0.
    TileMap(int extentX, int extentY);

    // The identity map for columns x rows full tiles: tile (x, y) holds y * columns + x.
    static TileMap identity(int columns, int rows);

    int columns() const { return extentX_ - 1; }
    int rows() const { return extentY_ - 1; }
    int extentX() const { return extentX_; }
    int extentY() const { return extentY_; }
    int fullTiles() const { return columns() * rows(); }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < extentX_ && y < extentY_; }
    bool isIdentity() const;
    // True when the full tiles hold each of 0 .. fullTiles() - 1 exactly once.
    bool isPermutation() const;

    // The full tiles' numbers, row by row.
    std::vector<int32_t> numbers() const;
    // The map of the same extent whose full tiles hold numbers, row by row (numbers.size() must be
    // fullTiles()); the spare entries are 0.
    TileMap withNumbers(const std::vector<int32_t>& numbers) const;

    // For a permutation: the map that holds, for each original tile number, the position (row by
    // row) where that tile stands now. Applied to a level made against the original sheet, it says
    // where each tile went.
    TileMap inverse() const;
    // For permutations of the same extent: the map of doing first this rearrangement, then next
    // (next's numbers are positions of the sheet as this map leaves it). Position p then holds
    // original tile at(next[p]).
    TileMap compose(const TileMap& next) const;

    int32_t at(int x, int y) const { return entries_[index(x, y)]; }
    int32_t& at(int x, int y) { return entries_[index(x, y)]; }

    bool operator==(const TileMap&) const = default;

private:
    std::size_t index(int x, int y) const { return std::size_t(y) * std::size_t(extentX_) + std::size_t(x); }

    int extentX_;
    int extentY_;
    std::vector<int32_t> entries_;
};

#pragma once

#include <array>
#include <cstdint>
#include <vector>

// One of the 8 ways a square tile can be shown turned over or round, in the three bits level
// files keep beside a tile number: H mirrors left to right, V top to bottom, and D mirrors across
// the diagonal from the top-left corner; D is done first, then H, then V. D with H turns the tile
// a quarter clockwise.
class TileSymmetry
{
  public:
    static constexpr uint8_t kH = 4;
    static constexpr uint8_t kV = 2;
    static constexpr uint8_t kD = 1;
    static constexpr int kCount = 8;
    // Where the three bits stand in a level's 32-bit tile id.
    static constexpr int kGidShift = 29;

    constexpr TileSymmetry() = default;
    constexpr explicit TileSymmetry(unsigned bits) : bits_(uint8_t(bits & 7u)) {}

    static constexpr TileSymmetry ofGid(uint32_t gid) { return TileSymmetry(gid >> kGidShift); }
    constexpr uint32_t gidBits() const { return uint32_t(bits_) << kGidShift; }

    constexpr unsigned bits() const { return bits_; }
    constexpr bool isIdentity() const { return bits_ == 0; }
    friend constexpr bool operator==(TileSymmetry, TileSymmetry) = default;

    // What shows a tile turned by inner and then by this, as one symmetry.
    constexpr TileSymmetry after(TileSymmetry inner) const
    {
        // kAfter[outer][inner], worked out once from the pixel moves of sourceOf.
        constexpr uint8_t kAfter[8][8] = {
            {0, 1, 2, 3, 4, 5, 6, 7}, {1, 0, 5, 4, 3, 2, 7, 6}, {2, 3, 0, 1, 6, 7, 4, 5},
            {3, 2, 7, 6, 1, 0, 5, 4}, {4, 5, 6, 7, 0, 1, 2, 3}, {5, 4, 1, 0, 7, 6, 3, 2},
            {6, 7, 4, 5, 2, 3, 0, 1}, {7, 6, 3, 2, 5, 4, 1, 0},
        };
        return TileSymmetry(kAfter[bits_][inner.bits_]);
    }

    // The symmetry that turns the tile back.
    constexpr TileSymmetry inverse() const
    {
        for (unsigned b = 0; b < kCount; ++b)
            if (TileSymmetry(b).after(*this).isIdentity())
                return TileSymmetry(b);
        return {};
    }

    // Whether a tile keeps its shape when turned: only the mirrors do for tiles that are not
    // square (the diagonal, and with it the quarter turns, swaps width and height).
    constexpr bool keepsShape() const { return (bits_ & kD) == 0; }
    // The symmetries that show a tile in its own shape, the identity first: all 8 for a square,
    // the identity and the three mirrors otherwise.
    static std::vector<TileSymmetry> keepingShape(bool square)
    {
        std::vector<TileSymmetry> turns;
        for (unsigned g = 0; g < unsigned(kCount); ++g)
            if (square || TileSymmetry(g).keepsShape())
                turns.push_back(TileSymmetry(g));
        return turns;
    }

    // The pixel of a width x height tile that shows at (x, y) once the tile is turned. A turn
    // that does not keep the shape is for square tiles only.
    constexpr std::array<int, 2> sourceOf(int x, int y, int width, int height) const
    {
        const int sx = (bits_ & kH) ? width - 1 - x : x;
        const int sy = (bits_ & kV) ? height - 1 - y : y;
        return (bits_ & kD) ? std::array<int, 2>{sy, sx} : std::array<int, 2>{sx, sy};
    }
    constexpr std::array<int, 2> sourceOf(int x, int y, int n) const
    {
        return sourceOf(x, y, n, n);
    }

  private:
    uint8_t bits_ = 0;
};

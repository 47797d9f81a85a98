#pragma once

#include <QtGlobal>
#include <algorithm>
#include <cstdlib>
#include <cstddef>
#include <cstdint>

// How this program lays out a PNG's image data so that a reader can inflate it on every core, in
// one place for the writer that makes it (png_writer, deflate_join) and the reader that takes it
// (png_reader):
// - the filtered rows are cut into pieces of equal size, whole rows each; the last piece is the
//   same size or smaller;
// - each piece is compressed on its own, nothing in it refers back into the piece before, and it
//   is stored as one IDAT chunk of its own;
// - every piece but the last ends with an empty stored block (what zlib's sync flush writes), so
//   the next one starts at a byte boundary; the last ends with the stream's final block;
// - the zlib header opens the first chunk, the Adler-32 of all rows closes the last.

// Deflate with a 32 KiB window, "maximum compression" in the level field.
inline constexpr uint8_t kPngZlibHeader[2] = {0x78, 0xda};

// The bytes that end an empty stored block: its length 0 and the length's complement.
inline constexpr uint8_t kEmptyStoredBlockEnd[4] = {0x00, 0x00, 0xff, 0xff};

// An empty final block (fixed codes, only the end-of-block code): a piece but the last needs it
// after its own bytes to be inflated alone.
inline constexpr uint8_t kEmptyFinalBlock[2] = {0x03, 0x00};

// How many rows of rowBytes go into each piece of about pieceBytes: at least one, at most all.
inline int pngRowsPerPiece(qint64 pieceBytes, size_t rowBytes, int height)
{
    return int(std::clamp<qint64>(pieceBytes / qint64(rowBytes), 1, std::max(height, 1)));
}

// How many pieces height rows make.
inline int pngPieceCount(int height, int rowsPerPiece)
{
    return (height + rowsPerPiece - 1) / rowsPerPiece;
}

// Whether count pieces (at least two), each but the last of pieceSize bytes, can hold total
// bytes, with the last piece the same size or smaller.
inline bool pngPiecesFit(size_t pieceSize, size_t count, size_t total)
{
    return pieceSize > 0 && pieceSize <= total / (count - 1) &&
           total - pieceSize * (count - 1) <= pieceSize;
}

// The inflated size of piece index of count, each but the last of pieceSize bytes, total in all.
inline size_t pngPieceSize(size_t index, size_t count, size_t pieceSize, size_t total)
{
    return index + 1 == count ? total - index * pieceSize : pieceSize;
}

// The Paeth filter's guess at a byte from its left, upper and upper-left neighbours, for the
// writer that filters rows and the reader that undoes it.
inline uint8_t pngPaeth(int left, int up, int upLeft)
{
    const int p = left + up - upLeft;
    const int toLeft = std::abs(p - left), toUp = std::abs(p - up), toUpLeft = std::abs(p - upLeft);
    return uint8_t(toLeft <= toUp && toLeft <= toUpLeft ? left : toUp <= toUpLeft ? up : upLeft);
}

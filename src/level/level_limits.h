#pragma once

#include <QString>
#include <cstdint>

// How much of a level file Tilegrid takes on. A layer's size is whatever its file declares, and
// a few hundred bytes of compressed data can declare billions of cells, so every size is checked
// against these before anything is allocated or inflated.

// Cells in one layer or chunk: 8192 × 8192. Remapping holds a layer's cells beside the place of
// each number in the text, or beside its data inflated and compressed again, up to some 24 bytes a
// cell, so the largest layer costs up to about 1.5 GiB.
inline constexpr int64_t kMaxLayerCells = int64_t(1) << 26;
// Cells in all layers of one file together: four of the largest layers, some ten seconds of work.
inline constexpr int64_t kMaxLevelCells = int64_t(1) << 28;
// Bytes of one level or tileset file: 1 GiB.
inline constexpr int64_t kMaxLevelFileBytes = int64_t(1) << 30;

// Bytes remapping a file of fileBytes whose largest layer holds largestLayer cells takes at most,
// about.
int64_t levelMemoryNeed(int64_t fileBytes, int64_t largestLayer);

// The reason a file fails when memory ran out while it was done.
QString notEnoughMemory();

// Bytes this process can still take: the machine's memory, less when the process is held to less.
// -1 when unknown.
int64_t memoryWithinReach();

// "not enough memory (… needs about N MiB, M MiB are within reach)" when need is beyond reach;
// empty when it is not, or when the reach is unknown.
QString memoryShortfall(int64_t need);

// The reason a layer or chunk of cells cells is not read, or empty.
QString layerTooLarge(int64_t cells);

// The reason a file of size bytes is not read, or empty.
QString levelFileTooLarge(int64_t size);

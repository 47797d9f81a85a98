#pragma once

#include <benchmark/benchmark.h>

#include <QImage>
#include <cstddef>

// Peak resident memory of this process so far, in MiB.
double peakMemoryMiB();

// Starts a new peak: peakMemorySinceResetMiB() then reports the highest resident memory from this
// point on (the memory already resident counts), so each benchmark can show its own peak.
void resetPeakMemory();
double peakMemorySinceResetMiB();

// Seconds one memcpy of bytes takes, the best of a few runs between buffers already touched; for
// reporting an operation as a multiple of the memcpy of the same bytes.
double memcpySeconds(size_t bytes);

// Times a plain memcpy of bytes bytes; every benchmark reports its operation beside it, so the
// figure to read is the ratio, which survives a noisy machine.
void memcpyBaseline(benchmark::State& state, size_t bytes);

// A width x height 24-bit sheet with varied content (not all one colour, so encoders work for real).
QImage makeBenchSheet(int width, int height, QImage::Format format = QImage::Format_BGR888);

// A width x height sheet as pixel art looks, the content PNG saving is tuned for: 16 x 16 tiles
// drawn from a few dozen motifs (flat fills, outlined shapes, a little dither) in a small palette,
// large stretches of the same floor tiles, some motifs mirrored. Fixed seed: every run gets the
// same pixels.
QImage makePixelArtSheet(int width, int height, QImage::Format format = QImage::Format_BGR888);

// The folder of a released game's tile sheets (32 x 32 pixel-art tiles, Debian's crawl-tiles-data),
// the real art makeGameTileSheet draws from; TILEGRID_BENCH_TILES names another folder of sheets.
QString gameTilesFolder();

// A width x height sheet of real game tiles: every 32 x 32 tile of the sheets in gameTilesFolder()
// that is not wholly transparent, in file and reading order, each once until the sheet is full
// (then from the start again), transparency made black as opening makes it (kept as it is in
// Format_ARGB32). Unlike
// makePixelArtSheet, tiles rarely repeat near each other, as on a sheet that holds each tile once.
// A null image when the folder holds no sheets.
QImage makeGameTileSheet(int width, int height, QImage::Format format = QImage::Format_BGR888);

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

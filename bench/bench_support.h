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

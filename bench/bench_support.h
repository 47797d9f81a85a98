#pragma once

#include <benchmark/benchmark.h>

#include <QImage>
#include <cstddef>

// Peak resident memory of this process so far, in MiB.
double peakMemoryMiB();

// Times a plain memcpy of bytes bytes; every benchmark reports its operation beside it, so the
// figure to read is the ratio, which survives a noisy machine.
void memcpyBaseline(benchmark::State& state, size_t bytes);

// A width x height 24-bit sheet with varied content (not all one colour, so encoders work for real).
QImage makeBenchSheet(int width, int height, QImage::Format format = QImage::Format_BGR888);

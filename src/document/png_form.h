#pragma once

#include <QImage>
#include <QRgb>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// How an image file stores its pixels, as far as a PNG can say it again: the command line reads
// it from the input and writes the result in the same form when the result's pixels allow.
struct StoredForm {
    int colourType = -1;  // PNG's: 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA; -1 unknown
    int bitDepth = 0;     // bits a sample (an index for a palette)
    std::vector<QRgb> palette;  // colour type 3: every entry in order, its tRNS alpha (or 255)
    int alphaEntries = 0;       // colour type 3: how many entries tRNS holds
    bool known() const { return colourType >= 0; }
    bool paletted() const { return colourType == 3; }
    bool grey() const { return colourType == 0 || colourType == 4; }
};

// The form a PNG is written in, and what that needs besides the pixels.
struct PngPlan {
    int colourType = 2;
    int bitDepth = 8;
    std::vector<QRgb> palette;     // colour type 3
    int alphaEntries = 0;          // colour type 3: tRNS entries to write
    std::optional<QRgb> key;       // colour type 0 or 2: the colour tRNS makes transparent
    // Colour type 3: each pixel's entry, row after row; shared by the plans of one palette.
    std::shared_ptr<const std::vector<uint8_t>> indices;
    bool alpha() const { return colourType == 4 || colourType == 6; }
    int channels() const;
    // Bytes a pixel takes at least, the distance the row filters look back.
    int filterStep() const { return std::max(1, channels() * bitDepth / 8); }
    // Bytes of a row without its filter byte.
    size_t rowBytes(int width) const
    {
        return (size_t(width) * size_t(channels()) * size_t(bitDepth) + 7) / 8;
    }
};

// The plan that writes image (in one of the sheet's layouts) as it always was written: RGB, or
// RGBA for a sheet that keeps alpha.
PngPlan plainPngPlan(const QImage& image);

// The plan that keeps form for image, or nullopt when its pixels do not fit form: a palette keeps
// every entry in order, a colour not in it joins at the end while there are at most 256 (the bit
// depth grows only when the entries no longer fit it); grey stays grey while every pixel is.
// Nullopt as well when form is neither a palette nor grey.
std::optional<PngPlan> keptPngPlan(const QImage& image, const StoredForm& form);

// The smaller forms image's pixels allow besides the plain one, each worth a try: a palette of
// the colours used, sorted, when there are at most 256 (at the lowest bit depth that holds them
// and at 8); grey at the lowest depth that holds its levels (and at 8). onlyPalette leaves grey
// out.
std::vector<PngPlan> reducedPngPlans(const QImage& image, bool onlyPalette);

// Row y of image as plan stores it, without the filter byte: plan.rowBytes(width) bytes at out.
// Safe to call from several threads at once.
void pngPlanRow(const PngPlan& plan, const QImage& image, int y, uint8_t* out);

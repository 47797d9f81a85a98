#include "document/png_form.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <numeric>

#include "image/pixel_format.h"

int PngPlan::channels() const
{
    switch (colourType) {
    case 2:
        return 3;
    case 4:
        return 2;
    case 6:
        return 4;
    default:
        return 1;
    }
}

namespace {

// Row y of a sheet as straight-alpha 0xAARRGGBB words: row itself for ARGB32, otherwise converted
// into buffer.
const QRgb* argbRow(const QImage& image, int y, std::vector<QRgb>& buffer)
{
    const uchar* bits = image.constScanLine(y);
    const int width = image.width();
    if (image.format() == QImage::Format_ARGB32)
        return reinterpret_cast<const QRgb*>(bits);
    buffer.resize(size_t(width));
    if (image.format() == QImage::Format_BGR888) {
        bgrToRgb32(bits, buffer.data(), width);
    } else {
        const auto* from = reinterpret_cast<const QRgb*>(bits);
        for (int x = 0; x < width; ++x)
            buffer[size_t(x)] = from[x] | 0xff000000u;
    }
    return buffer.data();
}

// Up to 256 colours and the entry of each, found by open addressing; the last colour looked up
// is remembered, as pixel art repeats it in runs.
class ColourTable {
public:
    // The entry of colour, which joins at the end when new; -1 when it is new and 256 are taken.
    int indexOf(QRgb colour)
    {
        if (colour == lastColour_ && lastIndex_ >= 0)
            return lastIndex_;
        size_t slot = hash(colour);
        while (slots_[slot] >= 0 && keys_[slot] != colour)
            slot = (slot + 1) & (kSlots - 1);
        if (slots_[slot] < 0) {
            if (colours_.size() >= 256)
                return -1;
            slots_[slot] = int16_t(colours_.size());
            keys_[slot] = colour;
            colours_.push_back(colour);
        }
        lastColour_ = colour;
        lastIndex_ = slots_[slot];
        return lastIndex_;
    }
    // Adds an entry even when its colour is there already (a palette may repeat one): pixels of
    // that colour keep taking the first.
    void append(QRgb colour)
    {
        const size_t before = colours_.size();
        if (before < 256 && (indexOf(colour), colours_.size() == before))
            colours_.push_back(colour);
    }
    const std::vector<QRgb>& colours() const { return colours_; }

private:
    static constexpr size_t kSlots = 1024;
    static size_t hash(QRgb colour) { return (colour * 2654435761u) >> 22; }
    std::array<int16_t, kSlots> slots_ = emptySlots();
    std::array<QRgb, kSlots> keys_{};
    std::vector<QRgb> colours_;
    QRgb lastColour_ = 0;
    int lastIndex_ = -1;
    static std::array<int16_t, kSlots> emptySlots()
    {
        std::array<int16_t, kSlots> empty;
        empty.fill(-1);
        return empty;
    }
};

int depthFor(size_t entries, int atLeast)
{
    int depth = std::max(atLeast, 1);
    while (depth < 8 && (size_t(1) << depth) < entries)
        depth *= 2;
    return depth;
}

// Whether every grey level in levels is one a sample of depth bits stands for.
bool levelsFit(const std::bitset<256>& levels, int depth)
{
    if (depth >= 8)
        return true;
    const int step = 255 / ((1 << depth) - 1);
    for (int v = 0; v < 256; ++v)
        if (levels[size_t(v)] && v % step != 0)
            return false;
    return true;
}

int lowestGreyDepth(const std::bitset<256>& levels)
{
    for (const int depth : {1, 2, 4})
        if (levelsFit(levels, depth))
            return depth;
    return 8;
}

// What one pass learns of a sheet's pixels.
struct PixelFacts {
    bool grey = true;  // every pixel's red, green and blue agree, under alpha 0 too
    std::bitset<256> levels;  // the grey levels of opaque pixels
    bool transparent = false;
    // Every pixel that is not opaque has alpha 0 and the colour key; no opaque pixel has it.
    bool keyable = true;
    QRgb key = 0;
};

// Finds the facts; with table, also every pixel's entry in it into indices, until the table is
// full (then table is left null).
PixelFacts pixelFacts(const QImage& image, ColourTable* table, std::vector<uint8_t>* indices)
{
    PixelFacts facts;
    std::vector<QRgb> buffer;
    const int width = image.width();
    bool counting = table != nullptr;
    if (counting)
        indices->resize(size_t(width) * size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* row = argbRow(image, y, buffer);
        uint8_t* out = counting ? indices->data() + size_t(y) * size_t(width) : nullptr;
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = row[x];
            const uint32_t r = (pixel >> 16) & 0xff, g = (pixel >> 8) & 0xff, b = pixel & 0xff;
            facts.grey = facts.grey && r == g && g == b;
            const uint32_t alpha = pixel >> 24;
            if (alpha == 255) {
                facts.levels[b] = true;
            } else {
                if (!facts.transparent)
                    facts.key = pixel & 0xffffffu;
                facts.transparent = true;
                facts.keyable = facts.keyable && alpha == 0 && (pixel & 0xffffffu) == facts.key;
            }
            if (counting) {
                const int index = table->indexOf(pixel);
                if (index < 0)
                    counting = false;
                else
                    out[x] = uint8_t(index);
            }
        }
        if (!facts.grey && !counting)
            break;  // nothing more to learn
    }
    if (table && !counting)
        indices->clear();
    // No opaque pixel may have the key's colour.
    if (facts.transparent && facts.keyable) {
        const QRgb opaqueKey = facts.key | 0xff000000u;
        for (int y = 0; y < image.height() && facts.keyable; ++y) {
            const QRgb* row = argbRow(image, y, buffer);
            facts.keyable = std::find(row, row + width, opaqueKey) == row + width;
        }
    }
    return facts;
}

// The grey plan for facts at depth when that holds the levels (else 8; 0 asks for the lowest that
// does); type 0 with a key when keyAllowed and the transparency is a key, else type 4 when
// transparent.
PngPlan greyPlan(const PixelFacts& facts, int depth, bool keyAllowed)
{
    PngPlan plan;
    std::bitset<256> levels = facts.levels;
    if (facts.transparent && !(keyAllowed && facts.keyable)) {
        plan.colourType = 4;
        plan.bitDepth = 8;
        return plan;
    }
    plan.colourType = 0;
    if (facts.transparent) {
        plan.key = facts.key;
        levels[facts.key & 0xff] = true;
    }
    plan.bitDepth = depth == 0                                ? lowestGreyDepth(levels)
                    : depth < 8 && levelsFit(levels, depth) ? depth
                                                            : 8;
    return plan;
}

}  // namespace

PngPlan plainPngPlan(const QImage& image)
{
    PngPlan plan;
    plan.colourType = image.depth() == 32 ? 6 : 2;  // an opaque 32-bit sheet's alpha made 255
    return plan;
}

std::optional<PngPlan> keptPngPlan(const QImage& image, const StoredForm& form)
{
    if (form.paletted()) {
        ColourTable table;
        for (const QRgb entry : form.palette)
            table.append(entry);
        PngPlan plan;
        plan.colourType = 3;
        auto indices = std::make_shared<std::vector<uint8_t>>();
        pixelFacts(image, &table, indices.get());
        if (indices->empty() && image.width() > 0 && image.height() > 0)
            return std::nullopt;
        plan.indices = std::move(indices);
        plan.palette = table.colours();
        plan.bitDepth = depthFor(plan.palette.size(), std::min(form.bitDepth, 8));
        plan.alphaEntries = form.alphaEntries;
        for (size_t i = 0; i < plan.palette.size(); ++i)
            if (qAlpha(plan.palette[i]) != 255)
                plan.alphaEntries = std::max(plan.alphaEntries, int(i) + 1);
        return plan;
    }
    if (!form.grey())
        return std::nullopt;
    const PixelFacts facts = pixelFacts(image, nullptr, nullptr);
    if (!facts.grey)
        return std::nullopt;
    return greyPlan(facts, std::min(form.bitDepth, 8), form.colourType == 0);
}

std::vector<PngPlan> reducedPngPlans(const QImage& image, bool onlyPalette)
{
    std::vector<PngPlan> plans;
    ColourTable table;
    std::vector<uint8_t> indices;
    const PixelFacts facts = pixelFacts(image, &table, &indices);
    int greyDepth = 16;
    if (facts.grey && !onlyPalette) {
        const PngPlan lowest = greyPlan(facts, 0, true);
        greyDepth = lowest.bitDepth;
        plans.push_back(lowest);
        if (lowest.bitDepth < 8)
            plans.push_back(greyPlan(facts, 8, true));
    }
    if (indices.empty() && !(image.width() == 0 || image.height() == 0))
        return plans;
    // Entries that are not opaque first, so tRNS stays short; then by brightness, so that
    // neighbouring colours get neighbouring entries, which the row filters like.
    const std::vector<QRgb>& colours = table.colours();
    std::vector<int> order(colours.size());
    std::iota(order.begin(), order.end(), 0);
    const auto rank = [&](int i) {
        const QRgb c = colours[size_t(i)];
        return std::tuple(qAlpha(c) == 255, qAlpha(c),
                          299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c), c);
    };
    std::sort(order.begin(), order.end(), [&](int a, int b) { return rank(a) < rank(b); });
    std::array<uint8_t, 256> entryOf{};
    PngPlan palette;
    palette.colourType = 3;
    for (size_t i = 0; i < order.size(); ++i) {
        entryOf[size_t(order[i])] = uint8_t(i);
        palette.palette.push_back(colours[size_t(order[i])]);
        if (qAlpha(colours[size_t(order[i])]) != 255)
            palette.alphaEntries = int(i) + 1;
    }
    for (uint8_t& index : indices)
        index = entryOf[index];
    auto shared = std::make_shared<const std::vector<uint8_t>>(std::move(indices));
    palette.bitDepth = depthFor(colours.size(), 1);
    // Grey says the same without a palette at its depth or below.
    if (palette.bitDepth < greyDepth) {
        if (palette.bitDepth < 8 && greyDepth > 8) {
            PngPlan eight = palette;
            eight.bitDepth = 8;
            eight.indices = shared;
            plans.push_back(std::move(eight));
        }
        palette.indices = std::move(shared);
        plans.push_back(std::move(palette));
    }
    return plans;
}

namespace {

// Packs count samples of depth bits (each below 2^depth) into bytes, the first in the highest bits.
void packSamples(const uint8_t* samples, int count, int depth, uint8_t* out)
{
    if (depth == 8) {
        std::memcpy(out, samples, size_t(count));
        return;
    }
    const int perByte = 8 / depth;
    for (int x = 0; x < count; x += perByte) {
        uint8_t byte = 0;
        for (int i = 0; i < perByte; ++i)
            byte = uint8_t(byte << depth | (x + i < count ? samples[x + i] : 0));
        *out++ = byte;
    }
}

}  // namespace

void pngPlanRow(const PngPlan& plan, const QImage& image, int y, uint8_t* out)
{
    const int width = image.width();
    if (plan.colourType == 3) {
        packSamples(plan.indices->data() + size_t(y) * size_t(width), width, plan.bitDepth, out);
        return;
    }
    thread_local std::vector<QRgb> buffer;
    const QRgb* row = argbRow(image, y, buffer);
    switch (plan.colourType) {
    case 0: {
        thread_local std::vector<uint8_t> samples;
        samples.resize(size_t(width));
        const int step = plan.bitDepth < 8 ? 255 / ((1 << plan.bitDepth) - 1) : 1;
        for (int x = 0; x < width; ++x)
            samples[size_t(x)] = uint8_t((row[x] & 0xff) / uint32_t(step));
        packSamples(samples.data(), width, plan.bitDepth, out);
        return;
    }
    case 4:
        for (int x = 0; x < width; ++x, out += 2) {
            out[0] = uint8_t(row[x]);
            out[1] = uint8_t(row[x] >> 24);
        }
        return;
    default:
        for (int x = 0; x < width; ++x) {
            *out++ = uint8_t(row[x] >> 16);
            *out++ = uint8_t(row[x] >> 8);
            *out++ = uint8_t(row[x]);
            if (plan.colourType == 6)
                *out++ = uint8_t(row[x] >> 24);
        }
    }
}

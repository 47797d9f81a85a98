#include "document/deflate_join.h"

#include <array>
#include <cstddef>
#include <iterator>

#include "document/png_pieces.h"

namespace {

// Reads the stream least significant bit first, as deflate packs it. Past the end it reads zeros
// and remembers the overrun, so a cut stream is caught once, at the end.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint32_t peek(int count)
    {
        while (held_ < count) {
            const uint64_t byte = next_ < size_ ? data_[next_] : 0;
            bits_ |= byte << held_;
            held_ += 8;
            ++next_;
        }
        return uint32_t(bits_ & ((uint64_t(1) << count) - 1));
    }
    void skip(int count)
    {
        bits_ >>= count;
        held_ -= count;
    }
    uint32_t take(int count)
    {
        if (count == 0)
            return 0;
        const uint32_t value = peek(count);
        skip(count);
        return value;
    }
    void alignToByte() { skip(held_ % 8); }
    // The position of the next unread bit from the start.
    size_t position() const { return next_ * 8 - size_t(held_); }
    bool overran() const { return position() > size_ * 8; }
    bool skipBytes(size_t count)
    {
        // Only called byte-aligned; whole bytes still held are dropped first.
        while (held_ >= 8 && count > 0) {
            skip(8);
            --count;
        }
        if (count > size_ - std::min(next_, size_))
            return false;
        next_ += count;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t next_ = 0;
    uint64_t bits_ = 0;
    int held_ = 0;
};

constexpr int kMaxCodeBits = 15;

// A canonical Huffman code as one lookup table over its longest code's width: each entry holds
// symbol << 4 | code length, 0 for bit patterns no code starts with.
class HuffmanTable {
public:
    // False for an over-subscribed set of lengths, which no valid stream has.
    bool build(const uint8_t* lengths, int count)
    {
        std::array<int, kMaxCodeBits + 1> perLength{};
        for (int s = 0; s < count; ++s)
            ++perLength[lengths[s]];
        perLength[0] = 0;
        width_ = 0;
        int left = 1;
        for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
            left = left * 2 - perLength[size_t(bits)];
            if (left < 0)
                return false;
            if (perLength[size_t(bits)] > 0)
                width_ = bits;
        }
        std::array<uint32_t, kMaxCodeBits + 2> nextCode{};
        for (int bits = 1; bits <= kMaxCodeBits; ++bits)
            nextCode[size_t(bits + 1)] =
                (nextCode[size_t(bits)] + uint32_t(perLength[size_t(bits)])) << 1;
        entries_.assign(size_t(1) << width_, 0);
        for (int s = 0; s < count; ++s) {
            const int bits = lengths[s];
            if (bits == 0)
                continue;
            const uint32_t code = nextCode[size_t(bits)]++;
            // Codes are sent most significant bit first, so in the stream they read reversed.
            uint32_t reversed = 0;
            for (int b = 0; b < bits; ++b)
                reversed |= ((code >> b) & 1) << (bits - 1 - b);
            for (uint32_t at = reversed; at < entries_.size(); at += uint32_t(1) << bits)
                entries_[at] = uint32_t(s) << 4 | uint32_t(bits);
        }
        return true;
    }

    // The next symbol, or -1 for a pattern outside the code.
    int decode(BitReader& in) const
    {
        const uint32_t entry = entries_[in.peek(width_)];
        if (entry == 0)
            return -1;
        in.skip(int(entry & 15));
        return int(entry >> 4);
    }

private:
    std::vector<uint32_t> entries_;
    int width_ = 0;
};

constexpr std::array<uint8_t, 29> kLengthExtraBits{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint8_t, 30> kDistanceExtraBits{0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                     4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                     9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Steps over the symbols of one Huffman-coded block up to its end-of-block code.
bool skipSymbols(BitReader& in, const HuffmanTable& literals, const HuffmanTable& distances)
{
    for (;;) {
        const int symbol = literals.decode(in);
        if (symbol < 0 || symbol > 285 || in.overran())
            return false;
        if (symbol < 256)
            continue;
        if (symbol == 256)
            return true;
        in.take(kLengthExtraBits[size_t(symbol - 257)]);
        const int distance = distances.decode(in);
        if (distance < 0 || distance > 29)
            return false;
        in.take(kDistanceExtraBits[size_t(distance)]);
    }
}

bool readDynamicTables(BitReader& in, HuffmanTable& literals, HuffmanTable& distances)
{
    static constexpr std::array<uint8_t, 19> kOrder{16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                    11, 4,  12, 3, 13, 2, 14, 1, 15};
    const int literalCount = int(in.take(5)) + 257;
    const int distanceCount = int(in.take(5)) + 1;
    const int lengthCodes = int(in.take(4)) + 4;
    std::array<uint8_t, 19> codeLengths{};
    for (int i = 0; i < lengthCodes; ++i)
        codeLengths[kOrder[size_t(i)]] = uint8_t(in.take(3));
    HuffmanTable lengthCode;
    if (literalCount > 286 || distanceCount > 30 || !lengthCode.build(codeLengths.data(), 19))
        return false;

    std::array<uint8_t, 286 + 30> lengths{};
    const int total = literalCount + distanceCount;
    for (int at = 0; at < total;) {
        const int symbol = lengthCode.decode(in);
        if (symbol < 0 || in.overran())
            return false;
        if (symbol < 16) {
            lengths[size_t(at++)] = uint8_t(symbol);
            continue;
        }
        uint8_t repeated = 0;
        int times = 0;
        if (symbol == 16) {
            if (at == 0)
                return false;
            repeated = lengths[size_t(at - 1)];
            times = 3 + int(in.take(2));
        } else {
            times = symbol == 17 ? 3 + int(in.take(3)) : 11 + int(in.take(7));
        }
        if (at + times > total)
            return false;
        while (times-- > 0)
            lengths[size_t(at++)] = repeated;
    }
    return lengths[256] != 0 && literals.build(lengths.data(), literalCount) &&
           distances.build(lengths.data() + literalCount, distanceCount);
}

struct StreamEnd {
    size_t lastHeaderBit;  // where the final block's header starts
    size_t endBit;         // just past the final block
};

bool findStreamEnd(const uint8_t* data, size_t size, StreamEnd& end)
{
    BitReader in(data, size);
    HuffmanTable literals, distances;
    for (;;) {
        const size_t header = in.position();
        const bool final = in.take(1) != 0;
        const uint32_t type = in.take(2);
        if (type == 0) {
            in.alignToByte();
            const uint32_t length = in.take(16);
            const uint32_t check = in.take(16);
            if ((length ^ check) != 0xffff || !in.skipBytes(length))
                return false;
        } else if (type == 1) {
            std::array<uint8_t, 288 + 32> lengths{};
            for (int s = 0; s < 288; ++s)
                lengths[size_t(s)] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
            for (int s = 0; s < 32; ++s)
                lengths[size_t(288 + s)] = 5;
            if (!literals.build(lengths.data(), 288) ||
                !distances.build(lengths.data() + 288, 32) || !skipSymbols(in, literals, distances))
                return false;
        } else if (type == 2) {
            if (!readDynamicTables(in, literals, distances) ||
                !skipSymbols(in, literals, distances))
                return false;
        } else {
            return false;
        }
        if (in.overran())
            return false;
        if (final) {
            end = {header, in.position()};
            return (end.endBit + 7) / 8 == size;
        }
    }
}

}  // namespace

bool makeJoinable(std::vector<uint8_t>& piece)
{
    StreamEnd end{};
    if (!findStreamEnd(piece.data(), piece.size(), end))
        return false;
    piece[end.lastHeaderBit / 8] &= uint8_t(~(1u << (end.lastHeaderBit % 8)));
    // An empty stored block: three zero header bits from the end on, zeros up to the byte
    // boundary, then the length 0 and its complement.
    if (end.endBit % 8 != 0)
        piece[end.endBit / 8] &= uint8_t((1u << (end.endBit % 8)) - 1);
    piece.resize((end.endBit + 3 + 7) / 8, 0);
    piece.insert(piece.end(), std::begin(kEmptyStoredBlockEnd), std::end(kEmptyStoredBlockEnd));
    return true;
}

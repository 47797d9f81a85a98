#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <QByteArray>
#include <QtEndian>
#include <algorithm>
#include <random>
#include <vector>

#include "document/deflate_join.h"
#include "support/image_files.h"

namespace {

std::vector<uint8_t> compressed(libdeflate_compressor* compressor, const QByteArray& bytes)
{
    std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor, size_t(bytes.size())));
    out.resize(libdeflate_deflate_compress(compressor, bytes.constData(), size_t(bytes.size()),
                                           out.data(), out.size()));
    return out;
}

// Pieces compressed apart and joined read back as one zlib stream of all their bytes, whatever
// ends each piece: a stored block (noise), fixed codes (a few bytes), dynamic codes (long runs
// and repeats), or nothing at all.
TEST(DeflateJoin, PiecesEndingInEveryKindOfBlockJoinIntoOneStream)
{
    std::mt19937 random(7);
    QByteArray noise(70000, '\0'), repeats(300000, '\0');
    for (char& c : noise)
        c = char(random());
    for (qsizetype i = 0; i < repeats.size(); ++i)
        repeats[i] = char(i % 48 < 20 ? 'a' + i / 4096 % 7 : random() % 4);
    std::vector<QByteArray> pieces{noise, "abcde", repeats, {}, "x", repeats.left(1000), noise};

    for (const int level : {1, 6, 12}) {
        libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
        std::shuffle(pieces.begin(), pieces.end(), random);
        QByteArray all;
        QByteArray stream("\x78\xda", 2);
        for (size_t i = 0; i < pieces.size(); ++i) {
            std::vector<uint8_t> piece = compressed(compressor, pieces[i]);
            if (i + 1 < pieces.size()) {
                ASSERT_TRUE(makeJoinable(piece)) << "level " << level << ", piece " << i;
            }
            stream.append(reinterpret_cast<const char*>(piece.data()), qsizetype(piece.size()));
            all += pieces[i];
        }
        char adler[4];
        qToBigEndian(quint32(adler32(1, reinterpret_cast<const Bytef*>(all.constData()),
                                     uInt(all.size()))),
                     adler);
        stream.append(adler, 4);
        EXPECT_TRUE(inflateZlib(stream) == all) << "level " << level;
        libdeflate_free_compressor(compressor);
    }
}

TEST(DeflateJoin, RefusesACutStreamAndLeavesItAsItWas)
{
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
    const std::vector<uint8_t> whole = compressed(compressor, QByteArray(5000, 'q') + "tail");
    libdeflate_free_compressor(compressor);
    for (const size_t cut : {size_t(1), whole.size() / 2, whole.size() - 1}) {
        std::vector<uint8_t> piece(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
        const std::vector<uint8_t> before = piece;
        EXPECT_FALSE(makeJoinable(piece)) << cut;
        EXPECT_EQ(piece, before);
    }
    std::vector<uint8_t> longer = whole;
    longer.push_back(0);
    EXPECT_FALSE(makeJoinable(longer));
}

}  // namespace

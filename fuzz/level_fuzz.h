#pragma once

// What every level reader must promise, whatever the text: a refusal or a skip says why and gives
// no bytes; the identity changes nothing, byte for byte; a remap succeeds exactly when the identity
// does; and remapping back and forth is stable: remap, its inverse, then the remap again gives
// the first result byte for byte but for numbers' leading zeros, with the same counts each way.
//
// Input: byte 0 chooses the tile count (1 to 16) and whether the sheet is named; byte 1 seeds the
// shuffle; byte 2 the grid change and the first CSV number; the rest is the file.
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <random>

#include "fuzz_check.h"
#include "level/level_remap.h"

namespace {

// Every external tileset a map names, and an LDtk level's project: one sheet of count tiles (uid
// 1 in a project), its spacing as the grid stands.
ExternalTilesetReader externalSheet(int count, int spacing)
{
    return [count, spacing](const QString& path) {
        ExternalTileset tileset;
        if (path.endsWith(QStringLiteral("missing.tsx"))) {
            tileset.error = QStringLiteral("“missing.tsx” does not exist.");
            return tileset;
        }
        tileset.facts.name = QStringLiteral("external");
        tileset.facts.image = QStringLiteral("sheet.png");
        tileset.facts.folder = QStringLiteral("/levels");
        tileset.facts.tileCount = count;
        tileset.facts.columns = 1;
        tileset.facts.tileWidth = 8;
        tileset.facts.tileHeight = 8;
        tileset.facts.spacing = spacing;
        tileset.facts.key = 1;
        tileset.tilesets = {tileset.facts};
        return tileset;
    };
}

// The text with every number's leading zeros taken out. A value the remap leaves alone keeps
// its zeros ("09"), one it changes is written plainly, so a round trip may differ in them only.
QByteArray withoutLeadingZeros(const QByteArray& text)
{
    QByteArray plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool startsNumber = i == 0 || text[i - 1] < '0' || text[i - 1] > '9';
        while (startsNumber && text[i] == '0' && i + 1 < text.size() && text[i + 1] >= '0' &&
               text[i + 1] <= '9')
            ++i;
        plain += text[i];
    }
    return plain;
}

void checkOutcome(const LevelBytesResult& result)
{
    if (result.status == LevelFileStatus::Updated) {
        FUZZ_CHECK(result.reason.isEmpty() && result.place.isEmpty());
        FUZZ_CHECK(result.cellsChanged >= 0 && result.tilesMoved >= 0);
    } else {
        FUZZ_CHECK(!result.reason.isEmpty());
        FUZZ_CHECK(result.bytes.isEmpty());
    }
}

int checkLevelRemap(const uint8_t* data, size_t size, const QString& fileName)
{
    if (size < 3)
        return 0;
    const int count = 1 + data[0] % 16;
    TileRemap remap;
    remap.newIndexOf.resize(size_t(count));
    std::iota(remap.newIndexOf.begin(), remap.newIndexOf.end(), 0);
    std::shuffle(remap.newIndexOf.begin(), remap.newIndexOf.end(), std::mt19937(data[1]));
    const int grid = data[2] % 3;
    remap.grid = TileRemap::GridChange(grid);
    LevelRemapOptions options;
    if (data[0] & 0x80)
        options.sheet = QStringLiteral("sheet.png");
    options.firstId = (data[2] >> 2) & 1;
    const QByteArray text(reinterpret_cast<const char*>(data + 3), qsizetype(size - 3));
    const int spacingBefore = remap.grid == TileRemap::GridChange::Removed ? 1 : 0;
    const int spacingAfter = remap.grid == TileRemap::GridChange::Added ? 1 : 0;

    const LevelBytesResult result =
        remapLevelBytes(text, fileName, remap, options, externalSheet(count, spacingBefore));
    checkOutcome(result);

    TileRemap identity = remap;
    std::iota(identity.newIndexOf.begin(), identity.newIndexOf.end(), 0);
    identity.grid = TileRemap::GridChange::None;
    const LevelBytesResult same =
        remapLevelBytes(text, fileName, identity, options, externalSheet(count, spacingBefore));
    checkOutcome(same);
    if (same.status == LevelFileStatus::Updated) {
        FUZZ_CHECK(same.bytes == text);
        FUZZ_CHECK(same.cellsChanged == 0 && same.tilesMoved == 0);
    }
    // Only a rectangle of several tiles may stand in the way of a shuffle the identity passes.
    if (remap.grid == TileRemap::GridChange::None && !result.reason.contains(u"as one block"))
        FUZZ_CHECK(result.status == same.status);
    if (result.status != LevelFileStatus::Updated)
        return 0;

    const LevelBytesResult back = remapLevelBytes(result.bytes, fileName, remap.inverse(), options,
                                                  externalSheet(count, spacingAfter));
    checkOutcome(back);
    FUZZ_CHECK(back.status == LevelFileStatus::Updated);
    FUZZ_CHECK(back.cellsChanged == result.cellsChanged && back.tilesMoved == result.tilesMoved);
    const LevelBytesResult again =
        remapLevelBytes(back.bytes, fileName, remap, options, externalSheet(count, spacingBefore));
    FUZZ_CHECK(again.status == LevelFileStatus::Updated);
    FUZZ_CHECK(withoutLeadingZeros(again.bytes) == withoutLeadingZeros(result.bytes));
    return 0;
}

}  // namespace

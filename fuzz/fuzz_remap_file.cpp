// Remap file text from an untrusted file. Whatever the text, the reader must either refuse it with
// a message or give a remap whose every sheet is a remap the levels can take, and which reads back
// as itself once written.
#include <QByteArrayView>
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "level/remap_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char*>(data), qsizetype(size));
    const RemapParseResult result = parseRemapText(text);
    FUZZ_CHECK(result.file.has_value() == result.error.isEmpty());
    if (!result.file)
        return 0;
    FUZZ_CHECK(!result.file->sheets.empty());
    for (const RemapSheet& sheet : result.file->sheets) {
        const TileRemap& remap = sheet.remap;
        for (size_t tile = 0; tile < remap.newIndexOf.size(); ++tile) {
            const int32_t now = remap.newIndexOf[tile];
            FUZZ_CHECK(now == TileRemap::kDropped || (now >= 0 && now < remap.newTileCount()));
        }
    }
    const QByteArray written = writeRemapText(*result.file);
    const RemapParseResult again = parseRemapText(written);
    FUZZ_CHECK(again.file.has_value());
    FUZZ_CHECK(writeRemapText(*again.file) == written);
    return 0;
}

// The LDtk reader under untrusted text, as a project or as a level file (bit 3 of byte 2); see
// level_fuzz.h for what is checked.
#include "level_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const bool levelFile = size > 2 && (data[2] & 8);
    return checkLevelRemap(data, size,
                           levelFile ? QStringLiteral("/levels/world/fuzz.ldtkl")
                                     : QStringLiteral("/levels/fuzz.ldtk"));
}

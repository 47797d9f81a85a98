// The CSV level reader under untrusted text; see level_fuzz.h for what is checked.
#include "level_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return checkLevelRemap(data, size, QStringLiteral("/levels/fuzz.csv"));
}

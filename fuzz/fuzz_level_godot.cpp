// The Godot reader under untrusted text, as a scene or as a TileSet resource (bit 3 of byte 2);
// see level_fuzz.h for what is checked. Godot counts an atlas's tiles from its texture, so the
// sheet is a real image of one column of as many tiles as the input chose, beside the file.
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include "level_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    static int written = 0;
    if (size < 3)
        return 0;
    const int count = 1 + data[0] % 16;
    if (count != written) {
        QImage(8, 8 * count, QImage::Format_RGB32)
            .save(folder.filePath(QStringLiteral("sheet.png")));
        written = count;
    }
    const bool resource = data[2] & 8;
    return checkLevelRemap(
        data, size,
        folder.filePath(resource ? QStringLiteral("fuzz.tres") : QStringLiteral("fuzz.tscn")));
}

#pragma once

#include <QRgb>

#include "tilemap/sheet.h"

// The sheet plus what the user has chosen about it. The file commands work on this.
struct Document : Sheet {
    QRgb gridColor = qRgb(255, 0, 255);
    // The image differs from what was last opened or saved as an image.
    bool imageUnsaved = false;
    // remapped is 1 and the map has changed since it was last saved or loaded.
    bool mapUnsaved = false;
};

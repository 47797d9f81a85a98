#pragma once

#include <QIcon>

// The program's icon, drawn at 16 x 16 and 32 x 32: four tiles parted by a magenta grid.
QIcon appIcon();

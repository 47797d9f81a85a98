#pragma once

#include <QIcon>
#include <QImage>

// The program's icon: four tiles parted by a magenta grid, drawn at side x side pixels. The same
// drawing becomes the window's icon and the files installed into the desktop's icon theme.
QImage appIconImage(int side);

// The icon at 16 x 16 and 32 x 32, for the window.
QIcon appIcon();

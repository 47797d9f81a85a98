// Writes the program's icon at one size as a PNG file, for the desktop's icon theme. It draws with
// the window's own icon code, so the installed icons and the window's icon cannot drift apart.
#include <cstdio>

#include "app/app_icon.h"
#include "document/atomic_file.h"
#include "document/png_writer.h"

int main(int argc, char** argv)
{
    bool ok = false;
    const int side = argc == 3 ? QByteArray(argv[1]).toInt(&ok) : 0;
    if (!ok || side < 4 || side > 1024) {
        std::fprintf(stderr, "usage: %s SIDE OUTPUT.png  (SIDE from 4 to 1024 pixels)\n", argv[0]);
        return 2;
    }
    const QImage icon = appIconImage(side);
    const QString error = writeFileAtomically(
        QString::fromLocal8Bit(argv[2]),
        [&icon](QIODevice& device, QString& why) { return writePng(icon, device, why); });
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return 0;
}

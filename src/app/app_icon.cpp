#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>

QImage appIconImage(int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 255));
    QPainter painter(&image);
    const int tile = side / 2 - 1;
    const QColor colours[] = {QColor(58, 170, 119), QColor(238, 153, 68), QColor(68, 136, 204),
                              QColor(238, 238, 68)};
    for (int i = 0; i < 4; ++i)
        painter.fillRect((i % 2) * (tile + 1), (i / 2) * (tile + 1), tile, tile, colours[i]);
    return image;
}

QIcon appIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(appIconImage(16)));
    icon.addPixmap(QPixmap::fromImage(appIconImage(32)));
    return icon;
}

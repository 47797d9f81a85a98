#pragma once

#include <QString>

// What a drop of files means: the first path only; a .zeko-map file is a map, anything else an image.
enum class DropKind { Image, Map };
struct DropTarget {
    QString path;
    DropKind kind;
};
DropTarget dropTarget(const QString& dropList);

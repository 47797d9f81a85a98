#pragma once

#include <QString>

// The extension of a path: the text after its last dot, when that dot is not the path's first
// character, is not preceded by a slash or backslash, and no dot, slash, backslash or blank follows
// it; up to a double quote, if one follows. Otherwise empty.
QString pathExtension(const QString& path);

// The path with suffix (".png", ".bmp", ".zeko-map") appended unless its upper-cased extension is
// already extension (upper case, without the dot).
QString withExtension(const QString& path, const QString& extension, const QString& suffix);

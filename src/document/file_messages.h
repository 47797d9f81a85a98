#pragma once

#include <QString>

class QFile;

// “path”: how every message names a file.
QString quotedPath(const QString& path);

// Opens file (its name already set) for reading. Returns an empty string on success, otherwise
// the reason in plain words; what says what the file should have been ("an image file").
QString openForReading(QFile& file, const QString& what);

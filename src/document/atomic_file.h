#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class QIODevice;

// Writes a file through a temporary file in the same folder that replaces the target only when
// complete, so a failed save leaves an existing file untouched and leaves no partial file behind.
// write() gets the open temporary device and returns false (with a message) on its own failure.
// Returns an empty string on success, otherwise the reason in plain words.
using DeviceWriter = std::function<bool(QIODevice& device, QString& error)>;
QString writeFileAtomically(const QString& path, const DeviceWriter& write);

QString writeFileAtomically(const QString& path, const QByteArray& bytes);

// A hook that tests use to make writes fail as a full disk would; null in the program. When set,
// it is asked with the bytes written so far before every piece of at most 64 bytes, and true
// makes that write fail.
extern std::function<bool(qint64 bytesSoFar)> g_failWriteForTesting;

#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

class QIODevice;

// Writes a file through a temporary file in the same folder that replaces the target only when
// complete, so a failed save leaves an existing file untouched and leaves no partial file behind.
// write() gets the open temporary device and returns false (with a message) on its own failure.
// Returns an empty string on success, otherwise the reason in plain words.
using DeviceWriter = std::function<bool(QIODevice& device, QString& error)>;
QString writeFileAtomically(const QString& path, const DeviceWriter& write);

QString writeFileAtomically(const QString& path, const QByteArray& bytes);

// Files that only make sense together (a map and the tilesets it names) are written all or
// nothing: each to a temporary file beside its target first, then all take their places. When any
// step fails, the targets already replaced get their old contents back (or go again when they
// were new), every temporary file is removed, and the reason is returned; failedIndex (when
// given) tells which file it concerns.
struct FileToWrite {
    QString path;
    QByteArray bytes;
};
QString writeFilesTogether(const std::vector<FileToWrite>& files, qsizetype* failedIndex = nullptr);

// A hook that tests use to make writes fail as a full disk would; null in the program. When set,
// it is asked with the bytes written so far before every piece of at most 64 bytes, and true
// makes that write fail.
extern std::function<bool(qint64 bytesSoFar)> g_failWriteForTesting;

// A hook that tests use to make writeFilesTogether fail in its last step; null in the program.
// Asked before each file takes its place, with the number of files placed so far; true makes
// that rename fail.
extern std::function<bool(qsizetype placedSoFar)> g_failRenameForTesting;

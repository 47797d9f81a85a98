#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

class QIODevice;

// Writes a file through a temporary file in the same folder that replaces the target only when
// complete, so a failed save leaves an existing file untouched and leaves no partial file behind.
// Every write, the sync, the close and the final rename are checked, and a failure is told in the
// system's own words ("No space left on device").
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

// When on, a missing folder of a file to be written is made just before the file is, and taken
// away again when the file then fails, so that a failed run leaves no folder behind. Off (the
// folder must exist) unless turned on; the command line turns it on.
void setMakeMissingFolders(bool make);

// A hook that tests use to make writes fail as a full disk would; null in the program. When set,
// it is asked with the bytes written so far before every piece of at most 64 bytes, and true
// makes that write fail.
extern std::function<bool(qint64 bytesSoFar)> g_failWriteForTesting;

// A hook that tests use to make one step of writing a file fail as the system would; null in the
// program. Asked before each step (before every piece of at most 64 bytes for Write, with the
// bytes written so far), it returns the error number the step fails with, or 0.
enum class FileStep { Write, Sync, Close, Rename };
extern std::function<int(FileStep step, qint64 bytesSoFar)> g_failFileStepForTesting;

// A hook that tests use to make writeFilesTogether fail in its last step; null in the program.
// Asked before each file takes its place, with the number of files placed so far; true makes
// that rename fail.
extern std::function<bool(qsizetype placedSoFar)> g_failRenameForTesting;

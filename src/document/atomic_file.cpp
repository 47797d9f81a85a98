#include "document/atomic_file.h"

#include "document/file_messages.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

std::function<bool(qint64 bytesSoFar)> g_failWriteForTesting;
std::function<bool(qsizetype placedSoFar)> g_failRenameForTesting;

namespace {

// Passes writes through to the temporary file and stops at the first failure, so a writer learns
// of a full disk at the write that hit it rather than only at the final commit.
class GuardedDevice : public QIODevice {
public:
    explicit GuardedDevice(QSaveFile& file) : file_(file) { open(QIODevice::WriteOnly | Unbuffered); }

protected:
    qint64 readData(char*, qint64) override { return -1; }

    qint64 writeData(const char* data, qint64 length) override
    {
        if (!g_failWriteForTesting)
            return pass(data, length);
        // Under test, ask before every small piece, so a failure can strike in mid-write.
        for (qint64 done = 0; done < length; done += kTestPiece) {
            if (g_failWriteForTesting(written_)) {
                setErrorString(QStringLiteral("no space left on the disk"));
                return -1;
            }
            if (pass(data + done, qMin(kTestPiece, length - done)) < 0)
                return -1;
        }
        return length;
    }

private:
    static constexpr qint64 kTestPiece = 64;

    qint64 pass(const char* data, qint64 length)
    {
        const qint64 done = file_.write(data, length);
        if (done != length) {
            setErrorString(file_.errorString());
            return -1;
        }
        written_ += done;
        return done;
    }

    QSaveFile& file_;
    qint64 written_ = 0;
};

QString saveFailure(const QString& path, const QString& reason)
{
    return QStringLiteral("Could not save %1: %2.").arg(quotedPath(path), reason);
}

QString whyNotCreated(const QString& path, const QFileDevice& file)
{
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.exists())
        return QStringLiteral("the folder %1 does not exist").arg(quotedPath(folder.filePath()));
    if (!folder.isDir())
        return QStringLiteral("%1 is a file, not a folder").arg(quotedPath(folder.filePath()));
    if (file.error() == QFileDevice::PermissionsError || !folder.isWritable())
        return QStringLiteral("the folder %1 is not writable").arg(quotedPath(folder.filePath()));
    return file.errorString();
}

// QSaveFile copies the old file's permissions as Qt sees them for this user, which for root adds
// write permission to a read-only file. The new file takes the old one's mode exactly, and its
// owner and group where the system allows. Returns the reason when the mode cannot be kept.
QString keepModeAndOwner(const QString& path, int fd)
{
    struct stat old {};
    if (::stat(QFile::encodeName(path).constData(), &old) != 0)
        return {};  // a new file: the usual mode for new files
    // The owner first: giving a file away may clear set-id bits that the mode then restores.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, uid_t(-1), old.st_gid) != 0) {
        // Neither owner nor group can be given by this user; the file is this user's now, as
        // any file the user writes anew.
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0)
        return QStringLiteral("its permissions could not be kept (%1)")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

namespace fs = std::filesystem;

fs::path native(const QString& path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

// A name beside target that nothing uses yet.
QString besideName(const QString& target, const char* tag)
{
    const QFileInfo info(target);
    const QString random = QString::number(QRandomGenerator::global()->generate(), 16);
    return info.dir().filePath(QStringLiteral(".%1.%2-%3")
                                   .arg(info.fileName(), QLatin1StringView(tag),
                                        random.rightJustified(8, QLatin1Char('0'))));
}

// One file of a group on its way: its new text in a temporary file and, when the target exists,
// a second name for its old text (a hard link, or a copy where links cannot be made) to put back.
struct Staged {
    QString target;
    QString temporary;
    QString backup;
};

QString stage(const FileToWrite& file, Staged& staged)
{
    // Through a link, the file it points to is replaced and the link stays.
    const QFileInfo info(file.path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : file.path;
    staged.target = target;
    QFile out(besideName(target, "new"));
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return whyNotCreated(target, out);
    staged.temporary = out.fileName();
    const bool exists = QFileInfo::exists(target);
    if (const QString why = keepModeAndOwner(target, out.handle()); !why.isEmpty())
        return why;
    if (g_failWriteForTesting && g_failWriteForTesting(0))
        return QStringLiteral("no space left on the disk");
    if (out.write(file.bytes) != file.bytes.size() || !out.flush())
        return out.errorString();
#ifdef Q_OS_UNIX
    if (::fsync(out.handle()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
#endif
    out.close();
    if (!exists)
        return {};
    const QString backup = besideName(target, "old");
    std::error_code error;
    fs::create_hard_link(native(target), native(backup), error);
    if (error)
        fs::copy_file(native(target), native(backup), error);
    if (error)
        return QStringLiteral("its old text could not be kept aside (%1)")
            .arg(QString::fromLocal8Bit(error.message()));
    staged.backup = backup;
    return {};
}

void removeIfSet(const QString& path)
{
    if (!path.isEmpty())
        QFile::remove(path);
}

}  // namespace

QString writeFilesTogether(const std::vector<FileToWrite>& files, qsizetype* failedIndex)
{
    std::vector<Staged> staged(files.size());
    QString reason;
    qsizetype failed = 0;
    qsizetype placed = 0;
    for (; failed < qsizetype(files.size()) && reason.isEmpty(); ++failed)
        reason = stage(files[size_t(failed)], staged[size_t(failed)]);
    if (reason.isEmpty()) {
        for (; placed < qsizetype(files.size()); ++placed) {
            const Staged& file = staged[size_t(placed)];
            std::error_code error;
            if (g_failRenameForTesting && g_failRenameForTesting(placed))
                error = std::make_error_code(std::errc::io_error);
            else
                fs::rename(native(file.temporary), native(file.target), error);
            if (error) {
                reason = QStringLiteral("the new file could not take its place (%1)")
                             .arg(QString::fromLocal8Bit(error.message()));
                break;
            }
        }
        failed = placed + 1;
    }
    if (reason.isEmpty()) {
        for (const Staged& file : staged)
            removeIfSet(file.backup);
        return {};
    }

    // Back to how things stood: the files already placed get their old text again.
    QStringList stranded;
    for (qsizetype i = 0; i < placed; ++i) {
        Staged& file = staged[size_t(i)];
        std::error_code error;
        if (file.backup.isEmpty())
            fs::remove(native(file.target), error);
        else
            fs::rename(native(file.backup), native(file.target), error);
        if (error)
            stranded << (file.backup.isEmpty() ? quotedPath(file.target)
                                               : QStringLiteral("%1 (its old text is in %2)")
                                                     .arg(quotedPath(file.target),
                                                          quotedPath(std::exchange(file.backup,
                                                                                   QString()))));
        file.temporary.clear();
    }
    for (const Staged& file : staged) {
        removeIfSet(file.temporary);
        removeIfSet(file.backup);
    }
    if (failedIndex)
        *failedIndex = failed - 1;
    if (!stranded.isEmpty())
        reason +=
            QStringLiteral("; %1 could not be put back").arg(stranded.join(QStringLiteral(", ")));
    return saveFailure(files[size_t(failed - 1)].path, reason);
}

QString writeFileAtomically(const QString& path, const DeviceWriter& write)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return saveFailure(path, whyNotCreated(path, file));

    QString reason;
    bool written = false;
    {
        GuardedDevice device(file);
        written = write(device, reason);
        if (!written && reason.isEmpty())
            reason = device.errorString();
    }
    if (written)
        reason = keepModeAndOwner(path, file.handle());
    if (!written || !reason.isEmpty()) {
        // Not committing discards the temporary file; the old file was never touched.
        file.cancelWriting();
        return saveFailure(path, reason);
    }
    // Whatever set errno while the file was written must not speak for a failure of the commit.
    errno = 0;
    if (!file.commit()) {
        // Qt reports some failed final renames only as "Unknown error"; the system's reason, left
        // by the call inside commit that failed, is clearer.
        const int code = errno;
        const QFileDevice::FileError kind = file.error();
        if ((kind == QFileDevice::RenameError || kind == QFileDevice::UnspecifiedError) && code != 0)
            return saveFailure(path, QStringLiteral("the new file could not take its place (%1)")
                                         .arg(QString::fromLocal8Bit(std::strerror(code))));
        return saveFailure(path, file.errorString());
    }
    return {};
}

QString writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    return writeFileAtomically(path, [&bytes](QIODevice& device, QString& error) {
        if (device.write(bytes) == bytes.size())
            return true;
        error = device.errorString();
        return false;
    });
}

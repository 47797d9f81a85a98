#include "document/atomic_file.h"

#include "document/file_messages.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::function<bool(qint64 bytesSoFar)> g_failWriteForTesting;
std::function<bool(qsizetype placedSoFar)> g_failRenameForTesting;
std::function<int(FileStep step, qint64 bytesSoFar)> g_failFileStepForTesting;

namespace {

std::atomic<bool> g_makeMissingFolders{false};

// Folders are made and taken away again, and temporary files created in them, one writer at a
// time, so that a writer that fails never takes away a folder that another has just written into.
std::mutex g_foldersMutex;

QString systemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

int failedStep(FileStep step, qint64 bytesSoFar)
{
    return g_failFileStepForTesting ? g_failFileStepForTesting(step, bytesSoFar) : 0;
}

QString saveFailure(const QString& path, const QString& reason)
{
    return QStringLiteral("Could not save %1: %2.").arg(quotedPath(path), reason);
}

// Why a temporary file beside path could not be created, errno telling the system's reason.
QString whyNotCreated(const QString& path, int code)
{
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.exists())
        return QStringLiteral("the folder %1 does not exist").arg(quotedPath(folder.filePath()));
    if (!folder.isDir())
        return QStringLiteral("%1 is a file, not a folder").arg(quotedPath(folder.filePath()));
    if (code == EACCES || code == EPERM || code == EROFS || !folder.isWritable())
        return QStringLiteral("the folder %1 is not writable").arg(quotedPath(folder.filePath()));
    return systemReason(code);
}

// The new file takes the old one's mode exactly (for root too, whom the system lets write a
// read-only file), and its owner and group where the system allows. Returns the reason when the
// mode cannot be kept.
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

// Through a link, the file it points to is replaced and the link stays.
QString throughLinks(const QString& path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : path;
}

// The folders above path that do not exist yet, nearest first.
QStringList missingFolders(const QString& path)
{
    QStringList missing;
    for (QFileInfo folder(QFileInfo(path).absolutePath()); !folder.exists() && !folder.isRoot();
         folder.setFile(folder.absolutePath()))
        missing << folder.absoluteFilePath();
    return missing;
}

// The one way this program writes a file: into a new temporary file beside the target, every
// write, the sync and the close checked, and only then renamed over the target. Until then the
// target is untouched; a temporary file that does not take its place is removed again, and so
// are the folders made for it.
class TemporaryFile
{
  public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() { discard(); }

    // Creates the temporary file beside target. Returns the reason on failure.
    QString create(const QString& target)
    {
        const std::lock_guard lock(g_foldersMutex);
        if (g_makeMissingFolders) {
            made_ = missingFolders(target);
            if (!made_.isEmpty() && !QDir().mkpath(made_.front())) {
                const int error = errno;
                // A file standing where a folder should be is the likeliest cause: name it.
                QString file = QFileInfo(made_.front()).absoluteFilePath();
                while (!QFileInfo(file).isFile() && QFileInfo(file).absolutePath() != file)
                    file = QFileInfo(file).absolutePath();
                const QString why =
                    QFileInfo(file).isFile()
                        ? QStringLiteral("the folder %1 cannot be made: %2 is a file, not a folder")
                              .arg(quotedPath(made_.front()),
                                   quotedPath(QDir::current().relativeFilePath(file)))
                        : QStringLiteral("the folder %1 cannot be made (%2)")
                              .arg(quotedPath(made_.front()), systemReason(error));
                removeFolders();
                return why;
            }
        }
        if (QFileInfo(target).exists() && !QFileInfo(target).isWritable() && ::geteuid() != 0)
            return QStringLiteral("%1 is not writable").arg(quotedPath(target));
        const QString name = besideName(target, "new");
        fd_ = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                     0666);
        if (fd_ < 0) {
            const QString why = whyNotCreated(target, errno);
            removeFolders();
            return why;
        }
        name_ = name;
        return {};
    }

    int handle() const { return fd_; }
    const QString& fileName() const { return name_; }

    // Takes length bytes; false when they, or bytes given before, could not be written, and
    // reason() says why.
    bool write(const char* data, qint64 length)
    {
        if (!reason_.isEmpty())
            return false;
        if (g_failWriteForTesting || g_failFileStepForTesting) {
            // Under test, ask before every small piece, so a failure can strike in mid-write.
            for (qint64 done = 0; done < length; done += kTestPiece) {
                const int code = g_failWriteForTesting && g_failWriteForTesting(taken_)
                                     ? ENOSPC
                                     : failedStep(FileStep::Write, taken_);
                if (code != 0)
                    return fail(code);
                if (!take(data + done, qMin(kTestPiece, length - done)))
                    return false;
            }
            return true;
        }
        return take(data, length);
    }

    // Writes what is still held, waits until the system has it on the disk and closes the file.
    // Returns the reason on failure.
    QString finish()
    {
        if (reason_.isEmpty())
            flushBuffer();
        if (reason_.isEmpty()) {
            const int code = failedStep(FileStep::Sync, written_);
            // File systems that cannot sync say so; their writes have been checked all the same.
            if (code != 0 || (::fsync(fd_) != 0 && errno != EINVAL && errno != ENOTSUP))
                fail(code != 0 ? code : errno);
        }
        // The close is checked too: some file systems tell of a full disk only there.
        const int code = failedStep(FileStep::Close, written_);
        const int closed = ::close(fd_);
        fd_ = -1;
        if (reason_.isEmpty() && (code != 0 || closed != 0))
            fail(code != 0 ? code : errno);
        return reason_;
    }

    // Renames the finished file over target. Returns the reason on failure.
    QString placeAt(const QString& target)
    {
        const QString why = renamed(name_, target);
        if (why.isEmpty()) {
            name_.clear();
            made_.clear();
        }
        return why;
    }

    // Keeps the finished file where it is: another step places it, or removes it and then the
    // folders made for it (given to made, nearest first) with removeFolders.
    QString release(QStringList& made)
    {
        made = std::exchange(made_, QStringList());
        return std::exchange(name_, QString());
    }

    const QString& reason() const { return reason_; }

    // Takes away folders made for a file, nearest first, as far as nothing else has been put in
    // them. The caller holds g_foldersMutex.
    static void removeFolders(QStringList& made)
    {
        for (const QString& folder : std::as_const(made))
            if (::rmdir(QFile::encodeName(folder).constData()) != 0 && errno != ENOENT)
                break;
        made.clear();
    }

    static QString renamed(const QString& from, const QString& to)
    {
        int code = failedStep(FileStep::Rename, 0);
        if (code == 0 && ::rename(QFile::encodeName(from).constData(),
                                  QFile::encodeName(to).constData()) != 0)
            code = errno;
        if (code == 0)
            return {};
        return QStringLiteral("the new file could not take its place (%1)").arg(systemReason(code));
    }

  private:
    static constexpr qint64 kTestPiece = 64;
    // Writes are gathered up to this many bytes, so small pieces cost few system calls.
    static constexpr qsizetype kBufferBytes = 256 * 1024;

    bool take(const char* data, qint64 length)
    {
        if (buffer_.size() + length > kBufferBytes && !flushBuffer())
            return false;
        if (length >= kBufferBytes)
            return writeAll(data, length);
        buffer_.append(data, qsizetype(length));
        taken_ += length;
        return true;
    }

    bool flushBuffer()
    {
        const bool written = writeAll(buffer_.constData(), buffer_.size(), false);
        buffer_.clear();
        return written;
    }

    // counted: the bytes are new ones, not ones already taken into the buffer.
    bool writeAll(const char* data, qint64 length, bool counted = true)
    {
        for (qint64 done = 0; done < length;) {
            const ssize_t n = ::write(fd_, data + done, size_t(length - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return fail(n < 0 ? errno : ENOSPC);
            done += n;
            written_ += n;
        }
        if (counted)
            taken_ += length;
        return true;
    }

    bool fail(int code)
    {
        if (reason_.isEmpty())
            reason_ = systemReason(code);
        return false;
    }

    void discard()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        const std::lock_guard lock(g_foldersMutex);
        if (!name_.isEmpty())
            ::unlink(QFile::encodeName(name_).constData());
        name_.clear();
        removeFolders();
    }

    void removeFolders() { removeFolders(made_); }

    int fd_ = -1;
    QString name_;
    QStringList made_;  // folders made for the file, nearest first
    QByteArray buffer_;
    qint64 taken_ = 0;    // bytes given to write()
    qint64 written_ = 0;  // bytes the system took
    QString reason_;
};

// What a writer sees of the temporary file.
class CheckedDevice : public QIODevice
{
  public:
    explicit CheckedDevice(TemporaryFile& file) : file_(file)
    {
        open(QIODevice::WriteOnly | Unbuffered);
    }

  protected:
    qint64 readData(char*, qint64) override { return -1; }

    qint64 writeData(const char* data, qint64 length) override
    {
        if (file_.write(data, length))
            return length;
        setErrorString(file_.reason());
        return -1;
    }

  private:
    TemporaryFile& file_;
};

// One file of a group on its way: its new text in a temporary file and, when the target exists,
// a second name for its old text (a hard link, or a copy where links cannot be made) to put back.
struct Staged {
    QString target;
    QString temporary;
    QString backup;
    QStringList made;  // folders made for it, nearest first
};

QString stage(const FileToWrite& file, Staged& staged)
{
    const QString target = throughLinks(file.path);
    staged.target = target;
    TemporaryFile out;
    if (const QString why = out.create(target); !why.isEmpty())
        return why;
    const bool exists = QFileInfo::exists(target);
    if (const QString why = keepModeAndOwner(target, out.handle()); !why.isEmpty())
        return why;
    out.write(file.bytes.constData(), file.bytes.size());
    if (const QString why = out.finish(); !why.isEmpty())
        return why;
    staged.temporary = out.release(staged.made);
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

void setMakeMissingFolders(bool make)
{
    g_makeMissingFolders = make;
}

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
            if (g_failRenameForTesting && g_failRenameForTesting(placed))
                reason = QStringLiteral("the new file could not take its place (%1)")
                             .arg(systemReason(EIO));
            else
                reason = TemporaryFile::renamed(file.temporary, file.target);
            if (!reason.isEmpty())
                break;
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
    for (Staged& file : staged) {
        removeIfSet(file.temporary);
        removeIfSet(file.backup);
    }
    {
        const std::lock_guard lock(g_foldersMutex);
        for (auto file = staged.rbegin(); file != staged.rend(); ++file)
            TemporaryFile::removeFolders(file->made);
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
    const QString target = throughLinks(path);
    TemporaryFile file;
    if (const QString why = file.create(target); !why.isEmpty())
        return saveFailure(path, why);
    if (const QString why = keepModeAndOwner(target, file.handle()); !why.isEmpty())
        return saveFailure(path, why);

    QString reason;
    {
        CheckedDevice device(file);
        if (!write(device, reason) && reason.isEmpty())
            reason = device.errorString();
    }
    // A failed write speaks for itself, whatever the writer made of it.
    if (!file.reason().isEmpty())
        reason = file.reason();
    if (reason.isEmpty())
        reason = file.finish();
    if (reason.isEmpty())
        reason = file.placeAt(target);
    // Unless it took its place, the temporary file goes; the old file was never touched.
    return reason.isEmpty() ? QString() : saveFailure(path, reason);
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

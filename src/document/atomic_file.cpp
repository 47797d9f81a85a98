#include "document/atomic_file.h"

#include <QFileInfo>
#include <QSaveFile>

std::function<bool(qint64 bytesSoFar)> g_failWriteForTesting;

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
        if (g_failWriteForTesting && g_failWriteForTesting(written_)) {
            setErrorString(QStringLiteral("no space left on the disk"));
            return -1;
        }
        const qint64 done = file_.write(data, length);
        if (done != length) {
            setErrorString(file_.errorString());
            return -1;
        }
        written_ += done;
        return done;
    }

private:
    QSaveFile& file_;
    qint64 written_ = 0;
};

QString saveFailure(const QString& path, const QString& reason)
{
    return QStringLiteral("Could not save “%1”: %2.").arg(path, reason);
}

QString whyNotCreated(const QString& path, const QSaveFile& file)
{
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.exists())
        return QStringLiteral("the folder “%1” does not exist").arg(folder.filePath());
    if (!folder.isDir())
        return QStringLiteral("“%1” is a file, not a folder").arg(folder.filePath());
    if (file.error() == QFileDevice::PermissionsError || !folder.isWritable())
        return QStringLiteral("the folder “%1” is not writable").arg(folder.filePath());
    return file.errorString();
}

}  // namespace

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
    if (!written) {
        // Not committing discards the temporary file; the old file was never touched.
        file.cancelWriting();
        return saveFailure(path, reason);
    }
    if (!file.commit())
        return saveFailure(path, file.errorString());
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

#include "document/file_messages.h"

#include <QFile>
#include <QFileInfo>

QString quotedPath(const QString& path)
{
    return QStringLiteral("“%1”").arg(path);
}

QString openForReading(QFile& file, const QString& what)
{
    const QString path = file.fileName();
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1 does not exist.").arg(quotedPath(path));
    if (info.isDir())
        return QStringLiteral("%1 is a folder, not %2.").arg(quotedPath(path), what);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString reason = file.error() == QFileDevice::PermissionsError
                                   ? QStringLiteral("permission denied")
                                   : file.errorString();
        return QStringLiteral("%1 cannot be read: %2.").arg(quotedPath(path), reason);
    }
    return QString();
}

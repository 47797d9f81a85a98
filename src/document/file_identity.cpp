#include "document/file_identity.h"

#include <QDir>
#include <QFileInfo>

QString fileIdentity(const QString& path)
{
    if (path.isEmpty())
        return {};
    if (const QString real = QFileInfo(path).canonicalFilePath(); !real.isEmpty())
        return real;
    // The folder as written, so that the file system, not the spelling, says where "link/.."
    // leads. This ends at "." or "/" at the latest, which exist unless the working folder was
    // removed.
    const QString given = QDir::fromNativeSeparators(path);
    if (given == QLatin1String(".") || given == QLatin1String("/"))
        return QFileInfo(given).absoluteFilePath();
    const qsizetype slash = given.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/")
                                                                         : given.left(slash);
    return QDir::cleanPath(fileIdentity(folder) + QLatin1Char('/') + given.mid(slash + 1));
}

QString pathFrom(const QString& folder, const QString& name)
{
    const QString written = QDir(folder).absoluteFilePath(name);
    const QString tidy = QDir::cleanPath(written);
    return tidy == written || fileIdentity(tidy) == fileIdentity(written) ? tidy : written;
}

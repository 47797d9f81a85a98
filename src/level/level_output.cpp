#include "level/level_output.h"

#include <QDir>
#include <QFileInfo>

LevelOutputPath levelOutputInPlace()
{
    return [](const QString& path) { return LevelOutput{path, {}}; };
}

LevelOutputPath levelOutputIntoFolder(const QString& folder)
{
    return [folder](const QString& path) {
        return LevelOutput{QDir(folder).filePath(QFileInfo(path).fileName()), {}};
    };
}

LevelOutputPath levelOutputIntoTree(const QString& folder, const QStringList& files)
{
    // The deepest folder that holds them all, one name at a time.
    QStringList base;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QStringList names =
            QFileInfo(files[i]).absolutePath().split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (i == 0) {
            base = names;
            continue;
        }
        qsizetype same = 0;
        while (same < base.size() && same < names.size() && base[same] == names[same])
            ++same;
        base = base.mid(0, same);
    }
    const QDir from(QLatin1Char('/') + base.join(QLatin1Char('/')));
    return [folder, from](const QString& path) {
        return LevelOutput{QDir::cleanPath(QDir(folder).filePath(from.relativeFilePath(path))), {}};
    };
}

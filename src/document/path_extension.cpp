#include "document/path_extension.h"

QString pathExtension(const QString& path)
{
    // Scan back to the first dot, slash, backslash or blank; only a dot that is neither the first
    // character nor right after a folder separator starts an extension.
    qsizetype i = path.size() - 1;
    while (i >= 0) {
        const QChar c = path.at(i);
        if (c == u'.' || c == u'/' || c == u'\\' || c == u' ')
            break;
        --i;
    }
    if (i <= 0 || path.at(i) != u'.')
        return {};
    const QChar before = path.at(i - 1);
    if (before == u'/' || before == u'\\')
        return {};
    QString extension = path.mid(i + 1);
    const qsizetype quote = extension.indexOf(u'"');
    if (quote >= 0)
        extension.truncate(quote);
    return extension;
}

QString withExtension(const QString& path, const QString& extension, const QString& suffix)
{
    return pathExtension(path.toUpper()) == extension ? path : path + suffix;
}

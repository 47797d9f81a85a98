#include "document/problem.h"

#include <algorithm>

Problem& Problem::locate(QByteArrayView text)
{
    const qsizetype offset = std::clamp<qsizetype>(at, 0, text.size());
    line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    column = 1;
    for (qsizetype i = lineStart; i < offset; ++i)
        if ((uchar(text[i]) & 0xc0) != 0x80) // continuation bytes belong to the character before
            ++column;
    return *this;
}

QString Problem::place() const
{
    QString text;
    if (line > 0)
        text = column > 0 ? QStringLiteral("line %1, column %2").arg(line).arg(column)
                          : QStringLiteral("line %1").arg(line);
    if (!where.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(", ")) + where;
    return text;
}

QString plural(qint64 count, const QString& one, const QString& many)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? one : many);
}

#pragma once

#include <QByteArrayView>
#include <QString>
#include <utility>

// Something wrong with a file or with a value in it, the one shape every reader reports: which
// file, where in it, and why in plain words.
struct Problem {
    Problem() = default;
    Problem(qsizetype at_, QString where_, QString why_, QString file_ = {})
        : at(at_), where(std::move(where_)), why(std::move(why_)), file(std::move(file_))
    {
    }

    qsizetype at = 0;   // a byte offset in the file's text, turned into line and column by locate()
    QString where;      // the part of the file: "layer “Ground”", "layers[2].data"
    QString why;        // plain words without a full stop
    QString file;       // the file it was found in; empty when the message names the file itself
    qsizetype line = 0; // 1-based; 0 when there is no line to name
    qsizetype column = 0;

    // Fills line and column from at, counting characters (not bytes) along the line.
    Problem& locate(QByteArrayView text);
    // "line 4, column 9, layer “Ground”"; only what is known, empty when nothing is.
    QString place() const;
};

// "1 tile", "3 tiles".
QString plural(qint64 count, const QString& one, const QString& many);

// Writes the manual page, the shell completions and the command-line document from the command
// table, so that none of them can name an option the program does not take.
// Usage: write_manual FOLDER
#include <QDir>
#include <QFile>
#include <cstdio>

#include "cli/manual.h"

namespace
{

bool writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        std::fprintf(stderr, "write_manual: %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    file.close();
    return file.error() == QFileDevice::NoError;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_manual FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path()))
        return 1;
    const bool written =
        writeFile(folder.filePath(QStringLiteral("tilegrid.1")), manPage()) &&
        writeFile(folder.filePath(QStringLiteral("tilegrid.bash")), bashCompletion()) &&
        writeFile(folder.filePath(QStringLiteral("_tilegrid")), zshCompletion()) &&
        writeFile(folder.filePath(QStringLiteral("tilegrid.fish")), fishCompletion()) &&
        writeFile(folder.filePath(QStringLiteral("command-reference.md")), commandLineMarkdown());
    return written ? 0 : 1;
}

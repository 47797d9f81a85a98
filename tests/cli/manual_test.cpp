// The manual page, the completions and docs/command-reference.md are written from the command
// table; each must name every command and option the program takes, and nothing else.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <set>

#include "cli/command_table.h"
#include "cli/manual.h"

namespace
{

// Long options named in a text, roff's escapes of minus signs and fonts undone.
std::set<std::string> longOptionsIn(QString text)
{
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    static const QRegularExpression font(QStringLiteral("\\\\f[BIR]"));
    text.remove(font);
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*[a-z]"));
    std::set<std::string> found;
    for (const QRegularExpressionMatch& match : option.globalMatch(text))
        found.insert(match.captured().toStdString());
    return found;
}

std::set<std::string> tableOptions(OptionSet options)
{
    std::set<std::string> names;
    for (const OptionDescription& option : describeOptions(options))
        names.insert(option.longName.toStdString());
    return names;
}

QString checkedInCommandLineDoc()
{
    QFile file(QStringLiteral(TILEGRID_SOURCE_DIR "/docs/command-reference.md"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// fish names a long option "-l tile" in its complete lines.
QString fishOptionsSpelledLong(const QString& script)
{
    QStringList lines = script.split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.startsWith(QLatin1String("complete ")))
            line.replace(QStringLiteral(" -l "), QStringLiteral(" --"));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

TEST(Manual, EveryOutputNamesExactlyTheTablesCommandsAndOptions)
{
    std::set<std::string> every = tableOptions(everyOption());
    every.insert("--version");
    const std::pair<const char*, QString> outputs[] = {
        {"manual page", manPage()},
        {"bash completion", bashCompletion()},
        {"zsh completion", zshCompletion()},
        {"fish completion", fishOptionsSpelledLong(fishCompletion())},
        {"docs/command-reference.md", checkedInCommandLineDoc()},
    };
    for (const auto& [what, text] : outputs) {
        SCOPED_TRACE(what);
        EXPECT_EQ(longOptionsIn(text), every);
        for (const CommandSpec& command : commandTable())
            EXPECT_TRUE(text.contains(command.words())) << command.words().toStdString();
    }
    // Each command's section of the manual page lists its own options, no more and no fewer.
    const QStringList sections = manPage().split(QStringLiteral("\n.SS "));
    for (const CommandSpec& command : commandTable()) {
        SCOPED_TRACE(command.words().toStdString());
        QString section;
        for (const QString& candidate : sections)
            if (candidate.startsWith(command.words() + QLatin1Char('\n')))
                section = candidate.section(QStringLiteral("\n.SH "), 0, 0);
        std::set<std::string> listed;
        for (const QString& line : section.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("\\fB")))
                listed.merge(longOptionsIn(line.section(QLatin1Char(' '), 0, 1)));
        EXPECT_EQ(listed, tableOptions(command.options));
    }
}

TEST(Manual, TheCheckedInCommandLineDocumentIsTheTables)
{
    // "make docs" writes it again after a change to the table.
    EXPECT_EQ(checkedInCommandLineDoc().toStdString(), commandLineMarkdown().toStdString());
}

#include "cli/command_line.h"

#include <algorithm>

#include <langinfo.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <clocale>
#include <cstdio>
#include <utility>

#include "cli/batch_runner.h"
#include "cli/command_table.h"
#include "cli/job_plan.h"
#include "document/file_messages.h"
#include "threads/worker_pool.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// False when the user's locale cannot show UTF-8 (the C locale): the program's own typographic
// characters are then written in plain ASCII. Names of files keep their bytes either way.
bool g_localeTakesUtf8 = true;

QString inPlainAscii(QString text)
{
    static constexpr std::pair<char16_t, const char*> kPlain[] = {
        {u'×', "x"}, {u'“', "\""}, {u'”', "\""}, {u'‘', "'"}, {u'’', "'"}, {u'…', "..."}, {u'→', "->"}};
    for (const auto& [fancy, plain] : kPlain)
        text.replace(QChar(fancy), QLatin1StringView(plain));
    return text;
}

// Asked before Qt sets up the program's locale, which it switches to UTF-8 whatever the user's.
bool localeTakesUtf8()
{
    if (!std::setlocale(LC_CTYPE, ""))
        return false;
    const QByteArray codeset = QByteArray(nl_langinfo(CODESET)).toLower();
    return codeset == "utf-8" || codeset == "utf8";
}

void write(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = (g_localeTakesUtf8 ? text : inPlainAscii(text)).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

bool isHelp(const QString& argument)
{
    return argument == QLatin1String("--help") || argument == QLatin1String("-h");
}

bool isVersion(const QString& argument)
{
    return argument == QLatin1String("--version");
}

int usageError(const QString& context, const QString& why, const QString& helpFor)
{
    write(stderr, QStringLiteral("tilegrid%1: %2\nRun \"tilegrid%3 --help\" for the usage.\n")
                      .arg(context.isEmpty() ? QString() : QLatin1Char(' ') + context, why,
                           helpFor.isEmpty() ? QString() : QLatin1Char(' ') + helpFor));
    return kUsageError;
}

// Qt's own warnings (a decoder grumbling about a damaged file) would only repeat, less plainly,
// what the failure line says.
void keepQtQuiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        write(stderr, message + QLatin1Char('\n'));
}

// Everything printed while the jobs run, in the order of the inputs. The progress line lives at
// the bottom of the terminal and is cleared before any other line is printed.
class Reporter
{
  public:
    Reporter(const std::vector<Job>& jobs, const std::vector<JobResult>& results, bool quiet)
        : jobs_(jobs), results_(results), quiet_(quiet),
          progressShown_(!quiet && jobs.size() > 1 && isatty(STDERR_FILENO))
    {
    }

    void finished(int index)
    {
        const Job& job = jobs_[size_t(index)];
        const JobResult& result = results_[size_t(index)];
        clearProgress();
        // A job of several files may fail in some and report on the others: one line per failure.
        if (!result.error.isEmpty()) {
            ++failures_;
            for (const QString& line : result.error.split(QLatin1Char('\n')))
                write(stderr, QStringLiteral("tilegrid: %1\n").arg(line));
        }
        if (!result.report.isEmpty()) {
            write(stdout, (reports_++ > 0 ? QStringLiteral("\n") : QString()) + result.report);
        } else if (result.error.isEmpty() && !quiet_) {
            write(stdout, QStringLiteral("%1 -> %2\n")
                              .arg(job.inputs.join(QStringLiteral(", ")), job.output));
        }
    }

    void progress(int done)
    {
        done_ = done;
        if (progressShown_ && done < int(jobs_.size()))
            write(stderr, progressLine());
    }

    int failures() const { return failures_; }

  private:
    QString progressLine() const
    {
        QString line = QStringLiteral("\r%1 of %2 sheets done").arg(done_).arg(jobs_.size());
        if (failures_ > 0)
            line += QStringLiteral(", %1 failed").arg(failures_);
        return line;
    }

    void clearProgress() const
    {
        if (progressShown_)
            write(stderr, QStringLiteral("\r\x1b[K"));
    }

    const std::vector<Job>& jobs_;
    const std::vector<JobResult>& results_;
    bool quiet_;
    bool progressShown_;
    int done_ = 0;
    int failures_ = 0;
    int reports_ = 0;
};

// Running out of memory fails this job's files and no others.
JobResult runJob(const CommandSpec& command, const CommandOptions& options, const Job& job)
{
    try {
        return command.run(options, job);
    } catch (const std::bad_alloc&) {
        QStringList files;
        for (const QString& input : job.inputs)
            files << quotedPath(input);
        return JobResult{QStringLiteral("%1: not enough memory.").arg(files.join(u", ")),
                         QString()};
    }
}

int runCommand(const CommandSpec& command, const QStringList& arguments)
{
    const ParsedOptions parsed = parseCommandOptions(arguments, command.options);
    if (!parsed.error.isEmpty())
        return usageError(command.words(), parsed.error, command.words());
    CommandOptions options = parsed.options;
    if (options.help) {
        write(stdout, commandHelp(command));
        return 0;
    }
    const JobPlan plan = planJobs(command, options);
    if (!plan.error.isEmpty())
        return usageError(command.words(), plan.error, command.words());

    // -o and --out-dir alike create the folder their results go into.
    const QString folder = !options.outDir.isEmpty()   ? options.outDir
                           : !options.output.isEmpty() ? QFileInfo(options.output).path()
                                                       : QString();
    if (!folder.isEmpty() && !QDir().mkpath(folder)) {
        // mkpath fails on a file standing where a folder should be, the folder itself or above.
        QString file = QFileInfo(folder).absoluteFilePath();
        while (!QFileInfo(file).isFile() && QFileInfo(file).absolutePath() != file)
            file = QFileInfo(file).absolutePath();
        write(stderr, QFileInfo(file).isFile()
                          ? QStringLiteral("tilegrid: the folder %1 cannot be created: %2 is a "
                                           "file, not a folder.\n")
                                .arg(quotedPath(folder),
                                     quotedPath(QDir::current().relativeFilePath(file)))
                          : QStringLiteral("tilegrid: the folder %1 cannot be created.\n")
                                .arg(quotedPath(folder)));
        return kFailed;
    }

    std::vector<JobResult> results(plan.jobs.size());
    Reporter reporter(plan.jobs, results, options.quiet);
    runBatch(
        int(plan.jobs.size()), options.jobs > 0 ? options.jobs : WorkerPool::shared().cores(),
        [&](int i) { results[size_t(i)] = runJob(command, options, plan.jobs[size_t(i)]); },
        [&](int i) { reporter.finished(i); }, [&](int done) { reporter.progress(done); });
    return reporter.failures() > 0 ? kFailed : 0;
}

}  // namespace

int runCommandLine(const QStringList& arguments)
{
    if (arguments.isEmpty() || isHelp(arguments.front())) {
        write(stdout, programHelp());
        return 0;
    }
    if (isVersion(arguments.front())) {
        write(stdout, versionText());
        return 0;
    }

    // One-word commands are named by their group alone; the others by two words.
    const QString& group = arguments.front();
    if (isCommandOption(group))
        return usageError(
            QString(),
            QStringLiteral("%1 belongs after a command: tilegrid COMMAND [OPTIONS] IN...")
                .arg(group),
            QString());
    if (const CommandSpec* command = findCommand(group, QString()))
        return runCommand(*command, arguments.mid(1));
    if (!isCommandGroup(group))
        return usageError(QString(), QStringLiteral("unknown command “%1”.").arg(group), QString());
    QStringList names;
    for (const CommandSpec* command : commandsOf(group))
        names << QLatin1StringView(command->name);
    const QString choices =
        QStringLiteral("%1 or %2")
            .arg(names.mid(0, names.size() - 1).join(QStringLiteral(", ")), names.back());
    if (arguments.size() < 2 || arguments[1].startsWith(QLatin1Char('-'))) {
        if (arguments.size() >= 2 && isHelp(arguments[1])) {
            write(stdout, groupHelp(group));
            return 0;
        }
        return usageError(group, QStringLiteral("say what to do: %1.").arg(choices), group);
    }
    if (const CommandSpec* command = findCommand(group, arguments[1]))
        return runCommand(*command, arguments.mid(2));
    return usageError(
        group,
        QStringLiteral("unknown command “%1 %2”; %1 takes %3.").arg(group, arguments[1], choices),
        group);
}

std::optional<int> runCommandLineIfAsked(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    const QString first = QString::fromLocal8Bit(argv[1]);
    const bool command =
        isCommandGroup(first) || isHelp(first) || isVersion(first) || isCommandOption(first);
    // Other options are Qt's own for the window ("-platform", "-style", ...).
    if (!command && (first.startsWith(QLatin1Char('-')) || QFileInfo::exists(first)))
        return std::nullopt;
    g_localeTakesUtf8 = localeTakesUtf8();
    if (!command)
        return usageError(
            QString(), QStringLiteral("“%1” is neither a command nor an existing file.").arg(first),
            QString());

    // A core application only: no platform plugin is loaded, so no display is needed.
    int count = argc;
    QCoreApplication application(count, argv);
    qInstallMessageHandler(keepQtQuiet);
    return runCommandLine(application.arguments().mid(1));
}

#include <gtest/gtest.h>

#include <QDir>
#include <QIODevice>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include <sys/resource.h>

#include "document/atomic_file.h"
#include "support/image_files.h"

namespace {

QString systemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// When the last step, putting the new file in place, fails, the message gives that step's own
// reason, whatever an earlier call left in errno while the file was written.
TEST(AtomicFile, AFailedReplaceGivesTheReasonOfTheStepThatFailed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sheet.png"));
    const QString error = writeFileAtomically(path, [&](QIODevice& device, QString&) {
        // A folder takes the target's name while the file is written.
        QDir(dir.path()).mkpath(QStringLiteral("sheet.png/inside"));
        const bool written = device.write("new") == 3;
        errno = ENOSPC;  // as a failed call that did not matter would leave it
        return written;
    });
    EXPECT_TRUE(error.startsWith(QStringLiteral("Could not save “%1”: ").arg(path)))
        << error.toStdString();
    EXPECT_TRUE(error.contains(systemReason(EISDIR))) << error.toStdString();
    EXPECT_FALSE(error.contains(systemReason(ENOSPC))) << error.toStdString();
    EXPECT_EQ(folderEntries(dir.path()), QStringList(QStringLiteral("sheet.png")));
}

// A write that fails at any step, as on a full disk, leaves the old files as they were and no
// temporary file or folder behind, and says why in the system's words.
struct FailureCase {
    const char* name;
    FileStep step;
    qint64 after = 0;        // for Write: the bytes written before it fails
    bool together = false;   // written by writeFilesTogether, two files
    bool newFolder = false;  // the file goes into folders that do not exist yet
    int fileLimit = -1;      // >= 0: no seam, the system refuses a file beyond this many bytes
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class WriteFailures : public ::testing::TestWithParam<FailureCase>
{
  protected:
    void TearDown() override
    {
        g_failFileStepForTesting = nullptr;
        setMakeMissingFolders(false);
    }
};

// Lets files grow no larger than bytes until it goes, and a file that would grow further fails
// its write instead of ending the program.
class FileSizeLimit
{
  public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST_P(WriteFailures, LeaveTheOldFilesAndSayWhy)
{
    const FailureCase& c = GetParam();
    QTemporaryDir dir;
    const QStringList names = c.together ? QStringList{"map.tmx", "tiles.tsx"}
                                         : QStringList{"sheet.png"};
    for (const QString& name : names)
        writeFileBytes(dir.filePath(name), "old " + name.toUtf8());
    const QStringList before = folderEntries(dir.path());
    const QString target = dir.filePath(c.newFolder ? QStringLiteral("new/deep/sheet.png")
                                                    : names.front());
    const QByteArray bytes(100000, 'n');
    setMakeMissingFolders(c.newFolder);
    const int code = c.fileLimit >= 0 ? EFBIG : ENOSPC;
    if (c.fileLimit < 0)
        g_failFileStepForTesting = [&c](FileStep step, qint64 soFar) {
            return step == c.step && soFar >= c.after ? ENOSPC : 0;
        };

    QString error;
    {
        std::optional<FileSizeLimit> limit;
        if (c.fileLimit >= 0)
            limit.emplace(rlim_t(c.fileLimit));
        if (c.together)
            error = writeFilesTogether({{target, bytes}, {dir.filePath(names[1]), bytes}});
        else
            error = writeFileAtomically(target, bytes);
    }

    EXPECT_TRUE(error.startsWith(QStringLiteral("Could not save “%1”: ").arg(target)))
        << error.toStdString();
    EXPECT_TRUE(error.contains(systemReason(code))) << error.toStdString();
    for (const QString& name : names)
        EXPECT_EQ(readFileBytes(dir.filePath(name)), "old " + name.toUtf8());
    EXPECT_EQ(folderEntries(dir.path()), before);
}

const FailureCase kFailureCases[] = {
    {"FirstWrite", FileStep::Write},
    {"WriteInMidFile", FileStep::Write, 50000},
    {"Sync", FileStep::Sync},
    {"Close", FileStep::Close},
    {"Rename", FileStep::Rename},
    {"TogetherWrite", FileStep::Write, 50000, true},
    {"TogetherClose", FileStep::Close, 0, true},
    {"TogetherRename", FileStep::Rename, 0, true},
    {"CloseInNewFolders", FileStep::Close, 0, false, true},
    {"TogetherRenameInNewFolders", FileStep::Rename, 0, true, true},
    {"SmallFileOnTheSystem", FileStep::Write, 0, false, false, 1000},
    {"LargeFileOnTheSystem", FileStep::Write, 0, false, false, 70000},
    {"TogetherOnTheSystem", FileStep::Write, 0, true, false, 1000},
};

INSTANTIATE_TEST_SUITE_P(Steps, WriteFailures, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

#include <gtest/gtest.h>

#include <QDir>
#include <QIODevice>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>

#include "document/atomic_file.h"
#include "support/image_files.h"

namespace {

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
    const auto reason = [](int code) { return QString::fromLocal8Bit(std::strerror(code)); };
    EXPECT_TRUE(error.startsWith(QStringLiteral("Could not save “%1”: ").arg(path)))
        << error.toStdString();
    EXPECT_TRUE(error.contains(reason(EISDIR))) << error.toStdString();
    EXPECT_FALSE(error.contains(reason(ENOSPC))) << error.toStdString();
    EXPECT_EQ(folderEntries(dir.path()), QStringList(QStringLiteral("sheet.png")));
}

}  // namespace

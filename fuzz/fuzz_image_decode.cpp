// Image files from an untrusted source, through the same size guard and decoder as File "Open..":
// every input must give either a 24-bit image within the size limit or a message, never a crash,
// an overflow or a huge allocation.
#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "document/image_decoder.h"
#include "fuzz_check.h"
#include "image/pixel_block.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // GIF and JPEG come from image plugins, which need an application object to be found.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication app(*argc, *argv);
    // Qt's readers warn about every damaged file; millions of warnings only slow the search.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    // Decode one small image of each format now, so that plugin loading and Qt's caches are not
    // taken for leaks of the first input.
    QImage sample(4, 4, QImage::Format_RGB32);
    sample.fill(Qt::red);
    for (const char* format : {"png", "bmp", "gif", "jpeg"}) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (writer.write(sample))
            decodeImageData(bytes, QStringLiteral("warm-up"));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // Transparency laid over black, as the window opens by default, and kept, as commands do.
    for (const Transparency transparency : {Transparency::OverBlack, Transparency::Keep}) {
        const DecodeResult result = decodeImageData(bytes, QStringLiteral("fuzz.img"), transparency);
        if (result.ok()) {
            FUZZ_CHECK(result.error.isEmpty());
            // A sheet keeps alpha only when asked and only when some pixel is not opaque.
            const bool kept = transparency == Transparency::Keep && result.transparent;
            FUZZ_CHECK(result.image.format() ==
                       (kept ? QImage::Format_ARGB32 : QImage::Format_BGR888));
            FUZZ_CHECK(result.image.width() <= kMaxImageSide &&
                       result.image.height() <= kMaxImageSide);
        } else {
            // Every refusal names the file, so the user knows which one failed.
            FUZZ_CHECK(result.error.contains(QStringLiteral("fuzz.img")));
        }
    }
    return 0;
}

#include "document/png_writer.h"

#include <png.h>

#include <QIODevice>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "document/writer_pixels.h"

namespace {

constexpr const char* kDeviceFailed = "the file could not be written";

// Everything the libpng callbacks need. Plain data only: libpng leaves by longjmp, which must
// never skip a destructor.
struct PngSink {
    QIODevice* device;
    char message[256];
};

void keepMessage(PngSink* sink, const char* text)
{
    std::strncpy(sink->message, text ? text : "unknown error", sizeof sink->message - 1);
    sink->message[sizeof sink->message - 1] = '\0';
}

void writeToDevice(png_structp png, png_bytep data, png_size_t length)
{
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    if (sink->device->write(reinterpret_cast<const char*>(data), qint64(length)) != qint64(length))
        png_error(png, kDeviceFailed);
}

void flushDevice(png_structp) {}

[[noreturn]] void onPngError(png_structp png, png_const_charp text)
{
    keepMessage(static_cast<PngSink*>(png_get_error_ptr(png)), text);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// The libpng part, free of C++ objects with destructors because of setjmp. rowBuffer holds one
// 32-bit row and is used only for 32-bit images.
bool encode(PngSink* sink, const QImage* image, png_bytep rowBuffer)
{
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, onPngError, onPngWarning);
    if (!png) {
        keepMessage(sink, "libpng could not start (out of memory)");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        keepMessage(sink, "libpng could not start (out of memory)");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }

    const bool alpha = image->depth() == 32;
    const int width = image->width();
    png_set_write_fn(png, sink, writeToDevice, flushDevice);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(image->height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Rows are in memory as B,G,R(,A); libpng swaps them to the file's R,G,B(,A).
    png_set_bgr(png);
    png_write_info(png, info);
    for (int y = 0; y < image->height(); ++y) {
        if (alpha) {
            copyOpaqueRow(image->constScanLine(y), rowBuffer, width);
            png_write_row(png, rowBuffer);
        } else {
            png_write_row(png, image->constScanLine(y));
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool writePng(const QImage& image, QIODevice& device, QString& error)
{
    const QImage pixels = inWriterLayout(image);
    if (pixels.isNull()) {
        error = QStringLiteral("not enough memory to prepare the image");
        return false;
    }
    std::vector<png_byte> rowBuffer(pixels.depth() == 32 ? size_t(pixels.width()) * 4 : 0);
    PngSink sink{&device, {}};
    if (encode(&sink, &pixels, rowBuffer.data()))
        return true;
    // When the device refused the bytes its own reason says more than libpng's.
    error = QString::fromUtf8(sink.message);
    if (std::strcmp(sink.message, kDeviceFailed) == 0 && !device.errorString().isEmpty())
        error = device.errorString();
    return false;
}

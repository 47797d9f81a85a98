#include "document/png_reader.h"

#include <png.h>

#include <QIODevice>
#include <csetjmp>
#include <cstring>
#include <new>
#include <vector>

#include "image/pixel_block.h"

// Everything the libpng callbacks need. Plain data only: libpng leaves by longjmp, which must
// never skip a destructor.
struct PngReadState {
    QIODevice* device;
    png_structp png = nullptr;
    png_infop info = nullptr;
    bool alpha = false;
    bool interlaced = false;
    char message[256] = "libpng could not start (out of memory)";
};

namespace {

void keepMessage(PngReadState* state, const char* text)
{
    std::strncpy(state->message, text ? text : "unknown error", sizeof state->message - 1);
    state->message[sizeof state->message - 1] = '\0';
}

void readFromDevice(png_structp png, png_bytep data, png_size_t length)
{
    auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
    if (state->device->read(reinterpret_cast<char*>(data), qint64(length)) != qint64(length))
        png_error(png, "the file ends before the picture does");
}

[[noreturn]] void onPngError(png_structp png, png_const_charp text)
{
    keepMessage(static_cast<PngReadState*>(png_get_error_ptr(png)), text);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

bool readInfo(PngReadState* state)
{
    png_structp png = state->png;
    png_infop info = state->info;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, state, readFromDevice);
    // Our own guard words the size limit; libpng's would only stop the absurd.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);

    const int colourType = png_get_color_type(png, info);
    state->alpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    state->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    // Whatever the file holds becomes 8-bit B,G,R, with A where it has transparency.
    png_set_expand(png);
    png_set_scale_16(png);
    if (!(colourType & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != png_get_image_width(png, info) * (state->alpha ? 4u : 3u))
        png_error(png, "unexpected pixel layout");
    return true;
}

// rows points at each row the decoder writes: the image's own, or the 4-byte rows of rgba.
// Rows are read one at a time unless interlaced, when libpng needs them all at once. Every row
// read into rgba is laid over black into bgr at once.
bool readRows(PngReadState* state, png_bytepp rows, int height, uchar* bgr, qsizetype bgrStride,
              int width)
{
    png_structp png = state->png;
    if (setjmp(png_jmpbuf(png)))
        return false;
    if (state->interlaced) {
        png_read_image(png, rows);
    } else {
        for (int y = 0; y < height; ++y) {
            png_read_row(png, rows[y], nullptr);
            if (state->alpha)
                layOverBlack(rows[y], bgr + y * bgrStride, width);
        }
    }
    if (state->interlaced && state->alpha)
        for (int y = 0; y < height; ++y)
            layOverBlack(rows[y], bgr + y * bgrStride, width);
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

PngReader::PngReader(QIODevice& device) : state_(new PngReadState{&device})
{
    state_->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state_, onPngError, onPngWarning);
    if (state_->png)
        state_->info = png_create_info_struct(state_->png);
}

PngReader::~PngReader()
{
    if (state_->png)
        png_destroy_read_struct(&state_->png, state_->info ? &state_->info : nullptr, nullptr);
    delete state_;
}

bool PngReader::readHeader()
{
    if (!state_->info || !readInfo(state_))
        return false;
    size_ = QSize(int(png_get_image_width(state_->png, state_->info)),
                  int(png_get_image_height(state_->png, state_->info)));
    return true;
}

bool PngReader::readPixels(QImage& image)
{
    const int width = image.width(), height = image.height();
    uchar* bgr = image.bits();
    const qsizetype stride = image.bytesPerLine();
    try {
        // Without transparency libpng writes straight into the image. With it, one 4-byte row at
        // a time, or the whole picture when interlaced.
        std::vector<uchar> rgba;
        if (state_->alpha)
            rgba.resize(size_t(width) * 4 * size_t(state_->interlaced ? height : 1));
        std::vector<png_bytep> rows(static_cast<size_t>(height));
        for (int y = 0; y < height; ++y)
            rows[size_t(y)] = !state_->alpha ? bgr + y * stride
                              : state_->interlaced ? rgba.data() + size_t(y) * size_t(width) * 4
                                                   : rgba.data();
        return readRows(state_, rows.data(), height, bgr, stride, width);
    } catch (const std::bad_alloc&) {
        keepMessage(state_, "not enough memory");
        return false;
    }
}

QString PngReader::error() const
{
    return QString::fromUtf8(state_->message);
}

#pragma once

#include <QImage>
#include <QString>
#include <functional>

#include "document/png_form.h"

class QIODevice;

// How hard a PNG save works for a small file. Fast suits saving while working; the others are
// for sheets that ship.
enum class PngCompression {
    Fast,      // libdeflate at level, rows unfiltered
    Small,     // zlib's level 8 or Fast, whichever is smaller: within 2 % of zlib 9, rows unfiltered
    Smallest,  // libdeflate's level 12, each piece filtered as compresses best; many times slower
};

// What a PNG save may be told besides the image. The defaults suit the program.
struct PngWriteOptions {
    // Threads that compress at most; 0 takes as many as the shared worker pool has cores free.
    int threads = 0;
    // Called on the calling thread after each written part with the rows written so far and the
    // image's height; returning false cancels the save.
    std::function<bool(qint64 done, qint64 total)> progress;
    // libdeflate's level, 1 to 12. 7 saves ten to fifteen times faster than zlib level 9, for
    // files under 1 % larger on a sheet of real game tiles and some 6 % larger on flat, much
    // repeated pixel art; 8 and 9 come within 2 to 3 % there at two and three times 7's time.
    int level = 7;
    PngCompression compression = PngCompression::Fast;
    // Bytes of unfiltered rows each thread compresses at a time (at least one row). Every piece
    // starts without the history of the one before, so smaller pieces mean slightly larger files.
    qint64 pieceBytes = 4 << 20;
    // The form the pixels came in: a palette or grey is written so again while the pixels allow
    // (see keptPngPlan); otherwise, and when null, 8-bit RGB or RGBA, or with Small and Smallest
    // whichever smaller form tried makes the smallest file.
    const StoredForm* keep = nullptr;
    // Told the colour type written, when not null.
    int* writtenColourType = nullptr;
};

// The reason writePng gives when the progress callback cancelled the save.
inline constexpr char kSaveCancelled[] = "the save was cancelled";

// Writes image as PNG: IHDR, IDAT, IEND only; 8 bits; colour type 2 for a 24-bit image, 6 for a
// 32-bit one (its own alpha for a sheet that keeps it, 255 for an opaque one), unless options
// keep or find another form (then PLTE and tRNS as it needs, and its depth); filter None on
// every row, except that Smallest may filter a piece's rows when that compresses better. The
// rows are compressed (by libdeflate, or zlib where Small finds it smaller) in pieces on several
// threads, joined into one zlib stream; each piece is an IDAT chunk of its own, which lets the
// reader inflate them apart again. Returns false with a plain reason in error (the device's own,
// when it refused the bytes).
bool writePng(const QImage& image, QIODevice& device, QString& error,
              const PngWriteOptions& options = {});

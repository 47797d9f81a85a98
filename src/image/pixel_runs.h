#pragma once

#include <QRgb>
#include <cstddef>
#include <cstdint>
#include <vector>

// A sequence of pixels kept compactly: as runs of one colour when that is smaller, otherwise as
// the plain pixels. Grid lines and the flat edges of a sheet are mostly long runs, so what an undo
// keeps of them costs a few bytes instead of a share of the sheet.
class PixelRuns {
public:
    // Appends count pixels.
    void append(const QRgb* pixels, size_t count);
    // Ends the appending; picks the smaller form.
    void finish();

    size_t count() const { return count_; }
    // Bytes held, for the history's memory budget.
    size_t bytes() const { return values_.capacity() * sizeof(QRgb) + lengths_.capacity() * sizeof(uint32_t); }

    // Reads the pixels back in order.
    class Reader {
    public:
        explicit Reader(const PixelRuns& runs) : runs_(runs) {}
        // Writes the next count pixels to out; false when fewer are left.
        bool take(QRgb* out, size_t count);

    private:
        const PixelRuns& runs_;
        size_t run_ = 0;       // index into values_ (a run, or a pixel in the plain form)
        uint32_t usedOfRun_ = 0;
    };

private:
    // Pixels appended before the runs are judged worth keeping or not.
    static constexpr size_t kTrial = 4096;
    void makePlain();

    std::vector<QRgb> values_;
    std::vector<uint32_t> lengths_;  // empty in the plain form
    size_t count_ = 0;
    bool plain_ = false;
};

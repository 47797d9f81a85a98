#include "image/pixel_runs.h"

#include <algorithm>
#include <cstring>
#include <limits>

void PixelRuns::append(const QRgb* pixels, size_t count)
{
    count_ += count;
    if (plain_) {
        values_.insert(values_.end(), pixels, pixels + count);
        return;
    }
    for (size_t i = 0; i < count;) {
        const QRgb value = pixels[i];
        size_t end = i + 1;
        while (end < count && pixels[end] == value)
            ++end;
        size_t length = end - i;
        constexpr size_t kLongest = std::numeric_limits<uint32_t>::max();
        if (!lengths_.empty() && values_.back() == value && length <= kLongest &&
            lengths_.back() <= kLongest - length) {
            lengths_.back() += uint32_t(length);
        } else {
            while (length > kLongest) {
                values_.push_back(value);
                lengths_.push_back(uint32_t(kLongest));
                length -= kLongest;
            }
            values_.push_back(value);
            lengths_.push_back(uint32_t(length));
        }
        i = end;
    }
    // Runs that do not pay are given up as soon as that shows, so that the memory never grows
    // much beyond what the plain pixels need.
    if (count_ >= kTrial && lengths_.size() * 2 > count_)
        makePlain();
}

void PixelRuns::makePlain()
{
    std::vector<QRgb> pixels;
    pixels.reserve(count_);
    for (size_t r = 0; r < values_.size(); ++r)
        pixels.insert(pixels.end(), lengths_[r], values_[r]);
    values_ = std::move(pixels);
    std::vector<uint32_t>().swap(lengths_);
    plain_ = true;
}

void PixelRuns::finish()
{
    // A run costs two words, a plain pixel one: keep the runs only when they are fewer than half.
    if (!plain_ && lengths_.size() * 2 > count_)
        makePlain();
    values_.shrink_to_fit();
    lengths_.shrink_to_fit();
}

bool PixelRuns::Reader::take(QRgb* out, size_t count)
{
    if (runs_.plain_) {
        if (runs_.values_.size() - run_ < count)
            return false;
        std::memcpy(out, runs_.values_.data() + run_, count * sizeof(QRgb));
        run_ += count;
        return true;
    }
    while (count > 0) {
        if (run_ >= runs_.values_.size())
            return false;
        const size_t left = runs_.lengths_[run_] - usedOfRun_;
        const size_t n = std::min(left, count);
        std::fill_n(out, n, runs_.values_[run_]);
        out += n;
        count -= n;
        usedOfRun_ += uint32_t(n);
        if (usedOfRun_ == runs_.lengths_[run_]) {
            ++run_;
            usedOfRun_ = 0;
        }
    }
    return true;
}

#include "level/text_splice.h"

#include <algorithm>
#include <charconv>
#include <cstring>

void TextSplice::replace(Span span, QByteArrayView text)
{
    edits_.push_back({span.begin, span.end, pool_.size(), text.size()});
    pool_.append(text);
}

void TextSplice::replace(Span span, QByteArray text, TakeText)
{
    edits_.push_back({span.begin, span.end, -1 - qsizetype(taken_.size()), text.size()});
    taken_.push_back(std::move(text));
}

void TextSplice::replaceNumber(Span span, int64_t value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    replace(span, QByteArrayView(digits, result.ptr - digits));
}

QByteArray TextSplice::apply(QByteArrayView original) const
{
    auto byBegin = [](const Edit& a, const Edit& b) { return a.begin < b.begin; };
    // Readers find their places front to back, so the edits are nearly always in order already.
    std::vector<Edit> sorted;
    const std::vector<Edit>* edits = &edits_;
    if (!std::is_sorted(edits_.begin(), edits_.end(), byBegin)) {
        sorted = edits_;
        std::stable_sort(sorted.begin(), sorted.end(), byBegin);
        edits = &sorted;
    }
    qsizetype size = original.size();
    for (const Edit& edit : *edits)
        size += edit.textSize - (edit.end - edit.begin);
    QByteArray out(size, Qt::Uninitialized);
    char* to = out.data();
    const char* pool = pool_.constData();
    qsizetype from = 0;
    for (const Edit& edit : *edits) {
        std::memcpy(to, original.data() + from, size_t(edit.begin - from));
        to += edit.begin - from;
        const char* text = edit.textBegin >= 0 ? pool + edit.textBegin
                                               : taken_[size_t(-1 - edit.textBegin)].constData();
        std::memcpy(to, text, size_t(edit.textSize));
        to += edit.textSize;
        from = edit.end;
    }
    std::memcpy(to, original.data() + from, size_t(original.size() - from));
    return out;
}

QByteArray TextSplice::applyWithin(QByteArrayView original, Span span) const
{
    TextSplice inside;
    for (const Edit& edit : edits_)
        if (edit.begin >= span.begin && edit.end <= span.end)
            inside.replace({edit.begin - span.begin, edit.end - span.begin},
                           edit.textBegin >= 0
                               ? QByteArrayView(pool_).sliced(edit.textBegin, edit.textSize)
                               : QByteArrayView(taken_[size_t(-1 - edit.textBegin)]));
    return inside.apply(original.sliced(span.begin, span.size()));
}

void TextSplice::dropWithin(Span span)
{
    std::erase_if(edits_, [&](const Edit& edit) {
        return edit.begin >= span.begin && edit.end <= span.end;
    });
}

void StretchWriter::replaceNumber(Span span, int64_t value)
{
    if (begin_ < 0) {
        begin_ = from_ = span.begin;
        text_.resize(original_.size() - begin_ + 64);
    }
    // A layer's numbers come by the million: write them straight into the buffer.
    const qsizetype gap = span.begin - from_;
    constexpr qsizetype kLongestNumber = 20;
    if (used_ + gap + kLongestNumber > text_.size())
        text_.resize(std::max(text_.size() * 2, used_ + gap + kLongestNumber));
    char* to = text_.data() + used_;
    std::memcpy(to, original_.data() + from_, size_t(gap));
    to = std::to_chars(to + gap, text_.data() + text_.size(), value).ptr;
    used_ = to - text_.data();
    from_ = span.end;
}

void StretchWriter::finish(TextSplice& splice)
{
    if (begin_ >= 0)
        splice.replace({begin_, from_}, QByteArrayView(text_.constData(), used_));
}

QString linePlace(QByteArrayView text, qsizetype offset)
{
    offset = std::clamp<qsizetype>(offset, 0, text.size());
    qsizetype line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    qsizetype column = 1;
    for (qsizetype i = lineStart; i < offset; ++i)
        if ((uchar(text[i]) & 0xc0) != 0x80) // continuation bytes belong to the character before
            ++column;
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

bool parseWholeNumber(QByteArrayView text, bool allowSign, int64_t& value)
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin == end || *begin == '+' || (*begin == '-' && !allowSign))
        return false;
    const auto result = std::from_chars(begin, end, value);
    return result.ec == std::errc() && result.ptr == end;
}

#include "document/edit_history.h"

#include <algorithm>

void EditHistory::clear()
{
    steps_.clear();
    bytes_.clear();
    keptBytes_ = 0;
    present_ = 0;
    dropped_ = 0;
    imageMark_ = {};
    mapMark_ = {};
}

bool EditHistory::changes(const Edit& edit, Mark mark)
{
    return mark == Mark::Image ? edit.changesImage() : edit.changesMap();
}

void EditHistory::foldMarks(qint64 from, qint64 to, qint64 moveTo)
{
    for (Mark kind : {Mark::Image, Mark::Map}) {
        SavedAt& mark = markOf(kind);
        if (mark.at < from || mark.at > to || mark.at == moveTo)
            continue;
        // The steps between the mark and where it moves to are about to be forgotten.
        const qint64 lo = std::min(mark.at, moveTo) - dropped_;
        const qint64 hi = std::max(mark.at, moveTo) - dropped_;
        for (qint64 i = lo; i < hi && !mark.changedBeyond; ++i)
            mark.changedBeyond = changes(*steps_[size_t(i)], kind);
        mark.at = moveTo;
    }
}

void EditHistory::push(std::unique_ptr<Edit> edit)
{
    const qint64 now = dropped_ + present_;
    foldMarks(now, dropped_ + qint64(steps_.size()), now);
    while (steps_.size() > size_t(present_)) {
        keptBytes_ -= bytes_.back();
        bytes_.pop_back();
        steps_.pop_back();
    }
    steps_.push_back(std::move(edit));
    bytes_.push_back(0);
    recount(steps_.size() - 1);
    ++present_;
    dropOldestOverBudget();
}

Edit* EditHistory::toUndo() const
{
    return present_ > 0 ? steps_[size_t(present_ - 1)].get() : nullptr;
}

Edit* EditHistory::toRedo() const
{
    return present_ < int(steps_.size()) ? steps_[size_t(present_)].get() : nullptr;
}

void EditHistory::undone()
{
    Q_ASSERT(present_ > 0);
    --present_;
    recount(size_t(present_));
}

void EditHistory::redone()
{
    Q_ASSERT(present_ < int(steps_.size()));
    recount(size_t(present_));
    ++present_;
}

void EditHistory::recount(size_t index)
{
    const qint64 now = steps_[index]->keptBytes();
    keptBytes_ += now - bytes_[index];
    bytes_[index] = now;
}

void EditHistory::setMark(Mark mark)
{
    markOf(mark) = SavedAt{dropped_ + present_, false};
}

bool EditHistory::changedSince(Mark mark) const
{
    const SavedAt& saved = mark == Mark::Image ? imageMark_ : mapMark_;
    if (saved.changedBeyond)
        return true;
    const qint64 now = dropped_ + present_;
    const qint64 from = std::min(saved.at, now) - dropped_;
    const qint64 to = std::max(saved.at, now) - dropped_;
    for (qint64 i = from; i < to; ++i)
        if (changes(*steps_[size_t(i)], mark))
            return true;
    return false;
}

void EditHistory::setBudget(qint64 bytes)
{
    budget_ = bytes;
    dropOldestOverBudget();
}

void EditHistory::dropOldestOverBudget()
{
    while (keptBytes_ > budget_ && present_ > 1) {
        // The point before the oldest step can no longer be reached: a mark there moves past it.
        foldMarks(dropped_, dropped_, dropped_ + 1);
        keptBytes_ -= bytes_.front();
        bytes_.pop_front();
        steps_.pop_front();
        --present_;
        ++dropped_;
    }
}

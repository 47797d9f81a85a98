#pragma once

#include <QString>
#include <deque>
#include <memory>

#include "document/edit.h"

// The steps that can be undone and redone, with two marks: where the image and where the map were
// last saved or opened. Whether either is unsaved follows from the steps between its mark and the
// present, so no flag is ever set by hand.
//
// Qt's QUndoStack was the first choice, but it can drop its oldest steps only by a count set while
// it is empty, while a step here keeps anything from a few bytes to a share of the sheet; and it has
// one clean mark where we need two.
class EditHistory {
public:
    enum class Mark { Image, Map };

    // Forgets every step; both marks are set at the present.
    void clear();

    // Records a step that was just taken forward. Steps that could be redone are dropped, and the
    // oldest steps too while the kept bytes exceed the budget (the newest step always stays, and
    // only steps that are done are dropped: the budget is checked again at the next step).
    void push(std::unique_ptr<Edit> edit);

    // The step Undo would take back, and the one Redo would take again; null when there is none.
    Edit* toUndo() const;
    Edit* toRedo() const;
    // Moves the present after the step returned above was taken.
    void undone();
    void redone();

    void setMark(Mark mark);
    // True when a step between the mark and the present changes the image (Mark::Image) or the map
    // (Mark::Map), counting steps since forgotten.
    bool changedSince(Mark mark) const;

    void setBudget(qint64 bytes);
    qint64 budget() const { return budget_; }
    qint64 keptBytes() const { return keptBytes_; }
    int count() const { return int(steps_.size()); }
    int undoCount() const { return present_; }

private:
    // Where something was saved, counted in steps from the very start. When steps between it and
    // what can still be reached are forgotten (a new step after undos, or the oldest steps over
    // the budget), the mark moves to the nearest point that can be reached and remembers whether
    // the forgotten steps changed what it guards.
    struct SavedAt {
        qint64 at = 0;
        bool changedBeyond = false;
    };

    void dropOldestOverBudget();
    SavedAt& markOf(Mark mark) { return mark == Mark::Image ? imageMark_ : mapMark_; }
    static bool changes(const Edit& edit, Mark mark);
    // Moves every mark within [from, to) (absolute) to moveTo, folding in steps_ taken from index.
    void foldMarks(qint64 from, qint64 to, qint64 moveTo);

    // Keeps a step's bytes counted as what it keeps now; a step keeps other things after an undo.
    void recount(size_t index);

    std::deque<std::unique_ptr<Edit>> steps_;
    std::deque<qint64> bytes_;  // what each step kept when last counted
    qint64 keptBytes_ = 0;      // their sum
    int present_ = 0;      // steps_[0 .. present_) are done
    qint64 dropped_ = 0;   // steps forgotten from the front
    SavedAt imageMark_;
    SavedAt mapMark_;
    qint64 budget_ = qint64(256) << 20;
};

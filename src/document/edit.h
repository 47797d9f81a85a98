#pragma once

#include <QString>
#include <QtGlobal>

#include "tilemap/sheet.h"

// Which way a step of the history is taken: done (and redone) or undone.
enum class Direction { Forward, Backward };

// One undoable change of the sheet. It keeps only what its inverse cannot recompute, never a copy
// of the working image: an in-place swap after it would then copy the whole sheet.
//
// Each way is taken in two halves. prepare() does the heavy part (a new image) while only reading
// the sheet, so it may run away from the window's thread; apply() then puts the result in, which
// is quick. A prepare() that fails changes nothing.
class Edit {
public:
    virtual ~Edit() = default;

    // What Undo and Redo are named after: "Swap Tiles".
    virtual QString name() const = 0;

    // An empty string when the step can be taken, otherwise why not in plain words.
    virtual QString prepare(const Sheet& sheet, Direction direction) = 0;
    virtual void apply(Sheet& sheet, Direction direction) = 0;

    // Whether prepare() can take long on a large sheet (a new image); quick steps such as a swap
    // are not worth another thread.
    virtual bool isHeavy() const { return true; }

    // After a forward prepare: true when the step would change nothing, so it is not recorded.
    virtual bool changesNothing() const { return false; }
    // Whether the step changes the image's pixels, and the tile map (or remapped).
    virtual bool changesImage() const = 0;
    virtual bool changesMap() const = 0;

    // Bytes the step keeps for its inverse.
    virtual qint64 keptBytes() const = 0;
};

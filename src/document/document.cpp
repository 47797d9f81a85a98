#include "document/document.h"

#include "document/image_decoder.h"
#include "document/sheet_edits.h"
#include "image/pixel_format.h"
#include "tilemap/tile_ops.h"

namespace {
constexpr qint64 kLeastBudget = qint64(256) << 20;
}

Document::Document(QObject* parent) : QObject(parent) {}

Document::~Document() = default;

void Document::setGridColor(QRgb color)
{
    gridColor_ = color;
}

void Document::replaceSheet(QImage image, TileShape tileSize, int gridFlag, const QString& path,
                            bool transparencyDropped)
{
    transparencyDropped_ = transparencyDropped;
    sheet_.workingImage = std::move(image);
    sheet_.tileSize = tileSize;
    sheet_.gridFlag = gridFlag;
    rebuildTileMap(sheet_);
    sheet_.remapped = 0;
    sheetPath_ = path;
    openedPath_ = path;
    openedGridFlag_ = gridFlag;
    history_.clear();
    fitBudget();
    emit changed();
}

QString Document::openSheet(const QString& path, TileShape tileSize, int gridFlag)
{
    DecodeResult decoded = loadImageFile(path, transparency());
    if (!decoded.ok())
        return decoded.error;
    const bool dropped = decoded.transparent && !keepsAlpha(decoded.image);
    replaceSheet(std::move(decoded.image), tileSize, gridFlag, path, dropped);
    return {};
}

QString Document::saveSheet(const QString& path, ImageFileFormat format)
{
    if (!hasImage())
        return QStringLiteral("No sheet is open.");
    const QString error = saveImageFile(sheet_.workingImage, path, format);
    if (!error.isEmpty())
        return error;
    markImageSaved(path);
    return {};
}

QString Document::openMap(const QString& path)
{
    if (!hasImage())
        return QStringLiteral("Open the sheet this map belongs to first.");
    const MapParseResult parsed =
        readMapFile(path, sheet_.tileMap.columns(), sheet_.tileMap.rows(), sheet_.tileSize);
    if (!parsed.map)
        return parsed.error;
    if (const QString error = perform(makeOpenMapEdit(*parsed.map)); !error.isEmpty())
        return error;
    markMapSaved();
    return {};
}

QString Document::saveMap(const QString& path)
{
    if (!hasImage())
        return QStringLiteral("No sheet is open.");
    const QString error = writeMapFile(sheet_.tileMap, path);
    if (!error.isEmpty())
        return error;
    markMapSaved();
    return {};
}

QString Document::swapTiles(int x1, int y1, int x2, int y2)
{
    return perform(makeSwapTilesEdit(x1, y1, x2, y2));
}

QString Document::moveTiles(const QRect& block, QPoint offset)
{
    return perform(makeMoveTilesEdit(block, offset));
}

QString Document::insertGrid()
{
    return perform(makeGridEdit(true, gridColor_));
}

QString Document::removeGrid()
{
    return perform(makeGridEdit(false, gridColor_));
}

QString Document::resetMap()
{
    return perform(makeResetMapEdit());
}

QString Document::changeTileMode(TileShape tileSize, bool restoreFirst)
{
    return perform(makeTileModeEdit(tileSize, restoreFirst));
}

QString Document::perform(std::unique_ptr<Edit> edit)
{
    return finish(beginEdit(std::move(edit)));
}

QString Document::undo()
{
    PendingStep step = beginUndo();
    return step.isEmpty() ? QString() : finish(std::move(step));
}

QString Document::redo()
{
    PendingStep step = beginRedo();
    return step.isEmpty() ? QString() : finish(std::move(step));
}

QString Document::undoName() const
{
    const Edit* edit = history_.toUndo();
    return edit ? edit->name() : QString();
}

QString Document::redoName() const
{
    const Edit* edit = history_.toRedo();
    return edit ? edit->name() : QString();
}

bool Document::imageUnsaved() const
{
    return hasImage() && history_.changedSince(EditHistory::Mark::Image);
}

bool Document::mapUnsaved() const
{
    return hasImage() && history_.changedSince(EditHistory::Mark::Map);
}

void Document::markImageSaved(const QString& path)
{
    if (!path.isEmpty())
        sheetPath_ = path;
    history_.setMark(EditHistory::Mark::Image);
    emit changed();
}

void Document::markMapSaved()
{
    history_.setMark(EditHistory::Mark::Map);
    emit changed();
}

void Document::setHistoryBudget(qint64 bytes)
{
    budget_ = bytes;
    fitBudget();
}

void Document::fitBudget()
{
    history_.setBudget(budget_.value_or(std::max(kLeastBudget, sheet_.workingImage.sizeInBytes())));
}

void Document::PendingStep::prepare()
{
    if (prepared_ || !edit_)
        return;
    prepared_ = true;
    try {
        error_ =
            edit_->prepare(*sheet_, kind_ == Kind::Undo ? Direction::Backward : Direction::Forward);
    } catch (const std::bad_alloc&) {
        // What a step keeps for its undo is allocated as it goes; running out leaves the sheet
        // as it was, like any other refusal.
        error_ = QStringLiteral("There is not enough memory for this step. Nothing was changed.");
    }
}

Document::PendingStep Document::begin(Edit* edit, PendingStep::Kind kind, std::unique_ptr<Edit> owned)
{
    PendingStep step;
    step.sheet_ = &sheet_;
    step.edit_ = edit;
    step.owned_ = std::move(owned);
    step.kind_ = kind;
    return step;
}

Document::PendingStep Document::beginEdit(std::unique_ptr<Edit> edit)
{
    Edit* raw = edit.get();
    return begin(raw, PendingStep::Kind::New, std::move(edit));
}

Document::PendingStep Document::beginUndo()
{
    return begin(history_.toUndo(), PendingStep::Kind::Undo);
}

Document::PendingStep Document::beginRedo()
{
    return begin(history_.toRedo(), PendingStep::Kind::Redo);
}

QString Document::finish(PendingStep step)
{
    if (!step.edit_)
        return {};
    step.prepare();
    if (!step.error_.isEmpty())
        return step.error_;
    switch (step.kind_) {
    case PendingStep::Kind::New:
        if (step.edit_->changesNothing())
            return {};
        step.edit_->apply(sheet_, Direction::Forward);
        history_.push(std::move(step.owned_));
        break;
    case PendingStep::Kind::Undo:
        step.edit_->apply(sheet_, Direction::Backward);
        history_.undone();
        break;
    case PendingStep::Kind::Redo:
        step.edit_->apply(sheet_, Direction::Forward);
        history_.redone();
        break;
    }
    fitBudget();
    emit changed();
    return {};
}

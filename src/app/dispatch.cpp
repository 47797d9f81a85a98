#include "app/dispatch.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include "app/background_work.h"
#include "app/captions.h"
#include "app/file_commands.h"
#include "app/level_commands.h"
#include "app/main_window.h"
#include "document/drop_target.h"
#include "document/file_messages.h"
#include "document/sheet_edits.h"
#include "platform/dialogs.h"
#include "tilemap/tile_ops.h"

namespace {
const QString kResetQuestion = QStringLiteral("Reset alle remapped tiles?");
const QString kTransparencyDroppedText = QStringLiteral(
    "Transparent pixels are shown and saved as black (Settings > Keep Transparency keeps them)");

int floorDiv(int value, int divisor)
{
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}
}  // namespace

void Dispatch::record(EventKind kind, int object, int type)
{
    state_.eventKind = kind;
    state_.eventControl = object;
    state_.eventMenuItem = object;
    state_.eventType = type;
    state_.eventWindow = 0;
}

bool Dispatch::busy() const
{
    return window_.work().isBusy();
}

QString Dispatch::take(Document::PendingStep step, const QString& what)
{
    if (step.isEmpty())
        return {};
    const qint64 bytes = step.isHeavy() ? doc().workingImage().sizeInBytes() : 0;
    window_.work().run(what + QStringLiteral("…"), bytes,
                       [&step](BackgroundWork::Progress&) { step.prepare(); });
    return doc().finish(std::move(step));
}

void Dispatch::onWorkDone()
{
    // A close request that chose to wait for the work goes on once the command that started the
    // work has finished too, its own questions included.
    if (!closeWhenDone_)
        return;
    QTimer::singleShot(0, &window_, [this] {
        if (busy() || QApplication::activeModalWidget()) {
            onWorkDone();  // not yet: look again once the command's question is answered
            return;
        }
        closeWhenDone_ = false;
        window_.close();
    });
}

void Dispatch::report(const QString& error)
{
    if (!error.isEmpty())
        dialogs_.showError(error);
}

void Dispatch::onAddGrid()
{
    record(EventKind::Control, AddGridButton);
    if (!busy() && doc().hasImage())
        report(take(doc().beginEdit(makeGridEdit(true, doc().gridColor())),
                    QStringLiteral("Inserting the grid")));
}

void Dispatch::onRemoveGrid()
{
    record(EventKind::Control, RemoveGridButton);
    if (!busy() && doc().hasImage())
        report(take(doc().beginEdit(makeGridEdit(false, doc().gridColor())),
                    QStringLiteral("Removing the grid")));
}

void Dispatch::onTileModeChanged()
{
    record(EventKind::Control, TileModeCombo);
    if (busy()) {
        window_.refreshControls();
        return;
    }
    // The list only shows the tile size; the user's new choice is what it shows now.
    const int tileSize = window_.tileModeSelection() == 0 ? 8 : 16;
    const bool restore = doc().remapped() == 1 && dialogs_.askYesNo(kResetQuestion);
    const QString error = take(doc().beginEdit(makeTileModeEdit(tileSize, restore)),
                               QStringLiteral("Changing the tile mode"));
    if (!error.isEmpty()) {
        dialogs_.showError(error);
        window_.refreshControls();  // puts the list back on the tile size in force
    }
}

void Dispatch::resetMap()
{
    if (!busy() && doc().hasImage())
        report(take(doc().beginEdit(makeResetMapEdit()),
                    QStringLiteral("Putting every tile back")));
}

void Dispatch::onResetMap()
{
    record(EventKind::Control, ResetMapButton);
    resetMap();
}

QPoint Dispatch::tileAt(QPoint position) const
{
    const int span = state_.document.tilePitch() * state_.zoom;
    return {floorDiv(position.x(), span), floorDiv(position.y(), span)};
}

void Dispatch::showDragFeedback(QPoint endTile)
{
    const TileMap& map = doc().tileMap();
    const int pitch = doc().tilePitch();
    const QPoint start(state_.dragStartX, state_.dragStartY);
    auto block = [pitch](QPoint tile) { return QRect(tile * pitch, QSize(pitch, pitch)); };
    if (!doc().hasImage() || !isFullTile(map, start.x(), start.y())) {
        window_.showDragMarks({}, {});
        return;
    }
    const bool target = endTile != start && isFullTile(map, endTile.x(), endTile.y());
    window_.showDragMarks(block(start), target ? block(endTile) : QRect());
}

void Dispatch::endDrag()
{
    state_.dragStartX = state_.dragStartY = state_.dragEndX = state_.dragEndY = -1;
    window_.showDragMarks({}, {});
}

void Dispatch::onCanvasPress(QPoint position)
{
    record(EventKind::Control, ViewCanvas, CanvasLeftPressed);
    if (busy())
        return;
    const QPoint tile = tileAt(position);
    state_.dragStartX = tile.x();
    state_.dragStartY = tile.y();
    showDragFeedback(tile);
}

void Dispatch::onCanvasMove(QPoint position)
{
    if (state_.dragStartX == -1 || state_.dragStartY == -1)
        return;
    showDragFeedback(tileAt(position));
}

void Dispatch::onCanvasRelease(QPoint position)
{
    record(EventKind::Control, ViewCanvas, CanvasLeftReleased);
    const QPoint tile = tileAt(position);
    state_.dragEndX = tile.x();
    state_.dragEndY = tile.y();
    const bool pressPending = state_.dragStartX != -1 && state_.dragStartY != -1 && !busy();
    // The document refuses the same tile twice, the partial strip and anything outside the full
    // tiles; such a release swaps nothing, without a message.
    if (pressPending)
        doc().swapTiles(state_.dragStartX, state_.dragStartY, state_.dragEndX, state_.dragEndY);
    endDrag();
}

void Dispatch::onCancelDrag()
{
    endDrag();
}

void Dispatch::onWheel(int delta)
{
    record(EventKind::Wheel, 0, delta);
    // Touchpads and fine-grained wheels send parts of a notch; they add up to whole steps. Turning
    // the other way drops what was left over of the last direction.
    constexpr int kNotch = 120;
    if ((delta > 0 && wheelTurn_ < 0) || (delta < 0 && wheelTurn_ > 0))
        wheelTurn_ = 0;
    const qint64 turn = qint64(wheelTurn_) + delta;
    const int steps = int(turn / kNotch);
    wheelTurn_ = int(turn % kNotch);
    if (steps == 0)
        return;
    state_.zoom += steps;
    window_.redrawView();
    window_.showZoomText();
}

void Dispatch::onFilesDropped(const QString& dropList)
{
    record(EventKind::FilesDropped);
    if (busy())
        return;
    const DropTarget target = dropTarget(dropList);
    if (target.kind == DropKind::Map) {
        openMapFile(doc(), dialogs_, target.path);
        return;
    }
    if (confirmDiscardingChanges())
        openSheet(target.path);
}

bool Dispatch::onCloseRequested()
{
    record(EventKind::CloseRequested);
    if (busy()) {
        closeWhenDone_ = dialogs_.askYesNo(
            QStringLiteral("%1 is not finished yet. Wait until it is done, then close?")
                .arg(window_.work().what()));
        return false;
    }
    if (!confirmDiscardingChanges())
        return false;
    state_.quitRequested = 1;
    return true;
}

void Dispatch::onWindowResized()
{
    record(EventKind::WindowResized);
    window_.layoutMainWindow();
}

void Dispatch::onMenu(MenuCommand command)
{
    // Keyboard shortcuts can still reach here while work runs; they wait like every command.
    if (busy())
        return;
    switch (command) {
    case MenuCommand::OpenImage:
        return onOpenImage();
    case MenuCommand::SaveImage:
        return onSaveImage();
    case MenuCommand::Quit:
        return onQuit();
    case MenuCommand::Undo:
        return onUndo();
    case MenuCommand::Redo:
        return onRedo();
    case MenuCommand::OpenMap:
        return onOpenMap();
    case MenuCommand::SaveMap:
        return onSaveMap();
    case MenuCommand::ApplyToLevels:
        return onApplyToLevels();
    case MenuCommand::ResetMap:
        record(EventKind::Menu, int(MenuCommand::ResetMap));
        return resetMap();
    case MenuCommand::SetGridColor:
        return onSetGridColor();
    case MenuCommand::KeepTransparency:
        return onKeepTransparency();
    case MenuCommand::About:
        return onAbout();
    }
}

void Dispatch::onOpenImage()
{
    record(EventKind::Menu, int(MenuCommand::OpenImage));
    if (confirmDiscardingChanges())
        openSheet(QString());
}

void Dispatch::onOpenAtStart(const QString& path)
{
    record(EventKind::Menu, int(MenuCommand::OpenImage));
    if (dropTarget(path).kind == DropKind::Map) {
        dialogs_.showError(QStringLiteral("%1 is a map file. Open the sheet it belongs to first, "
                                          "then the map with Map “Open..”.")
                               .arg(quotedPath(path)));
        return;
    }
    openSheet(path);
}

void Dispatch::openSheet(const QString& path)
{
    endDrag();
    // The zoom is back at 1 for the new sheet; when nothing was opened the view and controls still
    // show it.
    state_.zoom = 1;
    const bool opened = openSheetFile(path);
    if (opened)
        state_.levelArrangements.clear();  // levels know only the sheet as opened now
}

void Dispatch::onSaveImage()
{
    record(EventKind::Menu, int(MenuCommand::SaveImage));
    saveImageAs(doc(), dialogs_, &window_.work());
}

void Dispatch::onQuit()
{
    record(EventKind::Menu, int(MenuCommand::Quit));
    if (!confirmDiscardingChanges())
        return;
    state_.quitRequested = 1;
    window_.shutDown();
}

void Dispatch::onUndo()
{
    record(EventKind::Menu, int(MenuCommand::Undo));
    endDrag();
    report(take(doc().beginUndo(), QStringLiteral("Undo ") + doc().undoName()));
}

void Dispatch::onRedo()
{
    record(EventKind::Menu, int(MenuCommand::Redo));
    endDrag();
    report(take(doc().beginRedo(), QStringLiteral("Redo ") + doc().redoName()));
}

void Dispatch::onOpenMap()
{
    record(EventKind::Menu, int(MenuCommand::OpenMap));
    openMapFile(doc(), dialogs_, QString());
}

void Dispatch::onSaveMap()
{
    record(EventKind::Menu, int(MenuCommand::SaveMap));
    saveMapFile(doc(), dialogs_);
}

void Dispatch::onApplyToLevels()
{
    record(EventKind::Menu, int(MenuCommand::ApplyToLevels));
    applyToLevelFiles(doc(), dialogs_, window_.work(), state_.levelArrangements);
}

void Dispatch::onSetGridColor()
{
    record(EventKind::Menu, int(MenuCommand::SetGridColor));
    chooseGridColor(doc(), dialogs_);
}

void Dispatch::onKeepTransparency()
{
    record(EventKind::Menu, int(MenuCommand::KeepTransparency));
    const bool keep = window_.menuAction(MenuCommand::KeepTransparency)->isChecked();
    doc().setKeepTransparency(keep);
    window_.rememberKeepTransparency(keep);
}

bool Dispatch::openSheetFile(const QString& path)
{
    window_.showStatusText(QString());
    if (!openImage(doc(), dialogs_, path, &window_.work())) {
        window_.redrawView();
        window_.refreshControls();
        return false;
    }
    if (doc().transparencyDropped())
        window_.showStatusText(kTransparencyDroppedText);
    return true;
}

void Dispatch::onAbout()
{
    record(EventKind::Menu, int(MenuCommand::About));
    dialogs_.showAbout(aboutText());
}

bool Dispatch::confirmDiscardingChanges()
{
    const bool imageAtRisk = doc().imageUnsaved();
    const bool mapAtRisk = doc().mapAtRisk();
    if (!imageAtRisk && !mapAtRisk)
        return true;

    QString what;
    if (imageAtRisk && mapAtRisk)
        what = QStringLiteral("The sheet has changes that are not saved, and its tile map (the only "
                              "record of the original tile order) is not saved either.");
    else if (imageAtRisk)
        what = QStringLiteral("The sheet has changes that are not saved.");
    else
        what = QStringLiteral("The tile map (the only record of the original tile order) is not "
                              "saved.");
    switch (dialogs_.askUnsaved(what + QStringLiteral("\n\nSave before going on?"))) {
    case UnsavedAnswer::Discard:
        return true;
    case UnsavedAnswer::Cancel:
        return false;
    case UnsavedAnswer::Save:
        break;
    }
    if (imageAtRisk && !saveImageAs(doc(), dialogs_, &window_.work()))
        return false;
    if (mapAtRisk && !saveMapFile(doc(), dialogs_))
        return false;
    return true;
}

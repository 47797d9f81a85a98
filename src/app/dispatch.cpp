#include "app/dispatch.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>

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
// Short enough for the status bar of the window at its smallest.
const QString kTransparencyDroppedText =
    QStringLiteral("Transparent pixels shown as black: Settings > Keep Transparency");

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
    // The list only shows the tile size; the user's new choice is what it shows now. The third
    // item is the size in use already.
    const int selection = window_.tileModeSelection();
    if (selection > 1)
        return window_.refreshControls();
    const int tileSize = selection == 0 ? 8 : 16;
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
    const TileShape pitch = state_.document.tilePitch();
    return {floorDiv(position.x(), pitch.width * state_.zoom),
            floorDiv(position.y(), pitch.height * state_.zoom)};
}

QRect Dispatch::wholeTiles() const
{
    const TileMap& map = state_.document.tileMap();
    return state_.document.hasImage() ? QRect(0, 0, map.columns(), map.rows()) : QRect();
}

void Dispatch::select(QPoint anchor, QPoint cursor)
{
    const QRect whole = wholeTiles();
    if (whole.isEmpty())
        return clearSelection();
    const auto inside = [&whole](QPoint tile) {
        return QPoint(std::clamp(tile.x(), whole.left(), whole.right()),
                      std::clamp(tile.y(), whole.top(), whole.bottom()));
    };
    state_.selectionAnchor = inside(anchor);
    state_.selectionCursor = inside(cursor);
    const QPoint& a = state_.selectionAnchor;
    const QPoint& c = state_.selectionCursor;
    state_.selection = QRect(QPoint(std::min(a.x(), c.x()), std::min(a.y(), c.y())),
                             QPoint(std::max(a.x(), c.x()), std::max(a.y(), c.y())));
    window_.showSelection();
}

void Dispatch::clearSelection()
{
    state_.selection = QRect();
    window_.showSelection();
}

void Dispatch::moveSelection(QPoint offset)
{
    if (busy() || !wholeTiles().contains(state_.selection.translated(offset)))
        return;
    // A lone tile swaps, named as the swap it is.
    const QRect& block = state_.selection;
    const QString error = block.width() * block.height() == 1
                              ? doc().swapTiles(block.x(), block.y(), block.x() + offset.x(), block.y() + offset.y())
                              : doc().moveTiles(block, offset);
    if (!error.isEmpty())
        return report(error);
    select(state_.selectionAnchor + offset, state_.selectionCursor + offset);
}

void Dispatch::showDragFeedback(QPoint endTile)
{
    const TileLayout layout = doc().tileLayout();
    const QPoint start(state_.dragStartX, state_.dragStartY);
    const QRect whole = wholeTiles();
    auto pixels = [layout](const QRect& tiles) { return layout.blockRect(tiles); };
    switch (state_.dragKind) {
    case AppState::DragKind::Select:
        window_.showDragMarks({}, {});
        if (endTile != start)
            select(start, endTile);
        return;
    case AppState::DragKind::Move: {
        // The selection frame already shows the block; the target is marked, or refused.
        const QRect target = state_.selection.translated(endTile - start);
        window_.showDragMarks({}, endTile == start ? QRect() : pixels(target), !whole.contains(target));
        return;
    }
    case AppState::DragKind::Swap:
        break;
    }
    if (!whole.contains(start)) {
        window_.showDragMarks({}, {});
        return;
    }
    const bool target = endTile != start && whole.contains(endTile);
    window_.showDragMarks(pixels(QRect(start, QSize(1, 1))),
                          target ? pixels(QRect(endTile, QSize(1, 1))) : QRect());
}

void Dispatch::endDrag()
{
    state_.dragStartX = state_.dragStartY = state_.dragEndX = state_.dragEndY = -1;
    state_.dragKind = AppState::DragKind::Swap;
    window_.showDragMarks({}, {});
}

void Dispatch::onCanvasPress(QPoint position, Qt::KeyboardModifiers modifiers)
{
    record(EventKind::Control, ViewCanvas, CanvasLeftPressed);
    if (busy())
        return;
    const QPoint tile = tileAt(position);
    state_.dragStartX = tile.x();
    state_.dragStartY = tile.y();
    const QRect& selected = state_.selection;
    if (modifiers & Qt::ShiftModifier)
        state_.dragKind = AppState::DragKind::Select;
    else if (selected.contains(tile) && selected.width() * selected.height() > 1)
        state_.dragKind = AppState::DragKind::Move;
    else
        state_.dragKind = AppState::DragKind::Swap;
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
    const QPoint start(state_.dragStartX, state_.dragStartY);
    const bool pressPending = start.x() != -1 && start.y() != -1 && !busy();
    const bool click = tile == start;
    const bool onWholeTile = wholeTiles().contains(tile);
    if (pressPending) {
        switch (state_.dragKind) {
        case AppState::DragKind::Select:
            // Shift+click grows the selection from its first tile; a Shift+drag spans a new one.
            if (!click)
                select(start, tile);
            else if (!state_.selection.isEmpty())
                select(state_.selectionAnchor, tile);
            else if (onWholeTile)
                select(tile, tile);
            break;
        case AppState::DragKind::Move:
            if (click)
                select(tile, tile);
            else
                moveSelection(tile - start);  // a drop outside the whole tiles changes nothing
            break;
        case AppState::DragKind::Swap:
            if (click) {
                if (onWholeTile)
                    select(tile, tile);
                else
                    clearSelection();
            } else if (state_.selection == QRect(start, QSize(1, 1))) {
                moveSelection(tile - start);
            } else {
                // The document refuses the partial strip and anything outside the full tiles;
                // such a release swaps nothing, without a message.
                clearSelection();
                doc().swapTiles(start.x(), start.y(), tile.x(), tile.y());
            }
            break;
        }
    }
    endDrag();
}

void Dispatch::onCancelDrag()
{
    endDrag();
}

void Dispatch::onPointerMoved(QPoint position)
{
    window_.showPointerTile(tileAt(position));
}

void Dispatch::onPointerLeft()
{
    window_.showPointerTile(std::nullopt);
}

void Dispatch::onCanvasKey(int key, Qt::KeyboardModifiers modifiers)
{
    QPoint step;
    switch (key) {
    case Qt::Key_Escape:
        return clearSelection();
    case Qt::Key_A:
        return onSelectAll();
    case Qt::Key_Left: step = {-1, 0}; break;
    case Qt::Key_Right: step = {1, 0}; break;
    case Qt::Key_Up: step = {0, -1}; break;
    case Qt::Key_Down: step = {0, 1}; break;
    default: return;
    }
    // Nothing happens at the edge of the whole tiles.
    const QRect whole = wholeTiles();
    if (state_.selection.isEmpty() || state_.dragStartX != -1)
        return;
    if (modifiers & Qt::ControlModifier)
        moveSelection(step);
    else if (modifiers & Qt::ShiftModifier) {
        if (whole.contains(state_.selectionCursor + step))
            select(state_.selectionAnchor, state_.selectionCursor + step);
    } else if (whole.contains(state_.selection.translated(step))) {
        select(state_.selectionAnchor + step, state_.selectionCursor + step);
    }
}

void Dispatch::onSelectAll()
{
    const QRect whole = wholeTiles();
    if (!whole.isEmpty())
        select(whole.topLeft(), whole.bottomRight());
}

void Dispatch::onWheel(int delta, std::optional<QPoint> pointer)
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
    const int before = state_.zoom;
    state_.zoom += steps;
    window_.redrawViewAbout(before, pointer);
    window_.showZoomText();
}

void Dispatch::onFilesDropped(const QString& dropList)
{
    record(EventKind::FilesDropped);
    if (busy())
        return;
    const DropTarget target = dropTarget(dropList);
    if (target.kind == DropKind::Map) {
        if (openMapFile(doc(), dialogs_, target.path))
            dialogs_.fileNamed(target.path);  // the file dialogs open beside it from now on
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
    case MenuCommand::TileSize:
        return onTileSize();
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
    clearSelection();
    // The zoom is back at 1 for the new sheet; when nothing was opened the view and controls still
    // show it.
    state_.zoom = 1;
    const bool opened = openSheetFile(path);
    if (opened) {
        state_.levelArrangements.clear();  // levels know only the sheet as opened now
        dialogs_.fileNamed(path);          // one chosen in a file dialog is known there already
    }
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

void Dispatch::onTileSize()
{
    record(EventKind::Menu, int(MenuCommand::TileSize));
    if (!doc().hasImage()) {
        dialogs_.showError(QStringLiteral("Open a sheet first: the tile size belongs to it."));
        return;
    }
    const std::optional<TileSizeAnswer> answer = dialogs_.askTileSize(doc().tileSize());
    if (!answer)
        return;
    const bool restore = doc().remapped() == 1 && dialogs_.askYesNo(kResetQuestion);
    report(take(doc().beginEdit(makeTileModeEdit(answer->tileSize, restore, answer->gridded ? 1 : 0)),
                QStringLiteral("Changing the tile size")));
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

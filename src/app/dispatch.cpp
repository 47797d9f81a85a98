#include "app/dispatch.h"

#include "app/captions.h"
#include "app/main_window.h"
#include "document/commands.h"
#include "grid/grid_transform.h"
#include "platform/dialogs.h"
#include "tilemap/tile_ops.h"

namespace {
const QString kResetQuestion = QStringLiteral("Reset alle remapped tiles?");
const QString kRestoreFailed =
    QStringLiteral("There is not enough memory to restore the tile order. Nothing was changed.");

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

void Dispatch::applyGridTransform(bool insert)
{
    if (!state_.hasImage())
        return;
    const int tileSize = window_.tileModeSelection() == 0 ? 8 : 16;
    GridResult result = insert ? insertGrid(state_.workingImage, tileSize, state_.gridColor)
                               : removeGrid(state_.workingImage, tileSize, state_.gridColor);
    if (!result.ok()) {
        // The image and the grid flag stay as they were, so the flag never lies about the image.
        dialogs_.showError(result.error);
        return;
    }
    state_.workingImage = std::move(result.image);
    state_.imageUnsaved = true;
    state_.gridFlag = insert ? 1 : 0;
    window_.refreshControls();
    window_.redrawView();
}

void Dispatch::onAddGrid()
{
    record(EventKind::Control, AddGridButton);
    applyGridTransform(true);
}

void Dispatch::onRemoveGrid()
{
    record(EventKind::Control, RemoveGridButton);
    applyGridTransform(false);
}

void Dispatch::onTileModeChanged()
{
    record(EventKind::Control, TileModeCombo);
    if (state_.remapped == 1 && dialogs_.askYesNo(kResetQuestion) && !restoreTiles()) {
        window_.refreshControls();  // puts the list back on the tile size in force
        return;
    }
    state_.tileSize = window_.tileModeSelection() == 0 ? 8 : 16;
    rebuildTileMap(state_);
    state_.mapUnsaved = false;
    window_.refreshControls();
    window_.redrawView();
}

bool Dispatch::restoreTiles()
{
    const bool moved = state_.hasImage() && !state_.tileMap.isIdentity();
    if (!restoreTileOrder(state_)) {
        // The caller must not rebuild the map now: it is the only record of the original order.
        dialogs_.showError(kRestoreFailed);
        return false;
    }
    if (moved)
        state_.imageUnsaved = true;
    return true;
}

void Dispatch::resetMap()
{
    if (!restoreTiles())
        return;
    window_.redrawView();
    rebuildTileMap(state_);
    state_.remapped = 0;
    state_.mapUnsaved = false;
    window_.refreshControls();
}

void Dispatch::onResetMap()
{
    record(EventKind::Control, ResetMapButton);
    resetMap();
}

QPoint Dispatch::tileAt(QPoint position) const
{
    const int span = state_.tilePitch() * state_.zoom;
    return {floorDiv(position.x(), span), floorDiv(position.y(), span)};
}

void Dispatch::onCanvasPress(QPoint position)
{
    record(EventKind::Control, ViewCanvas, CanvasLeftPressed);
    const QPoint tile = tileAt(position);
    state_.dragStartX = tile.x();
    state_.dragStartY = tile.y();
}

void Dispatch::onCanvasRelease(QPoint position)
{
    record(EventKind::Control, ViewCanvas, CanvasLeftReleased);
    const QPoint tile = tileAt(position);
    state_.dragEndX = tile.x();
    state_.dragEndY = tile.y();
    const bool pressPending = state_.dragStartX != -1 && state_.dragStartY != -1;
    // swapTiles refuses the same tile twice, the partial strip and anything outside the full tiles.
    if (pressPending && swapTiles(state_, state_.dragStartX, state_.dragStartY, state_.dragEndX,
                                  state_.dragEndY)) {
        state_.imageUnsaved = true;
        state_.mapUnsaved = true;
        window_.redrawView();
        window_.refreshControls();
    }
    state_.dragStartX = state_.dragStartY = state_.dragEndX = state_.dragEndY = -1;
}

void Dispatch::onWheel(int delta)
{
    record(EventKind::Wheel, 0, delta);
    if (delta == 0)
        return;
    state_.zoom += delta > 0 ? 1 : -1;
    window_.redrawView();
    window_.showZoomText();
}

void Dispatch::onFilesDropped(const QString& dropList)
{
    record(EventKind::FilesDropped);
    const DropTarget target = dropTarget(dropList);
    if (target.kind == DropKind::Map) {
        openMapFile(state_, dialogs_, target.path);
    } else {
        if (!confirmDiscardingChanges())
            return;
        openImage(state_, dialogs_, target.path);
        state_.zoom = 1;
        window_.redrawView();
    }
    window_.refreshControls();
}

bool Dispatch::onCloseRequested()
{
    record(EventKind::CloseRequested);
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
    switch (command) {
    case MenuCommand::OpenImage:
        return onOpenImage();
    case MenuCommand::SaveImage:
        return onSaveImage();
    case MenuCommand::Quit:
        return onQuit();
    case MenuCommand::OpenMap:
        return onOpenMap();
    case MenuCommand::SaveMap:
        return onSaveMap();
    case MenuCommand::ResetMap:
        record(EventKind::Menu, int(MenuCommand::ResetMap));
        return resetMap();
    case MenuCommand::SetGridColor:
        return onSetGridColor();
    case MenuCommand::About:
        return onAbout();
    }
}

void Dispatch::onOpenImage()
{
    record(EventKind::Menu, int(MenuCommand::OpenImage));
    if (!confirmDiscardingChanges())
        return;
    openImage(state_, dialogs_, QString());
    state_.zoom = 1;
    window_.redrawView();
    window_.refreshControls();
}

void Dispatch::onSaveImage()
{
    record(EventKind::Menu, int(MenuCommand::SaveImage));
    saveImageAs(state_, dialogs_);
}

void Dispatch::onQuit()
{
    record(EventKind::Menu, int(MenuCommand::Quit));
    if (!confirmDiscardingChanges())
        return;
    state_.quitRequested = 1;
    window_.shutDown();
}

void Dispatch::onOpenMap()
{
    record(EventKind::Menu, int(MenuCommand::OpenMap));
    openMapFile(state_, dialogs_, QString());
    window_.refreshControls();
}

void Dispatch::onSaveMap()
{
    record(EventKind::Menu, int(MenuCommand::SaveMap));
    saveMapFile(state_, dialogs_);
}

void Dispatch::onSetGridColor()
{
    record(EventKind::Menu, int(MenuCommand::SetGridColor));
    chooseGridColor(state_, dialogs_);
}

void Dispatch::onAbout()
{
    record(EventKind::Menu, int(MenuCommand::About));
    dialogs_.showAbout(aboutText());
}

bool Dispatch::confirmDiscardingChanges()
{
    const bool mapAtRisk = state_.remapped == 1 && state_.mapUnsaved;
    if (!state_.hasImage() || (!state_.imageUnsaved && !mapAtRisk))
        return true;

    QString what;
    if (state_.imageUnsaved && mapAtRisk)
        what = QStringLiteral("The sheet has changes that are not saved, and its tile map (the only "
                              "record of the original tile order) is not saved either.");
    else if (state_.imageUnsaved)
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
    if (state_.imageUnsaved && !saveImageAs(state_, dialogs_))
        return false;
    if (mapAtRisk && !saveMapFile(state_, dialogs_))
        return false;
    return true;
}

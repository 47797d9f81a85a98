#pragma once

#include <QPoint>
#include <QString>
#include <optional>

#include "app/app_state.h"

class Dialogs;
class MainWindow;

// What the program does for each kind of user event: one method per event, each running its
// steps in order. It asks the questions and says which edit the document is to make; the window
// redraws and refreshes when the document says it changed. MainWindow only turns Qt's signals and
// events into these calls.
class Dispatch {
public:
    Dispatch(AppState& state, MainWindow& window, Dialogs& dialogs)
        : state_(state), window_(window), dialogs_(dialogs)
    {
    }

    void onAddGrid();
    void onRemoveGrid();
    void onTileModeChanged();
    void onResetMap();
    // A press with Shift starts a selection; one on a selected block of several tiles moves it;
    // any other starts a two-tile swap. A press and release on one tile is a click.
    void onCanvasPress(QPoint position, Qt::KeyboardModifiers modifiers = {});
    void onCanvasMove(QPoint position);
    void onCanvasRelease(QPoint position);
    void onCancelDrag();
    // The pointer is over position (canvas pixels), or left the canvas.
    void onPointerMoved(QPoint position);
    void onPointerLeft();
    // Arrows move the selection frame, Shift+arrows extend it, Ctrl+arrows move the selected
    // tiles; Escape clears the selection, Ctrl+A selects every whole tile.
    void onCanvasKey(int key, Qt::KeyboardModifiers modifiers);
    void onSelectAll();
    // pointer: where the wheel turned, in pixels of the view's visible part; the image point there
    // stays there. Elsewhere (or nullopt) the one in the middle of the view does.
    void onWheel(int delta, std::optional<QPoint> pointer = std::nullopt);
    void onFilesDropped(const QString& dropList);
    // Returns true when the window may close.
    bool onCloseRequested();
    // Work away from the window's thread has ended.
    void onWorkDone();
    void onWindowResized();
    void onMenu(MenuCommand command);

    void onOpenImage();
    // A file named when the program was started: opened as File "Open.." would open it, the grid
    // question included. A map file is refused: it needs its sheet first.
    void onOpenAtStart(const QString& path);
    void onSaveImage();
    void onQuit();
    void onUndo();
    void onRedo();
    void onOpenMap();
    void onSaveMap();
    // Carries the tile map (and a grid inserted or removed since the sheet was opened) into
    // level files the user picks, then says what it did.
    void onApplyToLevels();
    void onSetGridColor();
    // The Settings item was checked or unchecked: sheets opened from now on keep (or lose) their
    // transparency, and the choice is remembered.
    void onKeepTransparency();
    // Settings "Tile Size..": any tile size, and whether the sheet already has a grid.
    void onTileSize();
    void onAbout();

private:
    void record(EventKind kind, int object = 0, int type = 0);
    // True while work runs away from the window's thread: the window's commands wait until then.
    bool busy() const;
    // Takes a step of the document, its heavy half away from the window's thread when the sheet
    // is large. Returns the step's error, if any.
    QString take(Document::PendingStep step, const QString& what);
    Document& doc() { return state_.document; }
    // Shows the reason when an edit was refused.
    void report(const QString& error);
    void resetMap();
    // Opens a sheet as File "Open.." does (asking for the file when path is empty), at zoom 1.
    void openSheet(const QString& path);
    // Opens the sheet; when nothing was opened the view and controls still show the old sheet at
    // the new zoom. True when a sheet was opened.
    bool openSheetFile(const QString& path);
    // The tile under a canvas position; negative positions give -1.
    QPoint tileAt(QPoint position) const;
    // Shows where a drag would put the pressed tile, or nothing when no press is pending.
    void showDragFeedback(QPoint endTile);
    void endDrag();
    // The whole tiles of the sheet, in tiles; empty without a sheet.
    QRect wholeTiles() const;
    // Selects the rectangle between two tiles, each brought inside the whole tiles first.
    void select(QPoint anchor, QPoint cursor);
    void clearSelection();
    // Moves the selected block by offset tiles as one step; the selection follows it.
    void moveSelection(QPoint offset);
    // Before the sheet is replaced or the program ends: true when nothing unsaved would be lost,
    // or the user saved it or chose to discard it.
    bool confirmDiscardingChanges();

    AppState& state_;
    MainWindow& window_;
    Dialogs& dialogs_;
    bool closeWhenDone_ = false;
    // Wheel turn in eighths of a degree not yet taken as a zoom step; its sign is its direction.
    int wheelTurn_ = 0;
};

#pragma once

#include <QPoint>
#include <QString>

#include "app/app_state.h"

class Dialogs;
class MainWindow;

// What the program does for each kind of user event: one method per event, each running its
// steps in order. MainWindow only turns Qt's signals and events into these calls.
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
    void onCanvasPress(QPoint position);
    void onCanvasRelease(QPoint position);
    void onWheel(int delta);
    void onFilesDropped(const QString& dropList);
    // Returns true when the window may close.
    bool onCloseRequested();
    void onWindowResized();
    void onMenu(MenuCommand command);

    void onOpenImage();
    void onSaveImage();
    void onQuit();
    void onOpenMap();
    void onSaveMap();
    void onSetGridColor();
    void onAbout();

private:
    void record(EventKind kind, int object = 0, int type = 0);
    void applyGridTransform(bool insert);
    void resetMap();
    // restoreTileOrder, marking the image unsaved when tiles moved; false (after a message) when
    // memory ran out and nothing changed.
    bool restoreTiles();
    // The tile under a canvas position; negative positions give -1.
    QPoint tileAt(QPoint position) const;
    // Before the sheet is replaced or the program ends: true when nothing unsaved would be lost,
    // or the user saved it or chose to discard it.
    bool confirmDiscardingChanges();

    AppState& state_;
    MainWindow& window_;
    Dialogs& dialogs_;
};

#pragma once

#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QString>

#include "app/level_commands.h"
#include "document/document.h"

// Kinds of user event the dispatch handles; the last one is recorded in AppState.
enum class EventKind { None, Control, Menu, FilesDropped, CloseRequested, WindowResized, Wheel };

// The controls of the main window, by the numbers their events carry.
enum ControlId {
    ViewScrollArea = 1,
    ViewCanvas = 2,
    AddGridButton = 14,
    RemoveGridButton = 15,
    TileModeLabel = 16,
    TileModeCombo = 17,
    ResetMapButton = 18,
};

// The menu commands, by the numbers their events carry.
enum class MenuCommand {
    OpenImage = 4,
    SaveImage = 5,
    Quit = 6,
    OpenMap = 7,
    SaveMap = 8,
    ResetMap = 9,
    SetGridColor = 10,
    About = 11,
    Undo = 12,
    Redo = 13,
    ApplyToLevels = 14,
    KeepTransparency = 15,
    TileSize = 16,
};

// Sub-types of canvas events.
enum CanvasAction { CanvasOther = 0, CanvasLeftPressed = 1, CanvasLeftReleased = 2 };

// Everything the program knows, in one place. The document (image, tile map, tile size, grid flag,
// remapped, grid colour and the history of edits) is the only thing that changes the sheet; the
// rest belongs to the shell.
struct AppState {
    Document document;

    int zoom = 1;  // 1..10
    QRgb viewBackground = qRgb(128, 128, 128);
    int quitRequested = 0;

    // Tile coordinates of a pending drag; -1 while no press is pending.
    int dragStartX = -1;
    int dragStartY = -1;
    int dragEndX = -1;
    int dragEndY = -1;

    // The level files brought along to the sheet since it was opened, and how it was arranged then.
    LevelArrangements levelArrangements;
    // What the pending press does: swap two tiles, move the selected block, or select.
    enum class DragKind { Swap, Move, Select };
    DragKind dragKind = DragKind::Swap;

    // The selected block of whole tiles, in tiles; empty for none. View state: never an edit.
    // The anchor is the corner the selection grows from (the first tile selected); the cursor is
    // the opposite corner, which Shift+click and Shift+arrows move.
    QRect selection;
    QPoint selectionAnchor;
    QPoint selectionCursor;

    // The last event the dispatch handled.
    EventKind eventKind = EventKind::None;
    int eventControl = 0;
    int eventMenuItem = 0;
    int eventType = 0;
    int eventWindow = 0;
};

// "Zoom: 4x4" for zoom 4.
QString zoomText(int zoom);

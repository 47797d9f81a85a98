#pragma once

#include <QImage>
#include <QString>

#include "document/document.h"

// Everything about a document a user can see, as a value to compare later.
struct DocumentState {
    QImage image;
    TileMap map;
    TileShape tileSize{0};
    int gridFlag = 0;
    int remapped = 0;
    QRgb gridColor = 0;
    bool imageUnsaved = false;
    bool mapUnsaved = false;
    QString undoName;
    QString redoName;
};
DocumentState stateOf(const Document& doc);

// Expects every part of two documents to be equal: image, map, tile layout, grid colour, the
// unsaved-changes facts and the steps Undo and Redo would take.
void expectSameDocument(const Document& actual, const DocumentState& expected);
inline void expectSameDocument(const Document& actual, const Document& expected)
{
    expectSameDocument(actual, stateOf(expected));
}

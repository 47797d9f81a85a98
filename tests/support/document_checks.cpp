#include "support/document_checks.h"

#include <gtest/gtest.h>

DocumentState stateOf(const Document& doc)
{
    return DocumentState{doc.workingImage(), doc.tileMap(),     doc.tileSize(),
                         doc.gridFlag(),     doc.remapped(),    doc.gridColor(),
                         doc.imageUnsaved(), doc.mapUnsaved(), doc.undoName(),
                         doc.redoName()};
}

void expectSameDocument(const Document& actual, const DocumentState& expected)
{
    const DocumentState a = stateOf(actual);
    EXPECT_EQ(a.image, expected.image);
    EXPECT_EQ(a.map, expected.map);
    EXPECT_EQ(a.tileSize, expected.tileSize);
    EXPECT_EQ(a.gridFlag, expected.gridFlag);
    EXPECT_EQ(a.remapped, expected.remapped);
    EXPECT_EQ(a.gridColor, expected.gridColor);
    EXPECT_EQ(a.imageUnsaved, expected.imageUnsaved);
    EXPECT_EQ(a.mapUnsaved, expected.mapUnsaved);
    EXPECT_EQ(a.undoName, expected.undoName);
    EXPECT_EQ(a.redoName, expected.redoName);
}

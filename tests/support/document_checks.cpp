#include "support/document_checks.h"

#include <gtest/gtest.h>

void expectSameDocument(const Document& actual, const Document& expected)
{
    EXPECT_EQ(actual.workingImage, expected.workingImage);
    EXPECT_EQ(actual.tileMap, expected.tileMap);
    EXPECT_EQ(actual.tileSize, expected.tileSize);
    EXPECT_EQ(actual.gridFlag, expected.gridFlag);
    EXPECT_EQ(actual.remapped, expected.remapped);
    EXPECT_EQ(actual.gridColor, expected.gridColor);
    EXPECT_EQ(actual.imageUnsaved, expected.imageUnsaved);
    EXPECT_EQ(actual.mapUnsaved, expected.mapUnsaved);
}

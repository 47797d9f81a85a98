#pragma once

#include <QImage>
#include <vector>

#include "document/document.h"
#include "tilemap/block_move.h"

// A plain model of a sheet's arrangement: the original tile number standing at each full-tile
// place, row by row. It knows nothing of pixels or memory layout.
struct TileModel {
    TileModel(int columns, int rows);
    // Each step's tile goes to its place, all read before any is written; expects the steps to
    // form a permutation.
    void apply(const std::vector<TileStep>& steps);

    int columns;
    int rows;
    std::vector<int> numbers;
};

// Expects the document's map to hold the model's numbers and each full tile of its image to be
// that tile of original (the sheet as opened); everything outside the full tiles stays as it was.
void expectArrangedAs(const Document& doc, const QImage& original, const TileModel& model);

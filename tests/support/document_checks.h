#pragma once

#include "document/document.h"

// Expects every part of two documents to be equal: image, map, tile layout, grid colour and the
// unsaved-changes facts.
void expectSameDocument(const Document& actual, const Document& expected);

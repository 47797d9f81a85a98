#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <vector>

// The base64 form of a tile layer's cells: 32-bit little-endian global tile ids, stored as they are
// or compressed, then base64-encoded.
enum class LayerCompression { None, Zlib, Gzip, Zstd };

// The compression a layer names: "" for none, "zlib", "gzip" or "zstd"; nullopt for anything else.
std::optional<LayerCompression> layerCompressionNamed(QStringView name);

// Decodes base64 text (blanks and line breaks may stand between its characters) into exactly
// expectedCells cells. On failure returns false with the reason in plain words; no more than
// expectedCells cells' worth of memory is ever taken, whatever the compressed data claims.
bool decodeLayerData(QByteArrayView base64, LayerCompression compression, qint64 expectedCells,
                     std::vector<uint32_t>& cells, QString& error);

// The base64 text of cells, compressed as asked. level is the file's compression level, -1 for
// the method's default; the result depends only on the cells, the method and the level.
QByteArray encodeLayerData(const std::vector<uint32_t>& cells, LayerCompression compression,
                           int level = -1);

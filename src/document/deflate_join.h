#pragma once

#include <cstdint>
#include <vector>

// Makes a complete raw deflate stream, as one compressor call writes it, into a piece that other
// pieces can follow within one stream, as parallel gzip tools join their pieces: its last block
// loses the "final" mark, and an empty stored block after it brings the end to a byte boundary
// (what zlib's sync flush writes). Compressors give no say over their last block, so the blocks
// are walked to find it. piece grows by at most 5 bytes. Returns false, leaving piece as it was,
// when it is not exactly one complete deflate stream.
bool makeJoinable(std::vector<uint8_t>& piece);

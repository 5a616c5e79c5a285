// A quick walk over a raw deflate stream that spots what zlib rejects and libdeflate does not.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rastle {

/// True when the stream's blocks up to its final one use only constructs that zlib's inflate
/// accepts: at most 286 literal/length and 30 distance codes, complete Huffman codes, no
/// code-length repeat past the end, an end-of-block code, and no literal/length symbol 286-287
/// or distance symbol 30-31 in fixed-code blocks. Every block but a final dynamic one is walked
/// to its end and must lie within the n bytes; in a final dynamic block with valid codes every
/// symbol is valid, so only its header is read.
///
/// It does not check distances or count output bytes; it is meant for streams that libdeflate
/// has already decoded successfully, to tell whether zlib would have produced the same bytes.
/// False only ever means "let zlib decide". Nothing past the n bytes is read.
bool zlibAcceptsStructure(const uint8_t* data, size_t n);

/// Inflates a whole raw deflate stream of n bytes into out (cap bytes) in one pass, holding it to
/// what zlibAcceptsStructure checks and to distances within the output so far. True, with the
/// byte count, when the stream ends within the n bytes and its output fits in cap: then zlib would
/// have produced the very same bytes. False only ever means "let zlib decide"; out may then hold
/// anything. Nothing past the n bytes is read, nothing past cap written.
bool inflateLikeZlib(const uint8_t* data, size_t n, uint8_t* out, size_t cap, size_t* produced);

} // namespace rastle

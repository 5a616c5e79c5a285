// A quick walk over a raw deflate stream that spots what zlib rejects and libdeflate does not.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rastle {

/// True when the stream's blocks, up to its final one, lie within the n bytes and use only
/// constructs that zlib's inflate accepts: at most 286 literal/length and 30 distance codes,
/// complete Huffman codes, no code-length repeat past the end, an end-of-block code, and no
/// literal/length symbol 286-287 or distance symbol 30-31 in fixed-code blocks.
///
/// It does not check distances against the output or count output bytes; it is meant for
/// streams that libdeflate has already decoded successfully, to tell whether zlib would have
/// produced the same bytes. False only ever means "let zlib decide".
bool zlibAcceptsStructure(const uint8_t* data, size_t n);

} // namespace rastle

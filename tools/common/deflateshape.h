// The shape of a raw deflate stream: what zlib's encoder writes and what other encoders may write
// besides. The PSP's own inflate is stricter than RFC 1951 allows, and files made with encoders
// that write the other shapes are reported to freeze games, so everything written for the PSP
// keeps zlib's shape: the literal/length and distance code lengths sent as separate runs, and
// every Huffman code complete with at least two symbols.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kivo {

struct DeflateShape {
  bool valid = false;        ///< the headers (and every block before the last) read without fault
  size_t blocks = 0;         ///< deflate blocks seen
  size_t crossingRuns = 0;   ///< code-length repeats running from the literal/length into the distance lengths,
                             ///< or opening the distance lengths with the last literal/length one
  size_t thinCodes = 0;      ///< Huffman codes with fewer than two symbols (an empty distance code, say)
  size_t incompleteCodes = 0; ///< codes of two or more symbols that leave part of the code space unused
  size_t bytes = 0;          ///< where the stream ends, when the walk went to its end
  /// The stream has zlib's shape: valid, and none of the three.
  bool zlibShaped() const { return valid && crossingRuns == 0 && thinCodes == 0 && incompleteCodes == 0; }
};

/// Reads the block headers of a raw deflate stream of n bytes, walking the symbols of every block
/// before the last one to find the next header; the last block's symbols are read only when
/// walkLast is set (then bytes and the validity cover the whole stream). Never reads past n.
DeflateShape inspectDeflate(const uint8_t* data, size_t n, bool walkLast = false);

/// Rewrites a raw deflate stream into zlib's shape, decoding the same bytes: blocks that already
/// have it are copied bit for bit; the others get a header whose length tables are sent apart,
/// and codes rebuilt from the block's own symbols where a code is thin or incomplete, which leaves
/// the symbols, and so the data they describe, as they were. Returns the new size, or 0 when the
/// stream is damaged or the result does not fit in cap bytes.
size_t reshapeDeflate(const uint8_t* in, size_t n, uint8_t* out, size_t cap);

/// Leaves the raw deflate stream of size bytes at data in zlib's shape, rewriting it in place when
/// it has another (data has room for cap bytes). Returns its size, or 0 when it cannot be kept.
size_t keepZlibShape(uint8_t* data, size_t size, size_t cap);

} // namespace kivo

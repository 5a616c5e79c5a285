// An inflater as strict as the PSP is taken to be, written apart from the writers' own code so that
// it can judge them: it reads the literal/length and the distance code lengths as two separate
// runs and refuses any Huffman code that is not complete with at least two symbols.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kivo::test {

struct Inflated {
  bool ok = false;
  std::string why; ///< what was refused, when not ok
  std::vector<uint8_t> bytes;
  size_t used = 0; ///< bytes of the stream read
};

/// Inflates a raw deflate stream that must yield at most maxOut bytes.
Inflated strictInflate(const uint8_t* data, size_t n, size_t maxOut);
/// The same for a zlib stream (RFC 1950), checking its header and Adler-32.
Inflated strictInflateZlib(const uint8_t* data, size_t n, size_t maxOut);

/// Blocks for the walker to inspect: a raw stream with a repeat running from the literal/length
/// lengths into the distance lengths, and one with an empty distance code, both decoding to text.
std::vector<uint8_t> crossingRunStream(std::vector<uint8_t>& plain);
std::vector<uint8_t> emptyDistanceStream(std::vector<uint8_t>& plain);
/// Any bytes as one dynamic block of literals alone, with an empty distance code: legal, and the
/// shape zlib never writes.
std::vector<uint8_t> literalsOnlyStream(const uint8_t* data, size_t n);

} // namespace kivo::test

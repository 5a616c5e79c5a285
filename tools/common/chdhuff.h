// The bit streams and the Huffman coding that CHD files use: for their compressed hunk maps
// (16 symbols, codes up to 8 bits, the code lengths run-length coded) and for the "huff" codec
// (bytes, codes up to 16 bits, the code lengths themselves Huffman coded). Codes are canonical
// with the longest codes numbered first from zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kivo::chd {

/// Reads bits most significant first. Bits past the end read as zero; overflow() tells whether
/// any were consumed.
class BitReader {
public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  /// The next n bits (0 to 32) without consuming them.
  uint32_t peek(int n) const;
  void skip(int n) { pos_ += uint64_t(n); }
  uint32_t read(int n) {
    const uint32_t v = peek(n);
    skip(n);
    return v;
  }
  bool overflow() const { return pos_ > uint64_t(size_) * 8; }
  /// Whole bytes consumed, the last one counted even when only partly used.
  size_t bytesUsed() const { return size_t((pos_ + 7) / 8); }

private:
  const uint8_t* data_;
  size_t size_;
  uint64_t pos_ = 0;
};

class BitWriter {
public:
  /// Appends the low n bits (0 to 32) of v.
  void write(uint32_t v, int n);
  /// Pads the last byte with zeros and returns the bytes.
  std::vector<uint8_t>& finish();
  size_t bits() const { return bytes_.size() * 8 + size_t(fill_); }

private:
  std::vector<uint8_t> bytes_;
  uint64_t acc_ = 0;
  int fill_ = 0;
};

/// Code lengths for symbols of the given counts, none longer than maxBits: an optimal prefix
/// code, complete when two or more symbols occur; a lone symbol gets one bit, unused ones none.
std::vector<uint8_t> codeLengths(const uint32_t* counts, int symbols, int maxBits);

/// The canonical codes of a set of lengths; false when the lengths cannot form the code.
bool canonicalCodes(const std::vector<uint8_t>& lengths, int maxBits, std::vector<uint32_t>& codes);

class HuffmanDecoder {
public:
  HuffmanDecoder(int symbols, int maxBits) : symbols_(symbols), maxBits_(maxBits) {}
  /// The lengths as the maps store them: 3, 4 or 5 bits each, 1 escaping a run.
  bool importRle(BitReader& in);
  /// The lengths as the huff codec stores them: coded with a small Huffman code of their own.
  bool importHuffman(BitReader& in);
  bool setLengths(const std::vector<uint8_t>& lengths);
  /// The next symbol; -1 for bits that are no code.
  int decode(BitReader& in) const {
    const uint16_t e = table_[in.peek(tableBits_)];
    if (e == 0) return -1;
    in.skip(e & 31);
    return e >> 5;
  }

private:
  int symbols_, maxBits_;
  int tableBits_ = 0;
  std::vector<uint16_t> table_; // symbol << 5 | length; 0: no code
};

class HuffmanEncoder {
public:
  HuffmanEncoder(int symbols, int maxBits) : symbols_(symbols), maxBits_(maxBits), counts_(size_t(symbols)) {}
  void count(int symbol) { ++counts_[size_t(symbol)]; }
  /// Makes the code from the counts so far.
  void build();
  void exportRle(BitWriter& out) const;
  void exportHuffman(BitWriter& out) const;
  void encode(BitWriter& out, int symbol) const { out.write(codes_[size_t(symbol)], lengths_[size_t(symbol)]); }
  const std::vector<uint8_t>& lengths() const { return lengths_; }
  /// Bits the counted symbols take with the code built.
  uint64_t cost() const;

private:
  int symbols_, maxBits_;
  std::vector<uint32_t> counts_;
  std::vector<uint8_t> lengths_;
  std::vector<uint32_t> codes_;
};

/// The huff codec: a byte code and the bytes. compress returns 0 when the result would not be
/// smaller than the input.
size_t huffCompress(const uint8_t* in, size_t n, std::vector<uint8_t>& out);
bool huffDecompress(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

} // namespace kivo::chd

#include "deflate_check.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace rastle {
namespace {

// Codes up to these lengths are decoded with one table look-up; longer (rare) ones canonically.
// Small tables are quick to build, which matters as much as the look-ups: one per block.
constexpr unsigned kLitBits = 11, kDistBits = 9, kPreBits = 7, kMaxRootBits = 11;

class BitReader {
public:
  BitReader(const uint8_t* p, size_t n) : p_(p), end_(p + n) {}

  // Makes at least 56 bits available; past the end, zero bits are counted as overrun. Bits above
  // the valid ones may hold copies of the next bytes, never anything else.
  void refill() {
    if (end_ - p_ >= 8) { // whole bytes from one unaligned load
      uint64_t word;
      std::memcpy(&word, p_, 8);
      bits_ |= word << count_;
      p_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      uint64_t byte = 0;
      if (p_ < end_)
        byte = *p_++;
      else
        overrun_ += 8;
      bits_ |= byte << count_;
      count_ += 8;
    }
  }
  uint32_t peek(unsigned n) const { return uint32_t(bits_ & ((uint64_t(1) << n) - 1)); }
  void drop(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }
  uint32_t take(unsigned n) {
    uint32_t v = peek(n);
    drop(n);
    return v;
  }
  // True while every bit consumed so far came from the stream.
  bool inside() const { return overrun_ <= count_; }
  void alignToByte() { drop(count_ % 8); }
  // A block's first three bits: whether it is the last, and its type.
  void blockHeader(unsigned* last, unsigned* type) {
    refill();
    *last = take(1);
    *type = take(2);
  }
  // A stored block's header: to the byte boundary, then its length and that length's complement.
  bool storedLength(uint32_t* len) {
    alignToByte();
    *len = take(16);
    return *len == (~take(16) & 0xFFFF);
  }
  // Copies the next n whole bytes after alignment to dst; false if they are not all there.
  bool copyBytes(uint8_t* dst, size_t n) {
    while (n > 0 && count_ >= 8) {
      *dst++ = uint8_t(take(8));
      --n;
    }
    if (!inside()) return false;
    if (n == 0) return true;
    bits_ = 0; // see skipBytes
    if (size_t(end_ - p_) < n) return false;
    std::memcpy(dst, p_, n);
    p_ += n;
    return true;
  }
  // Skips n whole bytes after alignment; false if they are not all there.
  bool skipBytes(size_t n) {
    while (n > 0 && count_ >= 8) {
      drop(8);
      --n;
    }
    if (!inside()) return false;
    if (n == 0) return true;
    // The buffer is empty here (nothing was zero fill); what a word load put above the valid
    // bits belongs to the bytes being skipped.
    bits_ = 0;
    if (size_t(end_ - p_) < n) return false;
    p_ += n;
    return true;
  }

private:
  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
  unsigned overrun_ = 0;
};

const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Table entries: the bits a symbol takes, its code and extra bits together, below 32; the kind
// above. A plain literal (or distance) is just its bit count, so the hot loop tests e < 32.
enum : uint32_t { kMatch = 32, kEnd = 64, kBad = 96, kLong = 128, kBitsMask = 31 };

enum class Alphabet { LitLen, Dist, Precode };

uint32_t classify(Alphabet a, unsigned sym, unsigned len) {
  switch (a) {
  case Alphabet::LitLen:
    if (sym < 256) return len;
    if (sym == 256) return kEnd | len;
    if (sym < 286) return kMatch | (len + kLengthExtra[sym - 257]);
    return kBad; // 286 and 287 never occur in a valid stream
  case Alphabet::Dist:
    return sym < 30 ? len + kDistExtra[sym] : kBad;
  default:
    return len;
  }
}

uint32_t reversed(uint32_t code, unsigned len) {
  static const auto table = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i)
      for (unsigned b = 0; b < 8; ++b)
        t[i] |= uint8_t(((i >> b) & 1u) << (7 - b));
    return t;
  }();
  return ((uint32_t(table[code & 0xFF]) << 8) | table[(code >> 8) & 0xFF]) >> (16 - len);
}

// Whether code lengths counted by length form a complete code, as zlib wants them here.
bool complete(const uint16_t* count) {
  int left = 1;
  for (unsigned len = 1; len <= 15; ++len) {
    left = (left << 1) - count[len];
    if (left < 0) return false;
  }
  return left == 0;
}

// A canonical Huffman code: a root table for short codes, counts for the long ones.
struct Code {
  uint8_t root[1 << kMaxRootBits]; // classify() entries; kLong: longer than rootBits
  uint16_t rootSym[1 << kPreBits]; // the symbol, for the precode
  uint16_t count[16];
  uint16_t symbols[320]; // by code, in canonical order
  unsigned rootBits;
  Alphabet alphabet;

  // False unless the lengths form a complete code.
  bool build(const uint8_t* lens, unsigned n, Alphabet a, unsigned bits) {
    alphabet = a;
    rootBits = bits;
    std::memset(count, 0, sizeof count);
    for (unsigned s = 0; s < n; ++s)
      count[lens[s]]++;
    count[0] = 0;
    if (!complete(count)) return false;
    uint16_t offs[16];
    offs[1] = 0;
    for (unsigned len = 1; len < 15; ++len)
      offs[len + 1] = uint16_t(offs[len] + count[len]);
    for (unsigned s = 0; s < n; ++s)
      if (lens[s]) symbols[offs[lens[s]]++] = uint16_t(s);
    const unsigned size = 1u << rootBits;
    std::memset(root, kLong, size);
    // Fill the root table with bit-reversed codes of length <= rootBits.
    unsigned code = 0, idx = 0;
    for (unsigned len = 1; len <= rootBits; ++len) {
      for (unsigned i = 0; i < count[len]; ++i, ++idx, ++code) {
        uint8_t e = uint8_t(classify(a, symbols[idx], len));
        for (unsigned r = reversed(code, len); r < size; r += 1u << len) {
          root[r] = e;
          if (a == Alphabet::Precode) rootSym[r] = symbols[idx];
        }
      }
      code <<= 1;
    }
    return true;
  }

  // Decodes a code longer than the root table, bit by bit; returns its symbol.
  unsigned decodeLong(BitReader& in) const {
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= 15; ++len) {
      code |= int(in.take(1));
      int c = count[len];
      if (code - c < first) return symbols[index + (code - first)];
      index += c;
      first += c;
      first <<= 1;
      code <<= 1;
    }
    return 0xFFFF; // unreachable for a complete code
  }

  // Consumes one symbol and its extra bits; returns its kind (0 for a literal or distance).
  uint32_t skip(BitReader& in) const {
    uint32_t e = root[in.peek(rootBits)];
    if (e != kLong) {
      in.drop(e & kBitsMask);
      return e & ~kBitsMask;
    }
    e = classify(alphabet, decodeLong(in), 0);
    in.drop(e & kBitsMask);
    return e & ~kBitsMask;
  }

  // For the precode: consumes one symbol and returns it.
  unsigned symbol(BitReader& in) const {
    uint32_t i = in.peek(rootBits);
    if (root[i] != kLong) {
      in.drop(root[i]);
      return rootSym[i];
    }
    return decodeLong(in);
  }
};

struct Tables {
  Code lit, dist;
};

// Walks the symbols of one Huffman-coded block up to its end-of-block code. Every refill leaves
// at least 56 bits: enough for three literals of the root table, or for a literal/length code,
// its extra bits, a distance and its extra.
bool walkSymbols(BitReader& reader, const Code& lit, const Code& dist) {
  BitReader in = reader; // a local copy stays in registers
  const unsigned bits = lit.rootBits;
  bool ok = false;
  for (;;) {
    if (!in.inside()) break; // zero fill decodes forever as some literal
    in.refill();
    uint32_t e = lit.root[in.peek(bits)];
    if (e < 32) { // the common case: literals
      in.drop(e);
      e = lit.root[in.peek(bits)];
      if (e >= 32) continue;
      in.drop(e);
      e = lit.root[in.peek(bits)];
      if (e < 32) in.drop(e);
      continue;
    }
    uint32_t kind = lit.skip(in);
    if (kind == 0) continue; // a literal with a long code
    if (kind == kEnd) {
      ok = in.inside();
      break;
    }
    if (kind != kMatch || dist.skip(in) != 0) break;
  }
  reader = in;
  return ok;
}

// Reads a dynamic block's code lengths into lens (literal/length codes, then distance codes),
// holding them to what zlib accepts of a header.
bool readCodeLengths(BitReader& in, uint8_t* lens, unsigned* litCount, unsigned* distCount) {
  static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  in.refill();
  unsigned nlen = in.take(5) + 257, ndist = in.take(5) + 1, ncode = in.take(4) + 4;
  if (nlen > 286 || ndist > 30) return false;
  std::memset(lens, 0, 320);
  in.refill();
  for (unsigned i = 0; i < ncode; ++i)
    lens[order[i]] = uint8_t(in.take(3));
  Code pre;
  if (!pre.build(lens, 19, Alphabet::Precode, kPreBits)) return false;
  std::memset(lens, 0, 320);
  unsigned have = 0;
  while (have < nlen + ndist) {
    in.refill();
    unsigned sym = pre.symbol(in);
    if (sym < 16) {
      lens[have++] = uint8_t(sym);
      continue;
    }
    unsigned len = 0, copies;
    if (sym == 16) {
      if (have == 0) return false;
      len = lens[have - 1];
      copies = 3 + in.take(2);
    } else if (sym == 17) {
      copies = 3 + in.take(3);
    } else {
      copies = 11 + in.take(7);
    }
    if (have + copies > nlen + ndist) return false;
    while (copies--)
      lens[have++] = uint8_t(len);
  }
  if (!in.inside() || lens[256] == 0) return false;
  *litCount = nlen;
  *distCount = ndist;
  return true;
}

// Reads a dynamic block's header. Tables are built only when the block's symbols are to be
// walked; otherwise counting the lengths proves the codes complete.
bool readDynamicCodes(BitReader& in, Tables& t, bool tables) {
  uint8_t lens[320];
  unsigned nlen, ndist;
  if (!readCodeLengths(in, lens, &nlen, &ndist)) return false;
  if (tables)
    return t.lit.build(lens, nlen, Alphabet::LitLen, kLitBits) &&
           t.dist.build(lens + nlen, ndist, Alphabet::Dist, kDistBits);
  uint16_t count[16] = {};
  for (unsigned i = 0; i < nlen; ++i)
    count[lens[i]]++;
  count[0] = 0;
  if (!complete(count)) return false;
  std::memset(count, 0, sizeof count);
  for (unsigned i = nlen; i < nlen + ndist; ++i)
    count[lens[i]]++;
  count[0] = 0;
  return complete(count);
}

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

// Decoding table entries: code bits in 0-4, the kind in 5-7, extra bits in 8-12, and the literal,
// base length or base distance from bit 16.
enum : uint32_t { kValue = 0, kLength = 1u << 5, kStop = 2u << 5, kRefused = 3u << 5, kLonger = 4u << 5 };
constexpr uint32_t kKindMask = 7u << 5;

// A code for decoding: what Code is for walking, with each symbol's value in its entry.
struct DecodeCode {
  uint32_t root[1 << kMaxRootBits];
  Code lengths; // counts and symbols, for codes longer than the root table
  unsigned rootBits;
  bool litLen;

  static uint32_t entry(bool litLen, unsigned sym, unsigned len) {
    if (litLen) {
      if (sym < 256) return kValue | len | sym << 16;
      if (sym == 256) return kStop | len;
      if (sym < 286) return kLength | len | uint32_t(kLengthExtra[sym - 257]) << 8 | uint32_t(kLengthBase[sym - 257]) << 16;
      return kRefused;
    }
    if (sym < 30) return kValue | len | uint32_t(kDistExtra[sym]) << 8 | uint32_t(kDistBase[sym]) << 16;
    return kRefused;
  }

  bool build(const uint8_t* lens, unsigned n, bool isLitLen, unsigned bits) {
    litLen = isLitLen;
    rootBits = bits;
    Code& c = lengths;
    std::memset(c.count, 0, sizeof c.count);
    for (unsigned s = 0; s < n; ++s)
      c.count[lens[s]]++;
    c.count[0] = 0;
    if (!complete(c.count)) return false;
    uint16_t offs[16];
    offs[1] = 0;
    for (unsigned len = 1; len < 15; ++len)
      offs[len + 1] = uint16_t(offs[len] + c.count[len]);
    for (unsigned s = 0; s < n; ++s)
      if (lens[s]) c.symbols[offs[lens[s]]++] = uint16_t(s);
    const unsigned size = 1u << rootBits;
    std::fill(root, root + size, kLonger);
    unsigned code = 0, idx = 0;
    for (unsigned len = 1; len <= rootBits; ++len) {
      for (unsigned i = 0; i < c.count[len]; ++i, ++idx, ++code) {
        uint32_t e = entry(litLen, c.symbols[idx], len);
        for (unsigned r = reversed(code, len); r < size; r += 1u << len)
          root[r] = e;
      }
      code <<= 1;
    }
    return true;
  }

  // One symbol's entry, its code consumed (not its extra bits).
  uint32_t decode(BitReader& in) const {
    uint32_t e = root[in.peek(rootBits)];
    if ((e & kKindMask) != kLonger) {
      in.drop(e & kBitsMask);
      return e;
    }
    unsigned sym = lengths.decodeLong(in);
    return sym == 0xFFFF ? kRefused : entry(litLen, sym, 0);
  }
};

struct DecodeTables {
  DecodeCode lit, dist;
};

// Inflates one Huffman-coded block at out[*pos]. False on anything zlib would not decode the same
// way, or on output past cap: the caller then leaves the stream to zlib.
bool inflateSymbols(BitReader& reader, const DecodeCode& lit, const DecodeCode& dist, uint8_t* out, size_t cap,
                    size_t* at) {
  BitReader in = reader;
  size_t pos = *at;
  const unsigned bits = lit.rootBits;
  for (;;) {
    if (!in.inside()) return false;
    in.refill();
    uint32_t e = lit.root[in.peek(bits)];
    if ((e & kKindMask) == kValue) { // literals, two to a refill
      if (pos >= cap) return false;
      in.drop(e & kBitsMask);
      out[pos++] = uint8_t(e >> 16);
      e = lit.root[in.peek(bits)];
      if ((e & kKindMask) != kValue) continue;
      if (pos >= cap) return false;
      in.drop(e & kBitsMask);
      out[pos++] = uint8_t(e >> 16);
      continue;
    }
    e = lit.decode(in);
    uint32_t kind = e & kKindMask;
    if (kind == kValue) { // a literal with a long code
      if (pos >= cap) return false;
      out[pos++] = uint8_t(e >> 16);
      continue;
    }
    if (kind == kStop) break;
    if (kind != kLength) return false;
    size_t length = (e >> 16) + in.take((e >> 8) & kBitsMask);
    uint32_t d = dist.decode(in);
    if ((d & kKindMask) != kValue) return false;
    size_t distance = (d >> 16) + in.take((d >> 8) & kBitsMask);
    // zlib refuses a distance before the start; past cap it would stop where we cannot.
    if (distance > pos || length > cap - pos) return false;
    uint8_t* dst = out + pos;
    const uint8_t* src = dst - distance;
    if (distance >= 8 && cap - pos >= length + 8) {
      // Eight bytes at a time; each chunk's source lies wholly in what is already written. The
      // last chunk may spill up to seven bytes past the match, inside the buffer.
      for (size_t i = 0; i < length; i += 8)
        std::memcpy(dst + i, src + i, 8);
    } else if (distance == 1) {
      std::memset(dst, *src, length);
    } else {
      for (size_t i = 0; i < length; ++i)
        dst[i] = src[i];
    }
    pos += length;
  }
  if (!in.inside()) return false;
  reader = in;
  *at = pos;
  return true;
}

// The fixed codes' lengths: 288 literal/length codes, then 32 distance codes.
void fixedCodeLengths(uint8_t* lens) {
  std::memset(lens, 8, 144);
  std::memset(lens + 144, 9, 112);
  std::memset(lens + 256, 7, 24);
  std::memset(lens + 280, 8, 8);
  std::memset(lens + 288, 5, 32);
}

} // namespace

bool zlibAcceptsStructure(const uint8_t* data, size_t n) {
  static const Tables fixed = [] {
    Tables t;
    uint8_t lens[320];
    fixedCodeLengths(lens);
    t.lit.build(lens, 288, Alphabet::LitLen, kLitBits);
    t.dist.build(lens + 288, 32, Alphabet::Dist, kDistBits);
    return t;
  }();
  BitReader in(data, n);
  Tables dynamic;
  for (;;) {
    unsigned last, type;
    in.blockHeader(&last, &type);
    uint32_t len;
    if (type == 0) {
      if (!in.storedLength(&len) || !in.skipBytes(len)) return false;
    } else if (type == 1) {
      // Symbols 286, 287, 30 and 31 have fixed codes; walkSymbols refuses them.
      if (!walkSymbols(in, fixed.lit, fixed.dist)) return false;
    } else if (type == 2) {
      if (!readDynamicCodes(in, dynamic, !last)) return false;
      // With valid codes every symbol of the block is one zlib accepts too; the symbols only
      // need walking to find the next block, and the final block has none after it.
      if (last) return in.inside();
      if (!walkSymbols(in, dynamic.lit, dynamic.dist)) return false;
    } else {
      return false;
    }
    if (!in.inside()) return false;
    if (last) return true;
  }
}

bool inflateLikeZlib(const uint8_t* data, size_t n, uint8_t* out, size_t cap, size_t* produced) {
  static const DecodeTables fixed = [] {
    DecodeTables t;
    uint8_t lens[320];
    fixedCodeLengths(lens);
    t.lit.build(lens, 288, true, kLitBits);
    t.dist.build(lens + 288, 32, false, kDistBits);
    return t;
  }();
  BitReader in(data, n);
  DecodeTables dynamic;
  size_t pos = 0;
  for (;;) {
    unsigned last, type;
    in.blockHeader(&last, &type);
    uint32_t len;
    if (type == 0) {
      if (!in.storedLength(&len) || len > cap - pos || !in.copyBytes(out + pos, len)) return false;
      pos += len;
    } else if (type == 1) {
      // Symbols 286, 287, 30 and 31 have fixed codes; their entries refuse them.
      if (!inflateSymbols(in, fixed.lit, fixed.dist, out, cap, &pos)) return false;
    } else if (type == 2) {
      uint8_t lens[320];
      unsigned nlen, ndist;
      if (!readCodeLengths(in, lens, &nlen, &ndist) || !dynamic.lit.build(lens, nlen, true, kLitBits) ||
          !dynamic.dist.build(lens + nlen, ndist, false, kDistBits) ||
          !inflateSymbols(in, dynamic.lit, dynamic.dist, out, cap, &pos))
        return false;
    } else {
      return false;
    }
    if (!in.inside()) return false;
    if (last) {
      *produced = pos;
      return true;
    }
  }
}

} // namespace rastle

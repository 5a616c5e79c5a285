#include "strictinflate.h"

#include <algorithm>

namespace kivo::test {

namespace {

struct Bits {
  const uint8_t* p;
  size_t n;
  size_t bit = 0;
  bool get(unsigned count, uint32_t& v) {
    v = 0;
    for (unsigned i = 0; i < count; ++i, ++bit) {
      if (bit / 8 >= n) return false;
      v |= uint32_t((p[bit / 8] >> (bit % 8)) & 1) << i;
    }
    return true;
  }
};

// A lookup table over maxLen bits: every bit pattern that starts with a symbol's code names it.
struct Table {
  unsigned maxLen = 0;
  std::vector<int> symbol; // -1: no code starts this way
  std::vector<uint8_t> length;

  // Empty when the lengths do not make a code complete with two symbols at least.
  std::string build(const std::vector<uint8_t>& lens, const char* what) {
    unsigned used = 0;
    maxLen = 0;
    long long space = 0; // in units of 2^-15
    for (uint8_t l : lens)
      if (l) {
        ++used;
        maxLen = std::max<unsigned>(maxLen, l);
        space += 1LL << (15 - l);
      }
    if (used < 2) return std::string(what) + " code has fewer than two symbols";
    if (space > (1LL << 15)) return std::string(what) + " code is over-subscribed";
    if (space < (1LL << 15)) return std::string(what) + " code is incomplete";
    symbol.assign(size_t(1) << maxLen, -1);
    length.assign(size_t(1) << maxLen, 0);
    unsigned code = 0;
    for (unsigned len = 1; len <= maxLen; ++len) {
      for (size_t s = 0; s < lens.size(); ++s) {
        if (lens[s] != len) continue;
        unsigned rev = 0;
        for (unsigned i = 0; i < len; ++i)
          rev |= ((code >> (len - 1 - i)) & 1) << i;
        for (size_t fill = rev; fill < symbol.size(); fill += size_t(1) << len) {
          symbol[fill] = int(s);
          length[fill] = uint8_t(len);
        }
        ++code;
      }
      code <<= 1;
    }
    return {};
  }

  // Bit by bit: the pattern read so far names a symbol once its table entry has that length.
  int read(Bits& in) const {
    uint32_t v = 0;
    for (unsigned i = 0; i < maxLen; ++i) {
      uint32_t b;
      if (!in.get(1, b)) return -1;
      v |= b << i;
      if (symbol[v] >= 0 && length[v] == i + 1) return symbol[v];
    }
    return -1;
  }
};

const unsigned kBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const unsigned kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned kDBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const unsigned kDExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

Inflated fail(Inflated r, const std::string& why) {
  r.ok = false;
  r.why = why;
  return r;
}

// One table of code lengths read on its own: a repeat may not run past its end.
std::string readLengths(Bits& in, const Table& cl, unsigned count, const char* what, std::vector<uint8_t>& lens) {
  lens.clear();
  while (lens.size() < count) {
    const int sym = cl.read(in);
    if (sym < 0) return "bad code-length symbol";
    uint32_t v;
    unsigned repeat = 1;
    uint8_t value = uint8_t(sym);
    if (sym == 16) {
      if (lens.empty()) return std::string("a repeat opens the ") + what + " lengths";
      if (!in.get(2, v)) return "cut short";
      repeat = 3 + v;
      value = lens.back();
    } else if (sym == 17 || sym == 18) {
      if (!in.get(sym == 17 ? 3 : 7, v)) return "cut short";
      repeat = (sym == 17 ? 3 : 11) + v;
      value = 0;
    }
    if (lens.size() + repeat > count) return std::string("a repeat runs past the ") + what + " lengths";
    lens.insert(lens.end(), repeat, value);
  }
  return {};
}

} // namespace

Inflated strictInflate(const uint8_t* data, size_t n, size_t maxOut) {
  Inflated r;
  Bits in{data, n};
  static Table fixedLit, fixedDist;
  if (fixedLit.symbol.empty()) {
    std::vector<uint8_t> l(288), d(30, 5);
    for (unsigned s = 0; s < 288; ++s)
      l[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    fixedLit.build(l, "fixed");
    d.resize(32, 5);
    fixedDist.build(d, "fixed");
  }
  for (bool last = false; !last;) {
    uint32_t head;
    if (!in.get(3, head)) return fail(r, "cut short");
    last = head & 1;
    const unsigned type = head >> 1;
    if (type == 0) {
      in.bit = (in.bit + 7) / 8 * 8;
      uint32_t len, nlen;
      if (!in.get(16, len) || !in.get(16, nlen) || (len ^ 0xFFFF) != nlen) return fail(r, "bad stored block");
      if (in.bit / 8 + len > n) return fail(r, "cut short");
      if (r.bytes.size() + len > maxOut) return fail(r, "too much output");
      r.bytes.insert(r.bytes.end(), data + in.bit / 8, data + in.bit / 8 + len);
      in.bit += size_t(len) * 8;
      continue;
    }
    if (type == 3) return fail(r, "block type 3");
    Table dyn, dynDist;
    const Table* lit = &fixedLit;
    const Table* dist = &fixedDist;
    if (type == 2) {
      uint32_t hlit, hdist, hclen, v;
      if (!in.get(5, hlit) || !in.get(5, hdist) || !in.get(4, hclen)) return fail(r, "cut short");
      if (hlit + 257 > 286 || hdist + 1 > 30) return fail(r, "too many codes");
      std::vector<uint8_t> cl(19, 0);
      for (unsigned i = 0; i < hclen + 4; ++i) {
        if (!in.get(3, v)) return fail(r, "cut short");
        cl[kOrder[i]] = uint8_t(v);
      }
      Table clTable;
      std::string why = clTable.build(cl, "code-length");
      if (!why.empty()) return fail(r, why);
      std::vector<uint8_t> litLens, distLens;
      if (!(why = readLengths(in, clTable, hlit + 257, "literal/length", litLens)).empty() ||
          !(why = readLengths(in, clTable, hdist + 1, "distance", distLens)).empty())
        return fail(r, why);
      if (litLens[256] == 0) return fail(r, "no end-of-block code");
      if (!(why = dyn.build(litLens, "literal/length")).empty() || !(why = dynDist.build(distLens, "distance")).empty())
        return fail(r, why);
      lit = &dyn;
      dist = &dynDist;
    }
    for (;;) {
      const int sym = lit->read(in);
      if (sym < 0) return fail(r, "bad literal/length code");
      if (sym < 256) {
        if (r.bytes.size() >= maxOut) return fail(r, "too much output");
        r.bytes.push_back(uint8_t(sym));
        continue;
      }
      if (sym == 256) break;
      if (sym > 285) return fail(r, "literal/length symbol 286 or 287");
      uint32_t v;
      if (!in.get(kExtra[sym - 257], v)) return fail(r, "cut short");
      const size_t length = kBase[sym - 257] + v;
      const int d = dist->read(in);
      if (d < 0 || d > 29) return fail(r, "bad distance code");
      if (!in.get(kDExtra[d], v)) return fail(r, "cut short");
      const size_t distance = kDBase[d] + v;
      if (distance > r.bytes.size()) return fail(r, "distance before the start");
      if (r.bytes.size() + length > maxOut) return fail(r, "too much output");
      for (size_t i = 0; i < length; ++i)
        r.bytes.push_back(r.bytes[r.bytes.size() - distance]);
    }
  }
  r.used = (in.bit + 7) / 8;
  r.ok = true;
  return r;
}

Inflated strictInflateZlib(const uint8_t* data, size_t n, size_t maxOut) {
  Inflated r;
  if (n < 6 || (data[0] & 0x0F) != 8 || (data[0] >> 4) > 7 || (data[0] * 256u + data[1]) % 31 != 0 || (data[1] & 0x20))
    return fail(r, "bad zlib header");
  r = strictInflate(data + 2, n - 2, maxOut);
  if (!r.ok) return r;
  if (r.used + 2 + 4 > n) return fail(r, "no Adler-32");
  uint32_t a = 1, b = 0;
  for (uint8_t c : r.bytes) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  const uint8_t* s = data + 2 + r.used;
  if (((b << 16) | a) != (uint32_t(s[0]) << 24 | uint32_t(s[1]) << 16 | uint32_t(s[2]) << 8 | s[3]))
    return fail(r, "Adler-32 mismatch");
  r.used += 6;
  return r;
}

namespace {

struct Writer {
  std::vector<uint8_t> out;
  unsigned fill = 0;
  void put(uint32_t v, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      if (fill == 0) out.push_back(0);
      out.back() |= uint8_t(((v >> i) & 1) << fill);
      fill = (fill + 1) % 8;
    }
  }
  void code(uint32_t c, unsigned len) { // Huffman codes go in from their first bit
    for (unsigned i = 0; i < len; ++i)
      put((c >> (len - 1 - i)) & 1, 1);
  }
};

// A dynamic block of literals 'a' (10), 'b' (11) and the end code (0); its code-length code gives
// the four symbols used two bits each, in symbol order. The distance lengths come after in lens.
std::vector<uint8_t> handMade(const std::vector<std::pair<unsigned, unsigned>>& lengthRuns, unsigned hlit,
                              unsigned hdist, const unsigned (&clSyms)[4], std::vector<uint8_t>& plain) {
  Writer w;
  w.put(1, 1);
  w.put(2, 2);
  w.put(hlit - 257, 5);
  w.put(hdist - 1, 5);
  w.put(18 - 4, 4); // up to code-length symbol 1, the 18th in the order
  for (unsigned i = 0; i < 18; ++i)
    w.put(std::count(clSyms, clSyms + 4, kOrder[i]) ? 2 : 0, 3);
  for (auto [sym, extra] : lengthRuns) {
    const unsigned idx = unsigned(std::find(clSyms, clSyms + 4, sym) - clSyms);
    w.code(idx, 2);
    if (sym == 17) w.put(extra, 3);
    if (sym == 18) w.put(extra, 7);
  }
  plain.assign({'a', 'b', 'b', 'a', 'a', 'b'});
  for (uint8_t c : plain)
    w.code(c == 'a' ? 2 : 3, 2);
  w.code(0, 1);
  return w.out;
}

} // namespace

std::vector<uint8_t> crossingRunStream(std::vector<uint8_t>& plain) {
  // Literal/length lengths 0-257 then distance lengths 0-3: 'a' and 'b' 2, end 1, distances 2 and
  // 3 one bit each; the zeros of symbol 257 and distances 0 and 1 go as one run of three.
  const unsigned syms[4] = {1, 2, 17, 18};
  return handMade({{18, 97 - 11}, {2, 0}, {2, 0}, {18, 138 - 11}, {18, 19 - 11}, {1, 0}, {17, 0}, {1, 0}, {1, 0}},
                  258, 4, syms, plain);
}

std::vector<uint8_t> emptyDistanceStream(std::vector<uint8_t>& plain) {
  const unsigned syms[4] = {0, 1, 2, 18};
  return handMade({{18, 97 - 11}, {2, 0}, {2, 0}, {18, 138 - 11}, {18, 19 - 11}, {1, 0}, {0, 0}}, 257, 1, syms,
                  plain);
}

std::vector<uint8_t> literalsOnlyStream(const uint8_t* data, size_t n) {
  // Literals 0-254 take 8 bits, 255 and the end code 9: a complete code. The code-length code gives
  // its four symbols (0, 8, 9 and the repeat 16) two bits each, in symbol order.
  Writer w;
  w.put(1, 1);
  w.put(2, 2);
  w.put(0, 5); // 257 literal/length codes
  w.put(0, 5); // one distance code, of length 0
  w.put(7 - 4, 4);
  for (unsigned i = 0; i < 7; ++i) {
    const unsigned sym = kOrder[i];
    w.put(sym == 0 || sym == 8 || sym == 9 || sym == 16 ? 2 : 0, 3);
  }
  w.code(1, 2); // 8
  for (int r = 0; r < 42; ++r) {
    w.code(3, 2); // repeat 6 times
    w.put(3, 2);
  }
  w.code(1, 2);
  w.code(1, 2);
  w.code(2, 2); // 9 for literal 255
  w.code(2, 2); // 9 for the end code
  w.code(0, 2); // 0 for the one distance code
  for (size_t i = 0; i < n; ++i) {
    if (data[i] < 255)
      w.code(data[i], 8);
    else
      w.code(510, 9);
  }
  w.code(511, 9);
  return w.out;
}

} // namespace kivo::test

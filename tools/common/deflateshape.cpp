#include "deflateshape.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kivo {

namespace {

constexpr unsigned kMaxBits = 15;
constexpr unsigned kLitCodes = 286, kDistCodes = 30, kLenCodes = 19;
const uint8_t kLenOrder[kLenCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

class BitReader {
public:
  BitReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  size_t position() const { return pos_; }
  size_t limit() const { return n_ * 8; }
  // Up to 32 bits from the current position; bits past the end read as zero.
  uint32_t peek(unsigned count) const {
    uint64_t v = 0;
    const size_t byte = pos_ >> 3;
    for (size_t i = 0; i < 5 && byte + i < n_; ++i)
      v |= uint64_t(p_[byte + i]) << (8 * i);
    return uint32_t((v >> (pos_ & 7)) & ((uint64_t(1) << count) - 1));
  }
  bool take(unsigned count, uint32_t& v) {
    if (pos_ + count > limit()) return false;
    v = peek(count);
    pos_ += count;
    return true;
  }
  bool skip(size_t count) {
    if (pos_ + count > limit()) return false;
    pos_ += count;
    return true;
  }
  void alignToByte() { pos_ = (pos_ + 7) & ~size_t(7); }

private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

class BitWriter {
public:
  BitWriter(uint8_t* out, size_t cap) : out_(out), cap_(cap) {}
  bool put(uint32_t bits, unsigned count) {
    acc_ |= uint64_t(bits) << fill_;
    fill_ += count;
    while (fill_ >= 8) {
      if (at_ >= cap_) return false;
      out_[at_++] = uint8_t(acc_);
      acc_ >>= 8;
      fill_ -= 8;
    }
    return true;
  }
  bool alignToByte() { return fill_ ? put(0, 8 - fill_) : true; }
  // Copies count bits of data from bit position first.
  bool copy(const uint8_t* data, size_t n, size_t first, size_t count) {
    BitReader r(data, n);
    r.skip(first);
    uint32_t v;
    while (count > 0) {
      const unsigned step = unsigned(std::min<size_t>(count, 24));
      if (!r.take(step, v) || !put(v, step)) return false;
      count -= step;
    }
    return true;
  }
  size_t finish() { return alignToByte() ? at_ : 0; }

private:
  uint8_t* out_;
  size_t cap_;
  size_t at_ = 0;
  uint64_t acc_ = 0;
  unsigned fill_ = 0;
};

// A canonical Huffman code as RFC 1951 builds it from code lengths.
struct Code {
  std::array<uint16_t, kMaxBits + 1> count{};
  std::array<uint16_t, 288> symbol{};
  unsigned symbols = 0;
  bool oversubscribed = false, complete = false;

  void build(const uint8_t* lens, unsigned n) {
    count.fill(0);
    symbols = 0;
    for (unsigned s = 0; s < n; ++s) {
      ++count[lens[s]];
      symbols += lens[s] != 0;
    }
    count[0] = 0;
    int left = 1;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
      left = left * 2 - count[len];
      if (left < 0) {
        oversubscribed = true;
        return;
      }
    }
    oversubscribed = false;
    complete = left == 0;
    std::array<uint16_t, kMaxBits + 2> offs{};
    for (unsigned len = 1; len <= kMaxBits; ++len)
      offs[len + 1] = uint16_t(offs[len] + count[len]);
    for (unsigned s = 0; s < n; ++s)
      if (lens[s]) symbol[offs[lens[s]]++] = uint16_t(s);
  }
  // The shape zlib gives every code: at least two symbols, the whole code space used.
  bool thin() const { return symbols < 2; }
  bool incomplete() const { return symbols >= 2 && !complete; }

  // The next symbol, or -1 when the bits name no symbol or run past the end.
  int decode(BitReader& in) const {
    const uint32_t bits = in.peek(kMaxBits);
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
      code |= int(bits >> (len - 1)) & 1;
      const int n = count[len];
      if (code - first < n) return in.skip(len) ? symbol[size_t(index + code - first)] : -1;
      index += n;
      first = (first + n) << 1;
      code <<= 1;
    }
    return -1;
  }
};

// Bit-reversed canonical codes, for writing.
void codesOf(const uint8_t* lens, unsigned n, uint16_t* codes) {
  std::array<uint16_t, kMaxBits + 1> count{}, next{};
  for (unsigned s = 0; s < n; ++s)
    ++count[lens[s]];
  count[0] = 0;
  uint16_t code = 0;
  for (unsigned len = 1; len <= kMaxBits; ++len) {
    code = uint16_t((code + count[len - 1]) << 1);
    next[len] = code;
  }
  for (unsigned s = 0; s < n; ++s) {
    const unsigned len = lens[s];
    if (!len) continue;
    uint16_t c = next[len]++, r = 0;
    for (unsigned i = 0; i < len; ++i)
      r = uint16_t(r << 1 | ((c >> i) & 1));
    codes[s] = r;
  }
}

// Lengths of a Huffman code for the frequencies, at most maxBits long, complete, with at least two
// symbols: a lone symbol gets a partner with the same length, and no symbol at all gets two.
void huffmanLengths(const uint32_t* freq, unsigned n, unsigned maxBits, uint8_t* lens) {
  std::fill(lens, lens + n, 0);
  std::vector<unsigned> used;
  for (unsigned s = 0; s < n; ++s)
    if (freq[s]) used.push_back(s);
  if (used.size() < 2) {
    const unsigned a = used.empty() ? 0 : used[0];
    lens[a] = 1;
    lens[a == 0 ? 1 : 0] = 1;
    return;
  }
  // Plain Huffman over the used symbols, then the lengths beyond maxBits folded back in a way that
  // keeps the code complete; the shortest lengths go to the most frequent symbols.
  struct Node {
    uint64_t weight;
    int left, right;
  };
  std::vector<Node> nodes;
  std::vector<std::pair<uint64_t, int>> heap;
  for (unsigned s : used) {
    nodes.push_back({freq[s], -1, -1});
    heap.emplace_back(freq[s], int(nodes.size() - 1));
  }
  auto cmp = [](const std::pair<uint64_t, int>& a, const std::pair<uint64_t, int>& b) { return a > b; };
  std::make_heap(heap.begin(), heap.end(), cmp);
  while (heap.size() > 1) {
    std::pop_heap(heap.begin(), heap.end(), cmp);
    auto a = heap.back();
    heap.pop_back();
    std::pop_heap(heap.begin(), heap.end(), cmp);
    auto b = heap.back();
    heap.pop_back();
    nodes.push_back({a.first + b.first, a.second, b.second});
    heap.emplace_back(a.first + b.first, int(nodes.size() - 1));
    std::push_heap(heap.begin(), heap.end(), cmp);
  }
  std::vector<unsigned> depth(nodes.size(), 0);
  std::array<unsigned, 64> perLength{};
  for (int i = int(nodes.size()) - 1; i >= 0; --i) {
    const Node& nd = nodes[size_t(i)];
    if (nd.left >= 0) {
      depth[size_t(nd.left)] = depth[size_t(i)] + 1;
      depth[size_t(nd.right)] = depth[size_t(i)] + 1;
    } else {
      ++perLength[std::min<unsigned>(depth[size_t(i)], 63)];
    }
  }
  for (unsigned len = 63; len > maxBits; --len) {
    while (perLength[len] > 0) {
      unsigned j = len - 2;
      while (perLength[j] == 0)
        --j;
      perLength[len] -= 2;
      perLength[len - 1] += 1;
      perLength[j + 1] += 2;
      perLength[j] -= 1;
    }
  }
  std::vector<unsigned> order(used);
  std::stable_sort(order.begin(), order.end(), [&](unsigned a, unsigned b) { return freq[a] > freq[b]; });
  size_t k = 0;
  for (unsigned len = 1; len <= maxBits; ++len)
    for (unsigned c = 0; c < perLength[len]; ++c)
      lens[order[k++]] = uint8_t(len);
}

struct Token {
  uint16_t sym;       // literal/length symbol
  uint16_t lenExtra;  // its extra bits
  uint8_t dist;       // distance symbol, for a length
  uint16_t distExtra; // its extra bits
};

// One block header as read: its codes, and what breaks zlib's shape in it.
struct Header {
  unsigned type = 0;
  bool final = false;
  unsigned hlit = 0, hdist = 0;
  std::array<uint8_t, kLitCodes + kDistCodes> lens{};
  Code lit, dist, lenCode;
  size_t crossing = 0, thin = 0, incomplete = 0;
  bool shaped() const { return crossing == 0 && thin == 0 && incomplete == 0; }
};

const Header& fixedHeader() {
  static const Header h = [] {
    Header f;
    f.type = 1;
    uint8_t lit[288], dist[30];
    for (unsigned s = 0; s < 288; ++s)
      lit[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    std::fill(dist, dist + 30, 5);
    f.lit.build(lit, 288);
    f.dist.build(dist, 30);
    return f;
  }();
  return h;
}

class Walker {
public:
  Walker(const uint8_t* data, size_t n) : in_(data, n) {}
  BitReader in_;
  uint64_t produced = 0;

  // Reads a block header up to its first symbol (or its stored bytes).
  bool header(Header& h) {
    uint32_t v;
    if (!in_.take(3, v)) return false;
    h.final = v & 1;
    h.type = v >> 1;
    h.crossing = h.thin = h.incomplete = 0;
    if (h.type == 3) return false;
    if (h.type != 2) return true;
    uint32_t hlit, hdist, hclen;
    if (!in_.take(5, hlit) || !in_.take(5, hdist) || !in_.take(4, hclen)) return false;
    h.hlit = hlit + 257;
    h.hdist = hdist + 1;
    // zlib's inflate refuses more codes than deflate defines.
    if (h.hlit > kLitCodes || h.hdist > kDistCodes) return false;
    uint8_t cl[kLenCodes] = {};
    for (unsigned i = 0; i < hclen + 4; ++i) {
      if (!in_.take(3, v)) return false;
      cl[kLenOrder[i]] = uint8_t(v);
    }
    h.lenCode.build(cl, kLenCodes);
    if (h.lenCode.oversubscribed || h.lenCode.symbols == 0) return false;
    classify(h.lenCode, h);
    const unsigned total = h.hlit + h.hdist;
    unsigned at = 0;
    h.lens.fill(0);
    while (at < total) {
      const int sym = h.lenCode.decode(in_);
      if (sym < 0) return false;
      if (sym < 16) {
        h.lens[at++] = uint8_t(sym);
        continue;
      }
      unsigned repeat;
      uint8_t value = 0;
      if (sym == 16) {
        if (at == 0 || !in_.take(2, v)) return false;
        value = h.lens[at - 1];
        repeat = 3 + v;
      } else if (sym == 17) {
        if (!in_.take(3, v)) return false;
        repeat = 3 + v;
      } else {
        if (!in_.take(7, v)) return false;
        repeat = 11 + v;
      }
      if (at + repeat > total) return false;
      // Read as two tables, a run may neither go on into the distance lengths nor open them by
      // repeating the last literal/length length.
      if ((at < h.hlit && at + repeat > h.hlit) || (sym == 16 && at == h.hlit)) ++h.crossing;
      std::fill(h.lens.begin() + at, h.lens.begin() + at + repeat, value);
      at += repeat;
    }
    if (h.lens[256] == 0) return false; // no end-of-block code
    h.lit.build(h.lens.data(), h.hlit);
    h.dist.build(h.lens.data() + h.hlit, h.hdist);
    if (h.lit.oversubscribed || h.dist.oversubscribed) return false;
    classify(h.lit, h);
    classify(h.dist, h);
    return true;
  }

  // Walks a block's symbols up to and including its end code; tokens, when given, receive them.
  bool symbols(const Header& h, std::vector<Token>* tokens) {
    if (h.type == 0) {
      in_.alignToByte();
      uint32_t len, nlen;
      if (!in_.take(16, len) || !in_.take(16, nlen) || (len ^ 0xFFFF) != nlen) return false;
      produced += len;
      return in_.skip(size_t(len) * 8);
    }
    const Header& codes = h.type == 1 ? fixedHeader() : h;
    for (;;) {
      const int sym = codes.lit.decode(in_);
      if (sym < 0 || sym > 285) return false;
      Token t{uint16_t(sym), 0, 0, 0};
      if (sym < 256) {
        ++produced;
      } else if (sym == 256) {
        if (tokens) tokens->push_back(t);
        return true;
      } else {
        uint32_t v;
        const unsigned li = unsigned(sym) - 257;
        if (!in_.take(kLengthExtra[li], v)) return false;
        t.lenExtra = uint16_t(v);
        const int d = codes.dist.decode(in_);
        if (d < 0 || d > 29 || !in_.take(kDistExtra[d], v)) return false;
        t.dist = uint8_t(d);
        t.distExtra = uint16_t(v);
        if (kDistBase[d] + v > produced) return false;
        produced += kLengthBase[li] + t.lenExtra;
      }
      if (tokens) tokens->push_back(t);
    }
  }

private:
  static void classify(const Code& c, Header& h) {
    h.thin += c.thin();
    h.incomplete += c.incomplete();
  }
};

// Code lengths as runs, each table on its own as zlib sends them: symbols 0-18 with extra bits.
struct Run {
  uint8_t sym;
  uint8_t extra;
};

void runsOf(const uint8_t* lens, unsigned n, std::vector<Run>& out) {
  unsigned i = 0;
  while (i < n) {
    const uint8_t v = lens[i];
    unsigned j = i + 1;
    while (j < n && lens[j] == v)
      ++j;
    unsigned run = j - i;
    if (v == 0) {
      while (run >= 11) {
        const unsigned r = std::min(run, 138u);
        out.push_back({18, uint8_t(r - 11)});
        run -= r;
      }
      if (run >= 3) {
        out.push_back({17, uint8_t(run - 3)});
        run = 0;
      }
      while (run--)
        out.push_back({0, 0});
    } else {
      out.push_back({v, 0});
      --run;
      while (run >= 3) {
        const unsigned r = std::min(run, 6u);
        out.push_back({16, uint8_t(r - 3)});
        run -= r;
      }
      while (run--)
        out.push_back({v, 0});
    }
    i = j;
  }
}

// A dynamic block in zlib's shape carrying the same symbols.
bool writeBlock(BitWriter& w, const Header& h, const std::vector<Token>& tokens) {
  uint32_t litFreq[kLitCodes] = {}, distFreq[kDistCodes] = {};
  for (const Token& t : tokens) {
    ++litFreq[t.sym];
    if (t.sym > 256) ++distFreq[t.dist];
  }
  // A code that is already complete with two symbols or more keeps its lengths, and with them the
  // bits of every symbol; a thin or incomplete one is built anew from the symbols the block uses.
  uint8_t lit[kLitCodes] = {}, dist[kDistCodes] = {};
  if (h.lit.thin() || h.lit.incomplete())
    huffmanLengths(litFreq, kLitCodes, kMaxBits, lit);
  else
    std::copy(h.lens.begin(), h.lens.begin() + h.hlit, lit);
  if (h.dist.thin() || h.dist.incomplete())
    huffmanLengths(distFreq, kDistCodes, kMaxBits, dist);
  else
    std::copy(h.lens.begin() + h.hlit, h.lens.begin() + h.hlit + h.hdist, dist);
  unsigned hlit = kLitCodes, hdist = kDistCodes;
  while (hlit > 257 && lit[hlit - 1] == 0)
    --hlit;
  while (hdist > 1 && dist[hdist - 1] == 0)
    --hdist;
  std::vector<Run> runs;
  runsOf(lit, hlit, runs);
  runsOf(dist, hdist, runs);
  uint32_t clFreq[kLenCodes] = {};
  for (const Run& r : runs)
    ++clFreq[r.sym];
  uint8_t cl[kLenCodes];
  huffmanLengths(clFreq, kLenCodes, 7, cl);
  unsigned hclen = kLenCodes;
  while (hclen > 4 && cl[kLenOrder[hclen - 1]] == 0)
    --hclen;
  uint16_t clCodes[kLenCodes] = {}, litCodes[kLitCodes] = {}, distCodes[kDistCodes] = {};
  codesOf(cl, kLenCodes, clCodes);
  codesOf(lit, kLitCodes, litCodes);
  codesOf(dist, kDistCodes, distCodes);
  bool ok = w.put(h.final ? 1 : 0, 1) && w.put(2, 2) && w.put(hlit - 257, 5) && w.put(hdist - 1, 5) &&
            w.put(hclen - 4, 4);
  for (unsigned i = 0; ok && i < hclen; ++i)
    ok = w.put(cl[kLenOrder[i]], 3);
  static const uint8_t runExtra[3] = {2, 3, 7};
  for (const Run& r : runs) {
    if (!ok) break;
    ok = w.put(clCodes[r.sym], cl[r.sym]) && (r.sym < 16 || w.put(r.extra, runExtra[r.sym - 16]));
  }
  for (const Token& t : tokens) {
    if (!ok) break;
    ok = w.put(litCodes[t.sym], lit[t.sym]);
    if (ok && t.sym > 256) {
      const unsigned li = t.sym - 257u;
      ok = w.put(t.lenExtra, kLengthExtra[li]) && w.put(distCodes[t.dist], dist[t.dist]) &&
           w.put(t.distExtra, kDistExtra[t.dist]);
    }
  }
  return ok;
}

} // namespace

DeflateShape inspectDeflate(const uint8_t* data, size_t n, bool walkLast) {
  DeflateShape shape;
  Walker walk(data, n);
  Header h;
  for (;;) {
    if (!walk.header(h)) return shape;
    ++shape.blocks;
    shape.crossingRuns += h.crossing;
    shape.thinCodes += h.thin;
    shape.incompleteCodes += h.incomplete;
    if (h.final && !walkLast) {
      shape.valid = true;
      return shape;
    }
    if (!walk.symbols(h, nullptr)) return shape;
    if (h.final) {
      shape.valid = true;
      shape.bytes = (walk.in_.position() + 7) / 8;
      return shape;
    }
  }
}

size_t reshapeDeflate(const uint8_t* in, size_t n, uint8_t* out, size_t cap) {
  Walker walk(in, n);
  BitWriter w(out, cap);
  Header h;
  std::vector<Token> tokens;
  for (;;) {
    const size_t start = walk.in_.position();
    if (!walk.header(h)) return 0;
    if (h.type == 0) {
      // Stored bytes sit on a byte boundary, which moves with the header before them.
      const size_t head = walk.in_.position();
      if (!walk.symbols(h, nullptr)) return 0;
      const size_t body = (head + 7) & ~size_t(7);
      if (!w.put(h.final ? 1 : 0, 1) || !w.put(0, 2) || !w.alignToByte() ||
          !w.copy(in, n, body, walk.in_.position() - body))
        return 0;
    } else if (h.shaped()) {
      if (!walk.symbols(h, nullptr) || !w.copy(in, n, start, walk.in_.position() - start)) return 0;
    } else {
      tokens.clear();
      if (!walk.symbols(h, &tokens) || !writeBlock(w, h, tokens)) return 0;
    }
    if (h.final) return w.finish();
  }
}

size_t keepZlibShape(uint8_t* data, size_t size, size_t cap) {
  if (inspectDeflate(data, size).zlibShaped()) return size;
  thread_local std::vector<uint8_t> scratch;
  scratch.resize(cap);
  const size_t got = reshapeDeflate(data, size, scratch.data(), cap);
  if (got) std::memcpy(data, scratch.data(), got);
  return got;
}

} // namespace kivo

#include "chdhuff.h"

#include <algorithm>
#include <cstring>

namespace kivo::chd {

uint32_t BitReader::peek(int n) const {
  if (n <= 0) return 0;
  const uint64_t at = pos_ >> 3;
  uint64_t v = 0;
  if (at < size_ && size_ - at >= 8) {
    for (int i = 0; i < 8; ++i)
      v = v << 8 | data_[at + uint64_t(i)];
  } else {
    for (uint64_t i = 0; i < 8; ++i)
      v = v << 8 | (at + i < size_ ? data_[at + i] : 0);
  }
  v <<= (pos_ & 7);
  return uint32_t(v >> (64 - n));
}

void BitWriter::write(uint32_t v, int n) {
  if (n <= 0) return;
  acc_ = acc_ << n | (uint64_t(v) & ((uint64_t(1) << n) - 1));
  fill_ += n;
  while (fill_ >= 8) {
    fill_ -= 8;
    bytes_.push_back(uint8_t(acc_ >> fill_));
  }
  acc_ &= (uint64_t(1) << fill_) - 1;
}

std::vector<uint8_t>& BitWriter::finish() {
  if (fill_ > 0) write(0, 8 - fill_);
  return bytes_;
}

std::vector<uint8_t> codeLengths(const uint32_t* counts, int symbols, int maxBits) {
  std::vector<uint8_t> lengths(size_t(symbols), 0);
  std::vector<int> used; // the symbols that occur, lightest first
  for (int s = 0; s < symbols; ++s)
    if (counts[s]) used.push_back(s);
  const size_t m = used.size();
  if (m == 0) return lengths;
  if (m == 1) {
    lengths[size_t(used[0])] = 1;
    return lengths;
  }
  std::stable_sort(used.begin(), used.end(), [&](int a, int b) { return counts[a] < counts[b]; });

  // Huffman's construction with two queues: the leaves in weight order, then the joined nodes,
  // which come out in weight order by themselves.
  std::vector<uint64_t> weight(2 * m - 1);
  std::vector<size_t> parent(2 * m - 1, 0);
  for (size_t i = 0; i < m; ++i)
    weight[i] = counts[used[i]];
  size_t leaf = 0, joined = m;
  for (size_t next = m; next < 2 * m - 1; ++next) {
    size_t pair[2];
    for (size_t& p : pair)
      p = leaf < m && (joined >= next || weight[leaf] <= weight[joined]) ? leaf++ : joined++;
    weight[next] = weight[pair[0]] + weight[pair[1]];
    parent[pair[0]] = parent[pair[1]] = next;
  }
  std::vector<int> depth(2 * m - 1, 0);
  for (size_t i = 2 * m - 1; i-- > 0;)
    if (i != 2 * m - 2) depth[i] = depth[parent[i]] + 1;

  std::vector<int> len(depth.begin(), depth.begin() + long(m));
  if (*std::max_element(len.begin(), len.end()) > maxBits) {
    // Too deep: cut the long codes to the limit, then restore Kraft's sum exactly (in units of
    // the longest code): lengthen the lightest codes that can grow while it is over, shorten
    // the heaviest ones that room allows while it is under.
    const uint64_t full = uint64_t(1) << maxBits;
    uint64_t sum = 0;
    for (int& l : len) {
      l = std::min(l, maxBits);
      sum += uint64_t(1) << (maxBits - l);
    }
    while (sum > full) {
      for (size_t i = 0; i < m; ++i)
        if (len[i] < maxBits) {
          ++len[i];
          sum -= uint64_t(1) << (maxBits - len[i]);
          break;
        }
    }
    while (sum < full) {
      for (size_t i = m; i-- > 0;)
        if (len[i] > 1 && sum + (uint64_t(1) << (maxBits - len[i])) <= full) {
          sum += uint64_t(1) << (maxBits - len[i]);
          --len[i];
          break;
        }
    }
  }
  for (size_t i = 0; i < m; ++i)
    lengths[size_t(used[i])] = uint8_t(len[i]);
  return lengths;
}

bool canonicalCodes(const std::vector<uint8_t>& lengths, int maxBits, std::vector<uint32_t>& codes) {
  uint32_t count[33] = {}, first[33] = {};
  for (uint8_t l : lengths) {
    if (l > maxBits || l > 32) return false;
    ++count[l];
  }
  // The longest codes are numbered from zero; each shorter length starts where the codes of the
  // length below, halved, leave off. Every length but the shortest must fill whole pairs.
  uint64_t start = 0;
  for (int l = maxBits; l > 0; --l) {
    const uint64_t total = start + count[l];
    if (l != 1 && (total & 1)) return false;
    first[l] = uint32_t(start);
    start = total >> 1;
  }
  codes.assign(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); ++s) {
    const int l = lengths[s];
    if (l == 0) continue;
    codes[s] = first[l]++;
    if (uint64_t(codes[s]) >> l) return false;
  }
  return true;
}

bool HuffmanDecoder::setLengths(const std::vector<uint8_t>& lengths) {
  std::vector<uint32_t> codes;
  if (int(lengths.size()) != symbols_ || !canonicalCodes(lengths, maxBits_, codes)) return false;
  tableBits_ = *std::max_element(lengths.begin(), lengths.end());
  table_.assign(size_t(1) << tableBits_, 0);
  for (int s = 0; s < symbols_; ++s) {
    const int l = lengths[size_t(s)];
    if (l == 0) continue;
    const int shift = tableBits_ - l;
    const size_t from = size_t(codes[size_t(s)]) << shift, to = size_t(codes[size_t(s)] + 1) << shift;
    std::fill(table_.begin() + long(from), table_.begin() + long(to), uint16_t(s << 5 | l));
  }
  return true;
}

namespace {

int rleFieldBits(int maxBits) {
  return maxBits >= 16 ? 5 : maxBits >= 8 ? 4 : 3;
}

int bitsFor(uint32_t v) {
  int n = 0;
  for (; v; v >>= 1)
    ++n;
  return n;
}

} // namespace

bool HuffmanDecoder::importRle(BitReader& in) {
  const int field = rleFieldBits(maxBits_);
  std::vector<uint8_t> lengths(size_t(symbols_), 0);
  for (int i = 0; i < symbols_;) {
    uint32_t v = in.read(field);
    if (v != 1) {
      lengths[size_t(i++)] = uint8_t(v);
      continue;
    }
    // 1 escapes: 1 again is a lone 1, another value repeats that value.
    v = in.read(field);
    if (v == 1) {
      lengths[size_t(i++)] = 1;
      continue;
    }
    const uint32_t repeat = in.read(field) + 3;
    if (repeat > uint32_t(symbols_ - i)) return false;
    for (uint32_t k = 0; k < repeat; ++k)
      lengths[size_t(i++)] = uint8_t(v);
    if (in.overflow()) return false;
  }
  return !in.overflow() && setLengths(lengths);
}

bool HuffmanDecoder::importHuffman(BitReader& in) {
  // The lengths are coded with a code of 24 symbols: 0 repeats the last length, n gives n - 1.
  // Its own lengths come first, 3 bits each from a starting symbol on, a 7 ending them.
  HuffmanDecoder small(24, 6);
  std::vector<uint8_t> smallLengths(24, 0);
  smallLengths[0] = uint8_t(in.read(3));
  const uint32_t start = in.read(3) + 1;
  uint32_t v = 0;
  for (uint32_t s = 1; s < 24; ++s) {
    if (s < start || v == 7) continue;
    v = in.read(3);
    smallLengths[s] = v == 7 ? 0 : uint8_t(v);
  }
  if (in.overflow() || !small.setLengths(smallLengths)) return false;
  const int repeatBits = bitsFor(uint32_t(symbols_ - 9));
  std::vector<uint8_t> lengths(size_t(symbols_), 0);
  uint8_t last = 0;
  for (int i = 0; i < symbols_;) {
    const int sym = small.decode(in);
    if (sym < 0 || in.overflow()) return false;
    if (sym != 0) {
      lengths[size_t(i++)] = last = uint8_t(sym - 1);
      continue;
    }
    uint32_t repeat = in.read(3) + 2;
    if (repeat == 9) repeat += in.read(repeatBits);
    for (; repeat && i < symbols_; --repeat)
      lengths[size_t(i++)] = last;
  }
  return !in.overflow() && setLengths(lengths);
}

void HuffmanEncoder::build() {
  lengths_ = codeLengths(counts_.data(), symbols_, maxBits_);
  canonicalCodes(lengths_, maxBits_, codes_);
}

uint64_t HuffmanEncoder::cost() const {
  uint64_t bits = 0;
  for (size_t s = 0; s < counts_.size(); ++s)
    bits += uint64_t(counts_[s]) * lengths_[s];
  return bits;
}

void HuffmanEncoder::exportRle(BitWriter& out) const {
  const int field = rleFieldBits(maxBits_);
  const size_t longest = (size_t(1) << field) - 1 + 3;
  for (size_t i = 0; i < lengths_.size();) {
    const uint8_t v = lengths_[i];
    size_t run = 1;
    while (i + run < lengths_.size() && lengths_[i + run] == v && run < longest)
      ++run;
    if (v == 1) {
      out.write(1, field);
      out.write(1, field);
      ++i;
    } else if (run >= 3) {
      out.write(1, field);
      out.write(v, field);
      out.write(uint32_t(run - 3), field);
      i += run;
    } else {
      out.write(v, field);
      ++i;
    }
  }
}

void HuffmanEncoder::exportHuffman(BitWriter& out) const {
  struct Token {
    int symbol;
    uint32_t count; // for a repeat: how many
  };
  const int repeatBits = bitsFor(uint32_t(symbols_ - 9));
  const uint32_t longest = 9 + (uint32_t(1) << repeatBits) - 1;
  std::vector<Token> tokens;
  HuffmanEncoder small(24, 6);
  for (size_t i = 0; i < lengths_.size();) {
    const uint8_t v = lengths_[i++];
    tokens.push_back({v + 1, 0});
    small.count(v + 1);
    uint32_t run = 0;
    while (i + run < lengths_.size() && lengths_[i + run] == v)
      ++run;
    while (run >= 2) {
      const uint32_t n = std::min(run, longest);
      tokens.push_back({0, n});
      small.count(0);
      i += n;
      run -= n;
    }
  }
  small.build();
  const std::vector<uint8_t>& sl = small.lengths();
  out.write(sl[0], 3);
  int first = 1, last = 0;
  while (first < 24 && sl[size_t(first)] == 0)
    ++first;
  for (int s = 1; s < 24; ++s)
    if (sl[size_t(s)]) last = s;
  const int start = std::min(first, 8);
  out.write(uint32_t(start - 1), 3);
  for (int s = start; s <= last; ++s)
    out.write(sl[size_t(s)], 3);
  if (last < 23) out.write(7, 3);
  for (const Token& t : tokens) {
    small.encode(out, t.symbol);
    if (t.symbol != 0) continue;
    if (t.count <= 8) {
      out.write(t.count - 2, 3);
    } else {
      out.write(7, 3);
      out.write(t.count - 9, repeatBits);
    }
  }
}

size_t huffCompress(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
  HuffmanEncoder enc(256, 16);
  for (size_t i = 0; i < n; ++i)
    enc.count(in[i]);
  enc.build();
  if (enc.cost() / 8 >= n) return 0; // the bytes alone, without the code, are no smaller
  BitWriter bits;
  enc.exportHuffman(bits);
  for (size_t i = 0; i < n; ++i)
    enc.encode(bits, in[i]);
  std::vector<uint8_t>& bytes = bits.finish();
  if (bytes.size() >= n) return 0;
  out.swap(bytes);
  return out.size();
}

bool huffDecompress(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  BitReader bits(in, inSize);
  HuffmanDecoder dec(256, 16);
  if (!dec.importHuffman(bits)) return false;
  for (size_t i = 0; i < outSize; ++i) {
    const int s = dec.decode(bits);
    if (s < 0) return false;
    out[i] = uint8_t(s);
  }
  return !bits.overflow();
}

} // namespace kivo::chd

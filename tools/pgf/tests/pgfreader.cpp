#include "pgfreader.h"

#include <stdexcept>

namespace pgftest {

namespace {

uint32_t u32(const std::vector<uint8_t>& f, size_t at) {
  if (at + 4 > f.size()) throw std::runtime_error("short file");
  return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | uint32_t(f[at + 3]) << 24;
}
uint32_t u16(const std::vector<uint8_t>& f, size_t at) {
  if (at + 2 > f.size()) throw std::runtime_error("short file");
  return f[at] | f[at + 1] << 8;
}

// A stream of bits taken from little-endian 32-bit words, lowest bit first.
struct Bits {
  const std::vector<uint8_t>& f;
  size_t base, length; // bytes
  uint64_t pos = 0;
  uint32_t take(unsigned n) {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++pos) {
      const uint64_t word = pos / 32;
      if (word * 4 + 4 > length + 3 || base + word * 4 >= f.size()) throw std::runtime_error("bits past the end");
      uint32_t w = 0;
      for (unsigned b = 0; b < 4; ++b)
        if (base + word * 4 + b < f.size()) w |= uint32_t(f[base + word * 4 + b]) << (8 * b);
      v |= (w >> (pos % 32) & 1u) << i;
    }
    return v;
  }
  int takeSigned7() {
    const uint32_t v = take(7);
    return v & 64 ? int(v) - 128 : int(v);
  }
};

std::vector<uint32_t> table(const std::vector<uint8_t>& f, size_t& at, uint32_t count, uint32_t bits) {
  const size_t bytes = (size_t(count) * bits + 31) / 32 * 4;
  if (at + bytes > f.size()) throw std::runtime_error("table past the end");
  Bits b{f, at, bytes};
  std::vector<uint32_t> out(count);
  for (auto& v : out) v = b.take(bits);
  at += bytes;
  return out;
}

Image picture(Bits& b, int w, int h, int flags) {
  Image img;
  img.w = w;
  img.h = h;
  const size_t n = size_t(w) * size_t(h);
  std::vector<uint8_t> seq;
  while (seq.size() < n) {
    const uint32_t c = b.take(4);
    if (c <= 7) {
      const uint8_t v = uint8_t(b.take(4));
      seq.insert(seq.end(), c + 1, v);
    } else {
      for (uint32_t k = 0; k < 16 - c; ++k) seq.push_back(uint8_t(b.take(4)));
    }
  }
  seq.resize(n);
  img.px.assign(n, 0);
  for (size_t i = 0; i < n; ++i) {
    if ((flags & 3) == 1)
      img.px[i] = seq[i];
    else if ((flags & 3) == 2)
      img.px[(i % size_t(h)) * size_t(w) + i / size_t(h)] = seq[i];
    else
      throw std::runtime_error("unknown picture order");
  }
  return img;
}

} // namespace

Face parse(const std::vector<uint8_t>& f) {
  if (f.size() < 392 || std::string(f.begin() + 4, f.begin() + 8) != "PGF0") throw std::runtime_error("no PGF0");
  if (u32(f, 8) != 2 || u32(f, 12) != 6) throw std::runtime_error("not revision 2 version 6");
  if (u16(f, 2) != 392) throw std::runtime_error("header size");
  Face face;
  const uint32_t mapLength = u32(f, 0x10), glyphs = u32(f, 0x14), mapBits = u32(f, 0x18), ptrBits = u32(f, 0x1C);
  face.hSize = int32_t(u32(f, 0x24));
  face.hRes = int32_t(u32(f, 0x2C));
  face.family = std::string(reinterpret_cast<const char*>(&f[0x35]));
  face.style = std::string(reinterpret_cast<const char*>(&f[0x75]));
  face.first = u16(f, 0xB6);
  face.last = u16(f, 0xB8);
  const uint32_t shadows = u32(f, 0x16C), shadowBits = u32(f, 0x170);
  face.shadowScale = u32(f, 0x178);
  size_t at = 392;
  std::vector<std::pair<int32_t, int32_t>> metricTables[4];
  for (int t = 0; t < 4; ++t)
    for (unsigned i = 0; i < f[0x102 + t]; ++i, at += 8)
      metricTables[t].push_back({int32_t(u32(f, at)), int32_t(u32(f, at + 4))});
  const std::vector<uint32_t> shadowMap = table(f, at, shadows, shadowBits);
  const std::vector<uint32_t> charMap = table(f, at, mapLength, mapBits);
  const std::vector<uint32_t> pointers = table(f, at, glyphs, ptrBits);
  const size_t data = at, dataLength = f.size() - at;

  std::map<uint32_t, uint32_t> glyphOfCode;
  for (uint32_t i = 0; i < mapLength; ++i)
    if (charMap[i] < glyphs) glyphOfCode[face.first + i] = charMap[i];

  auto headerAt = [&](uint32_t glyph, int& shadowId, Char& c) {
    Bits b{f, data, dataLength, uint64_t(pointers.at(glyph)) * 32};
    b.take(14);
    const int w = int(b.take(7)), h = int(b.take(7));
    const int left = b.takeSigned7(), top = b.takeSigned7();
    const int flags = int(b.take(6));
    if (!(flags & 0x20)) throw std::runtime_error("not a character record");
    b.take(7);
    shadowId = int(b.take(9));
    for (int t = 0; t < 4; ++t) {
      const bool indexed = flags & (4 << t);
      if (indexed) {
        const auto& e = metricTables[t].at(b.take(8));
        c.metric[t][0] = e.first;
        c.metric[t][1] = e.second;
      } else {
        c.metric[t][0] = int32_t(b.take(32));
        c.metric[t][1] = int32_t(b.take(32));
      }
    }
    c.image = picture(b, w, h, flags);
    c.image.left = left;
    c.image.top = top;
  };
  for (const auto& [code, glyph] : glyphOfCode) {
    Char c;
    int shadowId = -1;
    headerAt(glyph, shadowId, c);
    if (shadowId >= 0 && uint32_t(shadowId) < shadows) {
      const uint32_t carrier = glyphOfCode.at(shadowMap[size_t(shadowId)]);
      const uint64_t start = uint64_t(pointers.at(carrier)) * 32;
      Bits size{f, data, dataLength, start};
      Bits b{f, data, dataLength, start + uint64_t(size.take(14)) * 8};
      b.take(14);
      const int w = int(b.take(7)), h = int(b.take(7));
      const int left = b.takeSigned7(), top = b.takeSigned7();
      const int flags = int(b.take(6));
      c.shadow = picture(b, w, h, flags);
      c.shadow.left = left;
      c.shadow.top = top;
      c.hasShadow = true;
    }
    face.chars.emplace(code, std::move(c));
  }
  return face;
}

} // namespace pgftest

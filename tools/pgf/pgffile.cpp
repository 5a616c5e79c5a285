#include "pgffile.h"

#include "io.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

namespace kivo::pgf {

namespace {

// Header offsets (revision 2: 392 bytes; revision 3 adds 20).
constexpr size_t kHeaderSize = 0x188, kRev3Extra = 20;
constexpr size_t kMagic = 0x04, kRevision = 0x08, kVersion = 0x0C, kCharMapLength = 0x10, kGlyphCount = 0x14,
                 kCharMapBits = 0x18, kPointerBits = 0x1C, kBpp = 0x22, kHSize = 0x24, kVSize = 0x28, kHRes = 0x2C,
                 kVRes = 0x30, kName = 0x35, kStyle = 0x75, kFirst = 0xB6, kLast = 0xB8, kMaxima = 0xD4,
                 kMaxWidth = 0xFC, kMaxHeight = 0xFE, kTableLengths = 0x102, kShadowCount = 0x16C,
                 kShadowBits = 0x170, kShadowUnknown = 0x174, kShadowScaleH = 0x178, kShadowScaleV = 0x17C,
                 kTail = 0x180;
constexpr int kFlagRows = 1, kFlagColumns = 2, kFlagGlyph = 0x20;
constexpr int kIndexFlag[4] = {0x04, 0x08, 0x10, 0x20};

/// Bits stored lowest first, byte by byte.
class BitWriter {
public:
  void put(uint64_t value, int count) {
    for (int i = 0; i < count; ++i, ++at_) {
      if (at_ / 8 >= bytes.size()) bytes.push_back(0);
      if (value >> i & 1) bytes[at_ / 8] |= uint8_t(1u << (at_ % 8));
    }
  }
  void patch(uint64_t at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i, ++at) {
      uint8_t& b = bytes[at / 8];
      b = uint8_t((b & ~(1u << (at % 8))) | ((value >> i & 1u) << (at % 8)));
    }
  }
  void align(uint64_t bits) {
    while (at_ % bits) put(0, 1);
  }
  uint64_t at() const { return at_; }
  std::vector<uint8_t> bytes;

private:
  uint64_t at_ = 0;
};

/// Reads bits lowest first from a bounded range; reading past it throws.
class BitReader {
public:
  BitReader(const uint8_t* data, size_t size) : data_(data), bits_(uint64_t(size) * 8) {}
  uint32_t get(int count) {
    if (count > 32 || at_ + uint64_t(count) > bits_) throw ToolError("a glyph record runs past the end of the font data");
    uint32_t v = 0;
    for (int i = 0; i < count; ++i, ++at_)
      v |= uint32_t(data_[at_ / 8] >> (at_ % 8) & 1) << i;
    return v;
  }
  int32_t getSigned7() {
    int v = int(get(7));
    return v >= 64 ? v - 128 : v;
  }
  void seek(uint64_t bit) { at_ = bit; }
  uint64_t at() const { return at_; }
  uint64_t size() const { return bits_; }

private:
  const uint8_t* data_;
  uint64_t bits_;
  uint64_t at_ = 0;
};

int bitsFor(uint64_t largest) {
  int bits = 1;
  while (bits < 32 && (largest >> bits) != 0) ++bits;
  return bits;
}

size_t packedBytes(uint64_t count, uint64_t bits) {
  return size_t((count * bits + 31) / 32 * 4);
}

void putPacked(std::vector<uint8_t>& out, const std::vector<uint32_t>& values, int bits) {
  BitWriter w;
  for (uint32_t v : values) w.put(v, bits);
  w.align(32);
  out.insert(out.end(), w.bytes.begin(), w.bytes.end());
}

/// Shades in storage order: row by row, or column by column.
std::vector<uint8_t> ordered(const Picture& p, bool columns) {
  if (!columns) return p.shades;
  std::vector<uint8_t> out;
  out.reserve(p.shades.size());
  for (int x = 0; x < p.width; ++x)
    for (int y = 0; y < p.height; ++y) out.push_back(p.shades[size_t(y) * size_t(p.width) + size_t(x)]);
  return out;
}

/// Nibble codes: n < 8 repeats the next shade n + 1 times; n >= 8 is followed by 16 - n shades.
void runLength(BitWriter& w, const std::vector<uint8_t>& shades) {
  size_t i = 0;
  while (i < shades.size()) {
    size_t run = 1;
    while (i + run < shades.size() && run < 8 && shades[i + run] == shades[i]) ++run;
    if (run >= 2) {
      w.put(run - 1, 4);
      w.put(shades[i], 4);
      i += run;
      continue;
    }
    size_t count = 1; // plain shades up to the next pair worth a run
    while (i + count < shades.size() && count < 8 &&
           !(i + count + 1 < shades.size() && shades[i + count] == shades[i + count + 1]))
      ++count;
    w.put(16 - count, 4);
    for (size_t k = 0; k < count; ++k) w.put(shades[i + k], 4);
    i += count;
  }
}

uint64_t encodedBits(const std::vector<uint8_t>& shades) {
  BitWriter w;
  runLength(w, shades);
  return w.at();
}

std::string hexCode(uint32_t code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", code);
  return buf;
}

void checkPicture(const Picture& p, uint32_t code, const char* what) {
  if (p.width < 0 || p.height < 0 || p.shades.size() != size_t(p.width) * size_t(p.height))
    throw ToolError("the " + std::string(what) + " of " + hexCode(code) + " is malformed");
  if (p.width > kMaxSide || p.height > kMaxSide)
    throw ToolError("the " + std::string(what) + " of " + hexCode(code) + " is " + std::to_string(p.width) + " x " +
                    std::to_string(p.height) + " pixels; a PSP font holds at most " + std::to_string(kMaxSide) +
                    " x " + std::to_string(kMaxSide) + ": choose a smaller size");
  if (p.left < kMinOffset || p.left > kMaxOffset || p.top < kMinOffset || p.top > kMaxOffset)
    throw ToolError("the " + std::string(what) + " of " + hexCode(code) + " stands too far from its pen position (" +
                    std::to_string(p.left) + ", " + std::to_string(p.top) + "; at most 64 pixels): choose a smaller size");
  for (uint8_t s : p.shades)
    if (s > 15) throw ToolError("the " + std::string(what) + " of " + hexCode(code) + " has a shade past 15");
}

/// Appends a picture's record fields after the size: width, height, left, top, flags, then
/// (for a character glyph) the rest of the header written by `middle`, then the shades.
template <class Middle>
void pictureRecord(BitWriter& w, const Picture& p, int extraFlags, Middle middle) {
  const std::vector<uint8_t> rows = ordered(p, false), columns = ordered(p, true);
  const bool byColumns = encodedBits(columns) < encodedBits(rows);
  w.put(uint32_t(p.width), 7);
  w.put(uint32_t(p.height), 7);
  w.put(uint32_t(p.left) & 127, 7);
  w.put(uint32_t(p.top) & 127, 7);
  w.put(uint32_t((byColumns ? kFlagColumns : kFlagRows) | extraFlags), 6);
  middle();
  runLength(w, byColumns ? columns : rows);
}

/// The values that go into a table of at most 255 entries: the most frequent ones.
std::vector<Pair> tableOf(const std::map<Pair, size_t>& counts) {
  std::vector<std::pair<size_t, Pair>> byCount;
  for (const auto& [pair, n] : counts) byCount.push_back({n, pair});
  std::stable_sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  if (byCount.size() > 255) byCount.resize(255);
  std::vector<Pair> table;
  for (const auto& e : byCount) table.push_back(e.second);
  std::sort(table.begin(), table.end());
  return table;
}

int indexIn(const std::vector<Pair>& table, const Pair& p) {
  auto it = std::lower_bound(table.begin(), table.end(), p);
  return it != table.end() && *it == p ? int(it - table.begin()) : -1;
}

int nearestIn(const std::vector<Pair>& table, const Pair& p) {
  int best = 0;
  int64_t bestDistance = INT64_MAX;
  for (size_t i = 0; i < table.size(); ++i) {
    const int64_t d = std::abs(int64_t(table[i].h) - p.h) * 4 + std::abs(int64_t(table[i].v) - p.v);
    if (d < bestDistance) bestDistance = d, best = int(i);
  }
  return best;
}

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) { putLe16(&b[at], uint16_t(v)); }
void put32(std::vector<uint8_t>& b, size_t at, int64_t v) { putLe32(&b[at], uint32_t(v)); }

} // namespace

std::vector<uint8_t> write(const Font& font, WriteReport* report) {
  const std::vector<Glyph>& glyphs = font.glyphs;
  if (glyphs.empty()) throw ToolError("there are no characters to write");
  if (glyphs.size() > kMaxGlyphs) throw ToolError("a PSP font holds at most 65535 characters");
  for (size_t i = 0; i < glyphs.size(); ++i) {
    if (glyphs[i].code > 0xFFFF) throw ToolError("a PSP font holds characters up to U+FFFF only");
    if (i && glyphs[i].code <= glyphs[i - 1].code) throw ToolError("characters must be given once each, in order");
    checkPicture(glyphs[i].picture, glyphs[i].code, "picture");
    checkPicture(glyphs[i].shadow, glyphs[i].code, "shadow");
  }
  if (font.emPixels <= 0 || font.emPixels > 1000) throw ToolError("the font size is out of range");
  WriteReport local;
  WriteReport& rep = report ? *report : local;
  rep = {};

  // Shadows: identical ones shared; past what the ids can name, each takes the nearest in size.
  std::vector<Picture> shadows;
  std::vector<size_t> shadowOf(glyphs.size());
  {
    std::map<std::tuple<int, int, int, int, std::vector<uint8_t>>, size_t> seen;
    std::vector<size_t> overflow;
    for (size_t i = 0; i < glyphs.size(); ++i) {
      const Picture& s = glyphs[i].shadow;
      auto key = std::make_tuple(s.width, s.height, s.left, s.top, s.shades);
      auto it = seen.find(key);
      if (it != seen.end()) {
        shadowOf[i] = it->second;
      } else if (shadows.size() < kMaxShadows) {
        seen.emplace(std::move(key), shadows.size());
        shadowOf[i] = shadows.size();
        shadows.push_back(s);
      } else {
        overflow.push_back(i);
      }
    }
    for (size_t i : overflow) {
      const Picture& s = glyphs[i].shadow;
      size_t best = 0;
      int bestDistance = INT32_MAX;
      for (size_t k = 0; k < shadows.size(); ++k) {
        const Picture& c = shadows[k];
        const int d = std::abs(c.width - s.width) + std::abs(c.height - s.height) + std::abs(c.left - s.left) +
                      std::abs(c.top - s.top);
        if (d < bestDistance) bestDistance = d, best = k;
      }
      shadowOf[i] = best;
    }
    rep.shadows = shadows.size();
    rep.sharedShadows = overflow.size();
  }
  // Each shadow travels after the first glyph that uses it; the shadow map names that glyph's code.
  std::vector<uint32_t> shadowCodes(shadows.size(), 0);
  std::vector<int> carries(glyphs.size(), -1);
  {
    std::vector<bool> placed(shadows.size(), false);
    for (size_t i = 0; i < glyphs.size(); ++i)
      if (!placed[shadowOf[i]]) {
        placed[shadowOf[i]] = true;
        shadowCodes[shadowOf[i]] = glyphs[i].code;
        carries[i] = int(shadowOf[i]);
      }
  }

  // Metric tables: dimension, x bearing, y bearing, advance. The advance is always a table entry.
  std::vector<Pair> tables[4];
  {
    std::map<Pair, size_t> counts[4];
    for (const Glyph& g : glyphs) {
      const Pair* m[4] = {&g.metrics.dimension, &g.metrics.bearingX, &g.metrics.bearingY, &g.metrics.advance};
      for (int t = 0; t < 4; ++t) ++counts[t][*m[t]];
    }
    for (int t = 0; t < 4; ++t) tables[t] = tableOf(counts[t]);
    rep.mergedAdvances = counts[3].size() - tables[3].size();
  }

  // Glyph records, each starting on a 32-bit word.
  std::vector<uint8_t> data;
  std::vector<uint32_t> pointers;
  for (size_t i = 0; i < glyphs.size(); ++i) {
    const Glyph& g = glyphs[i];
    const Pair* m[4] = {&g.metrics.dimension, &g.metrics.bearingX, &g.metrics.bearingY, &g.metrics.advance};
    int index[4];
    int flags = kFlagGlyph;
    for (int t = 0; t < 3; ++t) {
      index[t] = indexIn(tables[t], *m[t]);
      if (index[t] >= 0) flags |= kIndexFlag[t];
    }
    index[3] = indexIn(tables[3], *m[3]);
    if (index[3] < 0) index[3] = nearestIn(tables[3], *m[3]);

    BitWriter w;
    w.put(0, 14);
    pictureRecord(w, g.picture, flags, [&] {
      w.put(0, 7); // shadow flags: their meaning is not known, the font library does not need them
      w.put(shadowOf[i], 9);
      for (int t = 0; t < 3; ++t) {
        if (index[t] >= 0) {
          w.put(uint32_t(index[t]), 8);
        } else {
          w.put(uint32_t(m[t]->h), 32);
          w.put(uint32_t(m[t]->v), 32);
        }
      }
      w.put(uint32_t(index[3]), 8);
    });
    w.align(8);
    if (w.at() / 8 >= (1u << 14)) throw ToolError("the glyph of " + hexCode(g.code) + " is too large for a PSP font");
    w.patch(0, uint32_t(w.at() / 8), 14);
    if (carries[i] >= 0) {
      const uint64_t start = w.at();
      w.put(0, 14);
      pictureRecord(w, shadows[size_t(carries[i])], 0, [] {});
      w.align(8);
      w.patch(start, uint32_t((w.at() - start) / 8), 14);
    }
    w.align(32);
    pointers.push_back(uint32_t(data.size() / 4));
    data.insert(data.end(), w.bytes.begin(), w.bytes.end());
  }

  const uint32_t first = glyphs.front().code, last = glyphs.back().code;
  const int charMapBits = bitsFor(glyphs.size()); // all ones (>= the glyph count) marks a missing code
  const uint32_t missing = uint32_t((uint64_t(1) << charMapBits) - 1);
  std::vector<uint32_t> charMap(last - first + 1, missing);
  for (size_t i = 0; i < glyphs.size(); ++i) charMap[glyphs[i].code - first] = uint32_t(i);
  const int pointerBits = bitsFor(pointers.back());

  std::vector<uint8_t> out(kHeaderSize, 0);
  put16(out, 0x02, kHeaderSize);
  std::memcpy(&out[kMagic], "PGF0", 4);
  put32(out, kRevision, 2);
  put32(out, kVersion, 6);
  put32(out, kCharMapLength, charMap.size());
  put32(out, kGlyphCount, glyphs.size());
  put32(out, kCharMapBits, charMapBits);
  put32(out, kPointerBits, pointerBits);
  out[0x20] = out[0x21] = 4; // as in the firmware's fonts; meaning unknown
  out[kBpp] = 4;
  const int32_t points = font.emPixels * 36; // em pixels at 128 dpi, in 26.6 points
  put32(out, kHSize, points);
  put32(out, kVSize, points);
  put32(out, kHRes, kResolution);
  put32(out, kVRes, kResolution);
  std::memcpy(&out[kName], font.name.data(), std::min<size_t>(font.name.size(), 63));
  std::memcpy(&out[kStyle], font.style.data(), std::min<size_t>(font.style.size(), 63));
  put16(out, kFirst, first);
  put16(out, kLast, last);

  // The font's extremes, as the library reports them to programs.
  int32_t maxAscender = INT32_MIN, maxDescender = INT32_MIN, maxLeft = INT32_MIN, maxBaseY = INT32_MIN,
          minCenterX = INT32_MAX, maxTopY = INT32_MIN, maxAdvanceH = INT32_MIN, maxAdvanceV = INT32_MIN,
          maxSizeH = INT32_MIN, maxSizeV = INT32_MIN;
  int maxWidth = 0, maxHeight = 0;
  for (const Glyph& g : glyphs) {
    const Metrics& m = g.metrics;
    maxAscender = std::max(maxAscender, m.bearingY.h);
    maxDescender = std::max(maxDescender, m.dimension.v - m.bearingY.h);
    maxLeft = std::max(maxLeft, m.bearingX.h);
    maxBaseY = std::max(maxBaseY, m.bearingY.h);
    minCenterX = std::min(minCenterX, m.bearingX.v);
    maxTopY = std::max(maxTopY, m.bearingY.v);
    maxAdvanceH = std::max(maxAdvanceH, m.advance.h);
    maxAdvanceV = std::max(maxAdvanceV, m.advance.v);
    maxSizeH = std::max(maxSizeH, m.dimension.h);
    maxSizeV = std::max(maxSizeV, m.dimension.v);
    maxWidth = std::max(maxWidth, g.picture.width);
    maxHeight = std::max(maxHeight, g.picture.height);
  }
  const int32_t maxima[10] = {maxAscender, maxDescender, maxLeft, maxBaseY, minCenterX,
                              maxTopY,     maxAdvanceH,  maxAdvanceV, maxSizeH, maxSizeV};
  for (int i = 0; i < 10; ++i) put32(out, kMaxima + size_t(i) * 4, maxima[i]);
  put16(out, kMaxWidth, uint32_t(maxWidth));
  put16(out, kMaxHeight, uint32_t(maxHeight));
  for (int t = 0; t < 4; ++t) out[kTableLengths + size_t(t)] = uint8_t(tables[t].size());
  put32(out, kShadowCount, shadows.size());
  put32(out, kShadowBits, 16);
  put32(out, kShadowUnknown, 1540); // 24.0625 in 26.6, as in the firmware's fonts
  put32(out, kShadowScaleH, kShadowScale);
  put32(out, kShadowScaleV, kShadowScale);
  put32(out, kTail, 960);  // 15.0, likewise
  put32(out, kTail + 4, 960);

  for (const auto& table : tables)
    for (const Pair& p : table) {
      uint8_t b[8];
      putLe32(b, uint32_t(p.h));
      putLe32(b + 4, uint32_t(p.v));
      out.insert(out.end(), b, b + 8);
    }
  putPacked(out, shadowCodes, 16);
  putPacked(out, charMap, charMapBits);
  putPacked(out, pointers, pointerBits);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

namespace {

Picture decodePicture(BitReader& r, int width, int height, int flags) {
  Picture p;
  p.width = width;
  p.height = height;
  const size_t n = size_t(width) * size_t(height);
  if (n == 0) return p;
  const int direction = flags & 3;
  if (direction != kFlagRows && direction != kFlagColumns)
    throw ToolError("a glyph's picture is stored in a way this reader does not know (flags " + std::to_string(flags) + ")");
  std::vector<uint8_t> stored;
  stored.reserve(n);
  while (stored.size() < n) {
    const uint32_t code = r.get(4);
    if (code < 8) {
      const uint8_t shade = uint8_t(r.get(4));
      for (uint32_t k = 0; k <= code && stored.size() < n; ++k) stored.push_back(shade);
    } else {
      for (uint32_t k = 0; k < 16 - code && stored.size() < n; ++k) stored.push_back(uint8_t(r.get(4)));
    }
  }
  if (direction == kFlagRows) {
    p.shades = std::move(stored);
  } else {
    p.shades.assign(n, 0);
    size_t i = 0;
    for (int x = 0; x < width; ++x)
      for (int y = 0; y < height; ++y) p.shades[size_t(y) * size_t(width) + size_t(x)] = stored[i++];
  }
  return p;
}

/// The shadow record that follows a glyph record: its size, the glyph's, in the first 14 bits.
Picture readShadow(BitReader& r, uint64_t glyphStart) {
  r.seek(glyphStart);
  const uint32_t size = r.get(14);
  r.seek(glyphStart + uint64_t(size) * 8);
  r.get(14);
  const int width = int(r.get(7)), height = int(r.get(7));
  const int left = r.getSigned7(), top = r.getSigned7();
  const int flags = int(r.get(6));
  Picture p = decodePicture(r, width, height, flags);
  p.left = left;
  p.top = top;
  return p;
}

uint32_t field32(const uint8_t* data, size_t at) { return getLe32(data + at); }

} // namespace

Font read(const uint8_t* data, size_t size) {
  if (size < kHeaderSize || std::memcmp(data + kMagic, "PGF0", 4) != 0)
    throw ToolError("not a PSP font (no PGF0 header)");
  const uint32_t revision = field32(data, kRevision);
  if (revision != 2 && revision != 3)
    throw ToolError("a PSP font of revision " + std::to_string(revision) + ", which this reader does not know");
  const uint32_t charMapLength = field32(data, kCharMapLength), glyphCount = field32(data, kGlyphCount);
  const uint32_t charMapBits = field32(data, kCharMapBits), pointerBits = field32(data, kPointerBits);
  const uint32_t shadowCount = field32(data, kShadowCount), shadowBits = field32(data, kShadowBits);
  if (charMapLength > 0x10000 || glyphCount > kMaxGlyphs || charMapBits < 1 || charMapBits > 32 || pointerBits < 1 ||
      pointerBits > 32 || shadowCount > 512 || shadowBits > 32 || (shadowCount && shadowBits < 1))
    throw ToolError("the font's header holds impossible counts");
  const uint32_t first = getLe16(data + kFirst);

  size_t at = kHeaderSize;
  uint32_t ranges = 0;
  if (revision == 3) {
    if (size < kHeaderSize + kRev3Extra) throw ToolError("the font's header is cut short");
    ranges = getLe16(data + kHeaderSize + 4);
    at += kRev3Extra;
  }
  std::vector<Pair> tables[4];
  for (int t = 0; t < 4; ++t) {
    const size_t length = data[kTableLengths + size_t(t)];
    if (size - at < length * 8) throw ToolError("the font's metric tables are cut short");
    for (size_t i = 0; i < length; ++i, at += 8)
      tables[t].push_back({int32_t(getLe32(data + at)), int32_t(getLe32(data + at + 4))});
  }
  auto section = [&](uint64_t count, uint64_t bits) {
    const size_t bytes = packedBytes(count, bits);
    if (size - at < bytes) throw ToolError("the font's tables are cut short");
    const uint8_t* p = data + at;
    at += bytes;
    return BitReader(p, bytes);
  };
  BitReader shadowMap = section(shadowCount, shadowBits);
  std::vector<std::pair<uint32_t, uint32_t>> codeRanges; // revision 3: (first code, count)
  if (revision == 3) {
    const uint32_t parts = getLe16(data + kHeaderSize + 12);
    if (size - at < (uint64_t(ranges) + parts) * 4) throw ToolError("the font's code ranges are cut short");
    for (uint32_t i = 0; i < ranges; ++i, at += 4) codeRanges.push_back({getLe16(data + at), getLe16(data + at + 2)});
    at += size_t(parts) * 4;
  } else {
    codeRanges.push_back({first, charMapLength});
  }
  BitReader charMap = section(charMapLength, charMapBits);
  BitReader pointerTable = section(glyphCount, pointerBits);
  const uint8_t* fontData = data + at;
  BitReader glyphData(fontData, size - at);

  std::vector<uint32_t> shadowCodes(shadowCount);
  for (uint32_t& c : shadowCodes) c = shadowMap.get(int(shadowBits));

  Font font;
  font.name.assign(reinterpret_cast<const char*>(data + kName), strnlen(reinterpret_cast<const char*>(data + kName), 64));
  font.style.assign(reinterpret_cast<const char*>(data + kStyle), strnlen(reinterpret_cast<const char*>(data + kStyle), 64));
  font.emPixels = int(int32_t(field32(data, kHSize)) / 36);

  std::vector<uint64_t> starts(glyphCount);
  for (uint64_t& s : starts) s = uint64_t(pointerTable.get(int(pointerBits))) * 32;
  std::map<uint32_t, uint32_t> codeOfGlyph;
  uint32_t position = 0;
  for (const auto& [start, count] : codeRanges) {
    for (uint32_t k = 0; k < count && position < charMapLength; ++k, ++position) {
      const uint32_t glyph = charMap.get(int(charMapBits));
      if (glyph < glyphCount && !codeOfGlyph.count(glyph)) codeOfGlyph[glyph] = start + k;
    }
  }
  // Records are decoded once each, however many codes share one.
  struct Record {
    Picture picture;
    Metrics metrics;
    int shadowId = -1;
  };
  std::map<uint64_t, Record> records;
  auto record = [&](uint32_t index, uint32_t code) -> const Record& {
    auto found = records.find(starts[index]);
    if (found != records.end()) return found->second;
    Record rec;
    glyphData.seek(starts[index]);
    glyphData.get(14);
    const int width = int(glyphData.get(7)), height = int(glyphData.get(7));
    const int left = glyphData.getSigned7(), top = glyphData.getSigned7();
    const int flags = int(glyphData.get(6));
    if (!(flags & kFlagGlyph)) throw ToolError("the record of " + hexCode(code) + " is not a character glyph");
    glyphData.get(7);
    rec.shadowId = int(glyphData.get(9));
    Pair* m[4] = {&rec.metrics.dimension, &rec.metrics.bearingX, &rec.metrics.bearingY, &rec.metrics.advance};
    for (int t = 0; t < 4; ++t) {
      if (flags & kIndexFlag[t]) {
        const uint32_t i = glyphData.get(8);
        if (i >= tables[t].size()) throw ToolError("the record of " + hexCode(code) + " names a missing table entry");
        *m[t] = tables[t][i];
      } else {
        m[t]->h = int32_t(glyphData.get(32));
        m[t]->v = int32_t(glyphData.get(32));
      }
    }
    if ((flags & 3) == 3) throw ToolError("the glyph of " + hexCode(code) + " is made of parts, which this reader does not draw");
    rec.picture = decodePicture(glyphData, width, height, flags);
    rec.picture.left = left;
    rec.picture.top = top;
    return records.emplace(starts[index], std::move(rec)).first->second;
  };
  // The shadow a glyph names travels after the glyph of the code the shadow map gives.
  std::map<uint32_t, uint32_t> glyphByCode;
  for (const auto& [index, code] : codeOfGlyph) glyphByCode[code] = index;
  std::map<uint64_t, Picture> shadowPictures;
  for (const auto& [index, code] : codeOfGlyph) {
    const Record& rec = record(index, code);
    Glyph g;
    g.code = code;
    g.picture = rec.picture;
    g.metrics = rec.metrics;
    if (rec.shadowId >= 0 && uint32_t(rec.shadowId) < shadowCount) {
      auto carrier = glyphByCode.find(shadowCodes[size_t(rec.shadowId)]);
      if (carrier != glyphByCode.end()) {
        const uint64_t start = starts[carrier->second];
        auto cached = shadowPictures.find(start);
        if (cached == shadowPictures.end()) cached = shadowPictures.emplace(start, readShadow(glyphData, start)).first;
        g.shadow = cached->second;
      }
    }
    font.glyphs.push_back(std::move(g));
  }
  std::sort(font.glyphs.begin(), font.glyphs.end(), [](const Glyph& a, const Glyph& b) { return a.code < b.code; });
  return font;
}

} // namespace kivo::pgf

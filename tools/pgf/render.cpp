#include "render.h"

#include "cli.h"
#include "io.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

namespace kivo::pgf {

namespace {

struct Library {
  FT_Library lib = nullptr;
  Library() {
    if (FT_Init_FreeType(&lib)) throw ToolError("FreeType could not be started");
  }
  ~Library() { FT_Done_FreeType(lib); }
};

struct Face {
  FT_Face face = nullptr;
  ~Face() {
    if (face) FT_Done_Face(face);
  }
};

std::string hexCode(uint32_t code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", code);
  return buf;
}

uint32_t parseCode(const std::string& text, const std::string& whole) {
  std::string t = text;
  if (t.size() > 2 && (t[0] == 'U' || t[0] == 'u') && t[1] == '+') t = t.substr(2);
  if (t.empty() || t.size() > 6 || t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    throw UsageError{"invalid character range '" + whole + "' (expected hexadecimal code points such as 20-7E,A0-FF)"};
  return uint32_t(std::stoul(t, nullptr, 16));
}

} // namespace

Ranges defaultRanges() {
  return {{0x20, 0x7E},     {0xA0, 0x17F},    {0x192, 0x192},   {0x2C6, 0x2C7},   {0x2D8, 0x2DD},
          {0x2013, 0x2014}, {0x2018, 0x201E}, {0x2020, 0x2022}, {0x2026, 0x2026}, {0x2030, 0x2030},
          {0x2039, 0x203A}, {0x20AC, 0x20AC}, {0x2122, 0x2122}};
}

Ranges parseRanges(const std::string& text) {
  Ranges out;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string part = text.substr(start, comma - start);
    const size_t dash = part.find('-');
    const uint32_t lo = parseCode(dash == std::string::npos ? part : part.substr(0, dash), text);
    const uint32_t hi = dash == std::string::npos ? lo : parseCode(part.substr(dash + 1), text);
    if (hi < lo) throw UsageError{"invalid character range '" + part + "' (the end comes before the start)"};
    if (hi > 0xFFFF) throw UsageError{"a PSP font holds characters up to U+FFFF only ('" + part + "')"};
    out.push_back({lo, hi});
    start = comma + 1;
  }
  return out;
}

int loadFlags() {
  return FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL;
}

int emPixelsFor(void* handle, int capHeight) {
  FT_Face face = static_cast<FT_Face>(handle);
  const double unitsPerEm = face->units_per_EM ? face->units_per_EM : 1000;
  double cap = 0;
  // The outline of H measures the capitals best; the OS/2 table's figure otherwise.
  const FT_UInt h = FT_Get_Char_Index(face, 'H');
  if (h && !FT_Load_Glyph(face, h, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP) &&
      face->glyph->format == FT_GLYPH_FORMAT_OUTLINE)
    cap = double(face->glyph->metrics.horiBearingY);
  if (cap <= 0) {
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version >= 2 && os2->sCapHeight > 0) cap = os2->sCapHeight;
  }
  if (cap <= 0 || cap > unitsPerEm * 2) cap = unitsPerEm * 0.7;
  const int em = int(capHeight * unitsPerEm / cap + 0.5);
  return std::clamp(em, capHeight, capHeight * 4);
}

Picture shadowOf(const std::vector<uint8_t>& coverage, int width, int height, int left, int top) {
  Picture s;
  if (width <= 0 || height <= 0) return s;
  // Half-resolution cells on a grid through the pen position: x from the left, y downwards
  // from the baseline (y = -top is the picture's first row).
  auto half = [](int v) { return v >= 0 ? v / 2 : -((1 - v) / 2); };
  const int x0 = half(left), x1 = half(left + width - 1);
  const int y0 = half(-top), y1 = half(-top + height - 1);
  constexpr int kBlur = 3;
  const int w = x1 - x0 + 1 + 2 * kBlur, h = y1 - y0 + 1 + 2 * kBlur;
  std::vector<int> grid(size_t(w) * size_t(h), 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int cx = half(left + x) - x0 + kBlur, cy = half(-top + y) - y0 + kBlur;
      grid[size_t(cy) * size_t(w) + size_t(cx)] += coverage[size_t(y) * size_t(width) + size_t(x)];
    }
  // Three box blurs of radius 1, across then down: close to a Gaussian.
  std::vector<int> tmp(grid.size());
  for (int pass = 0; pass < kBlur; ++pass) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int sum = 0;
        for (int d = -1; d <= 1; ++d)
          if (x + d >= 0 && x + d < w) sum += grid[size_t(y) * size_t(w) + size_t(x + d)];
        tmp[size_t(y) * size_t(w) + size_t(x)] = sum;
      }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int sum = 0;
        for (int d = -1; d <= 1; ++d)
          if (y + d >= 0 && y + d < h) sum += tmp[size_t(y + d) * size_t(w) + size_t(x)];
        grid[size_t(y) * size_t(w) + size_t(x)] = sum;
      }
  }
  // Four full pixels per cell, nine cells per blur pass: a solid area comes out at full shade.
  int divisor = 4;
  for (int pass = 0; pass < kBlur; ++pass) divisor *= 9;
  s.width = w;
  s.height = h;
  s.left = x0 - kBlur;
  s.top = -(y0 - kBlur);
  s.shades.resize(grid.size());
  for (size_t i = 0; i < grid.size(); ++i) s.shades[i] = toShade(uint8_t(std::min(255, grid[i] / divisor)));
  // Trim rows and columns that stay empty.
  auto rowEmpty = [&](int y) {
    for (int x = 0; x < s.width; ++x)
      if (s.shades[size_t(y) * size_t(s.width) + size_t(x)]) return false;
    return true;
  };
  auto columnEmpty = [&](int x) {
    for (int y = 0; y < s.height; ++y)
      if (s.shades[size_t(y) * size_t(s.width) + size_t(x)]) return false;
    return true;
  };
  int top0 = 0, bottom = s.height - 1, leftCol = 0, rightCol = s.width - 1;
  while (top0 <= bottom && rowEmpty(top0)) ++top0;
  if (top0 > bottom) return Picture{};
  while (rowEmpty(bottom)) --bottom;
  while (columnEmpty(leftCol)) ++leftCol;
  while (columnEmpty(rightCol)) --rightCol;
  Picture t;
  t.width = rightCol - leftCol + 1;
  t.height = bottom - top0 + 1;
  t.left = s.left + leftCol;
  t.top = s.top - top0;
  for (int y = top0; y <= bottom; ++y)
    for (int x = leftCol; x <= rightCol; ++x) t.shades.push_back(s.shades[size_t(y) * size_t(s.width) + size_t(x)]);
  return t;
}

Font renderFont(const std::vector<uint8_t>& fontFile, const RenderOptions& options,
                const std::function<void(size_t, size_t)>& progress) {
  Library library;
  Face face;
  const FT_Error opened =
      FT_New_Memory_Face(library.lib, fontFile.data(), FT_Long(fontFile.size()), 0, &face.face);
  if (opened) {
    static const char* const kSignatures[] = {"\0\1\0\0", "OTTO", "true", "ttcf"};
    bool looksLikeFont = false;
    for (const char* sig : kSignatures)
      looksLikeFont |= fontFile.size() >= 4 && std::memcmp(fontFile.data(), sig, 4) == 0;
    throw ToolError(looksLikeFont
                        ? "the font cannot be read: it is damaged or cut short"
                        : "the file is not a TrueType or OpenType font");
  }
  if (!FT_IS_SCALABLE(face.face)) throw ToolError("the font holds bitmaps only; a TrueType or OpenType outline font is needed");
  if (FT_Select_Charmap(face.face, FT_ENCODING_UNICODE))
    throw ToolError("the font has no Unicode character map");

  Font font;
  font.name = face.face->family_name ? face.face->family_name : "";
  font.style = face.face->style_name ? face.face->style_name : "";
  font.emPixels = emPixelsFor(face.face, options.capHeight);
  if (FT_Set_Pixel_Sizes(face.face, 0, FT_UInt(font.emPixels)))
    throw ToolError("the font cannot be drawn at " + std::to_string(font.emPixels) + " pixels");

  std::vector<uint32_t> codes;
  for (const auto& [lo, hi] : options.ranges)
    for (uint32_t c = lo; c <= hi && c <= 0xFFFF; ++c) codes.push_back(c);
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());

  size_t done = 0;
  for (uint32_t code : codes) {
    if (progress) progress(done++, codes.size());
    const FT_UInt index = FT_Get_Char_Index(face.face, code);
    if (!index) continue;
    if (FT_Load_Glyph(face.face, index, loadFlags()) || FT_Render_Glyph(face.face->glyph, FT_RENDER_MODE_NORMAL))
      throw ToolError("the glyph of " + hexCode(code) + " cannot be drawn: the font is damaged");
    const FT_GlyphSlot slot = face.face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.rows && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY)
      throw ToolError("the glyph of " + hexCode(code) + " was not drawn in grey levels");
    if (bitmap.width > unsigned(kMaxSide) || bitmap.rows > unsigned(kMaxSide))
      throw ToolError("the glyph of " + hexCode(code) + " is " + std::to_string(bitmap.width) + " x " +
                      std::to_string(bitmap.rows) + " pixels; a PSP font holds at most 127 x 127: choose a smaller size");
    Glyph g;
    g.code = code;
    g.picture.width = int(bitmap.width);
    g.picture.height = int(bitmap.rows);
    g.picture.left = slot->bitmap_left;
    g.picture.top = slot->bitmap_top;
    std::vector<uint8_t> coverage(size_t(bitmap.width) * bitmap.rows);
    for (unsigned y = 0; y < bitmap.rows; ++y) {
      const unsigned char* row = bitmap.buffer + ptrdiff_t(y) * bitmap.pitch;
      std::memcpy(&coverage[size_t(y) * bitmap.width], row, bitmap.width);
    }
    g.picture.shades.resize(coverage.size());
    std::transform(coverage.begin(), coverage.end(), g.picture.shades.begin(), toShade);
    if (g.picture.left < kMinOffset || g.picture.left > kMaxOffset || g.picture.top < kMinOffset ||
        g.picture.top > kMaxOffset)
      throw ToolError("the glyph of " + hexCode(code) + " stands too far from its pen position: choose a smaller size");
    const FT_Glyph_Metrics& m = slot->metrics;
    auto fixed = [](FT_Pos v) { return int32_t(std::clamp<FT_Pos>(v, INT32_MIN, INT32_MAX)); };
    g.metrics.dimension = {fixed(m.width), fixed(m.height)};
    g.metrics.bearingX = {fixed(m.horiBearingX), fixed(m.vertBearingX)};
    g.metrics.bearingY = {fixed(m.horiBearingY), fixed(m.vertBearingY)};
    g.metrics.advance = {fixed(m.horiAdvance), fixed(m.vertAdvance)};
    g.shadow = shadowOf(coverage, g.picture.width, g.picture.height, g.picture.left, g.picture.top);
    font.glyphs.push_back(std::move(g));
  }
  if (progress) progress(codes.size(), codes.size());
  if (font.glyphs.empty()) throw ToolError("the font has none of the characters asked for");
  return font;
}

} // namespace kivo::pgf

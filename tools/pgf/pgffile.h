// The PSP's bitmap font file (.pgf), as its font library reads the firmware's Latin fonts:
// a header, four metric tables, a shadow map, a character map, glyph pointers and bit-packed
// glyph records with 4-bit run-length coded pictures. docs/pgf-format.md describes the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kivo::pgf {

/// A 4-bit picture: shades 0 (nothing) to 15 (full), row by row. left and top place its
/// top-left pixel from the pen position (top counts upwards from the baseline).
struct Picture {
  int width = 0, height = 0;
  int left = 0, top = 0;
  std::vector<uint8_t> shades;
  bool operator==(const Picture& o) const {
    return width == o.width && height == o.height && left == o.left && top == o.top && shades == o.shades;
  }
};

/// A pair of 26.6 fixed-point values: [0] for horizontal layout, [1] for vertical.
struct Pair {
  int32_t h = 0, v = 0;
  bool operator==(const Pair& o) const { return h == o.h && v == o.v; }
  bool operator<(const Pair& o) const { return h != o.h ? h < o.h : v < o.v; }
};

struct Metrics {
  Pair dimension, bearingX, bearingY, advance;
  bool operator==(const Metrics& o) const {
    return dimension == o.dimension && bearingX == o.bearingX && bearingY == o.bearingY && advance == o.advance;
  }
};

struct Glyph {
  uint32_t code = 0; ///< Unicode code point, at most U+FFFF
  Picture picture;
  Metrics metrics;
  Picture shadow; ///< its soft shadow, in units of the font's shadow scale
};

/// The limits a glyph record can carry.
constexpr int kMaxSide = 127;          // 7-bit width and height
constexpr int kMinOffset = -64, kMaxOffset = 63; // 7-bit signed left and top
constexpr size_t kMaxGlyphs = 65535;
constexpr size_t kMaxShadows = 511;    // 9-bit shadow ids, as the PSP's own fonts keep them
constexpr int kShadowScale = 32;       // shadows at half resolution (64 = full)
constexpr int32_t kResolution = 128 * 64; // 128 dpi in 26.6

struct Font {
  std::string name, style;   ///< at most 63 bytes each are kept
  int emPixels = 0;          ///< the em square in pixels (stored as points at 128 dpi)
  std::vector<Glyph> glyphs; ///< ascending codes, each once
};

/// What write() had to give up: advances merged when a font has more distinct ones than the
/// format's table holds, shadows shared beyond the 511 the ids can name.
struct WriteReport {
  size_t mergedAdvances = 0;
  size_t shadows = 0, sharedShadows = 0;
};

/// The file's bytes. Throws ToolError when a glyph cannot be carried (too large, a code past
/// U+FFFF, codes out of order) or there are no glyphs or too many.
std::vector<uint8_t> write(const Font& font, WriteReport* report = nullptr);

/// Reads a .pgf file written by write() or by the firmware's tools (revision 2; revision 3's
/// compressed character map too). Every offset and count is checked; a damaged file throws
/// ToolError. Glyphs come back in code order, each with the shadow its id names (none when the
/// id names nothing).
Font read(const uint8_t* data, size_t size);

} // namespace kivo::pgf

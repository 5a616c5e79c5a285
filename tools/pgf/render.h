// Draws the characters of a TrueType or OpenType font with FreeType as a PSP font holds them:
// anti-aliased 8-bit coverage reduced to 4-bit shades, metrics in 26.6 fixed point, and a soft
// shadow for each glyph.
#pragma once

#include "pgffile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kivo::pgf {

/// Inclusive ranges of code points.
using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

/// What the PSP's Latin font covers, and more where the font has it: ASCII, Latin-1, Latin
/// Extended-A, and the punctuation, currency and letter-like signs of Western text.
Ranges defaultRanges();

/// Parses "20-7E,A0-FF,20AC" (hexadecimal code points, "U+" allowed). Throws UsageError.
Ranges parseRanges(const std::string& text);

/// The PSP's Latin font draws capital letters 17 pixels tall.
constexpr int kDefaultCapHeight = 17;
constexpr int kMinCapHeight = 6, kMaxCapHeight = 48;

/// The largest font file read (larger ones are no fonts a PSP could use).
constexpr uint64_t kMaxFontBytes = 64ull << 20;

/// A 4-bit shade from FreeType's 8-bit coverage, rounded to the nearest step.
inline uint8_t toShade(uint8_t coverage) {
  return uint8_t((coverage * 15 + 127) / 255);
}

/// FreeType's load flags for every glyph: its default hinting, outlines only (no embedded
/// bitmaps), rendered in 256 levels of grey.
int loadFlags();

struct RenderOptions {
  int capHeight = kDefaultCapHeight;
  Ranges ranges = defaultRanges();
};

/// The em size in pixels that draws the face's capital letters capHeight pixels tall.
/// `face` is an FT_Face.
int emPixelsFor(void* face, int capHeight);

/// Renders every character of the ranges that the font has. progress(done, total) is called as
/// characters are drawn. Throws ToolError for a file that is no usable font or has none of the
/// characters.
Font renderFont(const std::vector<uint8_t>& fontFile, const RenderOptions& options,
                const std::function<void(size_t, size_t)>& progress = {});

/// The soft shadow the PSP draws under a glyph: its coverage at half resolution, blurred.
/// coverage is the 8-bit picture (width x height, placed at left/top).
Picture shadowOf(const std::vector<uint8_t>& coverage, int width, int height, int left, int top);

} // namespace kivo::pgf

// Feeds arbitrary bytes to the PSP font reader: it must reject or read them, never misbehave.
#include "io.h"
#include "pgffile.h"

#include <algorithm>
#include <cstring>

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    pgf::read(data, size);
  } catch (const ToolError&) {
  }
  return 0;
}

// A small font of a few glyphs in both picture orders, with table entries and written-out metrics.
extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  pgf::Font font;
  font.name = "Seed";
  font.style = "Regular";
  font.emPixels = 18;
  for (uint32_t code : {0x20u, 0x41u, 0x42u, 0x7Cu, 0xE9u}) {
    pgf::Glyph g;
    g.code = code;
    const int w = code == 0x20 ? 0 : int(code % 7) + 2, h = code == 0x7C ? 15 : 9;
    g.picture = {w, code == 0x20 ? 0 : h, 1, 12, {}};
    for (int i = 0; i < g.picture.width * g.picture.height; ++i) g.picture.shades.push_back(uint8_t((i * code) % 16));
    g.metrics.advance = {int32_t(code % 3) * 64 + 640, 1088};
    g.metrics.dimension = {w * 64, h * 64 + int32_t(code)};
    g.shadow = {3, 3, -1, 7, {0, 4, 0, 4, 9, 4, 0, 4, 0}};
    font.glyphs.push_back(g);
  }
  const std::vector<uint8_t> bytes = pgf::write(font);
  const size_t n = std::min(bytes.size(), capacity);
  std::memcpy(out, bytes.data(), n);
  return n;
}

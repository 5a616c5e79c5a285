#pragma once
// Builds small TrueType files for the name reader's tests and fuzzer: an offset table, a table
// directory and a name table, nothing else.

#include <cstdint>
#include <string>
#include <vector>

namespace ttftest {

struct Name {
  uint16_t platform = 3, encoding = 1, language = 0x0409, nameId = 4;
  std::u16string text;
};

struct FontLayout {
  std::vector<Name> names;
  int tables = 4;         ///< entries in the table directory
  int nameIndex = 1;      ///< which entry is "name" (-1: none)
  bool zeroOffset = false;
  uint16_t storageOverride = 0;  ///< when set, written instead of the real storage offset
};

inline void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x >> 8));
  v.push_back(uint8_t(x));
}
inline void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x >> 16);
  put16(v, x);
}

inline std::vector<uint8_t> buildFont(const FontLayout& layout) {
  std::vector<uint8_t> font;
  put32(font, 0x00010000);
  put16(font, uint16_t(layout.tables));
  put16(font, 0);
  put16(font, 0);
  put16(font, 0);
  const uint32_t namePos = 12 + 16 * uint32_t(layout.tables);
  for (int i = 0; i < layout.tables; ++i) {
    const std::string tag = i == layout.nameIndex ? "name" : "t" + std::to_string(100 + i);
    font.insert(font.end(), tag.begin(), tag.begin() + 4);
    put32(font, 0);
    put32(font, i == layout.nameIndex ? (layout.zeroOffset ? 0 : namePos) : namePos);
    put32(font, 0);
  }
  const uint16_t storage = uint16_t(6 + 12 * layout.names.size());
  put16(font, 0);
  put16(font, uint16_t(layout.names.size()));
  put16(font, layout.storageOverride ? layout.storageOverride : storage);
  std::vector<uint8_t> strings;
  for (const Name& n : layout.names) {
    put16(font, n.platform);
    put16(font, n.encoding);
    put16(font, n.language);
    put16(font, n.nameId);
    put16(font, uint16_t(2 * n.text.size()));
    put16(font, uint16_t(strings.size()));
    for (char16_t c : n.text) put16(strings, c);
  }
  font.insert(font.end(), strings.begin(), strings.end());
  return font;
}

}  // namespace ttftest

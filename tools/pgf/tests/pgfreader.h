// A reader of PSP fonts written for the tests from the format's description alone, apart from
// the tool's own reader, so that a fault shared by the tool's writer and reader cannot hide.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pgftest {

struct Image {
  int w = 0, h = 0, left = 0, top = 0;
  std::vector<uint8_t> px; // 0..15, row by row
};

struct Char {
  Image image, shadow;
  int32_t metric[4][2] = {}; // dimension, bearing x, bearing y, advance; [0] horizontal
  bool hasShadow = false;
};

struct Face {
  std::string family, style;
  int32_t hSize = 0, hRes = 0;
  uint32_t first = 0, last = 0;
  uint32_t shadowScale = 0;
  std::map<uint32_t, Char> chars; // by code point
};

/// Throws std::runtime_error on anything it cannot follow.
Face parse(const std::vector<uint8_t>& file);

} // namespace pgftest

#include "icons.h"

#include "io.h"

#include <cstring>

namespace kivo::topmenu {

namespace {

constexpr int kSide = 64;

std::string otherKind(const std::vector<uint8_t>& b) {
  if (b.size() >= 8 && !std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8)) return "a PNG picture";
  if (b.size() >= 6 && (!std::memcmp(b.data(), "GIF87a", 6) || !std::memcmp(b.data(), "GIF89a", 6))) return "a GIF picture";
  if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return "a JPEG picture";
  if (b.size() >= 4 && !std::memcmp(b.data(), "\0\0\1\0", 4)) return "an icon file";
  return "no picture";
}

} // namespace

std::string iconProblem(const std::vector<uint8_t>& b) {
  if (b.empty()) return "is empty";
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return "is not a bitmap (it is " + otherKind(b) + ")";
  const uint32_t info = getLe32(&b[14]);
  if (info < 40) return "is a bitmap of an old kind; the top menu takes Windows bitmaps (BMP, 256 colours)";
  const int32_t width = int32_t(getLe32(&b[18])), height = int32_t(getLe32(&b[22]));
  const unsigned bits = getLe16(&b[28]);
  const uint32_t compression = getLe32(&b[30]), pixels = getLe32(&b[10]);
  if (width != kSide || (height != kSide && height != -kSide))
    return "is " + std::to_string(width) + " x " + std::to_string(height < 0 ? -int64_t(height) : height) +
           " pixels; the top menu takes 64 x 64";
  if (bits != 8)
    return "has " + std::to_string(bits) + " bits per pixel; the top menu takes 256-colour (8-bit) bitmaps";
  if (compression != 0) return "is compressed; the top menu takes uncompressed 256-colour bitmaps";
  if (height < 0) return "is stored top to bottom; save it again as an ordinary 256-colour bitmap";
  if (pixels > b.size() || b.size() - pixels < uint64_t(kSide) * kSide) return "is cut short";
  if (pixels < 14 + uint64_t(info)) return "is damaged (its pixels overlap its header)";
  return {};
}

bool isIconSized(const std::vector<uint8_t>& b) {
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || getLe32(&b[14]) < 40) return false;
  const int32_t width = int32_t(getLe32(&b[18])), height = int32_t(getLe32(&b[22]));
  return width == kSide && (height == kSide || height == -kSide);
}

} // namespace kivo::topmenu

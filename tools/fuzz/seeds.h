// Small well-formed files for the fuzz targets to start from.
#pragma once

#include "cso.h"
#include "dax.h"
#include "pbp.h"

#include <cstring>
#include <vector>

namespace kivo::fuzz {

inline std::vector<uint8_t> sampleImage(size_t sectors) {
  std::vector<uint8_t> iso(sectors * 2048);
  for (size_t i = 0; i < iso.size(); ++i)
    iso[i] = uint8_t(i % 251 < 120 ? 0 : (i * 2654435761u) >> 24);
  if (sectors > 16) {
    uint8_t* pvd = &iso[16 * 2048];
    std::memset(pvd, 0, 2048);
    pvd[0] = 1;
    std::memcpy(pvd + 1, "CD001", 5);
    putLe32(pvd + 80, uint32_t(sectors));
  }
  return iso;
}

inline size_t copySeed(const std::vector<uint8_t>& seed, uint8_t* out, size_t capacity) {
  size_t n = std::min(seed.size(), capacity);
  std::memcpy(out, seed.data(), n);
  return n;
}

} // namespace kivo::fuzz

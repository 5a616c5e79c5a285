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

/// Container readers must reject or decode any bytes, never misbehave.
template <class Reader> void readContainer(const uint8_t* data, size_t size) {
  MemorySource src(data, size);
  try {
    Reader reader(src);
    NullSink out;
    reader.decompress(out);
  } catch (const ToolError&) {
  }
}

/// A small image packed with the container's compress(src, out, level, threads).
template <class Compress> size_t containerSeed(Compress compress, uint8_t* out, size_t capacity) {
  auto image = sampleImage(24);
  MemorySource src(image.data(), image.size());
  MemorySink file;
  compress(src, file, 9, 1, {});
  return copySeed(file.bytes, out, capacity);
}

} // namespace kivo::fuzz

// Small well-formed files for the fuzz targets to start from.
#pragma once

#include "cso.h"
#include "dax.h"
#include "pbp.h"
#include "pspcheck.h"

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

/// Container readers must reject or decode any bytes, never misbehave: the whole image on one
/// thread, then a few ranges that start and end inside blocks.
template <class Reader> void readContainer(const uint8_t* data, size_t size) {
  MemorySource src(data, size);
  try {
    Reader reader(src);
    NullSink out;
    reader.decompress(out, {}, 1);
    std::vector<uint8_t> buf(5000);
    for (uint64_t off : {uint64_t(1), reader.size() / 3, reader.size() - std::min<uint64_t>(reader.size(), 4999)}) {
      size_t n = size_t(std::min<uint64_t>(buf.size(), reader.size() - std::min(off, reader.size())));
      if (off <= reader.size()) reader.readAt(off, buf.data(), n);
    }
  } catch (const ToolError&) {
  }
  // ciso --check and --repair read the same files from any converter.
  try {
    checkForPsp(src);
    NullSink repaired;
    repairForPsp(src, repaired);
  } catch (const ToolError&) {
  }
}

/// A small image packed by write(src, out).
template <class Write> size_t containerSeed(Write write, uint8_t* out, size_t capacity) {
  auto image = sampleImage(24);
  // A few sectors of a repeated noise pattern, which LZ4 stores about as small as deflate.
  for (size_t i = 18 * 2048; i < 21 * 2048; ++i)
    image[i] = uint8_t((i % 300) * 2654435761u >> 13);
  uint32_t x = 1; // and two of noise, which is stored as it is
  for (size_t i = 4 * 2048; i < 6 * 2048; ++i)
    image[i] = uint8_t((x = x * 1103515245 + 12345) >> 23);
  image.resize(image.size() - 1000); // a short last block
  MemorySource src(image.data(), image.size());
  MemorySink file;
  write(src, file);
  return copySeed(file.bytes, out, capacity);
}

/// A CSO or ZSO seed of the given format with small blocks, so that a short input holds many.
inline size_t csoSeed(Format format, uint8_t* out, size_t capacity) {
  return containerSeed(
      [format](const ByteSource& src, ByteSink& file) {
        cso::WriteOptions options;
        options.format = format;
        options.threads = 1;
        cso::write(src, file, options);
      },
      out, capacity);
}

} // namespace kivo::fuzz

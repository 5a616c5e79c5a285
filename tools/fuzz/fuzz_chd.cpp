// Feeds arbitrary bytes to the CHD reader, as an image and as a CD: it must reject or decode
// them, never misbehave. The committed seeds hold a file of every codec.
#include "chddisc.h"
#include "seeds.h"

#include <cmath>

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource src(data, size);
  // A small file may describe a large image of copies or zeros: the work stays bounded.
  constexpr uint64_t kMostRead = 4 << 20;
  try {
    chd::Reader image(src);
    std::vector<uint8_t> buf(64 * 1024);
    for (uint64_t off = 0; off < std::min(image.size(), kMostRead); off += buf.size())
      image.readAt(off, buf.data(), size_t(std::min<uint64_t>(buf.size(), image.size() - off)));
    if (image.size() > 3) image.readAt(image.size() - 3, buf.data(), 3);
  } catch (const ToolError&) {
  }
  try {
    chd::ChdDisc disc(src);
    std::vector<uint8_t> raw(16 * 2352);
    for (uint32_t lba : {0u, disc.sectors() / 2, disc.sectors() - 1})
      disc.readRaw(lba, std::min(16u, disc.sectors() - lba), raw.data());
  } catch (const ToolError&) {
  }
  return 0;
}

// A DVD CHD with the four codecs chdman createdvd uses, each kept for some hunk, a stored hunk
// and copies.
extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  auto image = fuzz::sampleImage(24);
  for (size_t i = 0; i < 2 * 2048; i += 2) { // a tone, which flac keeps
    const auto v = int16_t(8000 * std::sin(double(i) * 0.02));
    image[6 * 2048 + i] = uint8_t(v);
    image[6 * 2048 + i + 1] = uint8_t(uint16_t(v) >> 8);
  }
  uint32_t x = 7;
  for (size_t i = 0; i < 2048; ++i) {
    image[9 * 2048 + i] = uint8_t("abc"[i % 3]);                // short repeats: zlib
    image[10 * 2048 + i] = uint8_t((x = x * 1103515245 + 12345) >> 28); // 16 symbols alike: huff
    image[11 * 2048 + i] = uint8_t((x = x * 1103515245 + 12345) >> 23); // noise: stored
  }
  image.resize(image.size() - 700);
  MemorySource src(image.data(), image.size());
  MemorySink file;
  chd::WriteOptions options;
  options.threads = 1;
  chd::writeDvd(src, file, options);
  return fuzz::copySeed(file.bytes, out, capacity);
}

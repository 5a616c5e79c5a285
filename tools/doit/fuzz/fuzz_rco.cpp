// Feeds arbitrary bytes to the resource container reader and to the rebuild with new pictures:
// they must reject or handle them, never misbehave.
#include "io.h"
#include "rco.h"

#include <cstring>

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    rco::Resource r(std::vector<uint8_t>(data, data + size));
    std::map<size_t, std::vector<uint8_t>> replacements;
    for (size_t i = 0; i < r.pictures().size(); ++i) {
      try {
        r.pictureData(r.pictures()[i]);
      } catch (const ToolError&) {
      }
      if (i % 2 == 0) replacements[i] = std::vector<uint8_t>(i + 3, uint8_t(i));
    }
    rco::Resource again(r.withPictures(replacements));
    (void)again;
  } catch (const ToolError&) {
  }
  return 0;
}

// A small container with a zlib-packed table of contents: two pictures, one packed, and labels.
extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  std::vector<uint8_t> toc(rco::kHeaderSize, 0xFF);
  std::memcpy(toc.data(), "\0PRF", 4);
  putLe32(&toc[4], 0x90);
  putLe32(&toc[8], 0);
  putLe32(&toc[12], 0x10);
  auto entry = [&](uint8_t type, uint8_t id, uint32_t label, uint32_t children, size_t extra) {
    const size_t at = toc.size();
    toc.resize(at + rco::kEntrySize + extra, 0);
    toc[at] = type;
    toc[at + 1] = id;
    putLe32(&toc[at + 4], label);
    putLe32(&toc[at + 16], children);
    return at;
  };
  // entry() grows the vector, so take each offset before pointing into it.
  const size_t root = entry(1, 1, rco::kNone, 1, 0);
  putLe32(&toc[0x10], uint32_t(root));
  const size_t images = entry(0, 4, rco::kNone, 2, 0);
  putLe32(&toc[0x24], uint32_t(images));
  const std::vector<uint8_t> pixels(40, 7);
  const std::vector<uint8_t> packed = rco::zlibPack(pixels);
  const size_t a = entry(1, 4, 0, 0, 16), b = entry(1, 4, 4, 0, 12);
  toc[a + 40] = 4;
  toc[a + 42] = 1;
  putLe32(&toc[a + 44], uint32_t(packed.size()));
  putLe32(&toc[a + 48], 0);
  putLe32(&toc[a + 52], uint32_t(pixels.size()));
  const uint32_t second = uint32_t((packed.size() + 3) / 4 * 4);
  toc[b + 40] = 0;
  putLe32(&toc[b + 44], 8);
  putLe32(&toc[b + 48], second);
  const size_t labels = toc.size();
  for (char c : std::string("ab\0\0cd\0\0", 8)) toc.push_back(uint8_t(c));
  putLe32(&toc[0x40], uint32_t(labels));
  putLe32(&toc[0x44], 8);
  const size_t list = toc.size();
  toc.resize(list + 8);
  putLe32(&toc[list], uint32_t(a));
  putLe32(&toc[list + 4], uint32_t(b));
  putLe32(&toc[0x58], uint32_t(list));
  putLe32(&toc[0x5C], 8);
  std::vector<uint8_t> file(toc.begin(), toc.begin() + rco::kHeaderSize);
  const std::vector<uint8_t> body(toc.begin() + rco::kHeaderSize, toc.end());
  const std::vector<uint8_t> z = rco::zlibPack(body);
  file.resize(rco::kHeaderSize + 12);
  putLe32(&file[rco::kHeaderSize], uint32_t(z.size()));
  putLe32(&file[rco::kHeaderSize + 4], uint32_t(body.size()));
  putLe32(&file[rco::kHeaderSize + 8], 0);
  file.insert(file.end(), z.begin(), z.end());
  while (file.size() % 4) file.push_back(0);
  putLe32(&file[0x80], uint32_t(file.size()));
  putLe32(&file[0x84], second + 8);
  file.insert(file.end(), packed.begin(), packed.end());
  file.resize(file.size() + (second - packed.size()) + 8, 1);
  const size_t n = std::min(file.size(), capacity);
  std::memcpy(out, file.data(), n);
  return n;
}

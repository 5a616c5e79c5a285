// Feeds arbitrary bytes to the PBP reader, the PARAM.SFO parser and the look psx takes at a base
// EBOOT for its boot code. A PS1 EBOOT keeps its
// blocks a megabyte into DATA.PSAR, so the input is a compact form that is spread out first:
//   u16 head length, u16 index length, head, index, block data
// with the head at 0, the index at DATA.PSAR + 0x4000 and the data at DATA.PSAR + 1 MiB.
// An input starting with 'E' instead patches a built-in EBOOT: 5 bytes per edit, a 32-bit
// position and the byte to put there, so the search starts from a well-formed file.
#include "seeds.h"

using namespace kivo;

namespace {

std::vector<uint8_t> sampleEboot() {
  auto image = fuzz::sampleImage(40);
  MemorySource src(image.data(), image.size());
  pbp::DiscImage disc(src);
  pbp::Artwork art;
  art.icon0 = {0x89, 'P', 'N', 'G'};
  pbp::BootCode boot; // an ELF-looking module and a boot picture section behind the blocks
  boot.dataPsp = {0x7F, 'E', 'L', 'F', 1, 2, 3};
  boot.startDat = {'S', 'T', 'A', 'R', 'T', 'D', 'A', 'T', 0x50, 0, 0, 0};
  MemorySink file;
  pbp::write(disc, "Title", "SCUS00001", art, 9, file, 1, {}, &boot);
  return file.bytes;
}

const std::vector<uint8_t>& seedEboot() {
  static const std::vector<uint8_t> eboot = sampleEboot();
  return eboot;
}

std::vector<uint8_t> spread(const uint8_t* data, size_t size) {
  if (size < 4) return {data, data + size};
  size_t head = std::min<size_t>(getLe16(data), size - 4);
  size_t index = std::min<size_t>(getLe16(data + 2), size - 4 - head);
  const uint8_t* p = data + 4;
  std::vector<uint8_t> file(p, p + head);
  uint32_t psar = head >= 40 ? getLe32(p + 36) : 0;
  if (psar > 0x10000) return file; // keep the spread-out file small
  file.resize(size_t(psar) + pbp::kIndexOffset);
  file.insert(file.end(), p + head, p + head + index);
  if (size > 4 + head + index) {
    file.resize(size_t(psar) + pbp::kDataOffset);
    file.insert(file.end(), p + head + index, data + size);
  }
  return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file;
  if (size > 0 && data[0] == 'E') {
    file = seedEboot();
    for (size_t i = 1; i + 5 <= size; i += 5)
      file[getLe32(data + i) % file.size()] = data[i + 4];
  } else {
    file = spread(data, size);
  }
  MemorySource src(file.data(), file.size());
  try {
    pbp::Reader reader(src);
    auto sfo = reader.section(pbp::Sfo);
    try {
      pbp::parseSfo(sfo.data(), sfo.size());
    } catch (const ToolError&) {
    }
    NullSink out;
    reader.extractImage(out);
  } catch (const ToolError&) {
  }
  try {
    pbp::readBootCode(src, "base");
  } catch (const ToolError&) {
  }
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  const auto& eboot = seedEboot();
  uint32_t psar = getLe32(&eboot[36]);
  size_t head = std::min<size_t>(psar + 0x1000, 0xFFFF), index = 4 * 32;
  std::vector<uint8_t> compact(4);
  putLe16(&compact[0], uint16_t(head));
  putLe16(&compact[2], uint16_t(index));
  compact.insert(compact.end(), eboot.begin(), eboot.begin() + head);
  compact.insert(compact.end(), eboot.begin() + psar + pbp::kIndexOffset,
                 eboot.begin() + psar + pbp::kIndexOffset + index);
  compact.insert(compact.end(), eboot.begin() + psar + pbp::kDataOffset, eboot.end());
  return fuzz::copySeed(compact, out, capacity);
}

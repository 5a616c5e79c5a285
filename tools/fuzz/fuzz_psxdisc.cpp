// Feeds damaged multi-disc EBOOTs to the disc table, table of contents and index readers and to
// everything psxdisc does with them (describe, plan, verify, extract). A multi-disc EBOOT is some
// megabytes, so the input is a list of edits to a built-in one, 4 bytes each: the region (PBP
// head, disc table, each disc's header with its table of contents, each disc's index, the block
// data, the first disc's LibCrypt table), a 16-bit offset into it and the byte to put there. An
// input starting with 'T' is a table of contents as it stands.
#include "cdrom.h"
#include "ps1image.h"
#include "seeds.h"

#include <cstring>

using namespace kivo;

namespace {

MemoryDisc sampleDisc(uint32_t dataSectors, uint32_t audioSectors) {
  MemoryDisc d;
  const auto iso = fuzz::sampleImage(dataSectors);
  d.raw.resize(size_t(dataSectors) * 2352);
  for (uint32_t s = 0; s < dataSectors; ++s)
    cdrom::makeMode2Form1(&d.raw[size_t(s) * 2352], &iso[size_t(s) * 2048], s);
  d.list.push_back({1, TrackMode::Mode2, 0, 0, dataSectors});
  if (audioSectors) {
    for (uint32_t i = 0; i < audioSectors * 2352; ++i)
      d.raw.push_back(uint8_t(i * 7 / 5));
    d.list.push_back({2, TrackMode::Audio, dataSectors, dataSectors + 4, d.sectors()});
  }
  return d;
}

const std::vector<uint8_t>& sampleEboot() {
  static const std::vector<uint8_t> eboot = [] {
    const MemoryDisc one = sampleDisc(40, 20), two = sampleDisc(24, 0);
    std::vector<libcrypt::Record> records;
    for (uint32_t lba : {10u, 15u, 50u}) {
      libcrypt::Record r{lba, libcrypt::regularQ({one.sectors(), one.list}, lba)};
      r.q[5] ^= 0x11;
      records.push_back(r);
    }
    MemorySink file;
    pbp::write({{&one, "SCUS00001", records}, {&two, "SCUS00002"}}, "Title", {}, 9, file, 1);
    return file.bytes;
  }();
  return eboot;
}

void readAll(const std::vector<uint8_t>& file) {
  MemorySource src(file.data(), file.size());
  try {
    ps1::describeEboot(src);
  } catch (const ToolError&) {
  }
  try {
    const pbp::Reader reader(src);
    for (const pbp::PsarDisc& disc : reader.discs()) {
      ps1::verifyDisc(src, disc, [](const std::string&) {});
      ps1::DiscPlan plan = ps1::planDisc(src, disc);
      std::vector<NullSink> tracks(plan.tracks.size());
      std::vector<ByteSink*> sinks;
      for (auto& t : tracks)
        sinks.push_back(&t);
      try {
        ps1::extractDisc(src, disc, plan, sinks);
        ps1::cueSheetFor(plan, std::vector<std::string>(plan.tracks.size(), "t.bin"));
      } catch (const ToolError&) {
      }
    }
  } catch (const ToolError&) {
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && data[0] == 'T') {
    pbp::Toc toc;
    std::string why;
    if (pbp::parseToc(data + 1, size - 1, toc, why)) {
      const auto tracks = ps1::tracksFromToc(toc, toc.leadOut);
      for (size_t k = 0; k < tracks.size(); ++k)
        if (tracks[k].begin > tracks[k].start || tracks[k].start >= tracks[k].end) std::abort();
    }
    return 0;
  }
  // One working copy, edited and put back, spares copying megabytes for every input.
  static std::vector<uint8_t> file = sampleEboot();
  static const std::vector<uint64_t> regions = [] {
    MemorySource sample(file.data(), file.size());
    const auto discs = pbp::Reader(sample).discs();
    return std::vector<uint64_t>{0, getLe32(&file[36]), discs[0].base, discs[0].base + pbp::kIndexOffset,
                                 discs[1].base, discs[1].base + pbp::kIndexOffset, discs[0].dataStart(),
                                 discs[0].base + discs[0].protectionOffset};
  }();
  std::vector<std::pair<size_t, uint8_t>> undo;
  for (size_t i = 0; i + 4 <= size; i += 4) {
    const uint64_t at = regions[data[i] % regions.size()] + getLe16(data + i + 1);
    if (at >= file.size()) continue;
    undo.emplace_back(size_t(at), file[size_t(at)]);
    file[size_t(at)] = data[i + 3];
  }
  readAll(file);
  for (auto it = undo.rbegin(); it != undo.rend(); ++it)
    file[it->first] = it->second;
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  // Edits that leave the file as it is, for the driver to mutate: the disc table, the first
  // disc's lead-out and index, a block.
  const std::vector<uint8_t> file = sampleEboot();
  MemorySource src(file.data(), file.size());
  const uint32_t psar = getLe32(&file[36]);
  const auto discs = pbp::Reader(src).discs();
  std::vector<uint8_t> seed;
  auto keep = [&](uint8_t region, uint16_t offset, uint64_t base) {
    seed.insert(seed.end(), {region, uint8_t(offset), uint8_t(offset >> 8), file[size_t(base + offset)]});
  };
  keep(1, pbp::kDiscTable + 4, psar);
  keep(2, pbp::kTocOffset + 27, discs[0].base);
  keep(2, pbp::kTocOffset + 42, discs[0].base);
  keep(3, 36, discs[0].base + pbp::kIndexOffset);
  keep(6, 100, discs[0].dataStart());
  keep(7, 12 + 4, discs[0].base + discs[0].protectionOffset);
  return fuzz::copySeed(seed, out, capacity);
}

// Feeds arbitrary bytes to the LibCrypt readers: an input starting with "SBI" to the SBI reader
// (what it accepts must write back and read again as the same records), one starting with '[' to
// the CloneCD sheet parser and layout, anything else to the .sub reader and the EBOOT table parser
// over a disc whose size and tracks the first bytes give.
#include "ccd.h"
#include "libcrypt.h"
#include "seeds.h"

#include <cstdlib>

using namespace kivo;

namespace {

libcrypt::DiscShape shapeFrom(const uint8_t* data, size_t size) {
  libcrypt::DiscShape disc;
  if (size < 4) return disc;
  disc.sectors = getLe16(data) % 4000;
  // Now and then an audio track in the second half, with a pregap.
  if (data[2] & 1 && disc.sectors > 4) {
    const uint32_t half = disc.sectors / 2, start = std::min(disc.sectors - 1, half + data[3] % 200);
    disc.tracks = {{1, TrackMode::Mode2, 0, 0, half}, {2, TrackMode::Audio, half, start, disc.sectors}};
  }
  return disc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 3 && data[0] == 'S' && data[1] == 'B' && data[2] == 'I') {
    try {
      const auto records = libcrypt::parseSbi(data, size, "fuzz.sbi", {});
      const auto again = libcrypt::formatSbi(records);
      if (libcrypt::parseSbi(again.data(), again.size(), "again.sbi", {}) != records) std::abort();
      if (records.size() > libcrypt::kMaxRecords) std::abort();
      libcrypt::summaryWord(records);
      // The table keeps every record, in order.
      const auto table = libcrypt::formatTable(records);
      std::vector<std::string> problems;
      const auto back = libcrypt::parseTable(table.data(), table.size() / libcrypt::kTableRecord, {}, problems);
      if (back.size() != records.size()) std::abort();
      for (size_t i = 0; i < back.size(); ++i)
        if (back[i].lba != records[i].lba) std::abort();
    } catch (const ToolError&) {
    }
    return 0;
  }
  if (size > 0 && data[0] == '[') {
    try {
      const auto sheet = parseCcd(std::string(reinterpret_cast<const char*>(data), size));
      const auto tracks = layoutCcd(sheet, uint32_t(size * 7));
      for (size_t k = 0; k < tracks.size(); ++k) {
        const DiscTrack& t = tracks[k];
        if (t.begin > t.start || t.start >= t.end || (k > 0 && tracks[k - 1].end != t.begin)) std::abort();
      }
    } catch (const ToolError&) {
    }
    return 0;
  }
  const libcrypt::DiscShape disc = shapeFrom(data, size);
  const uint8_t* body = data + std::min<size_t>(size, 4);
  const size_t rest = size - std::min<size_t>(size, 4);
  MemorySource sub(body, rest);
  try {
    libcrypt::DiscShape whole = disc;
    whole.sectors = uint32_t(rest / libcrypt::kSubSector);
    const auto records = libcrypt::readSub(sub, "fuzz.sub", whole);
    for (size_t i = 1; i < records.size(); ++i)
      if (records[i].lba <= records[i - 1].lba) std::abort();
  } catch (const ToolError&) {
  }
  std::vector<std::string> problems;
  const auto records = libcrypt::parseTable(body, rest / libcrypt::kTableRecord, disc, problems);
  for (size_t i = 0; i < records.size(); ++i)
    if ((i > 0 && records[i].lba <= records[i - 1].lba) || (disc.sectors && records[i].lba >= disc.sectors)) std::abort();
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  const libcrypt::DiscShape disc{2000, {}};
  std::vector<libcrypt::Record> records;
  for (uint32_t lba : {300u, 305u, 1200u}) {
    libcrypt::Record r{lba, libcrypt::regularQ(disc, lba)};
    r.q[5] ^= 0x11;
    records.push_back(r);
  }
  std::vector<uint8_t> seed = libcrypt::formatSbi(records);
  // A record of each short type.
  seed.insert(seed.end(), {0x00, 0x20, 0x00, 2, 0x00, 0x18, 0x01, 0x00, 0x20, 0x01, 3, 0x00, 0x20, 0x02});
  return fuzz::copySeed(seed, out, capacity);
}

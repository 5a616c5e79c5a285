// Feeds arbitrary text to the CUE sheet and playlist parsers and the SYSTEM.CNF reader, lays each
// sheet that parses out against files of sizes drawn from the input, and walks an ISO 9660 root
// folder made of the input's bytes in search of SYSTEM.CNF.
#include "cdrom.h"
#include "cue.h"
#include "disc.h"
#include "pbp.h"
#include "seeds.h"

#include <cstdlib>

using namespace kivo;

namespace {

void layOut(const CueSheet& sheet, size_t salt) {
  std::vector<uint64_t> sizes;
  for (const CueFile& f : sheet.files) {
    uint64_t last = 0;
    for (const CueTrack& t : f.tracks)
      for (auto& index : t.indexes)
        last = std::max<uint64_t>(last, index.second);
    // Big enough for the sheet, give or take a sector, now and then not a whole one.
    sizes.push_back((last + salt % 3) * f.tracks.back().sectorSize + (salt % 7 == 0));
  }
  const DiscLayout d = layoutCue(sheet, sizes);
  uint64_t lba = 0;
  for (const DiscSegment& s : d.segments) {
    if (s.lba != lba || s.count == 0) std::abort();
    lba += s.count;
  }
  if (lba != d.sectors) std::abort();
  for (size_t k = 0; k < d.tracks.size(); ++k) {
    const DiscTrack& t = d.tracks[k];
    if (t.begin > t.start || t.start >= t.end || (k > 0 && d.tracks[k - 1].end != t.begin)) std::abort();
  }
  if (d.tracks.back().end != d.sectors) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    parsePlaylist(text);
  } catch (const ToolError&) {
  }
  discIdFromSystemCnf(text);
  try {
    const CueSheet sheet = parseCue(text);
    // What the program writes of a sheet reads back as the same tracks.
    const CueSheet again = parseCue(formatCue(sheet));
    if (again.files.size() != sheet.files.size()) std::abort();
    layOut(sheet, size);
  } catch (const ToolError&) {
  }

  // An ISO whose descriptor, root folder and files are the input's bytes.
  std::vector<uint8_t> iso = fuzz::sampleImage(40);
  std::copy_n(data, std::min<size_t>(size, 8 * 2048), iso.begin() + 16 * 2048);
  MemorySource src(iso.data(), iso.size());
  readDiscId(pbp::DiscImage(src));
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  const std::string sheet = "FILE \"Game (Track 1).bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n"
                            "FILE \"Game (Track 2).bin\" MOTOROLA\r\n  TRACK 02 AUDIO\r\n    PREGAP 00:00:10\r\n"
                            "    INDEX 00 00:00:00\r\n    INDEX 01 00:02:00\r\n  TRACK 03 MODE1/2048\r\n"
                            "    INDEX 01 00:04:00\r\n    POSTGAP 00:00:02\r\n";
  return fuzz::copySeed(std::vector<uint8_t>(sheet.begin(), sheet.end()), out, capacity);
}

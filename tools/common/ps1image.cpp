#include "ps1image.h"

#include "cdrom.h"
#include "cli.h"
#include "identity.h"
#include "pspcheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kivo::ps1 {

using pbp::BlockFault;
using pbp::kBlockBytes;
using pbp::kBlockSectors;

namespace {

constexpr uint32_t kPregap = 2 * cdrom::kFramesPerSecond;

std::string hex(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

// Text from the file, shown on a terminal: control characters could move the cursor or worse.
std::string printable(const std::string& text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

std::string sectorName(uint64_t lba) {
  return "sector " + std::to_string(lba) + " (" + cdrom::msfText(uint32_t(lba + cdrom::kLeadIn)) + ")";
}

std::string blockName(const pbp::PsarDisc& disc, size_t i) {
  const uint64_t first = uint64_t(i) * kBlockSectors;
  return "block " + std::to_string(i) + " (disc sectors " + std::to_string(first) + " to " +
         std::to_string(first + kBlockSectors - 1) + ", at file offset " +
         hex(disc.dataStart() + disc.blocks[i].offset) + ")";
}

// Reads and decodes the disc's blocks in index order; stored, when given, sees each block's bytes
// as the file holds them.
void forEachBlock(const ByteSource& src, const pbp::PsarDisc& disc,
                  const std::function<void(size_t, BlockFault, const uint8_t*, size_t)>& use,
                  const StoredProgress& progress,
                  const std::function<void(size_t, const uint8_t*, size_t)>& stored = {}) {
  Inflater inflater;
  std::vector<uint8_t> bytes, block(kBlockBytes);
  const uint64_t size = src.size();
  uint64_t done = 0;
  for (size_t i = 0; i < disc.blocks.size(); ++i) {
    const pbp::IndexEntry& e = disc.blocks[i];
    const uint64_t at = disc.dataStart() + e.offset;
    if (at > size || size - at < e.length) {
      use(i, BlockFault::PastEnd, nullptr, 0);
      continue;
    }
    bytes.resize(std::min<uint32_t>(e.length, 2 * kBlockBytes));
    src.readAt(at, bytes.data(), bytes.size());
    if (stored) stored(i, bytes.data(), bytes.size());
    size_t n = 0;
    const BlockFault fault = pbp::decodeBlock(inflater, e, bytes.data(), block.data(), n);
    use(i, fault, block.data(), n);
    done += bytes.size();
    if (progress) progress(done);
  }
}

// The volume size of an ISO 9660 descriptor in this raw sector, or 0.
uint32_t volumeOf(const uint8_t* raw) {
  if (!cdrom::hasSync(raw)) return 0;
  const size_t user = raw[15] == 1 ? 16 : 24;
  return std::memcmp(raw + user, "\x01" "CD001", 6) == 0 ? getLe32(raw + user + 80) : 0;
}

// One raw sector of the disc, or false when its block cannot be read.
bool readSector(const ByteSource& src, const pbp::PsarDisc& disc, uint32_t lba, uint8_t* raw) {
  const size_t i = lba / kBlockSectors;
  if (i >= disc.blocks.size()) return false;
  const pbp::IndexEntry& e = disc.blocks[i];
  const uint64_t at = disc.dataStart() + e.offset;
  if (at > src.size() || src.size() - at < e.length) return false;
  std::vector<uint8_t> stored(std::min<uint32_t>(e.length, 2 * kBlockBytes)), block(kBlockBytes);
  src.readAt(at, stored.data(), stored.size());
  Inflater inflater;
  size_t n = 0;
  if (pbp::decodeBlock(inflater, e, stored.data(), block.data(), n) == BlockFault::Inflate) return false;
  const size_t off = size_t(lba % kBlockSectors) * cdrom::kRawSector;
  if (n < off + cdrom::kRawSector) return false;
  std::memcpy(raw, &block[off], cdrom::kRawSector);
  return true;
}

TrackMode dataMode(const uint8_t* raw) {
  return cdrom::hasSync(raw) && raw[15] == 1 ? TrackMode::Mode1 : TrackMode::Mode2;
}

// The disc image's sectors as a disc, for reading its file system: the last block decoded is
// kept, since a folder's sectors lie in one block or two.
class StoredDisc : public DiscSource {
public:
  StoredDisc(const ByteSource& src, const pbp::PsarDisc& disc, uint32_t sectors)
      : src_(src), disc_(disc), sectors_(sectors) {}
  uint32_t sectors() const override { return sectors_; }
  void readRaw(uint32_t first, uint32_t count, uint8_t* out) const override {
    for (uint32_t lba = first; lba < first + count; ++lba, out += cdrom::kRawSector) {
      const size_t i = lba / kBlockSectors, off = size_t(lba % kBlockSectors) * cdrom::kRawSector;
      if (i != cached_) {
        cached_ = SIZE_MAX;
        const pbp::IndexEntry* e = i < disc_.blocks.size() ? &disc_.blocks[i] : nullptr;
        const uint64_t at = e ? disc_.dataStart() + e->offset : 0;
        if (!e || at > src_.size() || src_.size() - at < e->length) throw unreadable(lba);
        std::vector<uint8_t> stored(std::min<uint32_t>(e->length, 2 * kBlockBytes));
        src_.readAt(at, stored.data(), stored.size());
        block_.resize(kBlockBytes);
        if (pbp::decodeBlock(inflater_, *e, stored.data(), block_.data(), length_) == BlockFault::Inflate)
          throw unreadable(lba);
        cached_ = i;
      }
      if (length_ < off + cdrom::kRawSector) throw unreadable(lba);
      std::memcpy(out, &block_[off], cdrom::kRawSector);
    }
  }

private:
  static ToolError unreadable(uint32_t lba) {
    return ToolError("sector " + std::to_string(lba) + " of the disc image cannot be read");
  }
  const ByteSource& src_;
  const pbp::PsarDisc& disc_;
  uint32_t sectors_;
  mutable Inflater inflater_;
  mutable std::vector<uint8_t> block_;
  mutable size_t cached_ = SIZE_MAX, length_ = 0;
};

// The serial and volume of a disc image, as info shows them.
std::string identityLines(const ByteSource& src, const pbp::PsarDisc& disc, uint32_t sectors) {
  const StoredDisc stored(src, disc, sectors);
  DiscIdentity id;
  try {
    readIdentity(*iso::sectorsOf(stored), id);
  } catch (const ToolError& e) {
    return "  Volume:   none (" + iso::printable(e.what()) + ")\n";
  }
  std::string out = "  Serial:   " + (id.serial.empty() ? std::string("none in SYSTEM.CNF") : id.serial + " (SYSTEM.CNF)") + "\n";
  out += "  Volume:   " + (id.volume.name.empty() ? std::string("(no name)") : iso::printable(id.volume.name));
  if (!id.volume.created.empty()) out += ", created " + id.volume.created;
  out += "\n";
  for (const std::string& p : id.problems)
    out += "  Problem:  " + iso::printable(p) + "\n";
  return out;
}

libcrypt::DiscShape shapeOf(const DiscPlan& plan) {
  return {plan.sectors, plan.tracks};
}

} // namespace

std::vector<libcrypt::Record> readProtection(const ByteSource& src, const pbp::PsarDisc& disc, const DiscPlan& plan,
                                             std::vector<std::string>& problems) {
  if (disc.protectionCount == 0) return {};
  const uint64_t at = disc.base + disc.protectionOffset, count = disc.protectionCount;
  if (count > libcrypt::kMaxRecords + 2) {
    problems.push_back("the LibCrypt table claims " + std::to_string(count) + " records, more than the " +
                       std::to_string(libcrypt::kMaxRecords) + " protection data has");
    return {};
  }
  const size_t bytes = size_t(count) * libcrypt::kTableRecord;
  if (at > src.size() || src.size() - at < bytes) {
    problems.push_back("the LibCrypt table at file offset " + hex(at) + " lies past the end of the file");
    return {};
  }
  std::vector<uint8_t> table(bytes);
  src.readAt(at, table.data(), bytes);
  std::vector<std::string> found;
  std::vector<libcrypt::Record> records = libcrypt::parseTable(table.data(), size_t(count), shapeOf(plan), found);
  for (const std::string& p : found)
    problems.push_back("LibCrypt table: " + p);
  return records;
}

std::vector<DiscTrack> tracksFromToc(const pbp::Toc& toc, uint32_t sectors) {
  std::vector<DiscTrack> out;
  for (size_t k = 0; k < toc.tracks.size(); ++k) {
    const pbp::TocTrack& e = toc.tracks[k];
    DiscTrack t;
    t.number = e.number;
    t.mode = e.audio ? TrackMode::Audio : TrackMode::Mode2;
    t.start = e.start;
    t.begin = k == 0 ? 0 : e.start;
    if (k > 0 && e.audio) t.begin = std::max(out.back().start + 1, e.start >= kPregap ? e.start - kPregap : 0);
    out.push_back(t);
  }
  for (size_t k = 0; k < out.size(); ++k)
    out[k].end = k + 1 < out.size() ? out[k + 1].begin : sectors;
  return out;
}

DiscPlan planDisc(const ByteSource& src, const pbp::PsarDisc& disc) {
  DiscPlan plan;
  if (disc.tocValid) {
    plan.sectors = disc.toc.leadOut;
    plan.sizeFrom = "the table of contents";
    plan.tracks = tracksFromToc(disc.toc, plan.sectors);
    return plan;
  }
  const uint32_t blockSectors = uint32_t(disc.blocks.size()) * kBlockSectors;
  uint8_t raw[cdrom::kRawSector];
  const uint32_t volume = readSector(src, disc, 16, raw) ? volumeOf(raw) : 0;
  if (volume > 0 && volume <= blockSectors) {
    plan.sectors = volume;
    plan.sizeFrom = "the volume descriptor";
  } else {
    plan.sectors = blockSectors;
    plan.sizeFrom = "the blocks";
  }
  DiscTrack t;
  t.end = plan.sectors;
  plan.tracks.push_back(t);
  return plan;
}

uint64_t storedBytes(const pbp::PsarDisc& disc) {
  uint64_t total = 0;
  for (const pbp::IndexEntry& e : disc.blocks)
    total += std::min<uint32_t>(e.length, 2 * kBlockBytes);
  return total;
}

void extractDisc(const ByteSource& src, const pbp::PsarDisc& disc, DiscPlan& plan, const std::vector<ByteSink*>& sinks,
                 const StoredProgress& progress) {
  const bool split = sinks.size() > 1;
  if (sinks.empty() || (split && sinks.size() != plan.tracks.size()))
    throw ToolError("internal error: one output for the disc or one per track");
  size_t t = 0;
  uint64_t lba = 0;
  forEachBlock(
      src, disc,
      [&](size_t i, BlockFault fault, const uint8_t* p, size_t n) {
        const uint64_t first = uint64_t(i) * kBlockSectors;
        if (first >= plan.sectors) return; // padding past the disc's end
        if (fault != BlockFault::None)
          throw ToolError(blockName(disc, i) + " " + describe(fault) + "; 'verify' lists every fault");
        const uint64_t want = std::min<uint64_t>(kBlockSectors, plan.sectors - first);
        if (n < want * cdrom::kRawSector)
          throw ToolError(blockName(disc, i) + " holds only " + std::to_string(n) + " bytes");
        for (size_t s = 0; s < want; ++s, ++lba) {
          while (lba >= plan.tracks[t].end)
            ++t;
          const uint8_t* raw = p + s * cdrom::kRawSector;
          DiscTrack& track = plan.tracks[t];
          if (lba == track.start && track.mode != TrackMode::Audio) track.mode = dataMode(raw);
          sinks[split ? t : 0]->write(raw, cdrom::kRawSector);
        }
      },
      progress);
  if (lba < plan.sectors)
    throw ToolError("the image ends after " + std::to_string(lba) + " sectors, before the " +
                    std::to_string(plan.sectors) + " that " + plan.sizeFrom + " records");
}

CueSheet cueSheetFor(const DiscPlan& plan, const std::vector<std::string>& bins) {
  CueSheet sheet;
  const bool split = bins.size() > 1;
  for (size_t k = 0; k < plan.tracks.size(); ++k) {
    const DiscTrack& t = plan.tracks[k];
    if (k == 0 || split) {
      CueFile f;
      f.name = bins[split ? k : 0];
      sheet.files.push_back(f);
    }
    CueTrack ct;
    ct.number = t.number;
    ct.mode = t.mode;
    const uint32_t origin = split ? t.begin : 0;
    if (t.begin < t.start) ct.indexes.emplace_back(0, t.begin - origin);
    ct.indexes.emplace_back(1, t.start - origin);
    sheet.files.back().tracks.push_back(ct);
  }
  return sheet;
}

size_t verifyDisc(const ByteSource& src, const pbp::PsarDisc& disc, const std::function<void(const std::string&)>& report,
                  const StoredProgress& progress) {
  size_t faults = 0;
  auto fault = [&](const std::string& text) {
    ++faults;
    report(text);
  };
  const DiscPlan plan = planDisc(src, disc);
  if (!disc.tocValid) fault("table of contents: " + disc.tocProblem + "; the size is taken from " + plan.sizeFrom);
  const uint64_t need = (uint64_t(plan.sectors) + kBlockSectors - 1) / kBlockSectors;
  if (disc.blocks.size() != need)
    fault("the index holds " + std::to_string(disc.blocks.size()) + " blocks, but the " +
          std::to_string(plan.sectors) + " sectors that " + plan.sizeFrom + " records take " + std::to_string(need));
  uint64_t end = 0;
  for (const pbp::IndexEntry& e : disc.blocks)
    end = std::max(end, uint64_t(e.offset) + e.length);
  if (!disc.blocks.empty() && disc.dataEnd < pbp::kDataOffset + end)
    fault("the header records the end of the block data at +" + hex(disc.dataEnd) + ", but the blocks reach +" +
          hex(pbp::kDataOffset + end));
  std::vector<std::string> tableProblems;
  readProtection(src, disc, plan, tableProblems);
  for (const std::string& p : tableProblems)
    fault(p);

  size_t t = 0;
  StreamCounts shapes;
  size_t firstMisshapen = 0;
  forEachBlock(
      src, disc,
      [&](size_t i, BlockFault bf, const uint8_t* p, size_t n) {
        if (bf != BlockFault::None) {
          fault(blockName(disc, i) + ": " + describe(bf));
          return;
        }
        const uint64_t first = uint64_t(i) * kBlockSectors;
        if (first >= plan.sectors) return;
        const uint64_t want = std::min<uint64_t>(kBlockSectors, plan.sectors - first);
        if (n < want * cdrom::kRawSector) {
          fault(blockName(disc, i) + ": holds only " + std::to_string(n) + " bytes");
          return;
        }
        for (uint64_t s = 0; s < want; ++s) {
          const uint64_t lba = first + s;
          while (lba >= plan.tracks[t].end)
            ++t;
          const DiscTrack& track = plan.tracks[t];
          const uint8_t* raw = p + s * cdrom::kRawSector;
          if (lba == 16 && t == 0) {
            const uint32_t volume = volumeOf(raw);
            if (volume > track.end)
              fault("the ISO 9660 volume records " + std::to_string(volume) + " sectors, more than the " +
                    std::to_string(track.end) + " of its track");
          }
          if (track.mode == TrackMode::Audio) continue;
          // Gaps between tracks may be plain silence even where they count to a data track.
          if (std::all_of(raw, raw + cdrom::kRawSector, [](uint8_t b) { return b == 0; })) continue;
          const cdrom::SectorFault sf = cdrom::checkDataSector(raw, uint32_t(lba));
          if (sf != cdrom::SectorFault::None)
            fault(sectorName(lba) + " of track " + std::to_string(track.number) + ", in block " + std::to_string(i) +
                  ": " + cdrom::describe(sf));
        }
      },
      progress,
      [&](size_t i, const uint8_t* stored, size_t n) {
        // The PSP inflates the blocks itself, and is not known to read other shapes than zlib's.
        if (disc.blocks[i].length == kBlockBytes) return;
        const uint64_t before = shapes.misshapen;
        shapes.add(inspectDeflate(stored, n));
        if (shapes.misshapen > before && before == 0) firstMisshapen = i;
      });
  if (shapes.misshapen) {
    faults += shapes.misshapen - 1;
    fault("deflated blocks: " + shapes.describe() + ", which the PSP may not read (the first: " +
          blockName(disc, firstMisshapen) + ")");
  }
  return faults;
}

std::string safeFileName(const std::string& text) {
  std::string out;
  for (unsigned char c : text)
    out += c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) ? '_' : char(c);
  const size_t b = out.find_first_not_of(" ._");
  if (b == std::string::npos) return {};
  out = out.substr(b);
  if (out.size() > 80) {
    size_t n = 80;
    while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80)
      --n;
    out.resize(n);
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  return out;
}

std::string describeEboot(const ByteSource& src) {
  pbp::Reader reader(src);
  std::string out;
  char line[256];
  const std::vector<uint8_t> sfoBytes = reader.section(pbp::Sfo);
  pbp::SfoFields sfo;
  try {
    sfo = pbp::parseSfo(sfoBytes.data(), sfoBytes.size());
  } catch (const ToolError& e) {
    out += std::string("PARAM.SFO:  ") + e.what() + "\n";
  }
  out += "Title:      " + printable(sfo.strings["TITLE"]) + "\n";
  out += "Game ID:    " + printable(sfo.strings["DISC_ID"]) + "\n";
  std::string art;
  for (int s = pbp::Icon0; s <= pbp::Snd0; ++s)
    if (uint64_t n = reader.sectionSize(pbp::Section(s)))
      art += (art.empty() ? "" : ", ") + std::string(pbp::kSectionNames[s]) + " (" + describeSize(n) + ")";
  out += "Artwork:    " + (art.empty() ? std::string("none") : art) + "\n";
  // Alignment before DATA.PSAR counts to DATA.PSP too; only bytes that are not zero are code.
  const uint64_t boot = reader.sectionSize(pbp::DataPsp);
  std::vector<uint8_t> head(size_t(std::min<uint64_t>(boot, 4096)));
  src.readAt(reader.sectionOffset(pbp::DataPsp), head.data(), head.size());
  const bool code = std::any_of(head.begin(), head.end(), [](uint8_t b) { return b != 0; });
  const std::string module = pbp::describeBootModule(head.data(), head.size());
  out += "Boot code:  " +
         (!code              ? std::string("none: PS1 emulators run it, the PSP does not start it")
          : module.empty() ? "DATA.PSP, " + describeSize(boot) + ", which is no PSP module"
                           : "DATA.PSP, " + describeSize(boot) + ", " + module + ": custom firmware starts it") +
         "\n";
  const std::vector<pbp::PsarDisc> discs = reader.discs();
  out += "Discs:      " + std::to_string(discs.size()) + (reader.multiDisc() ? " (multi-disc image)" : "") + "\n";
  for (size_t d = 0; d < discs.size(); ++d) {
    const pbp::PsarDisc& disc = discs[d];
    const DiscPlan plan = planDisc(src, disc);
    out += "\nDisc " + std::to_string(d + 1) + ": " + pbp::plainDiscId(disc.id) + "\n";
    std::snprintf(line, sizeof line, "  Size:     %u sectors, %s, from %s\n", plan.sectors,
                  describeSize(uint64_t(plan.sectors) * cdrom::kRawSector).c_str(), plan.sizeFrom);
    out += line;
    out += identityLines(src, disc, plan.sectors);
    if (!disc.tocValid) out += "  Contents: no usable table of contents (" + disc.tocProblem + ")\n";
    size_t stored = 0, hashed = 0;
    for (const pbp::IndexEntry& e : disc.blocks) {
      stored += e.length == kBlockBytes;
      hashed += e.hashed();
    }
    const uint64_t bytes = storedBytes(disc), plain = uint64_t(disc.blocks.size()) * kBlockBytes;
    std::snprintf(line, sizeof line, "  Blocks:   %zu (%zu deflated, %zu stored), %s in the file, %.1f%% of the disc\n",
                  disc.blocks.size(), disc.blocks.size() - stored, stored, describeSize(bytes).c_str(),
                  plain ? 100.0 * double(bytes) / double(plain) : 0.0);
    out += line;
    out += std::string("  Checksums: ") +
           (hashed == disc.blocks.size() ? "every block" : hashed ? "some blocks" : "none") + "\n";
    std::vector<std::string> problems;
    const std::vector<libcrypt::Record> records = readProtection(src, disc, plan, problems);
    if (disc.protectionCount == 0) {
      out += "  LibCrypt: none\n";
    } else {
      std::snprintf(line, sizeof line, "  LibCrypt: %zu %s, summary word 0x%04X%s\n", records.size(),
                    records.size() == 1 ? "sector" : "sectors", unsigned(disc.protectionWord),
                    problems.empty() ? "" : " ('verify' lists faults in the table)");
      out += line;
    }
    out += "  Tracks:\n";
    for (const DiscTrack& t : plan.tracks) {
      TrackMode mode = t.mode;
      uint8_t raw[cdrom::kRawSector];
      if (mode != TrackMode::Audio && readSector(src, disc, t.start, raw)) mode = dataMode(raw);
      std::snprintf(line, sizeof line, "    %02u  %-10s  starts %s  length %s (%u sectors)\n", t.number,
                    modeName(mode), cdrom::msfText(t.start).c_str(), cdrom::msfText(t.end - t.begin).c_str(),
                    t.end - t.begin);
      out += line;
    }
  }
  return out;
}

} // namespace kivo::ps1

#include "pbp.h"

#include "cdrom.h"
#include "codec.h"
#include "sha1.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace kivo::pbp {

const char* const kSectionNames[kSections] = {"PARAM.SFO", "ICON0.PNG", "ICON1.PMF", "PIC0.PNG",
                                              "PIC1.PNG",  "SND0.AT3",  "DATA.PSP",  "DATA.PSAR"};

namespace {

constexpr char kPsarMagic[] = "PSISOIMG0000";
constexpr char kTitleMagic[] = "PSTITLEIMG000000";

uint64_t alignUp(uint64_t v, uint64_t a) {
  return (v + a - 1) / a * a;
}

} // namespace

DiscImage::DiscImage(const ByteSource& src) : src_(src) {
  const uint64_t size = src.size();
  if (size >= cdrom::kRawSector && size % cdrom::kRawSector == 0) {
    uint8_t head[12];
    src.readAt(0, head, sizeof head);
    raw_ = cdrom::hasSync(head);
  }
  const uint64_t sectorSize = raw_ ? cdrom::kRawSector : cdrom::kUserSector;
  if (size == 0 || size % sectorSize != 0)
    throw ToolError("not a disc image: the size is not a whole number of 2048-byte (ISO) or 2352-byte "
                    "(raw) sectors");
  if (size / sectorSize > uint64_t(kMaxBlocks) * kBlockSectors)
    throw ToolError("the image is too large for a PS1 EBOOT (at most " +
                    std::to_string(kMaxBlocks * kBlockSectors) + " sectors)");
  sectors_ = uint32_t(size / sectorSize);
}

void DiscImage::readRaw(uint32_t first, uint32_t count, uint8_t* out) const {
  if (raw_) {
    src_.readAt(uint64_t(first) * cdrom::kRawSector, out, size_t(count) * cdrom::kRawSector);
    return;
  }
  thread_local std::vector<uint8_t> user;
  user.resize(size_t(count) * cdrom::kUserSector);
  src_.readAt(uint64_t(first) * cdrom::kUserSector, user.data(), user.size());
  for (uint32_t i = 0; i < count; ++i)
    cdrom::makeMode2Form1(out + size_t(i) * cdrom::kRawSector, &user[size_t(i) * cdrom::kUserSector],
                          first + i);
}

std::vector<uint8_t> buildSfo(const std::string& title, const std::string& discId) {
  return sfo::build({
      {"BOOTABLE", true, "", 1, 4},
      {"CATEGORY", false, "ME", 0, 4},
      {"DISC_ID", false, discId, 0, 16},
      {"DISC_VERSION", false, "1.00", 0, 8},
      {"LICENSE", false, "Made with Kivo Workbench", 0, 512},
      {"PARENTAL_LEVEL", true, "", 1, 4},
      {"PSP_SYSTEM_VER", false, "3.01", 0, 8},
      {"REGION", true, "", 0x8000, 4},
      {"TITLE", false, title, 0, 128},
  });
}

namespace {

uint8_t bcd(unsigned v) {
  return uint8_t((v / 10 % 10) << 4 | v % 10);
}

bool fromBcd(uint8_t b, unsigned& v) {
  if ((b >> 4) > 9 || (b & 15) > 9) return false;
  v = (b >> 4) * 10u + (b & 15);
  return true;
}

// The disc ID in its "_SCUS_12345" form.
std::string storedDiscId(const std::string& discId) {
  return discId.size() > 4 ? "_" + discId.substr(0, 4) + "_" + discId.substr(4) : "_" + discId;
}


// What a disc's LibCrypt table adds after its blocks, at most.
uint64_t protectionBytes(const DiscToWrite& d) {
  return d.protection.empty() ? 0 : 16 + (d.protection.size() + 2) * libcrypt::kTableRecord;
}

// One disc image at the sink's position: header, table of contents, index and blocks, then its
// LibCrypt table when it has one, then the section the header's end-of-data offset points at,
// when there is one to carry.
// Returns its index, which a multi-disc image also shows to readers of a single image.
std::vector<uint8_t> writeDisc(const DiscToWrite& d, int level, ByteSink& out, unsigned threads,
                               const Progress& progress, const std::vector<uint8_t>& after) {
  const DiscSource& disc = *d.disc;
  const uint64_t base = out.position();
  const uint32_t blocks = (disc.sectors() + kBlockSectors - 1) / kBlockSectors;
  std::vector<uint8_t> head(kDataOffset);
  std::memcpy(head.data(), kPsarMagic, 12);
  const std::string id = storedDiscId(d.id);
  std::memcpy(&head[0x400], id.data(), std::min<size_t>(id.size(), 15));
  buildToc(disc.tracks(), disc.sectors(), &head[kTocOffset]);
  if (!d.protection.empty()) putLe16(&head[libcrypt::kSummaryOffset], libcrypt::summaryWord(d.protection));
  out.write(head.data(), head.size());

  std::vector<uint8_t> index(size_t(kDataOffset - kIndexOffset));
  std::vector<std::array<uint8_t, 20>> hashes(blocks);
  uint64_t pos = 0;
  uint32_t block = 0;
  BlockStream s;
  s.totalBytes = uint64_t(blocks) * kBlockBytes;
  s.blockSize = kBlockBytes;
  s.read = [&disc, &hashes](uint64_t off, uint8_t* buf, size_t n) {
    // The last block is padded with zero sectors so that every block is whole.
    uint32_t first = uint32_t(off / cdrom::kRawSector), want = uint32_t(n / cdrom::kRawSector);
    uint32_t have = first < disc.sectors() ? std::min(want, disc.sectors() - first) : 0;
    disc.readRaw(first, have, buf);
    std::memset(buf + size_t(have) * cdrom::kRawSector, 0, size_t(want - have) * cdrom::kRawSector);
    // Each worker hashes its own blocks; the writer reads them after the chunk is handed over.
    for (size_t at = 0; at < n; at += kBlockBytes)
      hashes[size_t((off + at) / kBlockBytes)] = sha1(buf + at, kBlockBytes);
  };
  s.makeEncoder = [level] { return std::make_unique<DeflateEncoder>(level, Wrap::Raw); };
  s.sink = [&](const uint8_t* data, size_t n, bool) {
    uint8_t* e = &index[size_t(block) * kIndexEntry];
    putLe32(e, uint32_t(pos));
    putLe32(e + 4, uint32_t(n));
    std::memcpy(e + 8, hashes[block].data(), 16);
    ++block;
    out.write(data, n);
    pos += n;
  };
  s.progress = progress;
  encodeBlocks(s, threads);
  uint64_t dataEnd = kDataOffset + pos;
  if (!d.protection.empty()) {
    // The LibCrypt table follows the blocks, on a 16-byte boundary, and counts to the disc's data.
    const std::vector<uint8_t> pad(size_t(alignUp(dataEnd, 16) - dataEnd));
    out.write(pad.data(), pad.size());
    const std::vector<uint8_t> table = libcrypt::formatTable(d.protection);
    uint8_t where[8];
    putLe32(where, uint32_t(out.position() - base));
    putLe32(where + 4, uint32_t(table.size() / libcrypt::kTableRecord));
    out.write(table.data(), table.size());
    out.writeAt(base + libcrypt::kTableOffset, where, sizeof where);
    dataEnd = out.position() - base;
  }
  out.write(after.data(), after.size());
  uint8_t end[4];
  putLe32(end, uint32_t(dataEnd));
  out.writeAt(base + 12, end, 4);
  out.writeAt(base + kIndexOffset, index.data(), index.size());
  return index;
}

} // namespace

void buildToc(const std::vector<DiscTrack>& tracks, uint32_t sectors, uint8_t* area) {
  std::memset(area, 0, kTocRoom);
  if (tracks.empty() || tracks.size() > 99) throw ToolError("a disc holds 1 to 99 tracks");
  auto control = [](const DiscTrack& t) { return uint8_t(t.mode == TrackMode::Audio ? 0x01 : 0x41); };
  auto entry = [&](size_t k, uint8_t ctl, uint8_t point) {
    uint8_t* e = area + 10 * k;
    e[0] = ctl;
    e[2] = point;
    return e;
  };
  const bool xa = std::any_of(tracks.begin(), tracks.end(), [](auto& t) { return t.mode == TrackMode::Mode2; });
  uint8_t* e = entry(0, control(tracks.front()), 0xA0);
  e[7] = bcd(tracks.front().number);
  e[8] = xa ? 0x20 : 0x00;
  e = entry(1, control(tracks.back()), 0xA1);
  e[7] = bcd(tracks.back().number);
  e = entry(2, control(tracks.back()), 0xA2);
  cdrom::toBcdMsf(sectors + cdrom::kLeadIn, e + 7);
  for (size_t k = 0; k < tracks.size(); ++k) {
    e = entry(3 + k, control(tracks[k]), bcd(tracks[k].number));
    cdrom::toBcdMsf(tracks[k].start + cdrom::kLeadIn, e + 7);
  }
}

bool parseToc(const uint8_t* area, size_t size, Toc& toc, std::string& problem) {
  toc = Toc{};
  bool a0 = false, a1 = false, a2 = false;
  auto fail = [&](const std::string& why) {
    problem = why;
    return false;
  };
  for (size_t at = 0; at + 10 <= size; at += 10) {
    const uint8_t* e = area + at;
    if (std::all_of(e, e + 10, [](uint8_t b) { return b == 0; })) break;
    const bool data = (e[0] >> 4) & 4;
    uint32_t address;
    switch (e[2]) {
    case 0xA0:
      if (!fromBcd(e[7], toc.first)) return fail("the first track number is no BCD number");
      toc.xa = e[8] == 0x20;
      a0 = true;
      break;
    case 0xA1:
      if (!fromBcd(e[7], toc.last)) return fail("the last track number is no BCD number");
      a1 = true;
      break;
    case 0xA2:
      if (!cdrom::fromBcdMsf(e + 7, address) || address < cdrom::kLeadIn)
        return fail("the lead-out position is no valid address");
      toc.leadOut = address - cdrom::kLeadIn;
      a2 = true;
      break;
    default: {
      TocTrack t;
      if (!fromBcd(e[2], t.number) || t.number == 0)
        return fail("entry " + std::to_string(at / 10 + 1) + " names no track");
      if (!cdrom::fromBcdMsf(e + 7, address) || address < cdrom::kLeadIn)
        return fail("track " + std::to_string(t.number) + " has no valid start");
      t.start = address - cdrom::kLeadIn;
      t.audio = !data;
      toc.tracks.push_back(t);
    }
    }
  }
  if (!a0 && !a1 && !a2 && toc.tracks.empty()) return fail("there is no table of contents");
  if (!a0 || !a1 || !a2) return fail("the table of contents lacks its first, last or lead-out entry");
  if (toc.first == 0 || toc.last < toc.first || toc.tracks.size() != toc.last - toc.first + 1)
    return fail("the table of contents lists other tracks than its first and last entries say");
  for (size_t k = 0; k < toc.tracks.size(); ++k) {
    if (toc.tracks[k].number != toc.first + k) return fail("the tracks are not listed in order");
    if (k > 0 && toc.tracks[k].start <= toc.tracks[k - 1].start)
      return fail("track " + std::to_string(toc.tracks[k].number) + " starts before the track ahead of it");
  }
  if (toc.tracks.back().start >= toc.leadOut) return fail("the last track starts at or after the lead-out");
  return true;
}

bool IndexEntry::hashed() const {
  return std::any_of(hash.begin(), hash.end(), [](uint8_t b) { return b != 0; });
}

std::string plainDiscId(const std::string& stored) {
  std::string id;
  for (char c : stored)
    if (c != '_' && c != '-' && std::isalnum(static_cast<unsigned char>(c))) id += c;
  return id;
}

const char* describe(BlockFault fault) {
  switch (fault) {
  case BlockFault::None: return "sound";
  case BlockFault::PastEnd: return "lies past the end of the file";
  case BlockFault::Inflate: return "does not inflate";
  case BlockFault::Checksum: return "does not match its checksum";
  }
  return "";
}

BlockFault decodeBlock(Inflater& inflater, const IndexEntry& entry, const uint8_t* stored, uint8_t* out, size_t& n) {
  n = 0;
  if (entry.length == kBlockBytes) {
    std::memcpy(out, stored, kBlockBytes);
    n = kBlockBytes;
  } else {
    // A deflated block never needs more than twice its plain size; the rest is not read.
    long got = inflater.inflateUpTo(stored, std::min<uint32_t>(entry.length, 2 * kBlockBytes), out, kBlockBytes);
    if (got < 0) return BlockFault::Inflate;
    n = size_t(got);
  }
  if (entry.hashed() && std::memcmp(sha1(out, n).data(), entry.hash.data(), entry.hash.size()) != 0)
    return BlockFault::Checksum;
  return BlockFault::None;
}

std::string describeBootModule(const uint8_t* head, size_t n) {
  if (n >= 4 && std::memcmp(head, "~PSP", 4) == 0) return "an encrypted PSP module";
  if (n >= 4 && std::memcmp(head, "\x7F" "ELF", 4) == 0) return "an ELF module";
  return {};
}

BootCode readBootCode(const ByteSource& base, const std::string& name) {
  auto refuse = [&](const std::string& why) {
    return ToolError("'" + name + "' is not a PS1 EBOOT to take boot code from: " + why);
  };
  std::unique_ptr<Reader> reader;
  try {
    reader = std::make_unique<Reader>(base);
  } catch (const ToolError& e) {
    throw refuse(e.what());
  }
  const uint64_t psar = reader->sectionOffset(DataPsar), fileSize = base.size();
  char magic[16] = {};
  base.readAt(psar, magic, size_t(std::min<uint64_t>(sizeof magic, fileSize - psar)));
  const bool multi = std::memcmp(magic, kTitleMagic, 16) == 0;
  if (!multi && std::memcmp(magic, kPsarMagic, 12) != 0) throw refuse("its DATA.PSAR holds no PS1 disc image");
  if (reader->sectionSize(DataPsp) > kMaxBootPart) throw refuse("its DATA.PSP is larger than 32 MiB");
  BootCode boot;
  boot.dataPsp = reader->section(DataPsp);
  if (describeBootModule(boot.dataPsp.data(), boot.dataPsp.size()).empty()) {
    // An EBOOT made without a base has nothing there but the zeros that align DATA.PSAR.
    const bool empty = std::all_of(boot.dataPsp.begin(), boot.dataPsp.end(), [](uint8_t b) { return b == 0; });
    throw refuse(empty ? "it holds no boot code (its DATA.PSP is empty)" : "its DATA.PSP is no PSP module");
  }

  // The boot picture section: where the first disc image's header says its block data ends.
  uint64_t disc = psar, end = fileSize;
  if (multi) {
    uint8_t table[4 * kMaxDiscs] = {};
    if (fileSize - psar >= kDiscTable + sizeof table) base.readAt(psar + kDiscTable, table, sizeof table);
    disc = psar + getLe32(table);
    for (uint32_t k = 1; k < kMaxDiscs; ++k)
      if (uint32_t next = getLe32(table + 4 * k); psar + next > disc) end = std::min<uint64_t>(end, psar + next);
  }
  uint8_t head[16];
  if (disc <= fileSize && fileSize - disc >= sizeof head) {
    base.readAt(disc, head, sizeof head);
    const uint64_t at = disc + getLe32(head + 12);
    char tag[8];
    if (std::memcmp(head, kPsarMagic, 12) == 0 && at < end && end - at >= sizeof tag) {
      base.readAt(at, tag, sizeof tag);
      if (std::memcmp(tag, "STARTDAT", sizeof tag) == 0) {
        if (end - at > kMaxBootPart) throw refuse("its boot picture section is larger than 32 MiB");
        boot.startDat.resize(size_t(end - at));
        base.readAt(at, boot.startDat.data(), boot.startDat.size());
      }
    }
  }
  return boot;
}

void write(const std::vector<DiscToWrite>& discs, const std::string& title, const Artwork& art, int level,
           ByteSink& out, unsigned threads, const Progress& progress, const BootCode* boot) {
  static const std::vector<uint8_t> none;
  const std::vector<uint8_t>& dataPsp = boot ? boot->dataPsp : none;
  const std::vector<uint8_t>& startDat = boot ? boot->startDat : none;
  if (discs.empty() || discs.size() > kMaxDiscs)
    throw ToolError("an EBOOT holds 1 to " + std::to_string(kMaxDiscs) + " discs");
  uint64_t worst = 0; // every block stored
  for (size_t i = 0; i < discs.size(); ++i) {
    const uint32_t sectors = discs[i].disc->sectors();
    const std::string which = discs.size() > 1 ? "disc " + std::to_string(i + 1) : "the image";
    if (sectors == 0) throw ToolError(which + " holds no sectors");
    if (sectors > kMaxBlocks * kBlockSectors)
      throw ToolError(which + " is too large for a PS1 EBOOT (at most " + std::to_string(kMaxBlocks * kBlockSectors) +
                      " sectors)");
    if (discs[i].protection.size() > libcrypt::kMaxRecords)
      throw ToolError(which + " has more LibCrypt records than " + std::to_string(libcrypt::kMaxRecords));
    worst += kDataOffset + uint64_t((sectors + kBlockSectors - 1) / kBlockSectors) * kBlockBytes + kDiscAlign +
             protectionBytes(discs[i]);
  }
  worst += startDat.size();
  const std::vector<uint8_t> sfo = buildSfo(title, discs.front().id);
  const std::vector<uint8_t>* parts[] = {&sfo, &art.icon0, &art.icon1, &art.pic0, &art.pic1, &art.snd0};
  uint64_t offsets[kSections];
  uint64_t at = kHeaderSize;
  for (int s = 0; s < 6; ++s) {
    offsets[s] = at;
    at += parts[s]->size();
  }
  // The boot code is the signed part only its owner can add: without a base there is none.
  offsets[DataPsp] = at;
  at += dataPsp.size();
  const uint64_t psar = alignUp(at, 16);
  offsets[DataPsar] = psar;
  const bool multi = discs.size() > 1;
  const uint64_t firstBase = psar + (multi ? kFirstDisc : 0);
  const uint32_t firstBlocks = (discs.front().disc->sectors() + kBlockSectors - 1) / kBlockSectors;
  // Readers form positions in signed 32-bit arithmetic, and the disc table holds 32-bit offsets.
  if (firstBase + kDataOffset + uint64_t(firstBlocks) * kBlockBytes + protectionBytes(discs.front()) + startDat.size() >
      0x7FFFFFFF)
    throw ToolError("the EBOOT would pass 2 GiB; the artwork or the image is too large");
  if (multi && psar + kFirstDisc + worst > 0xFFFFFFFF)
    throw ToolError("the EBOOT could pass 4 GiB; the discs are too large to go together");

  const uint64_t base = out.position();
  uint8_t header[kHeaderSize] = {0, 'P', 'B', 'P'};
  putLe32(header + 4, 0x00010000);
  for (int s = 0; s < kSections; ++s)
    putLe32(header + 8 + 4 * s, uint32_t(offsets[s]));
  out.write(header, sizeof header);
  for (auto* p : parts)
    out.write(p->data(), p->size());
  out.write(dataPsp.data(), dataPsp.size());
  const std::vector<uint8_t> pad(size_t(psar - at));
  out.write(pad.data(), pad.size());
  if (!multi) {
    writeDisc(discs.front(), level, out, threads, progress, startDat);
    return;
  }

  std::vector<uint8_t> titleHead(kFirstDisc);
  std::memcpy(titleHead.data(), kTitleMagic, 16);
  const std::string gameId = storedDiscId(discs.front().id);
  std::memcpy(&titleHead[kTitleGameId], gameId.data(), std::min<size_t>(gameId.size(), 15));
  out.write(titleHead.data(), titleHead.size());
  uint64_t done = 0;
  uint8_t table[4 * kMaxDiscs] = {};
  for (size_t i = 0; i < discs.size(); ++i) {
    const uint64_t inPsar = out.position() - base - psar;
    const uint64_t room = alignUp(inPsar, kDiscAlign) - inPsar;
    const std::vector<uint8_t> gap(static_cast<size_t>(room));
    out.write(gap.data(), gap.size());
    putLe32(table + 4 * i, uint32_t(out.position() - base - psar));
    const uint64_t before = done;
    std::vector<uint8_t> index = writeDisc(
        discs[i], level, out, threads,
        [&](uint64_t d) {
          done = before + d;
          if (progress) progress(done);
        },
        i == 0 ? startDat : none);
    if (i == 0) {
      // A reader that knows one disc image only takes the index at +0x4000 of DATA.PSAR, with
      // blocks counted from its +1 MiB: the first disc's index, moved by where that disc lies.
      for (size_t e = 0; e < index.size(); e += kIndexEntry)
        if (getLe32(&index[e]) != 0 || getLe32(&index[e + 4]) != 0)
          putLe32(&index[e], getLe32(&index[e]) + kFirstDisc);
      out.writeAt(base + psar + kIndexOffset, index.data(), index.size());
    }
  }
  out.writeAt(base + psar + kDiscTable, table, sizeof table);
}

Reader::Reader(const ByteSource& src) : src_(src) {
  uint8_t h[kHeaderSize];
  if (src.size() < kHeaderSize) throw ToolError("not a PBP file: shorter than its header");
  src.readAt(0, h, sizeof h);
  if (std::memcmp(h, "\0PBP", 4) != 0) throw ToolError("not a PBP file: no PBP signature");
  for (int s = 0; s < kSections; ++s) {
    offsets_[s] = getLe32(h + 8 + 4 * s);
    if (offsets_[s] < kHeaderSize || offsets_[s] > src.size() || (s > 0 && offsets_[s] < offsets_[s - 1]))
      throw ToolError(std::string("damaged PBP file: bad offset of ") + kSectionNames[s]);
  }
  offsets_[kSections] = src.size();
}

uint64_t Reader::sectionSize(Section s) const {
  return offsets_[s + 1] - offsets_[s];
}

std::vector<uint8_t> Reader::section(Section s) const {
  std::vector<uint8_t> bytes(size_t(sectionSize(s)));
  src_.readAt(offsets_[s], bytes.data(), bytes.size());
  return bytes;
}

bool Reader::multiDisc() const {
  const uint64_t psar = offsets_[DataPsar];
  char magic[16];
  if (src_.size() - psar < sizeof magic) return false;
  src_.readAt(psar, magic, sizeof magic);
  return std::memcmp(magic, kTitleMagic, sizeof magic) == 0;
}

std::vector<PsarDisc> Reader::discs() const {
  const uint64_t psar = offsets_[DataPsar], fileSize = src_.size();
  char magic[16] = {};
  src_.readAt(psar, magic, size_t(std::min<uint64_t>(sizeof magic, fileSize - psar)));
  std::vector<uint64_t> bases;
  const bool multi = std::memcmp(magic, kTitleMagic, 16) == 0;
  if (multi) {
    if (fileSize - psar < kDiscTable + 4 * kMaxDiscs) throw ToolError("the disc table of DATA.PSAR is cut short");
    uint8_t table[4 * kMaxDiscs];
    src_.readAt(psar + kDiscTable, table, sizeof table);
    for (uint32_t i = 0; i < kMaxDiscs; ++i)
      if (uint32_t off = getLe32(table + 4 * i)) bases.push_back(psar + off);
    if (bases.empty()) throw ToolError("the multi-disc image lists no disc");
  } else if (std::memcmp(magic, kPsarMagic, 12) == 0) {
    bases.push_back(psar);
  } else {
    throw ToolError("DATA.PSAR holds no PS1 disc image");
  }
  std::vector<PsarDisc> discs;
  // Left uninitialised: every byte is read into it before use, and it is a megabyte per disc.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kDataOffset]);
  uint8_t* const head = buffer.get();
  for (size_t i = 0; i < bases.size(); ++i) {
    const std::string which = multi ? "disc " + std::to_string(i + 1) : "the disc image";
    PsarDisc d;
    d.base = bases[i];
    if (d.base > fileSize || fileSize - d.base < kDataOffset)
      throw ToolError("the block index of " + which + " is cut short");
    src_.readAt(d.base, head, kDataOffset);
    if (std::memcmp(head, kPsarMagic, 12) != 0) throw ToolError(which + " holds no PS1 disc image");
    d.dataEnd = getLe32(&head[12]);
    d.id.assign(reinterpret_cast<const char*>(&head[0x400]), 16);
    d.id.resize(std::strlen(d.id.c_str()));
    d.tocValid = parseToc(&head[kTocOffset], kTocRoom, d.toc, d.tocProblem);
    d.protectionWord = getLe16(&head[libcrypt::kSummaryOffset]);
    d.protectionOffset = getLe32(&head[libcrypt::kTableOffset]);
    d.protectionCount = getLe32(&head[libcrypt::kTableOffset + 4]);
    if (d.protectionCount == 0) d.protectionOffset = 0;
    // Other converters put the LibCrypt table into the index right after the last block's entry:
    // what lies from there on is no block.
    uint32_t indexEntries = kMaxBlocks;
    if (d.protectionOffset >= kIndexOffset && d.protectionOffset < kDataOffset &&
        d.protectionCount <= libcrypt::kMaxRecords + 2)
      indexEntries = (d.protectionOffset - kIndexOffset) / kIndexEntry;
    for (uint32_t k = 0; k < indexEntries; ++k) {
      const uint8_t* e = &head[kIndexOffset + size_t(k) * kIndexEntry];
      IndexEntry entry;
      entry.offset = getLe32(e);
      entry.length = getLe32(e + 4);
      if (entry.offset == 0 && entry.length == 0) continue;
      std::memcpy(entry.hash.data(), e + 8, entry.hash.size());
      d.blocks.push_back(entry);
    }
    discs.push_back(std::move(d));
  }
  return discs;
}

void Reader::extractImage(ByteSink& out) const {
  const PsarDisc disc = discs().front();
  const uint64_t fileSize = src_.size(), data = disc.dataStart();
  std::vector<BlockSpan> spans;
  for (const IndexEntry& e : disc.blocks) {
    if (data + e.offset + e.length > fileSize)
      throw ToolError("damaged disc image: block " + std::to_string(spans.size()) +
                      " lies past the end of the file");
    spans.push_back({data + e.offset, std::min<uint32_t>(e.length, 2 * kBlockBytes)});
  }
  Inflater inflater;
  std::vector<uint8_t> first(kBlockBytes), block(kBlockBytes);
  size_t firstLen = 0;
  uint64_t imageSize = 0, written = 0;
  auto emit = [&](const uint8_t* p, size_t n) {
    size_t take = size_t(std::min<uint64_t>(n, imageSize - written));
    out.write(p, take);
    written += take;
  };
  readBlocks(
      src_, spans.size(), [&](uint64_t i) { return spans[size_t(i)]; },
      [&](uint64_t i, const uint8_t* p) {
        size_t n = 0;
        BlockFault fault = decodeBlock(inflater, disc.blocks[size_t(i)], p, block.data(), n);
        if (fault != BlockFault::None)
          throw ToolError("damaged disc image: block " + std::to_string(i) + " " + describe(fault));
        if (i == 0) { // held back until block 1 tells the image size
          std::memcpy(first.data(), block.data(), n);
          firstLen = n;
          return;
        }
        if (i == 1) {
          if (n < 108) throw ToolError("damaged disc image: block 1 is too short");
          imageSize = uint64_t(getLe32(block.data() + 104)) * cdrom::kRawSector;
          emit(first.data(), firstLen);
        }
        emit(block.data(), n);
      });
  if (written < imageSize) throw ToolError("damaged disc image: it ends before its recorded size");
}

} // namespace kivo::pbp

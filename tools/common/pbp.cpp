#include "pbp.h"

#include "cdrom.h"
#include "codec.h"

#include <algorithm>
#include <cstring>

namespace kivo::pbp {

const char* const kSectionNames[kSections] = {"PARAM.SFO", "ICON0.PNG", "ICON1.PMF", "PIC0.PNG",
                                              "PIC1.PNG",  "SND0.AT3",  "DATA.PSP",  "DATA.PSAR"};

namespace {

constexpr char kPsarMagic[] = "PSISOIMG0000";

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
  if (sectors_ > 16) {
    uint8_t sector[cdrom::kRawSector];
    readRaw(16, 1, sector);
    if (sector[15] == 2 && std::memcmp(sector + 24,
                                       "\x01"
                                       "CD001",
                                       6) == 0)
      volume_ = getLe32(sector + 24 + 80);
  }
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

// PARAM.SFO: a header, one index entry per key (sorted), a key table and a data table.
std::vector<uint8_t> buildSfo(const std::string& title, const std::string& discId) {
  struct Entry {
    const char* key;
    bool number;
    std::string text;
    uint32_t value, room;
  };
  const Entry entries[] = {
      {"BOOTABLE", true, "", 1, 4},
      {"CATEGORY", false, "ME", 0, 4},
      {"DISC_ID", false, discId, 0, 16},
      {"DISC_VERSION", false, "1.00", 0, 8},
      {"LICENSE", false, "Made with Kivo Workbench", 0, 512},
      {"PARENTAL_LEVEL", true, "", 1, 4},
      {"PSP_SYSTEM_VER", false, "3.01", 0, 8},
      {"REGION", true, "", 0x8000, 4},
      {"TITLE", false, title, 0, 128},
  };
  const uint32_t count = sizeof entries / sizeof entries[0];
  std::string keys;
  uint32_t dataSize = 0;
  for (const Entry& e : entries) {
    keys += e.key;
    keys += '\0';
    dataSize += e.room;
  }
  keys.resize(alignUp(keys.size(), 4), '\0');
  const uint32_t keyStart = 20 + 16 * count, dataStart = keyStart + uint32_t(keys.size());
  std::vector<uint8_t> sfo(dataStart + dataSize);
  std::memcpy(sfo.data(), "\0PSF", 4);
  putLe32(&sfo[4], 0x0101);
  putLe32(&sfo[8], keyStart);
  putLe32(&sfo[12], dataStart);
  putLe32(&sfo[16], count);
  std::memcpy(&sfo[keyStart], keys.data(), keys.size());
  uint32_t keyAt = 0, dataAt = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const Entry& e = entries[i];
    uint8_t* ix = &sfo[20 + 16 * i];
    putLe16(ix, uint16_t(keyAt));
    uint8_t* d = &sfo[dataStart + dataAt];
    if (e.number) {
      putLe16(ix + 2, 0x0404);
      putLe32(ix + 4, 4);
      putLe32(d, e.value);
    } else {
      // The caller cuts texts to fit; the terminating zero always stays.
      uint32_t n = uint32_t(std::min<size_t>(e.text.size(), e.room - 1));
      putLe16(ix + 2, 0x0204);
      putLe32(ix + 4, n + 1);
      std::memcpy(d, e.text.data(), n);
    }
    putLe32(ix + 8, e.room);
    putLe32(ix + 12, dataAt);
    keyAt += uint32_t(std::strlen(e.key)) + 1;
    dataAt += e.room;
  }
  return sfo;
}

SfoFields parseSfo(const uint8_t* data, size_t size) {
  auto bad = [](const char* why) { return ToolError(std::string("damaged PARAM.SFO: ") + why); };
  if (size < 20 || std::memcmp(data, "\0PSF", 4) != 0) throw bad("no PSF signature");
  const uint64_t keyStart = getLe32(data + 8), dataStart = getLe32(data + 12), count = getLe32(data + 16);
  if (20 + count * 16 > size || keyStart > size || dataStart > size) throw bad("tables outside the file");
  SfoFields sfo;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* ix = data + 20 + i * 16;
    uint64_t keyAt = keyStart + getLe16(ix);
    uint32_t fmt = getLe16(ix + 2), len = getLe32(ix + 4);
    uint64_t at = dataStart + getLe32(ix + 12);
    if (keyAt >= size || at > size || len > size - at) throw bad("entry outside the file");
    const void* end = std::memchr(data + keyAt, 0, size - keyAt);
    if (!end) throw bad("unterminated key");
    std::string key(reinterpret_cast<const char*>(data + keyAt),
                    static_cast<const uint8_t*>(end) - (data + keyAt));
    if (fmt == 0x0404) {
      if (len != 4) throw bad("number of the wrong size");
      sfo.numbers[key] = getLe32(data + at);
    } else {
      std::string text(reinterpret_cast<const char*>(data + at), len);
      text.resize(std::strlen(text.c_str()));
      sfo.strings[key] = text;
    }
  }
  return sfo;
}

void write(const DiscImage& image, const std::string& title, const std::string& discId, const Artwork& art,
           int level, ByteSink& out, unsigned threads, const Progress& progress) {
  const std::vector<uint8_t> sfo = buildSfo(title, discId);
  const std::vector<uint8_t>* parts[] = {&sfo, &art.icon0, &art.icon1, &art.pic0, &art.pic1, &art.snd0};
  uint64_t offsets[kSections];
  uint64_t at = kHeaderSize;
  for (int s = 0; s < 6; ++s) {
    offsets[s] = at;
    at += parts[s]->size();
  }
  offsets[DataPsp] = at; // no PSP boot code: that is the signed part only its owner can add
  const uint64_t psar = alignUp(at, 16);
  offsets[DataPsar] = psar;
  const uint32_t blocks = (image.sectors() + kBlockSectors - 1) / kBlockSectors;
  const uint64_t dataStart = psar + kDataOffset;
  // Readers form positions in signed 32-bit arithmetic.
  if (dataStart + uint64_t(blocks) * kBlockBytes > 0x7FFFFFFF)
    throw ToolError("the EBOOT would pass 2 GiB; the artwork or the image is too large");

  const uint64_t base = out.position();
  uint8_t header[kHeaderSize] = {0, 'P', 'B', 'P'};
  putLe32(header + 4, 0x00010000);
  for (int s = 0; s < kSections; ++s)
    putLe32(header + 8 + 4 * s, uint32_t(offsets[s]));
  out.write(header, sizeof header);
  for (auto* p : parts)
    out.write(p->data(), p->size());
  std::vector<uint8_t> head(size_t(psar - at) + kDataOffset);
  uint8_t* ps = head.data() + (psar - at);
  std::memcpy(ps, kPsarMagic, 12);
  // The disc ID in its "_SCUS_12345" form.
  std::string id = discId.size() > 4 ? "_" + discId.substr(0, 4) + "_" + discId.substr(4) : "_" + discId;
  std::memcpy(ps + 0x400, id.data(), std::min<size_t>(id.size(), 15));
  // Table of contents of a one-track data disc, as the lead-in's Q channel lists it:
  // control/address, track, point, MSF, zero, point MSF.
  uint8_t* toc = ps + 0x800;
  const uint8_t firstLast[3][3] = {{0xA0, 0x01, 0x20}, {0xA1, 0x01, 0x00}, {0xA2, 0, 0}};
  for (int i = 0; i < 3; ++i) {
    uint8_t* e = toc + 10 * i;
    e[0] = 0x41;
    e[2] = firstLast[i][0];
    e[7] = firstLast[i][1];
    e[8] = firstLast[i][2];
  }
  cdrom::toBcdMsf(image.sectors() + cdrom::kLeadIn, toc + 20 + 7);
  uint8_t* track = toc + 30;
  track[0] = 0x41;
  track[2] = 0x01;
  cdrom::toBcdMsf(cdrom::kLeadIn, track + 7);
  out.write(head.data(), head.size());

  std::vector<uint8_t> index(size_t(kDataOffset - kIndexOffset));
  uint64_t pos = 0;
  uint32_t block = 0;
  BlockStream s;
  s.totalBytes = uint64_t(blocks) * kBlockBytes;
  s.blockSize = kBlockBytes;
  s.read = [&image](uint64_t off, uint8_t* buf, size_t n) {
    // The last block is padded with zero sectors so that every block is whole.
    uint32_t first = uint32_t(off / cdrom::kRawSector), want = uint32_t(n / cdrom::kRawSector);
    uint32_t have = first < image.sectors() ? std::min(want, image.sectors() - first) : 0;
    image.readRaw(first, have, buf);
    std::memset(buf + size_t(have) * cdrom::kRawSector, 0, size_t(want - have) * cdrom::kRawSector);
  };
  s.makeEncoder = [level] { return std::make_unique<DeflateEncoder>(level, Wrap::Raw); };
  s.sink = [&](const uint8_t* data, size_t n, bool) {
    uint8_t* e = &index[size_t(block) * kIndexEntry];
    putLe32(e, uint32_t(pos));
    putLe32(e + 4, uint32_t(n));
    ++block;
    out.write(data, n);
    pos += n;
  };
  s.progress = progress;
  encodeBlocks(s, threads);
  uint8_t end[4];
  putLe32(end, uint32_t(kDataOffset + pos));
  out.writeAt(base + psar + 12, end, 4);
  out.writeAt(base + psar + kIndexOffset, index.data(), index.size());
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

void Reader::extractImage(ByteSink& out) const {
  const uint64_t psar = offsets_[DataPsar], fileSize = src_.size();
  char magic[12];
  if (fileSize - psar < sizeof magic) throw ToolError("DATA.PSAR holds no PS1 disc image");
  src_.readAt(psar, magic, sizeof magic);
  if (std::memcmp(magic, kPsarMagic, sizeof magic) != 0) throw ToolError("DATA.PSAR holds no PS1 disc image");
  if (fileSize < psar + kDataOffset) throw ToolError("the block index of the disc image is cut short");
  std::vector<uint8_t> raw(kDataOffset - kIndexOffset);
  src_.readAt(psar + kIndexOffset, raw.data(), raw.size());
  const uint64_t data = psar + kDataOffset;
  std::vector<BlockSpan> spans;
  for (uint32_t i = 0; i < kMaxBlocks; ++i) {
    uint32_t off = getLe32(&raw[size_t(i) * kIndexEntry]), len = getLe32(&raw[size_t(i) * kIndexEntry + 4]);
    if (off == 0 && len == 0) continue;
    if (data + off + len > fileSize)
      throw ToolError("damaged disc image: block " + std::to_string(spans.size()) +
                      " lies past the end of the file");
    // A deflated block never needs more than twice its plain size; the rest is not read.
    spans.push_back({data + off, std::min<uint32_t>(len, 2 * kBlockBytes)});
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
        const BlockSpan& s = spans[size_t(i)];
        size_t n = kBlockBytes;
        if (s.length == kBlockBytes) {
          std::memcpy(block.data(), p, n);
        } else {
          long got = inflater.inflateUpTo(p, s.length, block.data(), kBlockBytes);
          if (got < 0)
            throw ToolError("damaged disc image: block " + std::to_string(i) + " does not inflate");
          n = size_t(got);
        }
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

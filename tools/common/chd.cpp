#include "chd.h"

#include "chdhuff.h"
#include "codec.h"
#include "pipeline.h"
#include "sha1.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

namespace kivo::chd {

namespace {

const uint8_t kMagic[8] = {'M', 'C', 'o', 'm', 'p', 'r', 'H', 'D'};

// Map symbols beyond the stored kinds: runs of the last kind, and copies told by their relation
// to the copy before.
enum : uint8_t { kRleSmall = 7, kRleLarge = 8, kSelfSame = 9, kSelfNext = 10 };
// A hunk of zeros in a map without codecs: no bytes in the file.
constexpr uint8_t kZeros = 0xFF;

uint64_t getBe(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i)
    v = v << 8 | p[i];
  return v;
}

void putBe(uint8_t* p, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i, v >>= 8)
    p[i] = uint8_t(v);
}

int bitsFor(uint64_t v) {
  int n = 0;
  for (; v; v >>= 1)
    ++n;
  return n;
}

ToolError damaged(const std::string& why) {
  return ToolError("not a valid CHD file: " + why);
}

// The 12 bytes the map's CRC covers for each hunk.
void rawEntry(const MapEntry& e, uint8_t* p) {
  p[0] = e.type;
  putBe(p + 1, e.length, 3);
  putBe(p + 4, e.offset, 6);
  putBe(p + 10, e.crc, 2);
}

struct Sha1Key {
  std::array<uint8_t, 20> bytes;
  bool operator==(const Sha1Key& o) const { return bytes == o.bytes; }
};
struct Sha1Hash {
  size_t operator()(const Sha1Key& k) const {
    size_t h;
    std::memcpy(&h, k.bytes.data(), sizeof h);
    return h;
  }
};

} // namespace

const std::vector<uint32_t>& dvdCodecs() {
  static const std::vector<uint32_t> codecs{kLzma, kZlib, kHuff, kFlac};
  return codecs;
}

const std::vector<uint32_t>& cdCodecs() {
  static const std::vector<uint32_t> codecs{kCdLzma, kCdZlib, kCdFlac};
  return codecs;
}

uint16_t crc16(const uint8_t* data, size_t n, uint16_t crc) {
  static const auto table = [] {
    std::array<uint16_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint16_t c = uint16_t(i << 8);
      for (int k = 0; k < 8; ++k)
        c = uint16_t(c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1);
      t[i] = c;
    }
    return t;
  }();
  for (size_t i = 0; i < n; ++i)
    crc = uint16_t(crc << 8 ^ table[(crc >> 8 ^ data[i]) & 0xFF]);
  return crc;
}

std::string Metadata::text() const {
  std::string s(data.begin(), data.end());
  while (!s.empty() && s.back() == '\0')
    s.pop_back();
  return s;
}

Metadata Metadata::ofText(uint32_t tag, const std::string& text) {
  Metadata m;
  m.tag = tag;
  m.data.assign(text.begin(), text.end());
  m.data.push_back(0);
  return m;
}

std::vector<uint8_t> encodeMap(const std::vector<MapEntry>& entries, uint64_t firstOffset, uint32_t hunkBytes) {
  // The kinds, with copies told by the copy before where they can be.
  std::vector<uint8_t> kinds(entries.size());
  uint64_t lastSelf = 0, maxSelf = 0;
  uint32_t maxLength = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const MapEntry& e = entries[i];
    uint8_t kind = e.type;
    if (kind == kSelf) {
      if (e.offset == lastSelf) kind = kSelfSame;
      else if (e.offset == lastSelf + 1) kind = kSelfNext;
      else maxSelf = std::max(maxSelf, e.offset);
      lastSelf = e.offset;
    } else if (kind <= kCodec3) {
      maxLength = std::max(maxLength, e.length);
    }
    kinds[i] = kind;
  }
  // Runs of the last kind become a run symbol and its count.
  std::vector<uint8_t> symbols;
  uint8_t last = 0;
  for (size_t i = 0; i < kinds.size();) {
    if (kinds[i] != last) {
      symbols.push_back(last = kinds[i++]);
      continue;
    }
    size_t run = 0;
    while (i + run < kinds.size() && kinds[i + run] == last)
      ++run;
    i += run;
    while (run > 0) {
      if (run < 3) {
        symbols.push_back(last);
        --run;
      } else if (run <= 18) {
        symbols.push_back(kRleSmall);
        symbols.push_back(uint8_t(run - 3));
        run = 0;
      } else {
        const size_t n = std::min<size_t>(run, 19 + 255);
        symbols.push_back(kRleLarge);
        symbols.push_back(uint8_t((n - 19) >> 4));
        symbols.push_back(uint8_t((n - 19) & 15));
        run -= n;
      }
    }
  }
  HuffmanEncoder code(16, 8);
  for (uint8_t s : symbols)
    code.count(s);
  code.build();
  BitWriter bits;
  code.exportRle(bits);
  for (uint8_t s : symbols)
    code.encode(bits, s);
  const int lengthBits = bitsFor(maxLength), selfBits = bitsFor(maxSelf);
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < entries.size(); ++i) {
    const MapEntry& e = entries[i];
    if (kinds[i] <= kCodec3) {
      bits.write(e.length, lengthBits);
      bits.write(e.crc, 16);
    } else if (kinds[i] == kStored) {
      bits.write(e.crc, 16);
    } else if (kinds[i] == kSelf) {
      bits.write(uint32_t(e.offset), selfBits);
    }
    MapEntry plain = e;
    if (plain.type == kStored) plain.length = hunkBytes;
    if (plain.type == kSelf) plain.length = plain.crc = 0;
    uint8_t raw[12];
    rawEntry(plain, raw);
    crc = crc16(raw, sizeof raw, crc);
  }
  const std::vector<uint8_t>& stream = bits.finish();
  std::vector<uint8_t> out(16);
  putBe(&out[0], stream.size(), 4);
  putBe(&out[4], firstOffset, 6);
  putBe(&out[10], crc, 2);
  out[12] = uint8_t(lengthBits);
  out[13] = uint8_t(selfBits);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

std::vector<MapEntry> decodeMap(const uint8_t* data, size_t size, uint64_t hunkCount, uint32_t hunkBytes) {
  if (size < 16) throw damaged("the map is cut short");
  const uint64_t length = getBe(data, 4);
  if (length > size - 16) throw damaged("the map is cut short");
  const uint16_t expected = uint16_t(getBe(data + 10, 2));
  const int lengthBits = data[12], selfBits = data[13];
  if (lengthBits > 24 || selfBits > 32) throw damaged("the map's field sizes are out of range");
  // Every hunk takes a bit at the least, or a run of at most 274 takes three symbols.
  if (hunkCount > (length + 1) * 8 * 92) throw damaged("the map is too short for its hunks");
  BitReader bits(data + 16, size_t(length));
  HuffmanDecoder code(16, 8);
  if (!code.importRle(bits)) throw damaged("the map's code does not decode");
  std::vector<MapEntry> entries(static_cast<size_t>(hunkCount));
  uint8_t last = 0;
  uint32_t repeat = 0;
  auto next = [&] {
    const int s = code.decode(bits);
    if (s < 0 || bits.overflow()) throw damaged("the map does not decode");
    return uint8_t(s);
  };
  for (MapEntry& e : entries) {
    if (repeat > 0) {
      e.type = last;
      --repeat;
      continue;
    }
    const uint8_t s = next();
    if (s == kRleSmall) {
      e.type = last;
      repeat = 2u + next();
    } else if (s == kRleLarge) {
      e.type = last;
      repeat = 2u + 16u + (uint32_t(next()) << 4);
      repeat += next();
    } else {
      e.type = last = s;
    }
  }
  uint64_t at = getBe(data + 4, 6), lastSelf = 0;
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < entries.size(); ++i) {
    MapEntry& e = entries[i];
    switch (e.type) {
    case 0: case 1: case 2: case 3:
      e.offset = at;
      e.length = bits.read(lengthBits);
      e.crc = uint16_t(bits.read(16));
      at += e.length;
      break;
    case kStored:
      e.offset = at;
      e.length = hunkBytes;
      e.crc = uint16_t(bits.read(16));
      at += e.length;
      break;
    case kSelf:
      lastSelf = e.offset = bits.read(selfBits);
      break;
    case kSelfNext:
      ++lastSelf;
      [[fallthrough]];
    case kSelfSame:
      e.type = kSelf;
      e.offset = lastSelf;
      break;
    case kParent: case 11: case 12: case 13:
      throw ToolError("the CHD file refers to a parent CHD; Kivo reads standalone CHD files only");
    default:
      throw damaged("hunk " + std::to_string(i) + " is of an unknown kind");
    }
    if (bits.overflow()) throw damaged("the map is cut short");
    if (e.type == kSelf && e.offset >= i)
      throw damaged("hunk " + std::to_string(i) + " copies a hunk that is not before it");
    uint8_t raw[12];
    rawEntry(e, raw);
    crc = crc16(raw, sizeof raw, crc);
  }
  if (crc != expected) throw damaged("the map's CRC does not match");
  return entries;
}

std::array<uint8_t, kHeaderSize> encodeHeader(const Header& h) {
  std::array<uint8_t, kHeaderSize> p{};
  std::memcpy(p.data(), kMagic, 8);
  putBe(&p[8], kHeaderSize, 4);
  putBe(&p[12], kVersion, 4);
  for (int i = 0; i < 4; ++i)
    putBe(&p[16 + 4 * size_t(i)], h.codecs[i], 4);
  putBe(&p[32], h.logicalBytes, 8);
  putBe(&p[40], h.mapOffset, 8);
  putBe(&p[48], h.metaOffset, 8);
  putBe(&p[56], h.hunkBytes, 4);
  putBe(&p[60], h.unitBytes, 4);
  std::memcpy(&p[64], h.rawSha1.data(), 20);
  std::memcpy(&p[84], h.sha1.data(), 20);
  std::memcpy(&p[104], h.parentSha1.data(), 20);
  return p;
}

std::array<uint8_t, 20> overallSha1(const std::array<uint8_t, 20>& rawSha1, const std::vector<Metadata>& metadata) {
  // Each checksummed entry adds its tag and the SHA-1 of its data, in sorted order.
  std::vector<std::array<uint8_t, 24>> parts;
  for (const Metadata& m : metadata) {
    if (!(m.flags & kMetaChecksummed)) continue;
    std::array<uint8_t, 24> part{};
    putBe(part.data(), m.tag, 4);
    const std::array<uint8_t, 20> digest = sha1(m.data.data(), m.data.size());
    std::memcpy(part.data() + 4, digest.data(), digest.size());
    parts.push_back(part);
  }
  std::sort(parts.begin(), parts.end());
  Sha1 h;
  h.update(rawSha1.data(), rawSha1.size());
  for (const auto& p : parts)
    h.update(p.data(), p.size());
  return h.finish();
}

bool isChd(const ByteSource& file) {
  uint8_t magic[8];
  if (file.size() < sizeof magic) return false;
  file.readAt(0, magic, sizeof magic);
  return std::memcmp(magic, kMagic, sizeof magic) == 0;
}

Reader::Reader(const ByteSource& file) : file_(file) {
  const uint64_t fileSize = file.size();
  uint8_t p[kHeaderSize] = {};
  if (fileSize < 16) throw damaged("the header is cut short");
  file.readAt(0, p, 16);
  if (std::memcmp(p, kMagic, 8) != 0) throw damaged("no CHD signature");
  const uint32_t version = uint32_t(getBe(p + 12, 4));
  if (version != kVersion)
    throw ToolError("CHD version " + std::to_string(version) +
                    " is not supported; Kivo reads version 5 (chdman copy turns an older file into one)");
  if (getBe(p + 8, 4) != kHeaderSize || fileSize < kHeaderSize) throw damaged("the header is cut short");
  file.readAt(0, p, kHeaderSize);
  Header& h = header_;
  for (int i = 0; i < 4; ++i)
    h.codecs[i] = uint32_t(getBe(p + 16 + 4 * i, 4));
  h.logicalBytes = getBe(p + 32, 8);
  h.mapOffset = getBe(p + 40, 8);
  h.metaOffset = getBe(p + 48, 8);
  h.hunkBytes = uint32_t(getBe(p + 56, 4));
  h.unitBytes = uint32_t(getBe(p + 60, 4));
  std::memcpy(h.rawSha1.data(), p + 64, 20);
  std::memcpy(h.sha1.data(), p + 84, 20);
  std::memcpy(h.parentSha1.data(), p + 104, 20);
  if (std::any_of(h.parentSha1.begin(), h.parentSha1.end(), [](uint8_t b) { return b != 0; }))
    throw ToolError("this CHD file stores only its differences from a parent CHD; Kivo reads standalone CHD "
                    "files only (chdman copy with the parent makes one)");
  if (h.hunkBytes == 0 || h.hunkBytes > kMaxHunkBytes)
    throw damaged("a hunk size of " + std::to_string(h.hunkBytes) + " bytes");
  if (h.hunkCount() > 0xFFFFFFFFu) throw damaged("too many hunks");
  for (uint32_t c : h.codecs)
    if (c != 0 && !knownCodec(c))
      throw ToolError("the CHD file uses the codec '" + codecName(c) + "', which Kivo does not read");

  // Metadata: a chain of entries, each with a 16-byte header.
  uint64_t at = h.metaOffset, total = 0;
  while (at != 0) {
    if (metadata_.size() >= 4096) throw damaged("the metadata goes round in a loop");
    if (at > fileSize || fileSize - at < 16) throw damaged("metadata lies past the end of the file");
    uint8_t m[16];
    file.readAt(at, m, sizeof m);
    Metadata entry;
    entry.tag = uint32_t(getBe(m, 4));
    entry.flags = m[4];
    const uint32_t length = uint32_t(getBe(m + 5, 3));
    if (length > fileSize - at - 16) throw damaged("metadata lies past the end of the file");
    total += length;
    if (total > (64u << 20)) throw damaged("too much metadata");
    entry.data.resize(length);
    file.readAt(at + 16, entry.data.data(), length);
    metadata_.push_back(std::move(entry));
    at = getBe(m + 8, 8);
  }

  const uint64_t count = h.hunkCount();
  if (h.codecs[0] == 0) {
    // No codecs: a map of 4-byte hunk positions in hunks, 0 for a hunk of zeros.
    if (h.mapOffset > fileSize || (fileSize - h.mapOffset) / 4 < count) throw damaged("the map is cut short");
    std::vector<uint8_t> raw(size_t(count) * 4);
    file.readAt(h.mapOffset, raw.data(), raw.size());
    map_.resize(size_t(count));
    for (size_t i = 0; i < map_.size(); ++i) {
      const uint64_t v = getBe(&raw[4 * i], 4);
      map_[i].type = v ? uint8_t(kStored) : kZeros;
      map_[i].offset = v * h.hunkBytes;
      map_[i].length = v ? h.hunkBytes : 0;
    }
    checked_ = false;
  } else {
    if (h.mapOffset > fileSize || fileSize - h.mapOffset < 16) throw damaged("the map lies past the end of the file");
    uint8_t mh[16];
    file.readAt(h.mapOffset, mh, sizeof mh);
    const uint64_t length = getBe(mh, 4);
    if (length > fileSize - h.mapOffset - 16) throw damaged("the map lies past the end of the file");
    std::vector<uint8_t> raw(size_t(16 + length));
    file.readAt(h.mapOffset, raw.data(), raw.size());
    map_ = decodeMap(raw.data(), raw.size(), count, h.hunkBytes);
  }
  for (size_t i = 0; i < map_.size(); ++i) {
    const MapEntry& e = map_[i];
    if (e.type <= kCodec3 && h.codecs[e.type] == 0)
      throw damaged("hunk " + std::to_string(i) + " names a codec the header does not");
    if ((e.type <= kStored) && (e.offset > fileSize || fileSize - e.offset < e.length))
      throw damaged("hunk " + std::to_string(i) + " lies past the end of the file");
  }
}

bool Reader::hasMetadata(uint32_t tag) const {
  return std::any_of(metadata_.begin(), metadata_.end(), [&](const Metadata& m) { return m.tag == tag; });
}

bool Reader::isCd() const {
  return hasMetadata(kMetaCdTracks) || hasMetadata(kMetaCdTracksOld) || hasMetadata(kMetaCdBinary) ||
         hasMetadata(kMetaGdTracks);
}

std::string Reader::codecList() const {
  std::string list;
  for (uint32_t c : header_.codecs)
    if (c) list += (list.empty() ? "" : ", ") + codecName(c);
  return list.empty() ? "none" : list;
}

namespace {

HunkDecoder& decoderFor(uint32_t hunkBytes) {
  thread_local std::unique_ptr<HunkDecoder> decoder;
  if (!decoder || decoder->hunkBytes() != hunkBytes) decoder = std::make_unique<HunkDecoder>(hunkBytes);
  return *decoder;
}

} // namespace

void Reader::readHunk(uint64_t i, uint8_t* out) const {
  if (i >= map_.size()) throw ToolError("internal error: hunk outside the CHD");
  // A copy names an earlier hunk (the map is refused otherwise), so the chain ends.
  const MapEntry* e = &map_[size_t(i)];
  while (e->type == kSelf)
    e = &map_[size_t(e->offset)];
  const uint32_t n = header_.hunkBytes;
  if (e->type == kZeros) {
    std::memset(out, 0, n);
    return;
  }
  thread_local std::vector<uint8_t> stored;
  stored.resize(e->length);
  file_.readAt(e->offset, stored.data(), stored.size());
  bool ok;
  if (e->type == kStored)
    ok = stored.size() == n && (std::memcpy(out, stored.data(), n), true);
  else
    ok = decoderFor(n).decode(header_.codecs[e->type], stored.data(), stored.size(), out);
  if (ok && checked_) ok = crc16(out, n) == e->crc;
  if (!ok)
    throw ToolError("corrupt CHD: hunk " + std::to_string(i) + " (" +
                    (e->type <= kCodec3 ? codecName(header_.codecs[e->type]) : std::string("stored")) +
                    ") does not decode to its checksum");
}

void Reader::readAt(uint64_t off, void* buf, size_t n) const {
  if (off > header_.logicalBytes || n > header_.logicalBytes - off) throw ToolError("read past the end of the image");
  if (n == 0) return;
  const uint32_t hb = header_.hunkBytes;
  auto* dst = static_cast<uint8_t*>(buf);
  thread_local std::vector<uint8_t> partial;
  for (uint64_t i = off / hb, end = (off + n - 1) / hb + 1; i < end; ++i) {
    const uint64_t at = i * hb;
    // Whole hunks decode straight into the caller's buffer; the ends go through one of their own.
    if (at >= off && at + hb <= off + n) {
      readHunk(i, dst + (at - off));
      continue;
    }
    partial.resize(hb);
    readHunk(i, partial.data());
    const uint64_t from = std::max(at, off), to = std::min<uint64_t>(at + hb, off + n);
    std::memcpy(dst + (from - off), partial.data() + (from - at), size_t(to - from));
  }
}

namespace {

// One hunk's result for the writer, as the encoder hands it over: kind, CRC, SHA-1 and the
// plain bytes, then the compressed ones.
constexpr size_t kRecordHead = 1 + 2 + 20;

class ChdBlockEncoder : public BlockEncoder {
public:
  ChdBlockEncoder(const std::vector<uint32_t>& codecs, uint32_t hunkBytes, int level)
      : hunkBytes_(hunkBytes), codecs_(codecs, hunkBytes, level), hunk_(hunkBytes) {}
  size_t encode(const uint8_t* in, size_t n, uint8_t* out, size_t outCap) override {
    if (outCap < bound(n) || n > hunkBytes_) throw ToolError("internal error: CHD record too small");
    // The last hunk is filled out with zeros.
    std::memcpy(hunk_.data(), in, n);
    std::memset(hunk_.data() + n, 0, hunkBytes_ - n);
    const int codec = codecs_.compress(hunk_.data(), packed_);
    out[0] = codec < 0 ? uint8_t(kStored) : uint8_t(codec);
    putBe(out + 1, crc16(hunk_.data(), hunkBytes_), 2);
    const std::array<uint8_t, 20> digest = sha1(hunk_.data(), hunkBytes_);
    std::memcpy(out + 3, digest.data(), 20);
    std::memcpy(out + kRecordHead, in, n);
    if (codec >= 0) std::memcpy(out + kRecordHead + n, packed_.data(), packed_.size());
    return kRecordHead + n + (codec >= 0 ? packed_.size() : 0);
  }
  size_t bound(size_t) override { return kRecordHead + 2 * size_t(hunkBytes_); }

private:
  uint32_t hunkBytes_;
  HunkEncoder codecs_;
  std::vector<uint8_t> hunk_, packed_;
};

} // namespace

void write(const Content& content, ByteSink& out, const WriteOptions& options, const Progress& progress) {
  const std::vector<uint32_t>& codecs = options.codecs.empty() ? dvdCodecs() : options.codecs;
  const uint32_t hb = options.hunkBytes;
  if (content.bytes == 0) throw ToolError("the image is empty");
  if (codecs.size() > 4) throw ToolError("internal error: a CHD names at most four codecs");
  if (hb == 0 || hb > kMaxHunkBytes || content.unitBytes == 0 || hb % content.unitBytes != 0)
    throw ToolError("internal error: a hunk size of " + std::to_string(hb) + " bytes");
  if ((content.bytes + hb - 1) / hb > 0xFFFFFFFFu) throw ToolError("the image is too large for a CHD");

  Header h;
  for (size_t i = 0; i < codecs.size(); ++i)
    h.codecs[i] = codecs[i];
  h.logicalBytes = content.bytes;
  h.hunkBytes = hb;
  h.unitBytes = content.unitBytes;
  const uint64_t start = out.position();
  const auto blank = encodeHeader(h);
  out.write(blank.data(), blank.size());

  // The metadata first, chained in order.
  for (size_t i = 0; i < content.metadata.size(); ++i) {
    const Metadata& m = content.metadata[i];
    if (m.data.size() >= (1u << 24)) throw ToolError("internal error: metadata too large");
    const uint64_t here = out.position() - start;
    if (i == 0) h.metaOffset = here;
    uint8_t head[16];
    putBe(head, m.tag, 4);
    head[4] = m.flags;
    putBe(head + 5, m.data.size(), 3);
    putBe(head + 8, i + 1 < content.metadata.size() ? here + 16 + m.data.size() : 0, 8);
    out.write(head, sizeof head);
    out.write(m.data.data(), m.data.size());
  }

  const uint64_t firstOffset = out.position() - start;
  std::vector<MapEntry> map;
  map.reserve(size_t((content.bytes + hb - 1) / hb));
  std::unordered_map<Sha1Key, uint32_t, Sha1Hash> seen;
  Sha1 rawSha1;
  uint64_t at = firstOffset;
  BlockStream s;
  s.totalBytes = content.bytes;
  s.blockSize = hb;
  s.read = content.read;
  const int level = options.level;
  s.makeEncoder = [&codecs, hb, level] { return std::make_unique<ChdBlockEncoder>(codecs, hb, level); };
  s.sink = [&](const uint8_t* data, size_t size, bool) {
    const size_t index = map.size();
    const size_t plain = std::min<uint64_t>(hb, content.bytes - uint64_t(index) * hb);
    if (size < kRecordHead + plain) throw ToolError("internal error: short CHD record");
    rawSha1.update(data + kRecordHead, plain);
    MapEntry e;
    e.type = data[0];
    e.crc = uint16_t(getBe(data + 1, 2));
    Sha1Key key;
    std::memcpy(key.bytes.data(), data + 3, 20);
    const auto found = seen.find(key);
    if (found != seen.end()) {
      e.type = kSelf;
      e.offset = found->second;
    } else {
      seen.emplace(key, uint32_t(index));
      e.offset = at;
      if (e.type == kStored) {
        e.length = hb;
        out.write(data + kRecordHead, plain);
        const std::vector<uint8_t> zeros(hb - plain); // the last hunk filled out
        out.write(zeros.data(), zeros.size());
      } else {
        e.length = uint32_t(size - kRecordHead - plain);
        out.write(data + kRecordHead + plain, e.length);
      }
      at += e.length;
    }
    map.push_back(e);
  };
  s.progress = progress;
  encodeBlocks(s, options.threads);

  h.mapOffset = out.position() - start;
  const std::vector<uint8_t> packedMap = encodeMap(map, firstOffset, hb);
  out.write(packedMap.data(), packedMap.size());
  h.rawSha1 = rawSha1.finish();
  h.sha1 = overallSha1(h.rawSha1, content.metadata);
  const auto header = encodeHeader(h);
  out.writeAt(start, header.data(), header.size());
}

void writeDvd(const ByteSource& image, ByteSink& out, const WriteOptions& options, const Progress& progress) {
  Content c;
  c.bytes = image.size();
  c.unitBytes = 2048;
  c.metadata.push_back(Metadata::ofText(kMetaDvd, ""));
  c.read = [&image](uint64_t off, uint8_t* buf, size_t n) { image.readAt(off, buf, n); };
  WriteOptions o = options;
  if (o.codecs.empty()) o.codecs = dvdCodecs();
  write(c, out, o, progress);
}

} // namespace kivo::chd

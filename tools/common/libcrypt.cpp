#include "libcrypt.h"

#include "cdrom.h"

#include <algorithm>
#include <cstring>

namespace kivo::libcrypt {

namespace {

uint8_t bcd(unsigned v) {
  return uint8_t((v / 10 % 10) << 4 | v % 10);
}

bool isBcd(uint8_t b) {
  return (b >> 4) <= 9 && (b & 15) <= 9;
}

std::string hex2(uint8_t b) {
  static const char digits[] = "0123456789ABCDEF";
  return {digits[b >> 4], digits[b & 15]};
}

// The sectors that carry bit 15 down to bit 0, in minute 3 and minute 9; each has its pair five
// sectors on.
constexpr uint32_t kMinute3[16] = {13955, 14081, 14335, 14429, 14499, 14749, 14906, 14980,
                                   15092, 15162, 15228, 15478, 15769, 15881, 15951, 16017};
constexpr uint32_t kMinute9[16] = {41895, 42016, 42282, 42430, 42521, 42663, 42862, 43027,
                                   43139, 43204, 43258, 43484, 43813, 43904, 44009, 44162};
constexpr uint32_t kPairDistance = 5;

const DiscTrack* trackOf(const DiscShape& disc, uint32_t lba) {
  const DiscTrack* found = nullptr;
  for (const DiscTrack& t : disc.tracks)
    if (!found || t.begin <= lba) found = &t;
  return found;
}

} // namespace

std::array<uint8_t, kQBytes> regularQ(const DiscShape& disc, uint32_t lba) {
  std::array<uint8_t, kQBytes> q{};
  DiscTrack whole;
  const DiscTrack* t = trackOf(disc, lba);
  if (!t) t = &whole;
  q[0] = t->mode == TrackMode::Audio ? 0x01 : 0x41;
  q[1] = bcd(t->number);
  q[2] = lba < t->start ? 0x00 : 0x01;
  // The relative time counts down through a pregap to 00:00:00 at INDEX 01.
  cdrom::toBcdMsf(lba < t->start ? t->start - lba : lba - t->start, &q[3]);
  cdrom::toBcdMsf(lba + cdrom::kLeadIn, &q[7]);
  return q;
}

uint16_t qCrc(const uint8_t* q) {
  uint16_t c = 0;
  for (size_t i = 0; i < kQBytes; ++i) {
    c ^= uint16_t(q[i] << 8);
    for (int k = 0; k < 8; ++k)
      c = uint16_t(c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1);
  }
  return uint16_t(~c);
}

std::string sectorText(uint32_t lba) {
  return "sector " + std::to_string(lba) + " (" + cdrom::msfText(lba + cdrom::kLeadIn) + ")";
}

std::vector<Record> parseSbi(const uint8_t* data, size_t size, const std::string& name, const DiscShape& disc) {
  auto fail = [&](const std::string& why) { return ToolError("'" + name + "': " + why); };
  if (size < 4 || std::memcmp(data, "SBI\0", 4) != 0)
    throw ToolError("'" + name + "' is no SBI file: it does not start with \"SBI\" and a zero byte");
  struct Numbered {
    Record record;
    size_t number;
  };
  std::vector<Numbered> read;
  for (size_t at = 4, n = 1; at < size; ++n) {
    const std::string which = "record " + std::to_string(n) + " (at byte " + std::to_string(at) + ")";
    if (n > kMaxRecords)
      throw fail("more than " + std::to_string(kMaxRecords) + " records, from " + which +
                 " on; protection data names a few dozen sectors");
    if (size - at < 4) throw fail(which + " is cut short: it has " + std::to_string(size - at) + " of its 4 first bytes");
    const uint8_t* r = data + at;
    uint32_t address = 0;
    if (!cdrom::fromBcdMsf(r, address) || address < cdrom::kLeadIn)
      throw fail(which + ": its time " + hex2(r[0]) + ":" + hex2(r[1]) + ":" + hex2(r[2]) + " names no sector");
    const uint32_t lba = address - cdrom::kLeadIn;
    const std::string where = which + ", " + sectorText(lba);
    const uint8_t type = r[3];
    const size_t length = type == 1 ? kQBytes : type == 2 || type == 3 ? 3 : 0;
    if (length == 0)
      throw fail(where + ", is of type " + std::to_string(type) + "; SBI records are of type 1, 2 or 3");
    if (size - at - 4 < length)
      throw fail(where + ", is cut short: it has " + std::to_string(size - at - 4) + " of its " + std::to_string(length) +
                 " bytes of Q data");
    if (disc.sectors && lba >= disc.sectors)
      throw fail(where + ", lies outside the disc of " + std::to_string(disc.sectors) + " sectors");
    Record rec;
    rec.lba = lba;
    rec.q = regularQ(disc, lba);
    std::copy_n(r + 4, length, &rec.q[type == 1 ? 0 : type == 2 ? 3 : 7]);
    read.push_back({rec, n});
    at += 4 + length;
  }
  std::stable_sort(read.begin(), read.end(), [](const Numbered& a, const Numbered& b) { return a.record.lba < b.record.lba; });
  std::vector<Record> out;
  for (size_t i = 0; i < read.size(); ++i) {
    if (i > 0 && read[i].record.lba == read[i - 1].record.lba)
      throw fail("records " + std::to_string(std::min(read[i - 1].number, read[i].number)) + " and " +
                 std::to_string(std::max(read[i - 1].number, read[i].number)) + " both name " +
                 sectorText(read[i].record.lba));
    out.push_back(read[i].record);
  }
  return out;
}

std::vector<uint8_t> formatSbi(const std::vector<Record>& records) {
  std::vector<uint8_t> out{'S', 'B', 'I', 0};
  std::vector<Record> sorted(records);
  std::sort(sorted.begin(), sorted.end(), [](const Record& a, const Record& b) { return a.lba < b.lba; });
  for (const Record& r : sorted) {
    uint8_t head[4];
    cdrom::toBcdMsf(r.lba + cdrom::kLeadIn, head);
    head[3] = 1;
    out.insert(out.end(), head, head + 4);
    out.insert(out.end(), r.q.begin(), r.q.end());
  }
  return out;
}

std::vector<Record> readSbiFile(const std::string& path, const DiscShape& disc) {
  auto in = openRegularFile(path);
  // Every record is at most 14 bytes; a larger file holds more than any list accepted.
  constexpr uint64_t kLimit = 4 + 14 * (kMaxRecords + 1);
  const size_t n = size_t(std::min<uint64_t>(in->size(), kLimit));
  std::vector<uint8_t> bytes(n);
  in->readAt(0, bytes.data(), n);
  if (in->size() > kLimit) {
    // Parse what fits: it reaches the record past the limit and names it.
    parseSbi(bytes.data(), n, path, disc);
    throw ToolError("'" + path + "' is too large for an SBI file (" + std::to_string(in->size()) + " bytes)");
  }
  return parseSbi(bytes.data(), n, path, disc);
}

std::vector<Record> readSub(const ByteSource& sub, const std::string& name, const DiscShape& disc) {
  const uint64_t size = sub.size(), whole = size / kSubSector;
  if (size % kSubSector != 0)
    throw ToolError("'" + name + "': the subchannel of " + sectorText(uint32_t(std::min<uint64_t>(whole, UINT32_MAX))) +
                    " is cut short: it has " + std::to_string(size % kSubSector) + " of its " +
                    std::to_string(kSubSector) + " bytes");
  if (disc.sectors && whole > disc.sectors)
    throw ToolError("'" + name + "': from " + sectorText(disc.sectors) + " on, its subchannel lies outside the disc of " +
                    std::to_string(disc.sectors) + " sectors; it belongs to another image");
  if (disc.sectors && whole < disc.sectors)
    throw ToolError("'" + name + "' ends after the subchannel of " + std::to_string(whole) + " sectors, before the " +
                    std::to_string(disc.sectors) + " of the disc; it belongs to another image");
  const uint32_t sectors = uint32_t(std::min<uint64_t>(size / kSubSector, UINT32_MAX));
  std::vector<Record> out;
  constexpr uint32_t kChunk = 4096;
  std::vector<uint8_t> chunk(size_t(kChunk) * kSubSector);
  for (uint32_t first = 0; first < sectors; first += kChunk) {
    const uint32_t n = std::min(kChunk, sectors - first);
    sub.readAt(uint64_t(first) * kSubSector, chunk.data(), size_t(n) * kSubSector);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* q = &chunk[size_t(i) * kSubSector + 12];
      if ((q[0] & 0x0F) != 1) continue; // a catalogue number or ISRC, not a position
      const uint32_t lba = first + i;
      const bool crcHolds = qCrc(q) == (q[10] << 8 | q[11]);
      if (crcHolds && std::equal(q, q + kQBytes, regularQ(disc, lba).begin())) continue;
      if (out.size() == kMaxRecords)
        throw ToolError("'" + name + "': from " + sectorText(lba) + " on, more than " + std::to_string(kMaxRecords) +
                        " sectors' Q subchannel differs from their position; that is no protection data (is it "
                        "the subchannel of this image?)");
      Record r;
      r.lba = lba;
      std::copy_n(q, kQBytes, r.q.begin());
      out.push_back(r);
    }
  }
  return out;
}

uint16_t summaryWord(const std::vector<Record>& records) {
  auto has = [&](uint32_t lba) {
    return std::binary_search(records.begin(), records.end(), Record{lba, {}},
                              [](const Record& a, const Record& b) { return a.lba < b.lba; });
  };
  uint16_t word = 0;
  for (int i = 0; i < 16; ++i)
    if (has(kMinute3[i]) || has(kMinute3[i] + kPairDistance) || has(kMinute9[i]) || has(kMinute9[i] + kPairDistance))
      word = uint16_t(word | 1u << (15 - i));
  return word;
}

std::vector<uint8_t> formatTable(const std::vector<Record>& records) {
  std::vector<uint8_t> out((records.size() + 2) * kTableRecord, 0);
  putLe32(&out[0], kMarker);
  putLe32(&out[8], kMarker);
  uint8_t* e = &out[kTableRecord];
  for (const Record& r : records) {
    putLe32(e, r.lba);
    e[4] = r.q[1];
    e[5] = r.q[2];
    std::copy_n(&r.q[3], 3, e + 6);
    std::copy_n(&r.q[7], 3, e + 9);
    e += kTableRecord;
  }
  std::fill(e, e + kTableRecord, 0xFF);
  return out;
}

std::vector<Record> parseTable(const uint8_t* data, size_t count, const DiscShape& disc,
                               std::vector<std::string>& problems) {
  std::vector<Record> out;
  size_t i = 0;
  if (count > 0 && getLe32(data) == kMarker) i = 1; // the opening marker
  bool ended = false;
  for (; i < count; ++i) {
    const uint8_t* e = data + i * kTableRecord;
    const std::string which = "record " + std::to_string(i + 1);
    const uint32_t lba = getLe32(e);
    if (lba == kMarker) {
      ended = true;
      if (i + 1 < count)
        problems.push_back(std::to_string(count - i - 1) + " more records follow the end marker (" + which + ")");
      break;
    }
    if (disc.sectors && lba >= disc.sectors) {
      problems.push_back(which + " names " + sectorText(lba) + ", outside the disc of " + std::to_string(disc.sectors) +
                         " sectors");
      continue;
    }
    if (!out.empty() && lba <= out.back().lba) {
      problems.push_back(which + " names " + sectorText(lba) +
                         (lba == out.back().lba ? ", which the record before names too" : ", before the record ahead of it"));
      continue;
    }
    if (!isBcd(e[4]) || !isBcd(e[5]))
      problems.push_back(which + " (" + sectorText(lba) + "): its track and index " + hex2(e[4]) + " " + hex2(e[5]) +
                         " are no BCD numbers");
    Record r;
    r.lba = lba;
    r.q = regularQ(disc, lba);
    r.q[1] = e[4];
    r.q[2] = e[5];
    std::copy_n(e + 6, 3, &r.q[3]);
    r.q[6] = 0;
    std::copy_n(e + 9, 3, &r.q[7]);
    out.push_back(r);
  }
  if (!ended && count > 0) problems.push_back("the table of " + std::to_string(count) + " records has no end marker");
  return out;
}

size_t uncarried(const std::vector<Record>& records, const DiscShape& disc, Record* first) {
  size_t n = 0;
  for (const Record& r : records) {
    if (r.q[0] == regularQ(disc, r.lba)[0] && r.q[6] == 0) continue;
    if (n++ == 0 && first) *first = r;
  }
  return n;
}

} // namespace kivo::libcrypt

#include "ttfcomp.h"

#include "filesafe/input.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// The upper half of Windows-1252 that differs from Latin-1; 0 marks its five holes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

class FileSource : public TtfSource {
public:
  explicit FileSource(std::FILE* f) : f_(f) {}
  size_t readAt(uint64_t pos, uint8_t* dst, size_t n) override {
    if (pos > static_cast<uint64_t>(INT64_MAX) || fseeko(f_, static_cast<off_t>(pos), SEEK_SET) != 0) return 0;
    return std::fread(dst, 1, n, f_);
  }

private:
  std::FILE* f_;
};

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// UTF-16 units (already in host order) to the 8-bit code page, cut at the first zero.
std::string toCodePage(const char16_t* units, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    char32_t c = units[i];
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    out += cp1252FromUnicode(c);
  }
  return out;
}

}  // namespace

char cp1252FromUnicode(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

char32_t cp1252ToUnicode(unsigned char c) {
  if (c >= 0x80 && c < 0xA0) return kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : c;
  return c;
}

size_t TtfBufferSource::readAt(uint64_t pos, uint8_t* dst, size_t n) {
  if (pos >= size_) return 0;
  const size_t avail = size_ - static_cast<size_t>(pos);
  if (n > avail) n = avail;
  std::memcpy(dst, data_ + pos, n);
  return n;
}

std::string* TTtfComp::target(uint16_t nameId) {
  switch (nameId) {
  case 0: return InclCopyright ? &copyright_ : nullptr;
  case 1: return InclFontFamilyName ? &family_ : nullptr;
  case 2: return InclFontSubFamName ? &subFamily_ : nullptr;
  case 4: return InclFontFullName ? &fullName_ : nullptr;
  case 5: return InclFontVersion ? &version_ : nullptr;
  case 6: return InclPostScriptName ? &postScript_ : nullptr;
  case 7: return InclTrademarkInfo ? &trademark_ : nullptr;
  default: return nullptr;  // 3, the unique identifier, is never wanted
  }
}

bool TTtfComp::ReadFontNames(const std::string& path) {
  status_ = StatusReading;
  for (std::string* s : {&copyright_, &family_, &subFamily_, &fullName_, &version_, &postScript_, &trademark_})
    s->clear();
  // Only a plain file is read: a FIFO would hang the window and a device such as /dev/zero
  // never ends.
  kivo::filesafe::Input in;
  std::FILE* f = in.open(path, false) == kivo::filesafe::Refusal::None ? fdopen(in.fd(), "rb") : nullptr;
  if (!f) {
    status_ = StatusCannotOpen;
    return false;
  }
  in.release();  // the stream closes it
  FileSource source(f);
  const bool ok = ReadFontNames(source);
  std::fclose(f);
  return ok;
}

bool TTtfComp::ReadFontNames(TtfSource& source) {
  status_ = StatusReading;
  for (std::string* s : {&copyright_, &family_, &subFamily_, &fullName_, &version_, &postScript_, &trademark_})
    s->clear();

  // The table directory follows the 12-byte offset table; only the first 24 entries are looked at.
  uint64_t tablePos = 0;
  for (int i = 0; i < 24; ++i) {
    uint8_t entry[16];
    if (source.readAt(12 + 16 * static_cast<uint64_t>(i), entry, sizeof entry) != sizeof entry) break;
    if (std::memcmp(entry, "name", 4) == 0) {
      tablePos = be32(entry + 8);
      break;
    }
  }
  if (tablePos == 0) {
    status_ = StatusNoNameTable;
    return false;
  }

  uint8_t header[4];
  if (source.readAt(tablePos + 2, header, sizeof header) != sizeof header) {
    status_ = StatusNoNameTable;
    return false;
  }
  const uint16_t count = be16(header), storage = be16(header + 2);
  if (count == 0 || storage == 0) {
    status_ = StatusNoNameTable;
    return false;
  }

  for (uint32_t i = 0; i < count; ++i) {
    uint8_t record[12];
    if (source.readAt(tablePos + 6 + 12 * static_cast<uint64_t>(i), record, sizeof record) != sizeof record) {
      status_ = StatusNoNameTable;  // the record list runs past the end of the file
      return false;
    }
    if (be16(record) != 3) continue;
    std::string* name = target(be16(record + 6));
    if (!name) continue;
    // A longer record is cut to what the buffer holds, leaving room for the terminating zero.
    size_t length = be16(record + 8);
    if (length > 2 * (kNameUnits - 1)) length = 2 * (kNameUnits - 1);
    uint8_t bytes[2 * (kNameUnits - 1)];
    const size_t got = source.readAt(tablePos + storage + be16(record + 10), bytes, length);
    char16_t units[kNameUnits];
    const size_t n = got / 2;
    for (size_t u = 0; u < n; ++u) units[u] = static_cast<char16_t>(bytes[2 * u] << 8 | bytes[2 * u + 1]);
    units[n] = 0;
    *name = toCodePage(units, n);
  }
  status_ = StatusDone;
  return true;
}

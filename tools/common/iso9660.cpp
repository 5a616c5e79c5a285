#include "iso9660.h"

#include "cdrom.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace kivo::iso {

namespace {

constexpr uint32_t kFirstDescriptor = 16;
constexpr uint32_t kMaxDescriptors = 64; // a volume descriptor set is a handful of sectors
constexpr uint32_t kMaxPathTable = 1u << 20;
constexpr size_t kMaxDepth = 64;
constexpr size_t kMaxParts = 1024;   // extents of one file recorded in parts
constexpr uint32_t kChunk = 16;      // sectors read at once

// The 2048 user bytes of a raw sector, or a ToolError naming why it has none.
const uint8_t* userData(const uint8_t* raw, uint32_t lba) {
  if (!cdrom::hasSync(raw)) throw ToolError("sector " + std::to_string(lba) + " holds no data (an audio sector?)");
  if (raw[15] == 1) return raw + 16;
  if (raw[15] == 2 && !(raw[18] & 0x20)) return raw + 24;
  throw ToolError("sector " + std::to_string(lba) + " holds no 2048 bytes of data (mode " + std::to_string(raw[15]) +
                  (raw[15] == 2 ? ", form 2)" : ")"));
}

void checkRange(uint32_t first, uint32_t count, uint32_t sectors) {
  if (first > sectors || count > sectors - first)
    throw ToolError("sector " + std::to_string(uint64_t(first) + count - 1) + " lies past the end of the image (" +
                    std::to_string(sectors) + " sectors)");
}

class PlainSectors : public SectorSource {
public:
  explicit PlainSectors(const ByteSource& src) : src_(src) {}
  uint32_t sectors() const override { return uint32_t(std::min<uint64_t>(src_.size() / kSector, UINT32_MAX)); }
  bool raw() const override { return false; }
  void read(uint32_t first, uint32_t count, uint8_t* out) const override {
    checkRange(first, count, sectors());
    src_.readAt(uint64_t(first) * kSector, out, size_t(count) * kSector);
  }

private:
  const ByteSource& src_;
};

// Raw sectors from wherever they come: the bytes of an image, or a disc's sectors.
template <class ReadRaw> class RawSectors : public SectorSource {
public:
  RawSectors(uint32_t sectors, ReadRaw readRaw) : sectors_(sectors), readRaw_(readRaw) {}
  uint32_t sectors() const override { return sectors_; }
  bool raw() const override { return true; }
  void read(uint32_t first, uint32_t count, uint8_t* out) const override {
    checkRange(first, count, sectors_);
    thread_local std::vector<uint8_t> raw;
    while (count > 0) {
      const uint32_t n = std::min(count, kChunk);
      raw.resize(size_t(n) * cdrom::kRawSector);
      readRaw_(first, n, raw.data());
      for (uint32_t i = 0; i < n; ++i)
        std::memcpy(out + size_t(i) * kSector, userData(&raw[size_t(i) * cdrom::kRawSector], first + i), kSector);
      first += n;
      count -= n;
      out += size_t(n) * kSector;
    }
  }

private:
  uint32_t sectors_;
  ReadRaw readRaw_;
};

template <class ReadRaw> std::unique_ptr<SectorSource> rawSectors(uint64_t sectors, ReadRaw readRaw) {
  return std::make_unique<RawSectors<ReadRaw>>(uint32_t(std::min<uint64_t>(sectors, UINT32_MAX)), readRaw);
}

std::string trimmed(const uint8_t* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
    s.pop_back();
  return s;
}

// "YYYYMMDDhhmmsscc" and a zone byte, as the volume descriptor records dates.
std::string dateText(const uint8_t* p) {
  for (int i = 0; i < 14; ++i)
    if (p[i] < '0' || p[i] > '9') return {};
  if (std::all_of(p, p + 14, [](uint8_t c) { return c == '0'; })) return {};
  const std::string d(reinterpret_cast<const char*>(p), 14);
  return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) + ":" + d.substr(10, 2) +
         ":" + d.substr(12, 2);
}

// A recorded name as it is compared: no ";1" version, no dot closing a name without extension.
std::string plainName(std::string name) {
  const size_t semi = name.rfind(';');
  if (semi != std::string::npos) name.resize(semi);
  while (!name.empty() && name.back() == '.')
    name.pop_back();
  return name;
}

bool sameName(const std::string& recorded, const std::string& wanted) {
  const std::string a = plainName(recorded), b = plainName(wanted);
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find_first_of("/\\", at);
    if (end == std::string::npos) end = path.size();
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

uint32_t sectorsFor(uint64_t bytes) {
  return uint32_t((bytes + kSector - 1) / kSector);
}

} // namespace

std::string printable(const std::string& text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

std::unique_ptr<SectorSource> sectorsOf(const ByteSource& image) {
  const uint64_t size = image.size();
  if (size >= cdrom::kRawSector && size % cdrom::kRawSector == 0) {
    uint8_t head[12];
    image.readAt(0, head, sizeof head);
    if (cdrom::hasSync(head))
      return rawSectors(size / cdrom::kRawSector, [&image](uint32_t first, uint32_t n, uint8_t* out) {
        image.readAt(uint64_t(first) * cdrom::kRawSector, out, size_t(n) * cdrom::kRawSector);
      });
  }
  return std::make_unique<PlainSectors>(image);
}

std::unique_ptr<SectorSource> sectorsOf(const DiscSource& disc) {
  return rawSectors(disc.sectors(),
                    [&disc](uint32_t first, uint32_t n, uint8_t* out) { disc.readRaw(first, n, out); });
}

FileSystem::FileSystem(const SectorSource& disc) : disc_(disc) {
  const uint32_t total = disc.sectors();
  if (total <= kFirstDescriptor) throw ToolError("no ISO 9660 file system: the image is too short to hold one");
  std::vector<uint8_t> d(kSector);
  bool primary = false;
  for (uint32_t s = kFirstDescriptor; s < total && s < kFirstDescriptor + kMaxDescriptors; ++s) {
    try {
      disc.read(s, 1, d.data());
    } catch (const ToolError& e) {
      if (s == kFirstDescriptor) throw ToolError(std::string("no ISO 9660 file system: ") + e.what());
      break;
    }
    if (std::memcmp(d.data() + 1, "CD001", 5) != 0 || d[0] == 255) break;
    if (d[0] == 1) {
      primary = true;
      break;
    }
  }
  if (!primary) throw ToolError("no ISO 9660 file system: sector 16 holds no primary volume descriptor");
  // Some mastering tools leave the block size out; any other size than 2048 is not a CD's.
  if (getLe16(&d[128]) != kSector && getLe16(&d[128]) != 0)
    throw ToolError("the volume's logical blocks are " + std::to_string(getLe16(&d[128])) +
                    " bytes; only 2048-byte blocks are read");
  volume_.system = trimmed(&d[8], 32);
  volume_.name = trimmed(&d[40], 32);
  volume_.publisher = trimmed(&d[318], 128);
  volume_.application = trimmed(&d[574], 128);
  volume_.created = dateText(&d[813]);
  volume_.sectors = getLe32(&d[80]);
  const uint8_t* root = &d[156];
  if (root[0] < 34) throw ToolError("the volume's root folder record is damaged");
  root_ = {getLe32(root + 2) + root[1], getLe32(root + 10), ""};
  loadPathTable(getLe32(&d[140]), getLe32(&d[132]));
}

void FileSystem::loadPathTable(uint32_t sector, uint32_t bytes) {
  // The path table only helps find a folder whose parent's records are damaged: one that does
  // not hold together is left unused.
  if (bytes < 10 || bytes > kMaxPathTable || sector >= disc_.sectors() ||
      sectorsFor(bytes) > disc_.sectors() - sector)
    return;
  std::vector<uint8_t> t(size_t(sectorsFor(bytes)) * kSector);
  try {
    disc_.read(sector, sectorsFor(bytes), t.data());
  } catch (const ToolError&) {
    return;
  }
  std::vector<PathRecord> table;
  for (size_t at = 0; at + 8 <= bytes && table.size() < 0xFFFF;) {
    const size_t nameLength = t[at];
    if (nameLength == 0 || at + 8 + nameLength > bytes) return;
    PathRecord r{std::string(reinterpret_cast<const char*>(&t[at + 8]), nameLength), getLe32(&t[at + 2]) + t[at + 1],
                 getLe16(&t[at + 6])};
    // Each folder's parent comes before it; only the root is its own parent.
    if (r.parent == 0 || r.parent > table.size() + (table.empty() ? 1 : 0)) return;
    table.push_back(r);
    at += 8 + nameLength + (nameLength & 1);
  }
  if (table.empty() || table.front().sector != root_.sector) return;
  table_ = std::move(table);
}

std::optional<FileSystem::Folder> FileSystem::folderFromTable(const std::vector<std::string>& parts) const {
  if (table_.empty()) return std::nullopt;
  size_t at = 1; // numbered from 1: the root
  std::string path;
  for (const std::string& part : parts) {
    size_t found = 0;
    for (size_t k = at; k < table_.size() && !found; ++k)
      if (table_[k].parent == at && sameName(table_[k].name, part)) found = k + 1;
    if (!found) return std::nullopt;
    at = found;
    path += "/" + printable(plainName(table_[at - 1].name));
  }
  // The table gives no size: the folder's own "." record does, and shows the table is right.
  const uint32_t sector = table_[at - 1].sector;
  if (sector >= disc_.sectors()) return std::nullopt;
  std::vector<uint8_t> s(kSector);
  try {
    disc_.read(sector, 1, s.data());
  } catch (const ToolError&) {
    return std::nullopt;
  }
  if (s[0] < 34 || s[32] != 1 || s[33] != 0 || !(s[25] & 2) || getLe32(&s[2]) + s[1] != sector) return std::nullopt;
  return Folder{sector, getLe32(&s[10]), path};
}

std::optional<Entry> FileSystem::lookIn(const Folder& folder, const std::string& name) const {
  const std::string where = folder.path.empty() ? std::string("the root folder") : "the folder " + folder.path;
  if (folder.bytes > kMaxFolderBytes)
    throw ToolError(where + " claims " + std::to_string(folder.bytes) + " bytes, more than any folder holds");
  const uint32_t count = sectorsFor(folder.bytes);
  if (folder.sector >= disc_.sectors() || count > disc_.sectors() - folder.sector)
    throw ToolError(where + " lies past the end of the image (sector " + std::to_string(folder.sector) + " of " +
                    std::to_string(disc_.sectors()) + ")");
  std::optional<Entry> found;
  bool more = false; // the entry found goes on in the records that follow
  std::vector<uint8_t> chunk(size_t(kChunk) * kSector);
  for (uint32_t first = 0; first < count; first += kChunk) {
    const uint32_t n = std::min(kChunk, count - first);
    disc_.read(folder.sector + first, n, chunk.data());
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* s = &chunk[size_t(i) * kSector];
      const uint32_t end = uint32_t(std::min<uint64_t>(kSector, folder.bytes - uint64_t(first + i) * kSector));
      for (uint32_t at = 0; at < end;) {
        const uint8_t* r = s + at;
        const uint32_t length = r[0];
        if (length == 0) break; // the rest of the sector is padding
        auto damaged = [&](const std::string& what) {
          return ToolError(where + " is damaged: the record at byte " + std::to_string(at) + " of its sector " +
                           std::to_string(folder.sector + first + i) + " " + what);
        };
        if (length < 34 || at + length > kSector) throw damaged("is cut short");
        const uint32_t nameLength = r[32];
        if (33 + nameLength > length)
          throw damaged("has a name of " + std::to_string(nameLength) + " bytes, longer than the record");
        const std::string recorded(reinterpret_cast<const char*>(r + 33), nameLength);
        at += length;
        const bool special = nameLength == 1 && (r[33] == 0 || r[33] == 1);
        if (special) continue;
        if (!found && !sameName(recorded, name)) continue;
        if (found && !sameName(recorded, found->name))
          throw ToolError(found->path + " is recorded in parts, and its last part is missing");
        if (r[26] || r[27]) throw ToolError(where + "/" + printable(plainName(recorded)) + " is recorded interleaved, "
                                            "which is not read");
        if (!found) {
          found = Entry{};
          found->name = plainName(recorded);
          found->path = folder.path + "/" + printable(found->name);
          found->folder = r[25] & 2;
        }
        if (found->extents.size() >= kMaxParts) throw ToolError(found->path + " is recorded in too many parts");
        found->extents.push_back({getLe32(r + 2) + r[1], getLe32(r + 10)});
        found->size += getLe32(r + 10);
        more = (r[25] & 0x80) && !found->folder;
        if (!more) return found;
      }
    }
  }
  if (found && more) throw ToolError(found->path + " is recorded in parts, and its last part is missing");
  return found;
}

std::optional<Entry> FileSystem::find(const std::string& path) const {
  const std::vector<std::string> parts = splitPath(path);
  if (parts.empty()) return Entry{"", "/", true, root_.bytes, {{root_.sector, root_.bytes}}};
  if (parts.size() > kMaxDepth) throw ToolError("the path '" + printable(path) + "' is too deep");
  Folder at = root_;
  std::vector<uint32_t> above{root_.sector};
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    // A folder that cannot be reached through its parent's records may still be in the path table.
    const std::vector<std::string> upTo(parts.begin(), parts.begin() + long(i) + 1);
    std::optional<Entry> e;
    try {
      e = lookIn(at, parts[i]);
    } catch (const ToolError&) {
      if (auto f = folderFromTable(upTo)) {
        at = *f;
        continue;
      }
      throw;
    }
    if (!e || !e->folder) {
      if (auto f = folderFromTable(upTo)) {
        at = *f;
        continue;
      }
      return std::nullopt;
    }
    const Folder next{e->extents.front().sector, e->extents.front().bytes, e->path};
    if (std::find(above.begin(), above.end(), next.sector) != above.end()) {
      if (auto f = folderFromTable(upTo); f && std::find(above.begin(), above.end(), f->sector) == above.end()) {
        at = *f;
        continue;
      }
      throw ToolError("the folder " + e->path + " leads back to a folder above it");
    }
    above.push_back(next.sector);
    at = next;
  }
  return lookIn(at, parts.back());
}

void FileSystem::checkInside(const Entry& e) const {
  for (const Extent& x : e.extents)
    if (x.sector >= disc_.sectors() || sectorsFor(x.bytes) > disc_.sectors() - x.sector)
      throw ToolError(e.path + " lies past the end of the image (from sector " + std::to_string(x.sector) + ", " +
                      std::to_string(x.bytes) + " bytes; the image has " + std::to_string(disc_.sectors()) +
                      " sectors)");
}

std::vector<uint8_t> FileSystem::read(const Entry& file, size_t limit) const {
  if (file.size > limit)
    throw ToolError(file.path + " holds " + std::to_string(file.size) + " bytes, more than the " +
                    std::to_string(limit) + " expected");
  return readBytes(file, file.size);
}

std::vector<uint8_t> FileSystem::readStart(const Entry& file, size_t limit) const {
  return readBytes(file, std::min<uint64_t>(file.size, limit));
}

std::vector<uint8_t> FileSystem::readBytes(const Entry& file, uint64_t count) const {
  if (file.folder) throw ToolError(file.path + " is a folder");
  checkInside(file);
  std::vector<uint8_t> bytes(static_cast<size_t>(count)), sector(kSector);
  size_t at = 0;
  for (const Extent& x : file.extents) {
    if (at == bytes.size()) break;
    const uint32_t take = uint32_t(std::min<uint64_t>(x.bytes, bytes.size() - at));
    const uint32_t whole = take / kSector;
    if (whole) disc_.read(x.sector, whole, &bytes[at]);
    at += size_t(whole) * kSector;
    if (const uint32_t rest = take % kSector) {
      disc_.read(x.sector + whole, 1, sector.data());
      std::memcpy(&bytes[at], sector.data(), rest);
      at += rest;
    }
  }
  return bytes;
}

} // namespace kivo::iso

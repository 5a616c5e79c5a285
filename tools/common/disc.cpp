#include "disc.h"

#include "cdrom.h"
#include "iso9660.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <strings.h>
#include <sys/stat.h>

namespace kivo {

namespace fs = std::filesystem;

std::vector<DiscTrack> DiscSource::tracks() const {
  DiscTrack t;
  t.end = sectors();
  if (t.end > 0) {
    uint8_t raw[cdrom::kRawSector];
    readRaw(0, 1, raw);
    if (cdrom::hasSync(raw) && raw[15] == 1) t.mode = TrackMode::Mode1;
  }
  return {t};
}

uint32_t DiscSource::volumeSectors() const {
  if (sectors() <= 16) return 0;
  uint8_t sector[cdrom::kRawSector];
  readRaw(16, 1, sector);
  const size_t user = sector[15] == 1 ? 16 : 24;
  if (cdrom::hasSync(sector) && std::memcmp(sector + user, "\x01" "CD001", 6) == 0)
    return getLe32(sector + user + 80);
  return 0;
}

void MemoryDisc::readRaw(uint32_t first, uint32_t count, uint8_t* out) const {
  if (first > sectors() || count > sectors() - first) throw ToolError("internal error: sector outside the disc");
  if (count) std::memcpy(out, &raw[size_t(first) * cdrom::kRawSector], size_t(count) * cdrom::kRawSector);
}

DiscLayout layoutCue(const CueSheet& sheet, const std::vector<uint64_t>& fileSizes) {
  if (fileSizes.size() != sheet.files.size()) throw ToolError("internal error: file sizes do not match the sheet");
  DiscLayout disc;
  uint64_t lba = 0;
  auto add = [&](DiscSegment s) {
    if (s.count == 0) return;
    s.lba = uint32_t(lba);
    lba += s.count;
    if (lba > 0x7FFFFFFF / cdrom::kRawSector) throw ToolError("the sheet describes a disc far too large");
    disc.segments.push_back(s);
  };
  for (size_t fi = 0; fi < sheet.files.size(); ++fi) {
    const CueFile& file = sheet.files[fi];
    const auto& tracks = file.tracks;
    uint64_t byte = 0; // where the current track's part of the file starts
    for (size_t j = 0; j < tracks.size(); ++j) {
      const CueTrack& t = tracks[j];
      auto why = [&](const std::string& what) {
        return ToolError("track " + std::to_string(t.number) + " (line " + std::to_string(t.line) + "): " + what);
      };
      const uint32_t first = j == 0 ? 0 : t.indexes.front().second;
      uint32_t index1 = 0;
      for (auto& [n, pos] : t.indexes)
        if (n == 1) index1 = pos;
      // The track's sectors in the file run up to the next track's first index, or the end.
      uint64_t count;
      if (j + 1 < tracks.size()) {
        const uint32_t next = tracks[j + 1].indexes.front().second;
        if (next <= index1) throw why("the next track starts before this one's INDEX 01 is over");
        count = next - first;
        if (byte + count * t.sectorSize > fileSizes[fi])
          throw why("'" + file.name + "' ends before the track does");
      } else {
        const uint64_t rest = fileSizes[fi] - std::min(byte, fileSizes[fi]);
        if (rest % t.sectorSize != 0)
          throw why("'" + file.name + "' does not end on a whole sector of " + std::to_string(t.sectorSize) +
                    " bytes");
        count = rest / t.sectorSize;
        if (count <= index1 - first) throw why("'" + file.name + "' ends before the track's INDEX 01");
      }
      if (index1 < first) throw why("INDEX 01 lies before the track's first index");
      DiscTrack dt;
      dt.number = t.number;
      dt.mode = t.mode;
      dt.begin = uint32_t(lba);
      DiscSegment gap;
      gap.mode = t.mode;
      gap.count = t.pregap;
      add(gap);
      dt.start = uint32_t(lba) + (index1 - first);
      DiscSegment part;
      part.count = uint32_t(count);
      part.file = int(fi);
      part.offset = byte;
      part.sectorSize = t.sectorSize;
      part.mode = t.mode;
      part.swapAudio = file.bigEndianAudio && t.mode == TrackMode::Audio;
      add(part);
      gap.count = t.postgap;
      add(gap);
      dt.end = uint32_t(lba);
      disc.tracks.push_back(dt);
      byte += count * t.sectorSize;
    }
  }
  if (disc.tracks.front().mode == TrackMode::Audio)
    throw ToolError("track 1 is an audio track; a PS1 disc starts with its data track");
  disc.sectors = uint32_t(lba);
  return disc;
}

std::unique_ptr<InputFile> openRegularFile(const std::string& path) { return std::make_unique<InputFile>(path, false); }

std::string readTextFile(const std::string& path, size_t limit) {
  auto in = openRegularFile(path);
  if (in->size() > limit)
    throw ToolError("'" + path + "' is too large (" + std::to_string(in->size()) + " bytes) for a sheet or playlist");
  std::string text(size_t(in->size()), '\0');
  in->readAt(0, text.data(), text.size());
  return text;
}

namespace {

// name as a path below folder, when it stays there: either separator, "." and ".." taken as they
// read, nothing absolute (a root, a drive letter). Nothing when it leads elsewhere.
std::optional<std::string> below(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':')) return std::nullopt;
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= name.size()) {
    size_t end = name.find_first_of("/\\", at);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(at, end - at);
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  if (parts.empty()) return std::nullopt;
  std::string path = parts.front();
  for (size_t i = 1; i < parts.size(); ++i)
    path += "/" + parts[i];
  return path;
}

} // namespace

std::string findBeside(const fs::path& folder, const std::string& name, bool confined) {
  std::error_code ec;
  std::optional<std::string> inside;
  if (confined) {
    inside = below(name);
    // Written as it stands (a backslash may be part of a name here), when that stays inside too.
    if (inside && name.find("..") == std::string::npos && fs::exists(folder / name, ec)) return (folder / name).string();
  }
  fs::path direct = confined ? folder / inside.value_or(std::string())
                             : fs::path(name).is_absolute() ? fs::path(name) : folder / name;
  if ((!confined || inside) && fs::exists(direct, ec)) return direct.string();
  std::string leaf = name.substr(name.find_last_of("/\\") + 1);
  if (leaf.empty() || leaf == "." || leaf == "..") return confined && !inside ? std::string() : direct.string();
  if (fs::exists(folder / leaf, ec)) return (folder / leaf).string();
  for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec))
    if (strcasecmp(it->path().filename().c_str(), leaf.c_str()) == 0) return (folder / it->path().filename()).string();
  return confined && !inside ? std::string() : direct.string();
}

CueDisc::CueDisc(const std::string& cuePath) {
  CueSheet sheet;
  try {
    sheet = parseCue(readTextFile(cuePath));
  } catch (const ToolError& e) {
    throw ToolError("'" + cuePath + "': " + e.what());
  }
  const fs::path folder = fs::path(cuePath).parent_path();
  std::vector<uint64_t> sizes;
  for (const CueFile& f : sheet.files) {
    // A sheet may only bring in files of its own folder: one that names a path elsewhere does
    // not pull that file into the disc.
    paths_.push_back(findBeside(folder, f.name, true));
    if (paths_.back().empty())
      throw ToolError("'" + cuePath + "': line " + std::to_string(f.line) + ": FILE '" + f.name +
                      "' lies outside the sheet's folder, and no file of that name is beside the sheet");
    files_.push_back(openRegularFile(paths_.back()));
    sizes.push_back(files_.back()->size());
  }
  try {
    layout_ = layoutCue(sheet, sizes);
  } catch (const ToolError& e) {
    throw ToolError("'" + cuePath + "': " + e.what());
  }
}

void CueDisc::readRaw(uint32_t first, uint32_t count, uint8_t* out) const {
  thread_local std::vector<uint8_t> cooked;
  static const uint8_t zeros[cdrom::kUserSector] = {};
  const auto& segs = layout_.segments;
  while (count > 0) {
    auto it = std::upper_bound(segs.begin(), segs.end(), first,
                               [](uint32_t lba, const DiscSegment& s) { return lba < s.lba; });
    if (it == segs.begin()) throw ToolError("internal error: sector outside the disc");
    const DiscSegment& s = *--it;
    const uint32_t skip = first - s.lba;
    if (skip >= s.count) throw ToolError("internal error: sector outside the disc");
    const uint32_t n = std::min(count, s.count - skip);
    if (s.file < 0) {
      for (uint32_t i = 0; i < n; ++i) {
        uint8_t* raw = out + size_t(i) * cdrom::kRawSector;
        if (s.mode == TrackMode::Audio)
          std::memset(raw, 0, cdrom::kRawSector);
        else if (s.mode == TrackMode::Mode1)
          cdrom::makeMode1(raw, zeros, first + i);
        else
          cdrom::makeMode2Form1(raw, zeros, first + i);
      }
    } else if (s.sectorSize == cdrom::kRawSector) {
      files_[size_t(s.file)]->readAt(s.offset + uint64_t(skip) * s.sectorSize, out, size_t(n) * s.sectorSize);
      if (s.swapAudio)
        for (size_t i = 0; i + 1 < size_t(n) * cdrom::kRawSector; i += 2)
          std::swap(out[i], out[i + 1]);
    } else {
      cooked.resize(size_t(n) * s.sectorSize);
      files_[size_t(s.file)]->readAt(s.offset + uint64_t(skip) * s.sectorSize, cooked.data(), cooked.size());
      for (uint32_t i = 0; i < n; ++i) {
        uint8_t* raw = out + size_t(i) * cdrom::kRawSector;
        const uint8_t* in = &cooked[size_t(i) * s.sectorSize];
        if (s.sectorSize == cdrom::kUserSector) {
          cdrom::makeMode2Form1(raw, in, first + i);
        } else { // 2336: everything after the header
          std::memset(raw, 0xFF, 12);
          raw[0] = raw[11] = 0;
          cdrom::toBcdMsf(first + i + cdrom::kLeadIn, raw + 12);
          raw[15] = 2;
          std::memcpy(raw + 16, in, s.sectorSize);
        }
      }
    }
    out += size_t(n) * cdrom::kRawSector;
    first += n;
    count -= n;
  }
}

std::string discIdFromSystemCnf(const std::string& text) {
  for (const std::string& line : textLines(text)) {
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos || strncasecmp(line.c_str() + b, "BOOT", 4) != 0) continue;
    size_t eq = line.find_first_not_of(" \t", b + 4);
    if (eq == std::string::npos || line[eq] != '=') continue;
    std::string value = line.substr(eq + 1);
    size_t leaf = value.find_last_of(":\\/");
    if (leaf != std::string::npos) value = value.substr(leaf + 1);
    value = value.substr(0, value.find(';'));
    std::string id;
    for (char c : value) {
      if (c == '_' || c == '.' || c == ' ' || c == '\t') continue;
      id += char(std::toupper(static_cast<unsigned char>(c)));
    }
    bool ok = id.size() == 9;
    for (size_t i = 0; ok && i < 9; ++i)
      ok = i < 4 ? std::isalpha(static_cast<unsigned char>(id[i])) != 0 : std::isdigit(static_cast<unsigned char>(id[i])) != 0;
    if (ok) return id;
  }
  return {};
}

std::string readDiscId(const DiscSource& disc) {
  try {
    const auto sectors = iso::sectorsOf(disc);
    const iso::FileSystem fs(*sectors);
    const auto cnf = fs.find("SYSTEM.CNF");
    if (!cnf || cnf->folder) return {};
    const std::vector<uint8_t> text = fs.readStart(*cnf, 4096);
    return discIdFromSystemCnf(std::string(text.begin(), text.end()));
  } catch (const ToolError&) {
    return {};
  }
}

} // namespace kivo

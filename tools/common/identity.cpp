#include "identity.h"

#include "ccd.h"
#include "cdrom.h"
#include "chddisc.h"
#include "cli.h"
#include "image.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace kivo {

namespace {

constexpr size_t kMaxSfo = 64 * 1024;
constexpr size_t kMaxIcon = 4u << 20;
constexpr size_t kMaxSystemCnf = 4096;

bool isCue(const std::string& path) {
  return path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".cue") == 0;
}

bool isCcd(const std::string& path) {
  return path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".ccd") == 0;
}

std::string field(const char* name, const std::string& value) {
  std::string line = std::string("  ") + name + ":";
  line.resize(std::max<size_t>(line.size() + 1, 18), ' ');
  return line + value + "\n";
}

std::string number(uint32_t v) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", v);
  return std::to_string(v) + (v >= 10 ? std::string(" (") + hex + ")" : "");
}

std::string jsonOr(const std::string& text) {
  return text.empty() ? "null" : jsonString(text);
}

} // namespace

std::string DiscIdentity::discId() const {
  const std::string id = sfo.text("DISC_ID");
  return id.empty() ? serial : id;
}

void readIdentity(const iso::SectorSource& sectors, DiscIdentity& id, bool withIcon) {
  const iso::FileSystem fs(sectors);
  id.volume = fs.volume();
  auto attempt = [&](const auto& step) {
    try {
      step();
    } catch (const ToolError& e) {
      id.problems.push_back(e.what());
    }
  };
  attempt([&] {
    if (auto e = fs.find("PSP_GAME/PARAM.SFO"); e && !e->folder) {
      const std::vector<uint8_t> bytes = fs.read(*e, kMaxSfo);
      id.sfo = sfo::parse(bytes.data(), bytes.size());
      id.psp = true;
    }
  });
  attempt([&] {
    if (auto e = fs.find("PSP_GAME/ICON0.PNG"); e && !e->folder) {
      id.icon0 = e->size;
      if (withIcon) id.icon0Png = fs.read(*e, kMaxIcon);
    }
  });
  attempt([&] {
    if (auto e = fs.find("PSP_GAME/PIC1.PNG"); e && !e->folder) id.pic1 = e->size;
  });
  if (!id.psp) attempt([&] {
    if (auto e = fs.find("SYSTEM.CNF"); e && !e->folder) {
      const std::vector<uint8_t> text = fs.readStart(*e, kMaxSystemCnf);
      id.serial = discIdFromSystemCnf(std::string(text.begin(), text.end()));
    }
  });
}

DiscIdentity identifyFile(const std::string& path, bool withIcon) {
  DiscIdentity id;
  if (isCue(path)) {
    const CueDisc disc(path);
    id.format = "CUE sheet";
    id.blockSize = id.sectorSize = cdrom::kRawSector;
    id.imageSize = uint64_t(disc.sectors()) * cdrom::kRawSector;
    for (const std::string& bin : disc.filePaths())
      id.fileSize += InputFile(bin).size();
    id.tracks = disc.tracks();
    readIdentity(*iso::sectorsOf(disc), id, withIcon);
    return id;
  }
  if (isCcd(path)) {
    const CcdDisc disc(path);
    id.format = "CloneCD sheet";
    id.blockSize = id.sectorSize = cdrom::kRawSector;
    id.imageSize = id.fileSize = uint64_t(disc.sectors()) * cdrom::kRawSector;
    id.tracks = disc.tracks();
    readIdentity(*iso::sectorsOf(disc), id, withIcon);
    return id;
  }
  const InputFile file(path);
  uint8_t magic[4] = {};
  if (file.size() >= sizeof magic) file.readAt(0, magic, sizeof magic);
  if (std::memcmp(magic, "\0PBP", 4) == 0)
    throw ToolError("a PBP file, not a disc image: psxdisc info describes the discs of a PS1 EBOOT");
  // A CHD of a CD is read like a CUE sheet: raw sectors and the tracks of its metadata.
  if (chd::isChd(file) && chd::Reader(file).isCd()) {
    const chd::ChdDisc disc(file);
    id.format = "CHD (CD)";
    id.compressed = true;
    id.blockSize = disc.reader().header().hunkBytes;
    id.sectorSize = cdrom::kRawSector;
    id.fileSize = file.size();
    id.imageSize = uint64_t(disc.sectors()) * cdrom::kRawSector;
    id.tracks = disc.tracks();
    readIdentity(*iso::sectorsOf(disc), id, withIcon);
    return id;
  }
  const std::unique_ptr<ImageSource> image = openImage(file);
  const auto* blocks = dynamic_cast<const BlockImage*>(image.get());
  id.format = formatName(image->format());
  id.fileSize = file.size();
  id.imageSize = image->size();
  const std::unique_ptr<iso::SectorSource> sectors = iso::sectorsOf(*image);
  id.sectorSize = sectors->raw() ? cdrom::kRawSector : iso::kSector;
  const auto* hunks = dynamic_cast<const chd::Reader*>(image.get());
  id.compressed = blocks != nullptr || hunks != nullptr;
  id.blockSize = blocks ? blocks->blockSize() : hunks ? hunks->header().hunkBytes : id.sectorSize;
  if (sectors->raw()) {
    if (!blocks) id.format = "raw image";
    DiscTrack track;
    track.end = sectors->sectors();
    uint8_t head[16];
    image->readAt(0, head, sizeof head);
    if (head[15] == 1) track.mode = TrackMode::Mode1;
    id.tracks.push_back(track);
  }
  readIdentity(*sectors, id, withIcon);
  return id;
}

std::string readVolumeName(const DiscSource& disc) {
  try {
    const auto sectors = iso::sectorsOf(disc);
    return iso::FileSystem(*sectors).volume().name;
  } catch (const ToolError&) {
    return {};
  }
}

std::string describeIdentity(const std::string& path, const DiscIdentity& id) {
  using iso::printable;
  std::string out = path + "\n";
  out += field("Format", id.format + ", " + std::to_string(id.blockSize) +
                             (id.compressed ? "-byte blocks" : "-byte sectors"));
  if (id.fileSize != id.imageSize) out += field("File", describeSize(id.fileSize));
  out += field("Image", describeSize(id.imageSize) + " (" + std::to_string(id.imageSize / id.sectorSize) +
                            " sectors of " + std::to_string(id.sectorSize) + " bytes)");
  std::string volume = id.volume.name.empty() ? std::string("(no name)") : printable(id.volume.name);
  if (!id.volume.created.empty()) volume += ", created " + id.volume.created;
  out += field("Volume", volume);
  if (id.psp) {
    for (const char* key : {"DISC_ID", "TITLE", "PSP_SYSTEM_VER"})
      out += field(key, printable(id.sfo.text(key)));
    for (const char* key : {"REGION", "PARENTAL_LEVEL"}) {
      auto it = id.sfo.numbers.find(key);
      out += field(key, it == id.sfo.numbers.end() ? std::string() : number(it->second));
    }
  }
  if (id.psp || id.icon0 || id.pic1) {
    out += field("ICON0.PNG", id.icon0 ? "yes, " + describeSize(*id.icon0) : std::string("no"));
    out += field("PIC1.PNG", id.pic1 ? "yes, " + describeSize(*id.pic1) : std::string("no"));
  }
  if (!id.serial.empty()) out += field("Serial", id.serial + " (SYSTEM.CNF)");
  if (!id.psp && id.serial.empty()) out += field("Game", "none found (no PSP_GAME/PARAM.SFO, no serial in SYSTEM.CNF)");
  for (size_t k = 0; k < id.tracks.size(); ++k) {
    const DiscTrack& t = id.tracks[k];
    char line[96];
    std::snprintf(line, sizeof line, "%02u  %-10s  starts %s  length %s (%u sectors)", t.number, modeName(t.mode),
                  cdrom::msfText(t.start).c_str(), cdrom::msfText(t.end - t.begin).c_str(), t.end - t.begin);
    out += k == 0 ? field("Tracks", line) : std::string(18, ' ') + line + "\n";
  }
  for (const std::string& p : id.problems)
    out += field("Problem", printable(p));
  return out;
}

std::string identityJson(const std::string& path, const DiscIdentity& id) {
  auto num = [](uint64_t v) { return std::to_string(v); };
  auto optNumber = [&](const char* key) {
    auto it = id.sfo.numbers.find(key);
    return it == id.sfo.numbers.end() ? std::string("null") : num(it->second);
  };
  std::string out = "{\"file\": " + jsonString(path) + ", \"format\": " + jsonString(id.format) +
                    ", \"compressed\": " + (id.compressed ? "true" : "false") +
                    ", \"blockSize\": " + num(id.blockSize) + ", \"sectorSize\": " + num(id.sectorSize) +
                    ", \"fileSize\": " + num(id.fileSize) + ", \"imageSize\": " + num(id.imageSize);
  out += ", \"volume\": {\"name\": " + jsonString(id.volume.name) + ", \"created\": " + jsonOr(id.volume.created) +
         ", \"sectors\": " + num(id.volume.sectors) + ", \"system\": " + jsonString(id.volume.system) +
         ", \"publisher\": " + jsonString(id.volume.publisher) +
         ", \"application\": " + jsonString(id.volume.application) + "}";
  out += ", \"discId\": " + jsonOr(id.sfo.text("DISC_ID")) + ", \"title\": " + jsonOr(id.sfo.text("TITLE")) +
         ", \"systemVersion\": " + jsonOr(id.sfo.text("PSP_SYSTEM_VER")) + ", \"region\": " + optNumber("REGION") +
         ", \"parentalLevel\": " + optNumber("PARENTAL_LEVEL");
  out += std::string(", \"icon0\": ") + (id.icon0 ? "true" : "false") + ", \"pic1\": " + (id.pic1 ? "true" : "false");
  out += ", \"serial\": " + jsonOr(id.serial);
  out += ", \"sfo\": ";
  if (!id.psp) {
    out += "null";
  } else {
    // Every key as the disc holds it, for scripts that want more than the fields above.
    std::string keys;
    for (const auto& [k, v] : id.sfo.strings)
      keys += (keys.empty() ? "" : ", ") + jsonString(k) + ": " + jsonString(v);
    for (const auto& [k, v] : id.sfo.numbers)
      keys += (keys.empty() ? "" : ", ") + jsonString(k) + ": " + num(v);
    out += "{" + keys + "}";
  }
  out += ", \"tracks\": [";
  for (size_t k = 0; k < id.tracks.size(); ++k) {
    const DiscTrack& t = id.tracks[k];
    out += std::string(k ? ", " : "") + "{\"number\": " + num(t.number) + ", \"mode\": " + jsonString(modeName(t.mode)) +
           ", \"start\": " + num(t.start) + ", \"sectors\": " + num(t.end - t.begin) + "}";
  }
  out += "], \"problems\": [";
  for (size_t k = 0; k < id.problems.size(); ++k)
    out += (k ? ", " : "") + jsonString(id.problems[k]);
  return out + "]}";
}

std::string failureJson(const std::string& path, const std::string& error) {
  return "{\"file\": " + jsonString(path) + ", \"error\": " + jsonString(error) + "}";
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      ++i;
    } else if (c < 0x80) {
      out += char(c);
      ++i;
    } else {
      // A whole, shortest-form UTF-8 sequence goes through as it is; anything else is replaced.
      const size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
      bool ok = len > 0 && i + len <= n;
      for (size_t k = 1; ok && k < len; ++k)
        ok = (p[i + k] & 0xC0) == 0x80;
      if (ok && len == 3) ok = !(c == 0xE0 && p[i + 1] < 0xA0) && !(c == 0xED && p[i + 1] >= 0xA0);
      if (ok && len == 4) ok = !(c == 0xF0 && p[i + 1] < 0x90) && !(c == 0xF4 && p[i + 1] >= 0x90);
      if (ok) {
        out.append(text, i, len);
        i += len;
      } else {
        out += "\\ufffd";
        ++i;
      }
    }
  }
  return out + "\"";
}

int printIdentities(const char* tool, const std::vector<std::string>& paths, bool json) {
  int status = 0;
  std::string array;
  for (const std::string& path : paths) {
    try {
      const DiscIdentity id = identifyFile(path);
      if (json)
        array += (array.empty() ? "  " : ",\n  ") + identityJson(path, id);
      else
        std::printf("%s%s", status || &path != &paths.front() ? "\n" : "", describeIdentity(path, id).c_str());
    } catch (const ToolError& e) {
      if (json) array += (array.empty() ? "  " : ",\n  ") + failureJson(path, e.what());
      // Most messages of opening a file name it already.
      std::fflush(stdout);
      const bool named = std::strstr(e.what(), ("'" + path + "'").c_str()) != nullptr;
      std::fprintf(stderr, "%s: error: %s%s\n", tool, named ? "" : ("'" + path + "': ").c_str(), e.what());
      status = 2;
    }
  }
  if (json) std::printf("[\n%s\n]\n", array.c_str());
  return status;
}

} // namespace kivo

#include "ccd.h"

#include "cdrom.h"
#include "cue.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

namespace kivo {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
  for (char& c : s)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// A decimal number (CloneCD writes LBAs so, negative before the disc) or 0x and hex digits.
bool number(const std::string& text, int64_t& value) {
  std::string t = lower(text);
  bool negative = false, hex = false;
  size_t at = 0;
  if (t.compare(0, 2, "0x") == 0) {
    hex = true;
    at = 2;
  } else if (!t.empty() && t[0] == '-') {
    negative = true;
    at = 1;
  }
  if (at >= t.size() || t.size() - at > 9) return false;
  int64_t v = 0;
  for (; at < t.size(); ++at) {
    const char c = t[at];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    v = v * (hex ? 16 : 10) + digit;
  }
  value = negative ? -v : v;
  return true;
}

} // namespace

std::vector<CcdTrack> parseCcd(const std::string& text) {
  std::map<unsigned, CcdTrack> fromTracks, fromEntries;
  std::string section;
  unsigned lineNo = 0, trackNo = 0;
  bool sawCloneCd = false;
  int64_t entryPoint = -1, entryControl = -1, entryLba = INT64_MIN;
  auto bad = [&](const std::string& why) { return ToolError("line " + std::to_string(lineNo) + ": " + why); };
  // An [Entry] is complete when the next section starts: a track's entry gives its start.
  auto closeEntry = [&] {
    if (section.compare(0, 6, "entry ") == 0 && entryPoint >= 1 && entryPoint <= 99 && entryLba != INT64_MIN) {
      CcdTrack t;
      t.number = unsigned(entryPoint);
      t.mode = entryControl >= 0 && (entryControl & 4) ? TrackMode::Mode2 : TrackMode::Audio;
      t.index1 = entryLba;
      fromEntries[t.number] = t;
    }
    entryPoint = entryControl = -1;
    entryLba = INT64_MIN;
  };
  for (const std::string& raw : textLines(text)) {
    ++lineNo;
    if (raw.find('\0') != std::string::npos) throw bad("not text");
    const std::string line = trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') throw bad("a section name is not closed");
      closeEntry();
      section = lower(trim(line.substr(1, line.size() - 2)));
      sawCloneCd = sawCloneCd || section == "clonecd";
      trackNo = 0;
      if (section.compare(0, 6, "track ") == 0) {
        int64_t n;
        if (!number(trim(section.substr(6)), n) || n < 1 || n > 99) throw bad("track number must be 1 to 99");
        trackNo = unsigned(n);
        if (fromTracks.count(trackNo)) throw bad("track " + std::to_string(trackNo) + " is described twice");
        fromTracks[trackNo].number = trackNo;
      }
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) throw bad("expected KEY=VALUE");
    const std::string key = lower(trim(line.substr(0, eq))), value = trim(line.substr(eq + 1));
    int64_t v = 0;
    const bool numeric = number(value, v);
    if (trackNo) {
      CcdTrack& t = fromTracks[trackNo];
      if (key == "mode") {
        if (!numeric || v < 0 || v > 2) throw bad("MODE must be 0 (audio), 1 or 2");
        t.mode = v == 0 ? TrackMode::Audio : v == 1 ? TrackMode::Mode1 : TrackMode::Mode2;
        t.modeKnown = true;
      } else if (key.compare(0, 6, "index ") == 0) {
        int64_t n;
        if (!number(trim(key.substr(6)), n) || !numeric || v < 0 || v > 0x7FFFFFFF)
          throw bad("INDEX needs a number and a sector");
        if (n == 0) t.index0 = v;
        if (n == 1) t.index1 = v;
      }
    } else if (section.compare(0, 6, "entry ") == 0 && numeric) {
      if (key == "point") entryPoint = v;
      if (key == "control") entryControl = v;
      if (key == "plba") entryLba = v;
    }
    // Other keys (the disc's sessions, CD-Text, the lead-in entries) say nothing of the layout.
  }
  closeEntry();
  if (!sawCloneCd) throw ToolError("no [CloneCD] section: not a CloneCD sheet");
  const auto& chosen = fromTracks.empty() ? fromEntries : fromTracks;
  if (chosen.empty()) throw ToolError("the sheet describes no track");
  std::vector<CcdTrack> out;
  for (const auto& [n, t] : chosen) {
    if (t.index1 < 0) throw ToolError("track " + std::to_string(n) + " has no INDEX 1");
    if (!out.empty() && n != out.back().number + 1)
      throw ToolError("track " + std::to_string(out.back().number + 1) + " is missing");
    if (!out.empty() && t.index1 <= out.back().index1)
      throw ToolError("track " + std::to_string(n) + " starts before the track ahead of it");
    if (t.index0 > t.index1) throw ToolError("track " + std::to_string(n) + ": INDEX 0 lies after INDEX 1");
    out.push_back(t);
  }
  return out;
}

std::vector<DiscTrack> layoutCcd(const std::vector<CcdTrack>& tracks, uint32_t sectors) {
  std::vector<DiscTrack> out;
  for (size_t k = 0; k < tracks.size(); ++k) {
    const CcdTrack& c = tracks[k];
    DiscTrack t;
    t.number = c.number;
    t.mode = c.mode;
    t.start = uint32_t(c.index1);
    t.begin = k == 0 ? 0 : uint32_t(c.index0 >= 0 ? c.index0 : c.index1);
    if (k > 0 && t.begin <= out.back().start)
      throw ToolError("track " + std::to_string(c.number) + "'s pregap reaches into the track ahead of it");
    if (c.index1 >= int64_t(sectors))
      throw ToolError("track " + std::to_string(c.number) + " starts at sector " + std::to_string(c.index1) +
                      ", past the image's " + std::to_string(sectors) + " sectors");
    if (k > 0) out.back().end = t.begin;
    t.end = sectors;
    out.push_back(t);
  }
  if (out.empty()) throw ToolError("the sheet describes no track");
  if (out.front().mode == TrackMode::Audio) throw ToolError("track 1 is an audio track; a PS1 disc starts with its data track");
  return out;
}

std::string siblingFile(const std::string& path, const std::string& extension) {
  const fs::path p(path);
  const std::string found = findBeside(p.parent_path(), p.stem().string() + extension);
  std::error_code ec;
  return fs::is_regular_file(found, ec) ? found : std::string();
}

CcdDisc::CcdDisc(const std::string& ccdPath) {
  std::vector<CcdTrack> sheet;
  try {
    sheet = parseCcd(readTextFile(ccdPath));
  } catch (const ToolError& e) {
    throw ToolError("'" + ccdPath + "': " + e.what());
  }
  imagePath_ = siblingFile(ccdPath, ".img");
  if (imagePath_.empty())
    throw ToolError("'" + ccdPath + "': its image " + fs::path(ccdPath).stem().string() + ".img is not beside it");
  image_ = openRegularFile(imagePath_);
  const uint64_t size = image_->size();
  if (size == 0 || size % cdrom::kRawSector != 0)
    throw ToolError("'" + imagePath_ + "' is not a whole number of 2352-byte sectors");
  if (size / cdrom::kRawSector > 0x7FFFFFFF / cdrom::kRawSector) throw ToolError("'" + imagePath_ + "' is far too large");
  sectors_ = uint32_t(size / cdrom::kRawSector);
  try {
    tracks_ = layoutCcd(sheet, sectors_);
  } catch (const ToolError& e) {
    throw ToolError("'" + ccdPath + "': " + e.what());
  }
  // A table of contents says only "data"; the sector's own mode byte tells Mode 1 from Mode 2.
  for (size_t k = 0; k < tracks_.size(); ++k) {
    if (sheet[k].modeKnown || tracks_[k].mode == TrackMode::Audio) continue;
    uint8_t raw[cdrom::kRawSector];
    readRaw(tracks_[k].start, 1, raw);
    if (cdrom::hasSync(raw) && raw[15] == 1) tracks_[k].mode = TrackMode::Mode1;
  }
  subPath_ = siblingFile(ccdPath, ".sub");
}

void CcdDisc::readRaw(uint32_t first, uint32_t count, uint8_t* out) const {
  if (first > sectors_ || count > sectors_ - first) throw ToolError("internal error: sector outside the disc");
  image_->readAt(uint64_t(first) * cdrom::kRawSector, out, size_t(count) * cdrom::kRawSector);
}

} // namespace kivo

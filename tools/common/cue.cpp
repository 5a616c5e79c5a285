#include "cue.h"

#include "cdrom.h"
#include "io.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace kivo {

namespace {

std::string upper(std::string s) {
  for (char& c : s)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Splits a line into words; a word in double quotes may hold blanks.
std::vector<std::string> words(const std::string& line, unsigned lineNo) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) throw ToolError("line " + std::to_string(lineNo) + ": a quote is not closed");
      out.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = i;
      while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end])))
        ++end;
      out.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return out;
}

bool number(const std::string& text, unsigned max, unsigned& value) {
  if (text.empty() || text.size() > 6) return false;
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + unsigned(c - '0');
  }
  if (v > max) return false;
  value = v;
  return true;
}

// mm:ss:ff, in sectors.
bool position(const std::string& text, uint32_t& sectors) {
  size_t a = text.find(':'), b = a == std::string::npos ? a : text.find(':', a + 1);
  if (b == std::string::npos || text.find(':', b + 1) != std::string::npos) return false;
  unsigned m, s, f;
  if (!number(text.substr(0, a), 9999, m) || !number(text.substr(a + 1, b - a - 1), 59, s) ||
      !number(text.substr(b + 1), cdrom::kFramesPerSecond - 1, f))
    return false;
  sectors = (m * 60 + s) * cdrom::kFramesPerSecond + f;
  return true;
}

} // namespace

const char* modeName(TrackMode mode) {
  switch (mode) {
  case TrackMode::Audio: return "AUDIO";
  case TrackMode::Mode1: return "MODE1/2352";
  case TrackMode::Mode2: return "MODE2/2352";
  }
  return "";
}

std::vector<std::string> textLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    at = end + 1;
  }
  return lines;
}

CueSheet parseCue(const std::string& text) {
  CueSheet sheet;
  unsigned lineNo = 0;
  for (const std::string& line : textLines(text)) {
    ++lineNo;
    if (line.find('\0') != std::string::npos) throw ToolError("line " + std::to_string(lineNo) + ": not text");
    std::vector<std::string> w = words(line, lineNo);
    if (w.empty()) continue;
    auto bad = [&](const std::string& why) { return ToolError("line " + std::to_string(lineNo) + ": " + why); };
    const std::string cmd = upper(w[0]);
    if (cmd == "FILE") {
      if (w.size() != 3) throw bad("FILE needs a name and a type");
      const std::string type = upper(w[2]);
      if (type != "BINARY" && type != "MOTOROLA")
        throw bad("only BINARY and MOTOROLA files are supported, not " + w[2]);
      if (w[1].empty()) throw bad("FILE has an empty name");
      CueFile f;
      f.name = w[1];
      f.bigEndianAudio = type == "MOTOROLA";
      f.line = lineNo;
      sheet.files.push_back(f);
    } else if (cmd == "TRACK") {
      if (sheet.files.empty()) throw bad("TRACK before any FILE");
      if (w.size() != 3) throw bad("TRACK needs a number and a mode");
      CueTrack t;
      if (!number(w[1], 99, t.number) || t.number == 0) throw bad("track number must be 1 to 99");
      const std::string mode = upper(w[2]);
      if (mode == "AUDIO") {
        t.mode = TrackMode::Audio;
      } else if (mode == "MODE1/2352") {
        t.mode = TrackMode::Mode1;
      } else if (mode == "MODE2/2352") {
        t.mode = TrackMode::Mode2;
      } else if (mode == "MODE2/2336") {
        t.sectorSize = 2336;
      } else if (mode == "MODE1/2048") {
        t.sectorSize = 2048; // a PS1 data track without its sector heads: wrapped like an ISO
      } else {
        throw bad("unsupported track mode " + w[2]);
      }
      t.line = lineNo;
      sheet.files.back().tracks.push_back(t);
    } else if (cmd == "INDEX" || cmd == "PREGAP" || cmd == "POSTGAP") {
      if (sheet.files.empty() || sheet.files.back().tracks.empty()) throw bad(cmd + " before any TRACK");
      CueTrack& t = sheet.files.back().tracks.back();
      if (cmd == "INDEX") {
        unsigned n;
        uint32_t pos;
        if (w.size() != 3 || !number(w[1], 99, n) || !position(w[2], pos))
          throw bad("INDEX needs a number and a position mm:ss:ff");
        if (!t.indexes.empty() && (n <= t.indexes.back().first || pos < t.indexes.back().second))
          throw bad("indexes must rise");
        t.indexes.emplace_back(n, pos);
      } else {
        uint32_t len;
        if (w.size() != 2 || !position(w[1], len)) throw bad(cmd + " needs a length mm:ss:ff");
        (cmd == "PREGAP" ? t.pregap : t.postgap) = len;
      }
    }
    // REM, TITLE, PERFORMER, FLAGS, ISRC, CATALOG and the like say nothing about the layout.
  }
  if (sheet.files.empty()) throw ToolError("the sheet names no FILE");
  unsigned expect = 1;
  for (const CueFile& f : sheet.files) {
    if (f.tracks.empty()) throw ToolError("line " + std::to_string(f.line) + ": FILE without a TRACK");
    for (const CueTrack& t : f.tracks) {
      if (t.number != expect)
        throw ToolError("line " + std::to_string(t.line) + ": tracks must be numbered 1, 2, 3... in order");
      ++expect;
      auto one = std::find_if(t.indexes.begin(), t.indexes.end(), [](auto& i) { return i.first == 1; });
      if (one == t.indexes.end()) throw ToolError("line " + std::to_string(t.line) + ": track has no INDEX 01");
    }
  }
  return sheet;
}

std::string formatCue(const CueSheet& sheet) {
  std::string out;
  char buf[64];
  for (const CueFile& f : sheet.files) {
    out += "FILE \"" + f.name + "\" BINARY\r\n";
    for (const CueTrack& t : f.tracks) {
      std::snprintf(buf, sizeof buf, "  TRACK %02u %s\r\n", t.number, modeName(t.mode));
      out += buf;
      for (auto& [n, pos] : t.indexes) {
        std::snprintf(buf, sizeof buf, "    INDEX %02u %s\r\n", n, cdrom::msfText(pos).c_str());
        out += buf;
      }
    }
  }
  return out;
}

std::vector<std::string> parsePlaylist(const std::string& text) {
  std::vector<std::string> entries;
  for (const std::string& line : textLines(text)) {
    if (line.find('\0') != std::string::npos) throw ToolError("the playlist is not text");
    size_t b = line.find_first_not_of(" \t"), e = line.find_last_not_of(" \t");
    if (b == std::string::npos || line[b] == '#') continue;
    entries.push_back(line.substr(b, e - b + 1));
  }
  return entries;
}

} // namespace kivo

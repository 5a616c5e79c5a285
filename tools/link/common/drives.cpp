#include "drives.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace kivo::psplink {

namespace {

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

bool parseLine(const std::string& line, DriveMap& map) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  const std::string letter = trim(line.substr(0, eq));
  std::string folder = trim(line.substr(eq + 1));
  if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0])) || folder.empty()) return false;
  if (folder[0] == '~' && (folder.size() == 1 || folder[1] == '/')) folder = homeFolder() + folder.substr(1);
  map[char(std::toupper(static_cast<unsigned char>(letter[0])))] = folder;
  return true;
}

}  // namespace

DriveMap parseDriveMap(const std::string& text, std::string* problems) {
  DriveMap map;
  size_t start = 0;
  int number = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++number;
    std::string line = text.substr(start, end - start);
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    line = trim(line);
    if (!line.empty() && !parseLine(line, map) && problems)
      *problems += "line " + std::to_string(number) + " is not of the form LETTER=FOLDER\n";
    start = end + 1;
  }
  return map;
}

bool parseDriveOption(const std::string& option, DriveMap& map) { return parseLine(option, map); }

std::string driveMapFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string base = config && *config == '/' ? std::string(config) : homeFolder() + "/.config";
  return base + "/kivo/drives";
}

DriveMap userDriveMap(std::string* problems) {
  DriveMap map{{'C', homeFolder()}};
  std::ifstream in(driveMapFile(), std::ios::binary);
  if (!in) return map;
  // A drive list is a few lines; more than this is not one.
  std::string text(64 * 1024, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(size_t(in.gcount()));
  for (const auto& [letter, folder] : parseDriveMap(text, problems)) map[letter] = folder;
  return map;
}

std::string hostFolder(const std::string& typed, const DriveMap& drives, std::string& why) {
  static const std::string prefix = "/cygdrive/";
  if (typed.compare(0, prefix.size(), prefix) != 0 || typed.size() == prefix.size() ||
      !std::isalpha(static_cast<unsigned char>(typed[prefix.size()])) ||
      (typed.size() > prefix.size() + 1 && typed[prefix.size() + 1] != '/' && typed[prefix.size() + 1] != '\\'))
    return typed;
  const char letter = char(std::toupper(static_cast<unsigned char>(typed[prefix.size()])));
  const auto it = drives.find(letter);
  if (it == drives.end()) {
    why = std::string("no folder stands for drive ") + letter + ": (add a line \"" + letter +
          "=FOLDER\" to " + driveMapFile() + ", or give --drive " + letter + "=FOLDER)";
    return {};
  }
  std::string rest = typed.size() > prefix.size() + 2 ? typed.substr(prefix.size() + 2) : std::string();
  for (char& c : rest)
    if (c == '\\') c = '/';
  std::string folder = it->second;
  if (!rest.empty()) {
    if (folder.back() != '/') folder += '/';
    folder += rest;
  }
  return folder;
}

}  // namespace kivo::psplink

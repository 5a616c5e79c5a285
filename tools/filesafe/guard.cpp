#include "guard.h"

#include "temporary.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace kivo::filesafe {

namespace {

std::string realPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string s = real;
  std::free(real);
  return s;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  if (a.st_dev == b.st_dev && a.st_ino == b.st_ino) return true;
  // One disc drive reached through two device nodes is still one disc.
  return S_ISBLK(a.st_mode) && S_ISBLK(b.st_mode) && a.st_rdev == b.st_rdev;
}

// Kivo starts "x.exe" as x when only x exists, and runs .cmd and .bat files whatever their
// permission bits: a file of such a name in the tool folder would be started like a tool.
bool toolName(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  for (char& c : ext)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".exe" || ext == ".cmd" || ext == ".bat";
}

bool program(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0111); }

// The path this program was started by: the first word of its command line, looked up on PATH
// when it names no folder, as the shell did.
std::string startedAs() {
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  std::string argv0;
  std::getline(cmdline, argv0, '\0');
  if (argv0.empty() || argv0.find('/') != std::string::npos) return argv0;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > at ? dirs.substr(at, end - at) : ".";
    const std::string candidate = dir + "/" + argv0;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && program(st)) return candidate;
    at = end + 1;
  }
  return {};
}

} // namespace

std::string ownFolder() {
  const std::string self = realPath("/proc/self/exe");
  return self.empty() ? std::string() : folderOf(self);
}

const std::vector<std::string>& toolFolders() {
  static const std::vector<std::string> folders = [] {
    std::vector<std::string> found;
    for (const std::string& f : {ownFolder(), std::string(realPath(folderOf(startedAs())))})
      if (!f.empty() && std::find(found.begin(), found.end(), f) == found.end()) found.push_back(f);
    return found;
  }();
  return folders;
}

void Guard::addInput(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;
  inputs_.push_back(st);
  inputNames_.push_back(path);
}

void Guard::addInput(const struct stat& info) {
  inputs_.push_back(info);
  inputNames_.emplace_back();
}

Refusal Guard::check(const std::string& path, const struct stat* existing) const {
  what_.clear();
  if (existing) {
    for (size_t i = 0; i < inputs_.size(); ++i)
      if (sameFile(*existing, inputs_[i])) {
        what_ = inputNames_[i];
        return Refusal::IsInput;
      }
    struct stat self {};
    if (::stat("/proc/self/exe", &self) == 0 && sameFile(self, *existing)) {
      what_ = nameOf(realPath("/proc/self/exe"));
      return Refusal::IsTool;
    }
  }
  // Where the file would really be written: through links, and through ".." in the path.
  std::string real = existing ? realPath(path) : std::string();
  if (!existing) {
    const std::string folder = realPath(folderOf(path));
    if (!folder.empty()) real = (folder == "/" ? "" : folder) + "/" + nameOf(path);
  }
  for (const std::string& folder : folders_) {
    if (!real.empty() && folderOf(real) == folder && ((existing && program(*existing)) || toolName(nameOf(real)))) {
      what_ = nameOf(real);
      return Refusal::IsTool;
    }
    if (!existing) continue;
    // A program of the folder reached under another name: a link to it, or a hard link.
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) continue;
    while (const dirent* e = ::readdir(dir)) {
      struct stat st {};
      if (::fstatat(::dirfd(dir), e->d_name, &st, 0) != 0 || !program(st) || !sameFile(st, *existing)) continue;
      what_ = e->d_name;
      break;
    }
    ::closedir(dir);
    if (!what_.empty()) return Refusal::IsTool;
  }
  return Refusal::None;
}

} // namespace kivo::filesafe

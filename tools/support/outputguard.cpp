#include "outputguard.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string ownProgram() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, size_t(n));
}

} // namespace

std::string programFolder() {
  std::string exe = ownProgram();
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash ? slash : 1);
}

std::string outputHazard(const std::string& output, const std::vector<std::string>& inputs) {
  struct stat out {};
  // stat follows links: what counts is the file that would be replaced or written.
  if (::stat(output.c_str(), &out) != 0) return {};
  for (const std::string& in : inputs) {
    struct stat st {};
    if (::stat(in.c_str(), &st) == 0 && sameFile(st, out))
      return "the output '" + output + "' is the input file '" + in + "' (under another name)";
  }
  struct stat self {};
  const std::string exe = ownProgram();
  if (!exe.empty() && ::stat(exe.c_str(), &self) == 0 && sameFile(self, out))
    return "the output '" + output + "' is this program's own file";
  // Any program beside this one: a name that reaches one (a link, "../bin/x") must not replace it.
  const std::string folder = programFolder();
  DIR* dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
  if (!dir) return {};
  std::string hazard;
  while (const dirent* e = ::readdir(dir)) {
    const std::string path = folder + "/" + e->d_name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !(st.st_mode & 0111)) continue;
    if (sameFile(st, out)) {
      hazard = "the output '" + output + "' is the program '" + e->d_name + "' of the tool folder";
      break;
    }
  }
  ::closedir(dir);
  return hazard;
}

} // namespace kivo

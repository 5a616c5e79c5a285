#include "support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace kivo::test {

std::vector<uint8_t> mixedBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size);
  static const char text[] = "The quick brown fox jumps over the lazy dog. ";
  while (out.size() < size) {
    size_t run = 1 + rng() % 20000;
    switch (rng() % 4) {
    case 0:
      out.insert(out.end(), run, 0);
      break;
    case 1:
      for (size_t i = 0; i < run; ++i)
        out.push_back(uint8_t(text[i % (sizeof text - 1)]));
      break;
    case 2:
      for (size_t i = 0; i < run; ++i)
        out.push_back(uint8_t(rng()));
      break;
    default:
      for (size_t i = 0; i < run; ++i)
        out.push_back(uint8_t(i / 16 + (i % 16) * 7));
      break;
    }
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> isoImage(uint32_t sectors, uint32_t volumeSectors, uint32_t seed) {
  std::vector<uint8_t> iso = mixedBytes(size_t(sectors) * 2048, seed);
  if (sectors > 16) {
    uint8_t* pvd = &iso[16 * 2048];
    std::fill(pvd, pvd + 2048, 0);
    pvd[0] = 1;
    std::copy_n("CD001", 5, pvd + 1);
    for (int i = 0; i < 4; ++i)
      pvd[80 + i] = uint8_t(volumeSectors >> (8 * i));
  }
  return iso;
}

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "kivo-tools-XXXXXX").string();
  if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

ToolRun runTool(const std::string& tool, const std::vector<std::string>& args,
                const std::filesystem::path& cwd) {
  std::string program = std::string(KIVO_TOOL_DIR) + "/" + tool;
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    ::close(fds[1]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copy = args;
    for (auto& a : copy)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  ToolRun run{-1, {}};
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
    run.output.append(buf, size_t(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

} // namespace kivo::test

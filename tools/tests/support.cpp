#include "support.h"

#include "cdrom.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kivo::test {

namespace {

// In a forked child: becomes the program, or exits 127.
[[noreturn]] void execTool(std::string program, std::vector<std::string> args) {
  std::vector<char*> argv{program.data()};
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

} // namespace

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

std::vector<uint8_t> discBytes(size_t size, uint32_t seed) {
  return asDisc(mixedBytes(size, seed));
}

std::vector<uint8_t> asDisc(std::vector<uint8_t> bytes) {
  if (bytes.size() >= 17 * 2048) std::copy_n("\x01" "CD001", 6, &bytes[16 * 2048]);
  return bytes;
}

std::vector<uint8_t> textHeavyBytes(size_t size, uint32_t seed) {
  static const char* const words[] = {"the", "level", "enemy", "score", "player", "map", "door", "key",
                                      "sword", "castle", "return", "value", "static", "void", "int"};
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 64);
  while (out.size() < size) {
    if (out.size() / 2048 % 3 == 2) {
      out.push_back(uint8_t(32 + rng() % 90));
      continue;
    }
    const char* w = words[rng() % (sizeof words / sizeof words[0])];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    if (rng() % 6 == 0)
      for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t('0' + rng() % 10));
    out.push_back(rng() % 9 == 0 ? '\n' : ' ');
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

std::vector<uint8_t> rawImage(const std::vector<uint8_t>& iso) {
  std::vector<uint8_t> raw(iso.size() / 2048 * 2352);
  for (size_t s = 0; s < iso.size() / 2048; ++s)
    cdrom::makeMode2Form1(&raw[s * 2352], &iso[s * 2048], uint32_t(s));
  return raw;
}

std::vector<uint8_t> gameIso(uint32_t sectors, const std::string& bootFile, uint32_t seed) {
  std::vector<uint8_t> iso = isoImage(sectors, sectors, seed);
  auto put32 = [](uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      p[i] = uint8_t(v >> (8 * i));
  };
  const std::string cnf = "BOOT = cdrom:\\" + bootFile + ";1\r\nTCB = 4\r\nEVENT = 10\r\n";
  // Root folder in sector 18: ".", ".." and SYSTEM.CNF;1 in sector 19.
  uint8_t* root = &iso[18 * 2048];
  std::fill(root, root + 2048, 0);
  size_t at = 0;
  auto record = [&](const std::string& name, uint32_t extent, uint32_t size, bool folder) {
    uint8_t* r = root + at;
    const size_t len = (33 + name.size() + 1) & ~size_t(1);
    r[0] = uint8_t(len);
    put32(r + 2, extent);
    put32(r + 10, size);
    r[25] = folder ? 2 : 0;
    r[32] = uint8_t(name.size());
    std::copy(name.begin(), name.end(), r + 33);
    at += len;
  };
  record(std::string(1, '\0'), 18, 2048, true);
  record(std::string(1, '\1'), 18, 2048, true);
  record("SYSTEM.CNF;1", 19, uint32_t(cnf.size()), false);
  std::fill(&iso[19 * 2048], &iso[20 * 2048], 0);
  std::copy(cnf.begin(), cnf.end(), &iso[19 * 2048]);
  uint8_t* pvd = &iso[16 * 2048];
  put32(pvd + 156 + 2, 18);
  put32(pvd + 156 + 10, 2048);
  pvd[156] = 34;
  return iso;
}

void writeText(const std::filesystem::path& path, const std::string& text) {
  writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
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

ToolRun runTool(const std::string& tool, const std::vector<std::string>& args, const std::filesystem::path& cwd,
                const RunOptions& options) {
  std::string program = (options.toolDir / tool).string();
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    ::close(fds[1]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    if (options.fileSizeLimit) {
      ::signal(SIGXFSZ, SIG_IGN); // stays ignored across exec
      struct rlimit lim {};
      lim.rlim_cur = lim.rlim_max = options.fileSizeLimit;
      ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    for (const std::string& e : options.env)
      ::putenv(const_cast<char*>(e.c_str()));
    ::alarm(options.timeoutSeconds); // a pending alarm survives exec
    execTool(program, args);
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

int startTool(const std::string& tool, const std::vector<std::string>& args, const std::filesystem::path& cwd) {
  std::string program = std::string(KIVO_TOOL_DIR) + "/" + tool;
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    execTool(program, args);
  }
  return pid;
}

bool hasPartFiles(const std::filesystem::path& dir) {
  for (auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.path().filename().string().find(".part") != std::string::npos) return true;
  return false;
}

SmallDisk::SmallDisk(size_t size) : bytes(size) {
  std::string templ = (std::filesystem::temp_directory_path() / "kivo-disk-XXXXXX").string();
  if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path = templ;
  const std::string opts = "size=" + std::to_string(size) + ",mode=0755";
  mounted = ::geteuid() == 0 && ::mount("tmpfs", path.c_str(), "tmpfs", 0, opts.c_str()) == 0;
  if (!mounted)
    std::fprintf(stderr, "note: no tmpfs could be mounted (not root?); a file size limit stands in for a full disk\n");
}

SmallDisk::~SmallDisk() {
  if (mounted) ::umount2(path.c_str(), MNT_DETACH);
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

RunOptions SmallDisk::options() const {
  RunOptions o;
  if (!mounted) o.fileSizeLimit = bytes;
  return o;
}

ToolFolderCopy::ToolFolderCopy(const std::vector<std::string>& tools) : bin(dir / "bin") {
  std::filesystem::create_directory(bin);
  for (const std::string& t : tools)
    std::filesystem::copy_file(std::filesystem::path(KIVO_TOOL_DIR) / t, bin / t);
}

} // namespace kivo::test

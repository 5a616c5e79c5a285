// Test helpers: sample images, temporary folders and running the shipped programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kivo::test {

/// Runs of zeros, text, random bytes and repeated records, so that some blocks compress
/// well, some not at all.
std::vector<uint8_t> mixedBytes(size_t size, uint32_t seed = 1);

/// mixedBytes with an ISO 9660 volume descriptor in sector 16, so that the converters take the
/// bytes for a disc image (size: at least 17 sectors).
std::vector<uint8_t> discBytes(size_t size, uint32_t seed = 1);

/// The same mark on bytes of any kind: the start of a volume descriptor in sector 16.
std::vector<uint8_t> asDisc(std::vector<uint8_t> bytes);

/// Text as disc images hold it: words, numbers and line ends, with some stretches of letters drawn
/// at random from a wide alphabet, which deflate encoders store as literals alone.
std::vector<uint8_t> textHeavyBytes(size_t size, uint32_t seed = 1);

/// A 2048-byte-sector ISO whose sector 16 holds a volume descriptor with the given size.
std::vector<uint8_t> isoImage(uint32_t sectors, uint32_t volumeSectors, uint32_t seed = 1);

/// The same ISO as raw Mode 2 Form 1 sectors from address 0, as a disc's data track holds it.
std::vector<uint8_t> rawImage(const std::vector<uint8_t>& iso);

/// An ISO whose root folder holds SYSTEM.CNF booting "cdrom:\\" + bootFile + ";1".
std::vector<uint8_t> gameIso(uint32_t sectors, const std::string& bootFile, uint32_t seed = 1);

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void writeText(const std::filesystem::path& path, const std::string& text);
std::vector<uint8_t> readFile(const std::filesystem::path& path);

struct TempDir {
  TempDir();
  ~TempDir();
  std::filesystem::path path;
  std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

struct ToolRun {
  int status;         // exit status, or -1 when killed by a signal
  std::string output; // stdout and stderr together
};

struct RunOptions {
  std::filesystem::path toolDir = KIVO_TOOL_DIR;
  uint64_t fileSizeLimit = 0; // RLIMIT_FSIZE for the tool, with SIGXFSZ ignored; 0: none
  unsigned timeoutSeconds = 120; // a tool that hangs is killed and reported as killed
  std::vector<std::string> env; // extra NAME=VALUE entries
};

/// Runs a program of the tool folder with cwd as its current folder.
ToolRun runTool(const std::string& tool, const std::vector<std::string>& args,
                const std::filesystem::path& cwd, const RunOptions& options = {});

/// Starts a program of the tool folder without waiting for it (its output is dropped).
int startTool(const std::string& tool, const std::vector<std::string>& args, const std::filesystem::path& cwd);

/// Whether the folder, or one inside it, holds a temporary file of the tools ("NAME.part<pid>-<n>").
bool hasPartFiles(const std::filesystem::path& dir);

/// A folder on a small file system that fills up: a tmpfs mounted for the test where that is
/// allowed (as root), otherwise an ordinary folder and a file size limit for the tools run in it.
struct SmallDisk {
  explicit SmallDisk(size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  /// Options that make runTool meet the same limit.
  RunOptions options() const;
  std::filesystem::path path;
  bool mounted = false;
  size_t bytes;
};

/// A copy of the named programs in a tool folder of their own, so that a test that tries to
/// write over a tool cannot damage the build's.
struct ToolFolderCopy {
  explicit ToolFolderCopy(const std::vector<std::string>& tools);
  TempDir dir;
  std::filesystem::path bin;
};

} // namespace kivo::test

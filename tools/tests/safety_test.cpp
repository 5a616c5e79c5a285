// The tools with the disk full, with inputs that are no files, with outputs that name their own
// input or a program of the tool folder, and killed midway: nothing the user had is lost.
#include "support.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kivo::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out)
    b = uint8_t(rng());
  return out;
}

bool saysDiskIsFull(const std::string& output) {
  return output.find("No space left on device") != std::string::npos ||
         output.find("File too large") != std::string::npos;
}

// The command line of each conversion writing `out`, reading the prepared inputs in `in`.
struct Job {
  std::string tool;
  std::vector<std::string> args;
};

} // namespace

TEST(Safety, AFullDiskKeepsTheOldOutputAndLeavesNoTemporary) {
  TempDir in;
  // Random bytes do not compress, so every output is about as large as the image.
  auto image = randomBytes(1 << 20, 5);
  std::copy_n("\x01" "CD001", 6, &image[16 * 2048]); // a disc's volume, or the tools refuse it
  writeFile(in / "a.iso", image);
  ASSERT_EQ(runTool("ciso", {"9", "a.iso", "a.cso"}, in.path).status, 0);
  ASSERT_EQ(runTool("dax", {"-l1", "a.iso", "a.dax"}, in.path).status, 0);
  const std::string a = (in / "a").string();
  const std::vector<Job> jobs = {
      {"ciso", {"9", a + ".iso", "out"}}, {"ciso", {"0", a + ".cso", "out"}},
      {"dax", {"-l9", a + ".iso", "out"}}, {"dax", {"-d", a + ".dax", "out"}},
      {"psx", {"Title", "SCUS00001", "9", a + ".iso"}}};
  for (const Job& job : jobs) {
    SmallDisk disk(256 * 1024);
    const std::string target = job.tool == "psx" ? "EBOOT.PBP" : "out";
    const std::vector<uint8_t> old(3000, 'o');
    writeFile(disk.path / target, old);
    ToolRun r = runTool(job.tool, job.args, disk.path, disk.options());
    SCOPED_TRACE(job.tool + " " + job.args[0] + (disk.mounted ? " on a full tmpfs" : " past a file size limit"));
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(saysDiskIsFull(r.output)) << r.output;
    EXPECT_EQ(readFile(disk.path / target), old);
    EXPECT_FALSE(hasPartFiles(disk.path));
  }
}

TEST(Safety, AReplacedOutputKeepsItsPermissionBits) {
  TempDir dir;
  writeFile(dir / "a.iso", discBytes(100000));
  for (mode_t mode : {0600, 0640, 0444}) {
    writeFile(dir / "a.cso", {1});
    fs::permissions(dir / "a.cso", fs::perms(mode));
    ASSERT_EQ(runTool("ciso", {"9", "a.iso", "a.cso"}, dir.path).status, 0);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "a.cso").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_GT(st.st_size, 1);
  }
}

TEST(Safety, InputsThatAreNotFilesAreRefusedAtOnce) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe.cso").c_str(), 0600), 0);
  fs::create_directory(dir / "folder.iso");
  RunOptions quick;
  quick.timeoutSeconds = 20; // a tool waiting on the pipe is killed and fails the test
  struct Case {
    std::string input, says;
  };
  for (const Case& c : {Case{"pipe.cso", "pipe"}, Case{"/dev/zero", "character device"},
                        Case{"folder.iso", "folder"}}) {
    for (const Job& job : {Job{"ciso", {"0", c.input, "out.iso"}}, Job{"ciso", {"9", c.input, "out.cso"}},
                           Job{"dax", {"-d", c.input, "out.iso"}}, Job{"psx", {"T", "SCUS00001", "1", c.input}}}) {
      ToolRun r = runTool(job.tool, job.args, dir.path, quick);
      EXPECT_EQ(r.status, 2) << job.tool << " " << c.input << ": " << r.output;
      EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
  }
  EXPECT_FALSE(fs::exists(dir / "out.iso"));
  EXPECT_FALSE(fs::exists(dir / "EBOOT.PBP"));
}

TEST(Safety, AToolNeverWritesIntoTheFileItReads) {
  TempDir dir;
  const auto iso = isoImage(100, 100);
  writeFile(dir / "a.iso", iso);
  fs::create_directory(dir / "sub");
  fs::create_symlink("../a.iso", dir / "sub" / "link.iso");
  fs::create_hard_link(dir / "a.iso", dir / "hard.iso");
  for (std::string out : {"a.iso", "./a.iso", "sub/../a.iso", "sub/link.iso", "hard.iso"}) {
    for (const Job& job : {Job{"ciso", {"9", "a.iso", out}}, Job{"dax", {"-l9", "a.iso", out}},
                           Job{"ciso", {"0", "a.iso", out}}}) {
      ToolRun r = runTool(job.tool, job.args, dir.path);
      EXPECT_EQ(r.status, 2) << job.tool << " -> " << out << ": " << r.output;
      EXPECT_NE(r.output.find("is the input file"), std::string::npos) << r.output;
    }
  }
  EXPECT_EQ(readFile(dir / "a.iso"), iso);
  EXPECT_TRUE(fs::is_symlink(dir / "sub" / "link.iso"));

  // psx always writes EBOOT.PBP: an image of that name is refused, not replaced.
  writeFile(dir / "EBOOT.PBP", iso);
  ToolRun r = runTool("psx", {"T", "SCUS00001", "9", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("is the input file"), std::string::npos) << r.output;
  EXPECT_EQ(readFile(dir / "EBOOT.PBP"), iso);
  EXPECT_FALSE(hasPartFiles(dir.path));
}

TEST(Safety, AToolNeverWritesOverAProgramOfItsFolder) {
  ToolFolderCopy tools({"ciso", "dax"});
  const auto ciso = readFile(tools.bin / "ciso"), dax = readFile(tools.bin / "dax");
  TempDir work;
  writeFile(work / "a.iso", discBytes(50000));
  fs::create_symlink(tools.bin / "dax", work / "game.cso");
  RunOptions from;
  from.toolDir = tools.bin;
  const std::string bin = tools.bin.string();
  for (std::string out : {bin + "/ciso", bin + "/dax", bin + "/../bin/dax", std::string("game.cso")}) {
    ToolRun r = runTool("ciso", {"9", "a.iso", out}, work.path, from);
    EXPECT_EQ(r.status, 2) << out << ": " << r.output;
    EXPECT_NE(r.output.find("program"), std::string::npos) << r.output;
    r = runTool("dax", {"-l9", "a.iso", out}, work.path, from);
    EXPECT_EQ(r.status, 2) << out << ": " << r.output;
  }
  EXPECT_EQ(readFile(tools.bin / "ciso"), ciso);
  EXPECT_EQ(readFile(tools.bin / "dax"), dax);
  EXPECT_TRUE(fs::is_symlink(work / "game.cso"));

  // Any other file of the tool folder is the user's to name as output.
  ToolRun r = runTool("ciso", {"9", "a.iso", bin + "/temp.cso"}, work.path, from);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(fs::exists(tools.bin / "temp.cso"));
}

TEST(Safety, AKilledRunLeavesTheOldOutputAndItsTemporaryIsClearedNextTime) {
  TempDir dir;
  writeFile(dir / "a.iso", discBytes(24 << 20, 3));
  ASSERT_EQ(runTool("ciso", {"9", "a.iso", "new.cso"}, dir.path).status, 0);
  const auto fresh = readFile(dir / "new.cso");
  const std::vector<uint8_t> old(5000, 'o');
  std::mt19937 rng(8);
  for (int round = 0; round < 4; ++round) {
    writeFile(dir / "out.cso", old);
    int pid = startTool("ciso", {"9", "a.iso", "out.cso"}, dir.path);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 400));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    auto now = readFile(dir / "out.cso");
    EXPECT_TRUE(now == old || now == fresh) << "round " << round << ": " << now.size() << " bytes";
  }
  // The next run over the same output removes what the killed ones left.
  ASSERT_EQ(runTool("ciso", {"1", "a.iso", "out.cso"}, dir.path).status, 0);
  EXPECT_FALSE(hasPartFiles(dir.path));
}

TEST(Safety, AToolGuardsTheToolFolderItWasStartedFrom) {
  // An installed Kivo's per-user tool folder: links to the installed tools, and a tool of the
  // user's own that Kivo fetched there.
  ToolFolderCopy installed({"ciso", "dax"});
  TempDir user;
  fs::create_directory(user / "bin");
  for (const char* tool : {"ciso", "dax"})
    fs::create_symlink(installed.bin / tool, user / "bin" / tool);
  const std::vector<uint8_t> pgf = {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'};
  writeFile(user / "bin" / "pgf", pgf);
  fs::permissions(user / "bin" / "pgf", fs::perms(0755));
  writeFile(user / "a.iso", discBytes(50000));
  RunOptions from;
  from.toolDir = user / "bin";
  for (const Job& job : {Job{"ciso", {"9", "a.iso", (user / "bin" / "pgf").string()}},
                         Job{"dax", {"-l9", "a.iso", (user / "bin" / "pgf").string()}},
                         Job{"ciso", {"9", "a.iso", "bin/new.exe"}}}) {
    ToolRun r = runTool(job.tool, job.args, user.path, from);
    EXPECT_EQ(r.status, 2) << job.tool << ": " << r.output;
    EXPECT_NE(r.output.find("program"), std::string::npos) << r.output;
  }
  EXPECT_EQ(readFile(user / "bin" / "pgf"), pgf);
  EXPECT_FALSE(fs::exists(user / "bin" / "new.exe"));
  // What the user keeps there besides programs is theirs to write.
  EXPECT_EQ(runTool("ciso", {"9", "a.iso", "bin/a.cso"}, user.path, from).status, 0);
}

TEST(Safety, NamesOfUpTo255BytesAreWrittenAndReplaced) {
  TempDir dir;
  writeFile(dir / "a.iso", discBytes(50000));
  for (size_t length : {244, 250, 255}) {
    const std::string name = std::string(length - 4, 'n') + ".cso";
    for (int round = 0; round < 2; ++round) { // written, then replaced
      ToolRun r = runTool("ciso", {"9", "a.iso", name}, dir.path);
      EXPECT_EQ(r.status, 0) << length << ": " << r.output;
    }
    ToolRun r = runTool("ciso", {"0", name, name.substr(0, length - 4) + ".iso"}, dir.path);
    EXPECT_EQ(r.status, 0) << length << ": " << r.output;
  }
  EXPECT_FALSE(hasPartFiles(dir.path));
}

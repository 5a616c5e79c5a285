// The real rastle binary: messages, exit statuses and files, as a user or Kivo sees them.
#include "eboot_builder.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace rastle_test;

namespace {

const std::string kRastle = std::string(KIVO_TOOL_DIR) + "/rastle";

struct Result {
  int status = -100;
  std::string out, err;
};

std::string slurp(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0)
    s.append(buf, size_t(n));
  return s;
}

// Starts the program directly (no shell, so wildcards arrive unexpanded) in the given folder.
Result runIn(const fs::path& cwd, std::vector<std::string> argv) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    if (chdir(cwd.c_str()) != 0) _exit(120);
    std::vector<char*> args;
    for (auto& a : argv)
      args.push_back(a.data());
    args.push_back(nullptr);
    execv(kRastle.c_str(), args.data());
    _exit(121);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  Result r;
  r.out = slurp(outPipe[0]); // small outputs: reading one pipe after the other is safe
  r.err = slurp(errPipe[0]);
  close(outPipe[0]);
  close(errPipe[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

Bytes readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& p, const Bytes& b) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

class Program : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/rastle-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }
  Result run(std::vector<std::string> args) {
    args.insert(args.begin(), kRastle);
    return runIn(dir, args);
  }
  // A small EBOOT with a known image: 3 blocks, 40 sectors.
  Bytes smallDisc() { return rawMode2Disc(40); }
  void putEboot(const std::string& name) { writeFile(dir / name, packDisc(smallDisc())); }
  fs::path dir;
};

const char* kUsage = " [-o output.iso] EBOOT.PBP\n";

} // namespace

TEST_F(Program, UsageLineNamesTheProgramAsInvoked) {
  Result none = run({});
  EXPECT_EQ(none.out, "USAGE: " + kRastle + kUsage);
  EXPECT_EQ(none.status, 255);
  EXPECT_EQ(none.err, "");

  Result other = runIn(dir, {"./whatever-name"}); // argv[0] is shown unchanged
  EXPECT_EQ(other.out, std::string("USAGE: ./whatever-name") + kUsage);

  Result r = runIn(dir, {kRastle, "-o", "out.iso"});
  EXPECT_EQ(r.out, "USAGE: " + kRastle + kUsage);
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(fs::exists(dir / "out.iso"));

  r = run({"EBOOT.PBP", "-o"});
  EXPECT_EQ(r.out, "USAGE: " + kRastle + kUsage);
  EXPECT_EQ(r.status, 255);
}

TEST_F(Program, ExtractsWithTheAnnouncementAndDefaultName) {
  putEboot("EBOOT.PBP");
  Result r = run({"EBOOT.PBP"});
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'EBOOT.PBP' to 'EBOOT.iso'...\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "EBOOT.iso"), smallDisc());
}

TEST_F(Program, OutputNamesFollowTheArguments) {
  fs::create_directory(dir / "games");
  putEboot("games/EBOOT.PBP");
  putEboot("abc");
  putEboot("abcd");
  putEboot("a.pbp");
  putEboot("b.pbp");
  putEboot("in.pbp");

  EXPECT_EQ(run({"games/EBOOT.PBP"}).status, 0);
  EXPECT_TRUE(fs::exists(dir / "games/EBOOT.iso"));
  EXPECT_EQ(run({"abc"}).status, 0);
  EXPECT_TRUE(fs::exists(dir / "abc.iso"));
  EXPECT_EQ(run({"abcd"}).status, 0);
  EXPECT_TRUE(fs::exists(dir / ".iso"));

  Result r = run({"a.pbp", "b.pbp"});
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'b.pbp' to 'b.iso'...\n");
  EXPECT_FALSE(fs::exists(dir / "a.iso"));

  r = run({"-o", "x.iso", "-o", "y.iso", "in.pbp"});
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'in.pbp' to 'y.iso'...\n");
  EXPECT_FALSE(fs::exists(dir / "x.iso"));

  r = run({"-o", "", "in.pbp"});
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'in.pbp' to 'in.iso'...\n");

  fs::remove(dir / "in.iso");
  r = run({"-O", "out.iso", "in.pbp"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(fs::exists(dir / "in.iso"));
  EXPECT_FALSE(fs::exists(dir / "out.iso"));
}

TEST_F(Program, OpenFailuresAreReportedWithStatus255) {
  Result r = run({"-o", "out.iso", "missing.pbp"});
  EXPECT_EQ(r.out, "ERROR: Couldn't open 'missing.pbp' for reading\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(fs::exists(dir / "out.iso"));

  fs::create_directory(dir / "adir");
  r = run({"adir"});
  EXPECT_EQ(r.out, "ERROR: Couldn't open 'adir' for reading\n");

  putEboot("EBOOT.PBP");
  r = run({"-o", "no/such/folder/out.iso", "EBOOT.PBP"});
  EXPECT_EQ(r.out, "ERROR: Couldn't open 'no/such/folder/out.iso' for writing\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(Program, NeverOverwritesItsInput) {
  putEboot("x.iso"); // its default output name is its own name
  Bytes before = readFile(dir / "x.iso");
  Result r = run({"x.iso"});
  EXPECT_EQ(r.out, "ERROR: Couldn't open 'x.iso' for writing: it is the input file\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(readFile(dir / "x.iso"), before);
}

TEST_F(Program, WriteErrorsAreNotSilent) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  putEboot("EBOOT.PBP");
  Result r = run({"-o", "/dev/full", "EBOOT.PBP"});
  EXPECT_EQ(r.out, "ERROR: Couldn't write to '/dev/full'\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(Program, AnythingOpenableEndsWithStatus0) {
  writeFile(dir / "notes.txt", Bytes(1000, 'n'));
  Result r = run({"-o", "out.iso", "notes.txt"});
  EXPECT_EQ(r.out, "WARNING: 'notes.txt' ends before the block index\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(fs::exists(dir / "out.iso"));
  EXPECT_EQ(fs::file_size(dir / "out.iso"), 0u);

  // A single-block container: written whole, no line at all.
  EbootBuilder one;
  one.addCompressed(Bytes(500, 'o'));
  writeFile(dir / "one.pbp", one.build());
  r = run({"one.pbp"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "one.iso"), Bytes(500, 'o'));

  // Cut short inside the last block: the announcement, then one warning.
  Bytes file = packDisc(smallDisc());
  file.resize(file.size() - 100);
  writeFile(dir / "cut.pbp", file);
  r = run({"cut.pbp"});
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'cut.pbp' to 'cut.iso'...\n"
                   "WARNING: 'cut.pbp' ends inside block 2\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Program, UnexpandedWildcardsNameTheMatchingFiles) {
  putEboot("game1.pbp");
  putEboot("game2.pbp");
  Result r = run({"game?.pbp"}); // expands to game1.pbp game2.pbp; the last one counts
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'game2.pbp' to 'game2.iso'...\n");
  r = run({"-o", "out*.iso", "game1.pbp"}); // matches nothing: used as it is
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(fs::exists(dir / "out*.iso"));
}

// The real rastle binary: messages, exit statuses and files, as a user or Kivo sees them.
#include "eboot_builder.h"

#include <fcntl.h>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

struct Launch {
  std::vector<std::string> env;  ///< added to the environment
  long fileSizeLimit = -1;       ///< RLIMIT_FSIZE in bytes, with SIGXFSZ ignored
  std::string exe = kRastle;
  uid_t user = 0;                ///< run as this user when not 0 (and the test runs as root)
};

// Starts the program directly (no shell, so wildcards arrive unexpanded) in the given folder.
// A run that blocks is ended by an alarm rather than hanging the tests.
Result runIn(const fs::path& cwd, std::vector<std::string> argv, const Launch& how = {}) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    if (chdir(cwd.c_str()) != 0) _exit(120);
    for (const auto& e : how.env)
      putenv(const_cast<char*>(e.c_str()));
    if (how.fileSizeLimit >= 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit lim {rlim_t(how.fileSizeLimit), rlim_t(how.fileSizeLimit)};
      if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(122);
    }
    if (how.user && (setgid(how.user) != 0 || setuid(how.user) != 0)) _exit(123);
    alarm(30);
    std::vector<char*> args;
    for (auto& a : argv)
      args.push_back(a.data());
    args.push_back(nullptr);
    execv(how.exe.c_str(), args.data());
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
  Result run(std::vector<std::string> args, const Launch& how = {}) {
    args.insert(args.begin(), how.exe);
    return runIn(dir, args, how);
  }
  // Names in the folder, sorted; a temporary left behind shows up here.
  std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(folder))
      found.push_back(e.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
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
  EXPECT_EQ(r.out, "ERROR: Couldn't open 'adir' for reading: it is a folder\n");
  EXPECT_FALSE(fs::exists(dir / "adir.iso"));

  // A FIFO would block the open and then the reads; it is refused at once.
  ASSERT_EQ(mkfifo((dir / "pipe.pbp").c_str(), 0600), 0);
  r = run({"-o", "out.iso", "pipe.pbp"});
  EXPECT_EQ(r.out, "ERROR: Couldn't open 'pipe.pbp' for reading: it is not a file\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(fs::exists(dir / "out.iso"));
  r = run({"-o", "out.iso", "/dev/zero"});
  EXPECT_EQ(r.out, "ERROR: Couldn't open '/dev/zero' for reading: it is not a file\n");

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

TEST_F(Program, AnImageThatCannotBeReplacedSafelyIsLeftAlone) {
  // A folder where nothing new can be made, holding an image its user may write: with no room
  // for a temporary file beside it, the image is not cut and rewritten in place either.
  const fs::path locked = dir / "locked", bin = dir / "bin";
  fs::create_directories(locked);
  fs::create_directories(bin);
  fs::copy_file(kRastle, bin / "rastle");
  const Bytes old(5000, 'o');
  writeFile(locked / "old.iso", old);
  writeFile(dir / "notes.txt", Bytes(1000, 'n'));
  putEboot("EBOOT.PBP");
  fs::permissions(locked / "old.iso", fs::perms(0666));
  fs::permissions(locked, fs::perms(0555));
  fs::permissions(dir, fs::perms(0755));
  Launch how;
  how.exe = (bin / "rastle").string();
  if (geteuid() == 0) how.user = 65534; // root may write in any folder: the test runs as nobody
  for (const char* input : {"notes.txt", "EBOOT.PBP"}) {
    Result r = run({"-o", "locked/old.iso", input}, how);
    EXPECT_EQ(r.out, "ERROR: Couldn't open 'locked/old.iso' for writing\n") << input;
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(readFile(locked / "old.iso"), old) << input;
  }
  EXPECT_EQ(names(locked), std::vector<std::string>{"old.iso"});
  fs::permissions(locked, fs::perms(0755));
}

TEST_F(Program, NamesAWildcardMatchedAreNeverOptions) {
  writeFile(dir / "-o", Bytes(3, 'x'));
  writeFile(dir / "notes.txt", Bytes(20, 'n'));
  putEboot("x.pbp");
  Result r = run({"*"}); // the files "-o", "notes.txt" and "x.pbp": three inputs, the last counts
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'x.pbp' to 'x.iso'...\n");
  EXPECT_EQ(readFile(dir / "notes.txt"), Bytes(20, 'n'));
  EXPECT_EQ(readFile(dir / "x.iso"), smallDisc());
  EXPECT_EQ(readFile(dir / "-o"), Bytes(3, 'x'));
}

TEST_F(Program, NamesOfUpTo255BytesAreWritten) {
  putEboot("EBOOT.PBP");
  for (size_t length : {244, 250, 255}) {
    const std::string name = std::string(length - 4, 'g') + ".iso";
    for (int round = 0; round < 2; ++round) { // written, then replaced
      Result r = run({"-o", name, "EBOOT.PBP"});
      EXPECT_EQ(r.status, 0) << length << ": " << r.out;
      EXPECT_EQ(readFile(dir / name), smallDisc()) << length;
    }
  }
  EXPECT_EQ(names(dir).size(), 4u);
}

TEST_F(Program, WriteErrorsAreNotSilent) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  putEboot("EBOOT.PBP");
  Result r = run({"-o", "/dev/full", "EBOOT.PBP"});
  EXPECT_EQ(r.out, "ERROR: Couldn't write to '/dev/full'\n");
  EXPECT_EQ(r.status, 255);
  // Kivo follows the run on standard error: the reason is the last line there too.
  r = run({"-o", "/dev/full", "EBOOT.PBP"}, Launch{{"KIVO_PROGRESS=1"}});
  EXPECT_EQ(r.out, "ERROR: Couldn't write to '/dev/full'\n");
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1), "ERROR: Couldn't write to '/dev/full'\n");
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

TEST_F(Program, WildcardsNeverReachTheOutputOrAnExistingName) {
  putEboot("game1.pbp");
  putEboot("game2.pbp");
  Result r = run({"game?.pbp"}); // expands to game1.pbp game2.pbp; the last one counts
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'game2.pbp' to 'game2.iso'...\n");

  // The user's images that "-o game?.iso" would have matched are left alone.
  writeFile(dir / "gameA.iso", Bytes(10, 'A'));
  writeFile(dir / "gameB.iso", Bytes(10, 'B'));
  r = run({"-o", "game?.iso", "game1.pbp"});
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'game1.pbp' to 'game?.iso'...\n");
  EXPECT_EQ(readFile(dir / "game?.iso"), smallDisc());
  EXPECT_EQ(readFile(dir / "gameA.iso"), Bytes(10, 'A'));
  EXPECT_EQ(readFile(dir / "gameB.iso"), Bytes(10, 'B'));

  // A game whose name holds a wildcard is read under that very name.
  putEboot("Millionaire?.pbp");
  r = run({"Millionaire?.pbp"});
  EXPECT_EQ(r.out, "Extracting iso (94080 bytes) from 'Millionaire?.pbp' to 'Millionaire?.iso'...\n");
}

TEST_F(Program, NeverWritesOverTheToolsBesideIt) {
  // A copy of rastle in a tool folder of its own, beside stand-ins for the other tools.
  fs::path bin = dir / "bin";
  fs::create_directory(bin);
  fs::copy_file(kRastle, bin / "rastle");
  const Bytes script = {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'};
  writeFile(bin / "ciso", script);
  fs::permissions(bin / "ciso", fs::perms::owner_all);
  writeFile(bin / "doit.cmd", script); // run through the shell, whatever its permission bits
  fs::create_symlink(bin / "ciso", dir / "link");
  putEboot("EBOOT.PBP");
  Launch copy;
  copy.exe = (bin / "rastle").string();
  const Bytes self = readFile(bin / "rastle");

  for (std::string target : {"bin/ciso", "bin/rastle", "bin/doit.cmd", "bin/new.exe", "link", "bin/../bin/ciso"}) {
    Result r = run({"-o", target, "EBOOT.PBP"}, copy);
    EXPECT_EQ(r.out, "ERROR: Couldn't open '" + target + "' for writing: it is a program of the tool folder\n");
    EXPECT_EQ(r.status, 255) << target;
  }
  EXPECT_EQ(readFile(bin / "ciso"), script);
  EXPECT_EQ(readFile(bin / "doit.cmd"), script);
  EXPECT_EQ(readFile(bin / "rastle"), self);
  EXPECT_FALSE(fs::exists(bin / "new.exe"));

  // Images and EBOOTs kept in the tool folder are the user's to write.
  EXPECT_EQ(run({"-o", "bin/temp.iso", "EBOOT.PBP"}, copy).status, 0);
  EXPECT_EQ(readFile(bin / "temp.iso"), smallDisc());
}

namespace {

// A small file system of its own that fills up; only the superuser may mount one.
struct SmallDisk {
  fs::path at;
  bool mounted = false;
  SmallDisk(const fs::path& where, const char* size) : at(where) {
    fs::create_directory(at);
    mounted = mount("tmpfs", at.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted) umount2(at.c_str(), MNT_DETACH);
  }
};

} // namespace

TEST_F(Program, AFullDiskLeavesNoImageAndKeepsTheOldOne) {
  Bytes disc = rawMode2Disc(400); // 940800 bytes
  writeFile(dir / "EBOOT.PBP", packDisc(disc));
  const Bytes old(100000, 'o');

  // The same failure two ways: a real full file system, and a file size limit in the child.
  SmallDisk stick(dir / "stick", "256k");
  struct Way {
    std::string folder;
    Launch how;
  };
  std::vector<Way> ways;
  if (stick.mounted)
    ways.push_back({"stick", {}});
  else
    std::printf("no tmpfs (needs root): the full disk is tried through a file size limit only\n");
  fs::create_directory(dir / "limited");
  Launch limited;
  limited.fileSizeLimit = 300000;
  ways.push_back({"limited", limited});

  for (const Way& way : ways) {
    const fs::path folder = dir / way.folder;
    Result r = run({"-o", way.folder + "/new.iso", "EBOOT.PBP"}, way.how);
    EXPECT_EQ(r.out, "Extracting iso (940800 bytes) from 'EBOOT.PBP' to '" + way.folder +
                         "/new.iso'...\nERROR: Couldn't write to '" + way.folder + "/new.iso'\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(names(folder), std::vector<std::string>{}) << way.folder;

    writeFile(folder / "old.iso", old);
    fs::permissions(folder / "old.iso", fs::perms::owner_read | fs::perms::owner_write);
    r = run({"-o", way.folder + "/old.iso", "EBOOT.PBP"}, way.how);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(readFile(folder / "old.iso"), old) << way.folder;
    EXPECT_EQ(names(folder), std::vector<std::string>{"old.iso"}) << way.folder;

    // With room enough the replacement keeps the permissions of what it replaced.
    fs::remove(folder / "old.iso");
    writeFile(folder / "small.iso", old);
    fs::permissions(folder / "small.iso", fs::perms::owner_read | fs::perms::owner_write);
    putEboot("small.pbp");
    r = run({"-o", way.folder + "/small.iso", "small.pbp"}, way.how);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(folder / "small.iso"), smallDisc()) << way.folder;
    EXPECT_EQ(fs::status(folder / "small.iso").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
}

TEST_F(Program, AKilledRunLeavesTheOldImageOrTheNewOne) {
  Bytes disc = rawMode2Disc(16 * 600); // long enough to be caught at work
  writeFile(dir / "EBOOT.PBP", packDisc(disc));
  const Bytes old(5000, 'o');
  for (int sig : {SIGTERM, SIGINT, SIGKILL}) {
    writeFile(dir / "out.iso", old);
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(errPipe[1], 2);
      close(errPipe[0]);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      if (chdir(dir.c_str()) != 0) _exit(120);
      putenv(const_cast<char*>("KIVO_PROGRESS=1"));
      alarm(30);
      execl(kRastle.c_str(), kRastle.c_str(), "-o", "out.iso", "EBOOT.PBP", (char*)nullptr);
      _exit(121);
    }
    close(errPipe[1]);
    char c;
    while (read(errPipe[0], &c, 1) == 1 && c != '\n') {
    } // the first progress line: the output is open, no block written yet
    kill(pid, sig);
    int st = 0;
    waitpid(pid, &st, 0);
    close(errPipe[0]);
    Bytes now = readFile(dir / "out.iso");
    EXPECT_TRUE(now == old || now == disc) << "signal " << sig;
    std::vector<std::string> left = names(dir);
    if (sig != SIGKILL) {
      EXPECT_EQ(left, (std::vector<std::string>{"EBOOT.PBP", "out.iso"})) << "signal " << sig;
    } else {
      // Nothing can run at SIGKILL; the next run for the same image clears what it left.
      putEboot("small.pbp");
      EXPECT_EQ(run({"-o", "out.iso", "small.pbp"}).status, 0);
      EXPECT_EQ(names(dir), (std::vector<std::string>{"EBOOT.PBP", "out.iso", "small.pbp"}));
    }
  }
}

TEST_F(Program, ReportsProgressOnStandardErrorOnlyWhenAsked) {
  writeFile(dir / "EBOOT.PBP", packDisc(rawMode2Disc(16 * 50)));
  Result quiet = run({"EBOOT.PBP"});
  EXPECT_EQ(quiet.err, "");
  Result r = run({"EBOOT.PBP"}, Launch{{"KIVO_PROGRESS=1"}});
  EXPECT_EQ(r.out, quiet.out); // standard output is the same either way
  EXPECT_EQ(r.status, 0);
  // Rising machine lines from 0 to the total of stored bytes, every one a progress line.
  std::vector<std::pair<uint64_t, uint64_t>> lines;
  size_t at = 0;
  while (at < r.err.size()) {
    size_t end = r.err.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    unsigned long long done = 0, total = 0;
    ASSERT_EQ(std::sscanf(r.err.substr(at, end - at).c_str(), "KIVO-PROGRESS %llu %llu", &done, &total), 2)
        << r.err.substr(at, end - at);
    lines.emplace_back(done, total);
    at = end + 1;
  }
  ASSERT_GE(lines.size(), 2u);
  const uint64_t total = lines.front().second;
  EXPECT_EQ(lines.front().first, 0u);
  EXPECT_GT(total, 0u);
  EXPECT_LT(total, fs::file_size(dir / "EBOOT.PBP"));
  EXPECT_EQ(lines.back(), std::make_pair(total, total));
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_GE(lines[i].first, lines[i - 1].first);
    EXPECT_EQ(lines[i].second, total);
  }
}

// The file-safety library on its own: full disks, kills at chosen moments, hostile inputs and
// outputs, joint replacements and the leftovers of ended runs.
#include "filesafe/guard.h"
#include "filesafe/input.h"
#include "filesafe/output.h"
#include "filesafe/temporary.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
namespace safe = kivo::filesafe;

namespace {

struct Folder {
  Folder() {
    char name[] = "/tmp/filesafe-XXXXXX";
    if (!::mkdtemp(name)) std::abort();
    path = name;
  }
  ~Folder() {
    if (mounted) ::umount2(path.c_str(), MNT_DETACH);
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
  // Everything in the folder, sorted: a temporary or a kept file left behind shows here.
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(path))
      if (e.path().filename() != ".filler") found.push_back(e.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
  }
  fs::path path;
  bool mounted = false;
};

void put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs body in a child process and returns its exit status (128 + signal when killed).
int inChild(const std::function<int()>& body, const std::function<void(pid_t)>& meanwhile = {}) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  if (meanwhile) meanwhile(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A process that has ended, so that its pid names nobody.
long endedPid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

// Writes text to path through an Output; the errno of a failure, 0 on success.
int replace(const std::string& path, const std::string& text, const safe::OutputRules& rules = {}) {
  safe::Output out;
  if (out.open(path, rules) != safe::Refusal::None) return out.error() ? out.error() : -1;
  if (!safe::writeAll(out.fd(), text.data(), text.size())) return errno;
  return out.commit() ? 0 : out.error();
}

// The two ways to run out of room: a small tmpfs filled to the last byte (as root), and a file
// size limit in a child process (SIGXFSZ ignored), which needs no privilege.
void onFullDisks(const std::function<void(Folder&, const std::function<int(const std::function<int()>&)>&)>& test) {
  {
    Folder disk;
    disk.mounted = ::mount("tmpfs", disk.path.c_str(), "tmpfs", 0, "size=64k") == 0;
    if (disk.mounted) {
      SCOPED_TRACE("full tmpfs");
      test(disk, [&](const std::function<int()>& act) {
        const int fd = ::open((disk / ".filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        static const char zeros[4096] = {};
        for (size_t piece : {sizeof zeros, size_t(1)})
          while (::write(fd, zeros, piece) > 0) {
          }
        ::close(fd);
        return act();
      });
    } else {
      std::printf("no tmpfs could be mounted: the file size limit stands in for a full disk\n");
    }
  }
  Folder plain;
  SCOPED_TRACE("file size limit");
  test(plain, [](const std::function<int()>& act) {
    return inChild([&] {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{16, 16};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      return act();
    });
  });
}

} // namespace

TEST(Names, LongNamesLeaveRoomForTheSuffixAndStayApart) {
  Folder dir;
  const std::string a(255, 'a'), b = std::string(254, 'a') + "b";
  for (const std::string& name : {a, b, std::string("short.iso")}) {
    const std::string temporary = safe::nameOf(safe::temporaryName(dir / name, 4242, 7));
    EXPECT_LE(temporary.size(), 150u);
    const auto parsed = safe::parseTemporaryName(temporary);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->pid, 4242);
  }
  EXPECT_NE(safe::temporaryName(a, 1, 0), safe::temporaryName(b, 1, 0));
  // A name of 255 bytes is written and replaced like any other.
  EXPECT_EQ(replace(dir / a, "first"), 0);
  EXPECT_EQ(replace(dir / a, "second"), 0);
  EXPECT_EQ(replace(dir / b, "other"), 0);
  EXPECT_EQ(get(dir / a) + get(dir / b), "secondother");
  // A cut never splits a character: the temporary's name is still UTF-8.
  std::string accents;
  while (accents.size() < 250) accents += "\xC3\xA9";
  EXPECT_EQ(replace(dir / accents, "x"), 0);
  EXPECT_EQ(dir.names().size(), 3u);
  EXPECT_EQ(safe::temporaryName(accents, 1, 0).substr(98, 2), "\xC3\xA9");
  for (const char* other : {"x.part", "x.part12-0000000g-1", "x.part-12-00000000-1", "x.part12-00000000-", "x.iso"})
    EXPECT_FALSE(safe::parseTemporaryName(other)) << other;
}

TEST(Output, ReplacesKeepingModeAndLinksAndRefusesWhatIsNoFile) {
  Folder dir;
  put(dir / "game.iso", "old");
  ::chmod((dir / "game.iso").c_str(), 0640);
  fs::create_symlink("game.iso", dir / "link.iso");
  EXPECT_EQ(replace(dir / "link.iso", "new"), 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.iso"));
  EXPECT_EQ(get(dir / "game.iso"), "new");
  EXPECT_EQ(fs::status(dir / "game.iso").permissions(), fs::perms(0640));

  // A link that leads nowhere yet is replaced by the file, unless it is to be followed.
  fs::create_symlink("made.iso", dir / "dangling.iso");
  EXPECT_EQ(replace(dir / "dangling.iso", "one"), 0);
  EXPECT_FALSE(fs::is_symlink(dir / "dangling.iso"));
  fs::remove(dir / "dangling.iso");
  fs::create_symlink("made.iso", dir / "dangling.iso");
  safe::OutputRules follow;
  follow.followDanglingLinks = true;
  EXPECT_EQ(replace(dir / "dangling.iso", "two", follow), 0);
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.iso"));
  EXPECT_EQ(get(dir / "made.iso"), "two");

  fs::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  safe::Output out;
  EXPECT_EQ(out.open(dir / "folder"), safe::Refusal::Folder);
  EXPECT_EQ(out.open(dir / "fifo"), safe::Refusal::NotAFile);
  EXPECT_EQ(out.open("/dev/null"), safe::Refusal::NotAFile);
  EXPECT_EQ(out.open(""), safe::Refusal::NoName);
  safe::OutputRules inPlace;
  inPlace.devicesInPlace = inPlace.fifosInPlace = true;
  EXPECT_EQ(replace("/dev/null", "gone", inPlace), 0);
  // A FIFO nobody reads fails at once instead of waiting for a reader.
  EXPECT_EQ(replace(dir / "fifo", "x", inPlace), ENXIO);
  safe::OutputRules fresh;
  fresh.mustBeNew = true;
  EXPECT_EQ(replace(dir / "game.iso", "x", fresh), EEXIST);
  EXPECT_EQ(replace(dir / "new.iso", "x", fresh), 0);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"dangling.iso", "fifo", "folder", "game.iso", "link.iso",
                                                   "made.iso", "new.iso"}));
}

TEST(Output, AFullDiskLeavesTheOldFileAndNoTemporary) {
  onFullDisks([](Folder& disk, const auto& full) {
    put(disk / "a.iso", "old a");
    put(disk / "b.iso", "old b");
    const std::string big(100000, 'n');
    const int single = full([&] { return replace(disk / "a.iso", big); });
    EXPECT_TRUE(single == ENOSPC || single == EFBIG) << single;
    // Two outputs as one: the second does not fit, so neither is replaced and nothing new stands.
    const int together = full([&] {
      safe::Output a, b, c;
      if (a.open(disk / "a.iso") != safe::Refusal::None || b.open(disk / "c.iso") != safe::Refusal::None ||
          c.open(disk / "b.iso") != safe::Refusal::None)
        return 100;
      const bool wrote = safe::writeAll(a.fd(), "1", 1) && safe::writeAll(b.fd(), "2", 1) &&
                         safe::writeAll(c.fd(), big.data(), big.size());
      if (!wrote) return 0; // abandoned: each output goes with its temporary
      return safe::installTogether({&a, &b, &c}) ? 101 : 102;
    });
    EXPECT_EQ(together, 0);
    EXPECT_EQ(get(disk / "a.iso"), "old a");
    EXPECT_EQ(get(disk / "b.iso"), "old b");
    EXPECT_EQ(disk.names(), (std::vector<std::string>{"a.iso", "b.iso"}));
  });
}

TEST(Output, KilledRunsLeaveTheOldFileAndTheirTemporariesGo) {
  Folder dir;
  put(dir / "out.iso", "old");
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const int status = inChild(
        [&] {
          // More temporaries than any fixed table would hold, all removed at the signal.
          std::vector<std::unique_ptr<safe::Output>> outputs;
          for (int i = 0; i < 300; ++i) {
            outputs.push_back(std::make_unique<safe::Output>());
            if (outputs.back()->open(dir / ("out" + std::to_string(i % 2 ? i : 0) + ".iso")) != safe::Refusal::None)
              return 3;
            safe::writeAll(outputs.back()->fd(), "partial", 7);
          }
          (void)!::write(ready[1], "!", 1);
          ::pause();
          return 4;
        },
        [&](pid_t child) {
          char c;
          (void)!::read(ready[0], &c, 1);
          ::kill(child, sig);
        });
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(status, 128 + sig);
    EXPECT_EQ(get(dir / "out.iso"), "old");
    if (sig != SIGKILL) {
      EXPECT_EQ(dir.names(), std::vector<std::string>{"out.iso"}) << "signal " << sig;
    } else {
      EXPECT_EQ(dir.names().size(), 301u);
      // Nothing runs at SIGKILL: the next write of the same file clears what it left beside it.
      EXPECT_EQ(replace(dir / "out0.iso", "x"), 0);
      EXPECT_EQ(dir.names().size(), 152u);
    }
  }
}

TEST(Output, SignalsWaitWhileOutputsArePutInPlaceTogether) {
  Folder dir;
  put(dir / "a.cue", "old cue");
  const int status = inChild([&] {
    safe::Output a, b;
    if (a.open(dir / "a.bin") != safe::Refusal::None || b.open(dir / "a.cue") != safe::Refusal::None) return 3;
    safe::writeAll(a.fd(), "new bin", 7);
    safe::writeAll(b.fd(), "new cue", 7);
    safe::installTogether({&a, &b}, nullptr, [] { ::raise(SIGTERM); });
    return 0;
  });
  EXPECT_EQ(status, 128 + SIGTERM); // raised once the renames were over
  EXPECT_EQ(get(dir / "a.bin") + get(dir / "a.cue"), "new binnew cue");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.bin", "a.cue"}));
}

TEST(Output, TogetherAllNewOrAllOld) {
  Folder dir;
  put(dir / "a.bin", "old bin");
  put(dir / "a.cue", "old cue");
  {
    // The last rename fails (a folder took the file's place): the renamed ones go back.
    safe::Output bin, cue, m3u;
    ASSERT_EQ(bin.open(dir / "a.bin"), safe::Refusal::None);
    ASSERT_EQ(m3u.open(dir / "a.m3u"), safe::Refusal::None);
    ASSERT_EQ(cue.open(dir / "a.cue"), safe::Refusal::None);
    safe::Output* failed = nullptr;
    EXPECT_FALSE(safe::installTogether({&bin, &m3u, &cue}, &failed, [&] {
      fs::remove(dir / "a.cue");
      fs::create_directories(dir / "a.cue/inside");
    }));
    EXPECT_EQ(failed, &cue);
    fs::remove_all(dir / "a.cue");
    put(dir / "a.cue", "old cue");
  }
  EXPECT_EQ(get(dir / "a.bin"), "old bin");
  EXPECT_FALSE(fs::exists(dir / "a.m3u"));
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.bin", "a.cue"}));

  // Killed between the renames: the bin new, the sheet still waiting beside its old one.
  put(dir / "a.bin", "new bin");
  put(safe::keptName(dir / "a.bin"), "old bin");
  put(safe::noneName(dir / "a.m3u"), "");
  put(dir / "a.m3u", "new list");
  put(safe::keptName(dir / "a.cue"), "old cue");
  put(safe::temporaryName(dir / "a.cue", endedPid(), 0), "new cue");
  // A write of the sheet alone must not sweep away what tells the recovery where the run stopped.
  safe::sweepLeftovers(dir / "a.cue");
  EXPECT_TRUE(safe::recoverTogether({dir / "a.bin", dir / "a.m3u", dir / "a.cue"}));
  EXPECT_EQ(get(dir / "a.bin") + get(dir / "a.cue"), "old binold cue");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.bin", "a.cue"}));

  // Killed after the last rename, before the kept files went: the new ones stay.
  put(dir / "a.bin", "new bin");
  put(dir / "a.cue", "new cue");
  put(safe::keptName(dir / "a.bin"), "old bin");
  EXPECT_TRUE(safe::recoverTogether({dir / "a.bin", dir / "a.cue"}));
  EXPECT_EQ(get(dir / "a.bin") + get(dir / "a.cue"), "new binnew cue");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.bin", "a.cue"}));
}

TEST(Leftovers, OnlyEndedRunsTemporariesGo) {
  Folder dir;
  const long ended = endedPid();
  put(dir / "game.iso", "finished");
  put(safe::temporaryName(dir / "game.iso", ended, 0), "half");
  put(safe::temporaryName(dir / "game.iso", 1, 0), "init's, alive"); // a live process's
  put(safe::temporaryName(dir / "other.iso", ended, 3), "half of another");
  put(dir / "game.iso.part-notours", "keep");
  EXPECT_TRUE(safe::hasLeftovers(dir / "game.iso"));
  safe::sweepLeftovers(dir / "game.iso");
  EXPECT_FALSE(safe::hasLeftovers(dir / "game.iso"));
  EXPECT_EQ(dir.names().size(), 4u);
  EXPECT_TRUE(fs::exists(safe::temporaryName(dir / "other.iso", ended, 3)));

  // A cancelled job's tool: everything it left unfinished in the folder, nothing else.
  EXPECT_EQ(safe::removeTemporariesOf(dir.path.string(), ended), 1);
  EXPECT_EQ(safe::removeTemporariesOf(dir.path.string(), 1), 0);
  EXPECT_EQ(safe::removeTemporariesOf(dir.path.string(), ::getpid()), 0);
  EXPECT_EQ(get(dir / "game.iso"), "finished");
  EXPECT_EQ(dir.names().size(), 3u);
  // This process's own temporary in use is no leftover; one it forgot is.
  safe::Output live;
  ASSERT_EQ(live.open(dir / "live.iso"), safe::Refusal::None);
  EXPECT_FALSE(safe::hasLeftovers(dir / "live.iso"));
  live.leave();
  EXPECT_TRUE(safe::hasLeftovers(dir / "live.iso"));
}

TEST(Input, OnlyFilesAndDisksAreOpenedAndNothingBlocks) {
  Folder dir;
  put(dir / "a.iso", "12345");
  ASSERT_EQ(::mkfifo((dir / "pipe.iso").c_str(), 0600), 0);
  fs::create_directory(dir / "folder.iso");
  safe::Input in;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(in.open(dir / "pipe.iso", true), safe::Refusal::NotAFile);
  EXPECT_STREQ(safe::kindOf(in.info()), "a pipe");
  EXPECT_EQ(in.open("/dev/zero", true), safe::Refusal::NotAFile);
  EXPECT_STREQ(safe::kindOf(in.info()), "a character device");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(in.open(dir / "folder.iso", true), safe::Refusal::Folder);
  EXPECT_EQ(in.open(dir / "missing.iso", true), safe::Refusal::System);
  EXPECT_EQ(in.error(), ENOENT);
  ASSERT_EQ(in.open(dir / "a.iso", false), safe::Refusal::None);
  EXPECT_EQ(in.size(), 5u);
  char tail[3];
  EXPECT_TRUE(safe::readAllAt(in.fd(), tail, 3, 2));
  EXPECT_EQ(std::string(tail, 3), "345");
  errno = EINVAL;
  EXPECT_FALSE(safe::readAllAt(in.fd(), tail, 3, 4));
  EXPECT_EQ(errno, 0); // the end, not an error
}

TEST(Guard, InputsUnderAnyNameAndTheProgramsOfTheToolFolders) {
  Folder dir;
  put(dir / "in.iso", "input");
  fs::create_directory(dir / "sub");
  fs::create_symlink("../in.iso", dir / "sub/link.iso");
  fs::create_hard_link(dir / "in.iso", dir / "hard.iso");
  // An installed tool folder, and a user's one of links to it plus a tool of the user's own.
  fs::create_directories(dir / "installed/bin");
  fs::create_directories(dir / "user/bin");
  put(dir / "installed/bin/ciso", "#!/bin/sh\n");
  put(dir / "user/bin/pgf", "#!/bin/sh\n");
  put(dir / "user/bin/cover.png", "picture");
  fs::permissions(dir / "installed/bin/ciso", fs::perms(0755));
  fs::permissions(dir / "user/bin/pgf", fs::perms(0755));
  fs::create_symlink(dir / "installed/bin/ciso", dir / "user/bin/ciso");
  fs::create_symlink(dir / "user/bin/pgf", dir / "elsewhere");

  safe::Guard guard;
  guard.addInput(dir / "in.iso");
  guard.guardTools({fs::canonical(dir.path / "user/bin").string()});
  auto check = [&](const std::string& path) {
    struct stat st {};
    return guard.check(path, ::stat(path.c_str(), &st) == 0 ? &st : nullptr);
  };
  for (const char* name : {"in.iso", "sub/link.iso", "sub/../in.iso", "hard.iso"})
    EXPECT_EQ(check(dir / name), safe::Refusal::IsInput) << name;
  EXPECT_EQ(guard.what(), dir / "in.iso");
  for (const char* name : {"user/bin/pgf", "user/bin/ciso", "elsewhere", "user/bin/../bin/pgf", "user/bin/new.exe",
                           "user/bin/doit.CMD"})
    EXPECT_EQ(check(dir / name), safe::Refusal::IsTool) << name;
  EXPECT_EQ(check(dir / "installed/bin/ciso"), safe::Refusal::IsTool); // the same file as user/bin/ciso
  for (const char* name : {"user/bin/cover.png", "user/bin/temp.iso", "out.iso"})
    EXPECT_EQ(check(dir / name), safe::Refusal::None) << name;
  // The program's own file and folder are always guarded.
  EXPECT_FALSE(safe::toolFolders().empty());
  EXPECT_EQ(safe::Guard().check("/proc/self/exe", nullptr), safe::Refusal::None);
  struct stat self {};
  ASSERT_EQ(::stat("/proc/self/exe", &self), 0);
  EXPECT_EQ(safe::Guard().check("/proc/self/exe", &self), safe::Refusal::IsTool);
}

TEST(Links, TwoProgramsPlacingTheSameLinksAtOnceBothSucceed) {
  Folder dir;
  auto place = [&] {
    for (int i = 0; i < 300; ++i)
      if (!safe::placeLink("target" + std::to_string(i % 7), dir / ("link" + std::to_string(i % 5)))) return 1;
    return 0;
  };
  int other = -1;
  const int mine = inChild(place, [&](pid_t) { other = place(); });
  EXPECT_EQ(mine, 0);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"link0", "link1", "link2", "link3", "link4"}));
}

// The two programs as the PC - PSP link page starts them.
#include "fixture.h"
#include "nethostfs.h"

#include <arpa/inet.h>
#include <chrono>
#include <sstream>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>

using namespace kivo::psplink;
using namespace kivo::psplink::test;

namespace {

struct Running {
  pid_t pid = -1;
  std::string errFile, outFile;
};

Running start(const std::string& program, const std::vector<std::string>& args, const std::string& scratch) {
  Running r;
  r.errFile = scratch + "/stderr";
  r.outFile = scratch + "/stdout";
  r.pid = ::fork();
  if (r.pid == 0) {
    ::setenv("KIVO_PROGRESS", "1", 1);
    ::setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);  // no drive list of the user's
    const int err = ::open(r.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int out = ::open(r.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err, 2);
    ::dup2(out, 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return r;
}

int finish(const Running& r) {
  int status = 0;
  ::waitpid(r.pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int run(const std::string& program, const std::vector<std::string>& args, const std::string& scratch) {
  return finish(start(program, args, scratch));
}

// Processor time the process has used, in seconds.
double cpuSeconds(pid_t pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  long long user = 0, system = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) user = std::stoll(field);
    if (i == 15) system = std::stoll(field);
  }
  return double(user + system) / double(::sysconf(_SC_CLK_TCK));
}

// A port that is free now (its three neighbours are taken by nobody we know of).
uint16_t freePort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ::bind(probe, reinterpret_cast<sockaddr*>(&at), sizeof at);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&at), &length);
  ::close(probe);
  return uint16_t(std::min<int>(ntohs(at.sin_port), 65000));
}

const std::string kUsb = std::string(KIVO_TOOL_DIR) + "/usb";
const std::string kNet = std::string(KIVO_TOOL_DIR) + "/net";

}  // namespace

TEST(Programs, HelpVersionAndFoldersThatCannotBeServed) {
  FolderFixture dir;
  for (const std::string& program : {kUsb, kNet}) {
    SCOPED_TRACE(program);
    EXPECT_EQ(run(program, {"--help"}, dir.base), 0);
    EXPECT_NE(readFile(dir.base + "/stdout").find("Usage: "), std::string::npos);
    EXPECT_EQ(run(program, {"--version"}, dir.base), 0);
    EXPECT_NE(readFile(dir.base + "/stdout").find("Kivo Workbench"), std::string::npos);
    EXPECT_EQ(run(program, {}, dir.base), 1);
    EXPECT_EQ(run(program, {"--bogus", dir.served}, dir.base), 1);
    EXPECT_EQ(run(program, {dir.base + "/none"}, dir.base), 2);
    EXPECT_NE(readFile(dir.base + "/stderr").find("cannot serve"), std::string::npos);
    EXPECT_EQ(run(program, {"/cygdrive/Q/"}, dir.base), 2);
    EXPECT_NE(readFile(dir.base + "/stderr").find("no folder stands for drive Q:"), std::string::npos);
  }
  EXPECT_EQ(run(kNet, {"-p", "70000", dir.served}, dir.base), 1);
}

TEST(Programs, TheUsbHostWaitsQuietlyForThePsp) {
  FolderFixture dir;
  const Running usb = start(kUsb, {"--drive", "C=" + dir.base, "/cygdrive/C/served"}, dir.base);
  const auto begin = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(4));
  const double cpu = cpuSeconds(usb.pid);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  ::kill(usb.pid, SIGTERM);
  finish(usb);
  const std::string err = readFile(usb.errFile);
  // A machine without USB at all (a container) ends with a message instead of waiting.
  if (err.find("cannot use USB") != std::string::npos) GTEST_SKIP() << err;
  EXPECT_LT(cpu / wall, 0.01) << cpu << " s of processor time in " << wall << " s";
  EXPECT_NE(err.find("KIVO-STATUS Serving " + dir.served + ": waiting for the PSP, 0 requests"), std::string::npos) << err;
  EXPECT_NE(readFile(usb.outFile).find("waiting for the PSP"), std::string::npos);
}

TEST(Programs, TheNetworkHostServesAPspThatGivesThePassword) {
  FolderFixture dir;
  const uint16_t port = freePort();
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  const Running net = start(kNet, {"-p", std::to_string(port), "-l", "6195", dir.served}, dir.base);
  int fd = -1;
  for (int attempt = 0; attempt < 50 && fd < 0; ++attempt) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    at.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
      ::close(fd);
      fd = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  ASSERT_GE(fd, 0);
  NetPsp psp(fd);
  EXPECT_EQ(psp.login("6195"), 0);
  PspStat stat;
  EXPECT_EQ(psp.getStat("/big.bin", stat), 0);
  EXPECT_EQ(stat.size, int64_t(dir.big.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the state is told a few times a second
  ::close(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  ::kill(net.pid, SIGTERM);
  finish(net);
  const std::string err = readFile(net.errFile);
  EXPECT_NE(err.find("KIVO-STATUS Serving " + dir.served + " on port " + std::to_string(port) + ": 1 PSP connected"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("3 requests"), std::string::npos) << err;
  EXPECT_NE(readFile(net.outFile).find("PSP connected from 127.0.0.1"), std::string::npos);
}

TEST(Programs, AHostStartedByKivoEndsWithIt) {
  FolderFixture dir;
  // The shell stands for Kivo: it starts the host as Kivo does, and goes away.
  const std::string pidFile = dir.base + "/host.pid";
  const Running kivo = start("/bin/sh", {"-c", "\"$0\" -p $3 \"$1\" & echo $! > \"$2\"; sleep 1; kill -0 $! && echo alive >> \"$2\"", kNet, dir.served,
                                     pidFile, std::to_string(freePort())},
                             dir.base);
  EXPECT_EQ(finish(kivo), 0);
  const std::string started = readFile(pidFile);
  EXPECT_NE(started.find("alive"), std::string::npos);  // it ran until the shell went away
  const pid_t host = pid_t(std::stol(started));
  bool gone = false;
  for (int i = 0; i < 50 && !gone; ++i) {
    gone = ::kill(host, 0) != 0;
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!gone) ::kill(host, SIGKILL);
  EXPECT_TRUE(gone);
}

// The network host's sessions against a test PSP that sends the module's requests byte for byte.
#include "fixture.h"
#include "nethostfs.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kivo::psplink;
using namespace kivo::psplink::test;

namespace {

// One connection: the PSP's end and a session on the host's end in a thread of its own.
struct Connection {
  int fds[2] = {-1, -1};
  std::unique_ptr<net::SocketStream> stream;
  std::unique_ptr<net::Session> session;
  std::thread thread;
  net::End end = net::End::Closed;

  Connection(net::Client& client, const std::string& password, net::KeySource* keys = nullptr) {
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    stream = std::make_unique<net::SocketStream>(fds[1]);
    session = std::make_unique<net::Session>(*stream, client, password, nullptr, keys);
    // The host closes a connection whose session ended, as the server does.
    thread = std::thread([this] {
      end = session->serve();
      ::shutdown(fds[1], SHUT_RDWR);
    });
  }
  ~Connection() {
    ::shutdown(fds[0], SHUT_RDWR);
    thread.join();
    ::close(fds[0]);
    ::close(fds[1]);
  }
  NetPsp psp() { return NetPsp(fds[0]); }
};

struct NetHostTest : ::testing::Test {
  FolderFixture dir;
  net::Client client{std::make_unique<ServedFolder>(dir.served)};
};

TEST(NetHost, TheChallengeIsAnsweredAsThePspDoes) {
  uint8_t challenge[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  net::answerChallenge(challenge, sizeof challenge, "6195");
  const uint8_t expected[8] = {0xb3, 0xd3, 0xfe, 0xf6, 0xfb, 0xa3, 0xfc, 0xf8};
  EXPECT_EQ(0, std::memcmp(challenge, expected, 8));
  // Only the first eight characters count, as on the PSP.
  uint8_t a[8] = {9, 9, 9, 9, 9, 9, 9, 9}, b[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  net::answerChallenge(a, 8, "12345678");
  net::answerChallenge(b, 8, "12345678extra");
  EXPECT_EQ(0, std::memcmp(a, b, 8));
}

TEST_F(NetHostTest, AWrongPasswordGetsNoFiles) {
  Connection c(client, "6195");
  NetPsp psp = c.psp();
  EXPECT_EQ(psp.login("6196"), net::kWrongPassword);
  ASSERT_TRUE(psp.send(cat({le32(net::kOpen), field("/readme.txt"), le32(0), le32(1), le32(0)})));
  EXPECT_TRUE(psp.closedByHost());
}

TEST_F(NetHostTest, ASessionOverSeveralConnectionsGivesTheFoldersBytes) {
  Connection first(client, "6195"), second(client, "6195");
  NetPsp a = first.psp(), b = second.psp();
  ASSERT_EQ(a.login("6195"), 0);
  EXPECT_EQ(a.list("/"), topNames());

  // Opened on one connection, read on the other, as the PSP spreads its requests.
  const int32_t fid = a.open("/big.bin", kPspRead);
  ASSERT_GE(fid, 0);
  std::string all, part;
  int32_t got;
  while ((got = b.read(fid, 40000, part)) > 0) all += part;
  EXPECT_EQ(got, 0);
  EXPECT_EQ(all, dir.big);
  EXPECT_EQ(b.call(net::kSeek, cat({le32(uint32_t(fid)), le64(uint64_t(-4)), le32(2)})), int32_t(dir.big.size() - 4));
  EXPECT_EQ(a.call(net::kClose, le32(uint32_t(fid))), 0);

  const std::string data = pattern(300000, 5);
  const int32_t out = a.open("/new.bin", kPspWrite | kPspCreate | kPspTruncate, 0666);
  ASSERT_GE(out, 0);
  EXPECT_EQ(b.write(out, data), int32_t(data.size()));
  EXPECT_EQ(b.write(out, ""), 0);
  EXPECT_EQ(a.call(net::kClose, le32(uint32_t(out))), 0);
  EXPECT_EQ(readFile(dir.served + "/new.bin"), data);

  EXPECT_EQ(a.call(net::kMakeFolder, cat({field("/ISO"), le32(0), le32(0777)})), 0);
  EXPECT_EQ(a.call(net::kRename, cat({field("/new.bin"), field("/ISO/game.iso"), le32(0)})), 0);
  PspStat stat;
  EXPECT_EQ(a.getStat("/ISO/game.iso", stat), 0);
  EXPECT_EQ(stat.size, int64_t(data.size()));
  EXPECT_EQ(a.call(net::kRemove, cat({field("/ISO/game.iso"), le32(0)})), 0);
  EXPECT_EQ(a.call(net::kRemoveFolder, cat({field("/ISO"), le32(0)})), 0);
  EXPECT_EQ(a.list("/"), topNames());

  // A host that serves no keys answers the key request with nothing pressed.
  Bytes keys;
  ASSERT_TRUE(a.send(cat({le32(net::kGetKey), le32(0)})));
  ASSERT_TRUE(a.receive(keys, 12));
  EXPECT_EQ(keys, cat({le32(0), le32(0), Bytes{127, 127, 127, 127}}));
}

TEST_F(NetHostTest, NothingOutsideTheFolderIsReached) {
  Connection c(client, "");
  NetPsp psp = c.psp();
  ASSERT_EQ(psp.login(""), 0);
  PspStat stat;
  for (const std::string& path : pathsOut()) {
    SCOPED_TRACE(path);
    EXPECT_EQ(psp.open(path, kPspRead), pspError(EACCES));
    EXPECT_EQ(psp.open(path, kPspWrite | kPspCreate), pspError(EACCES));
    EXPECT_EQ(psp.getStat(path, stat), pspError(EACCES));
    if (path != "/abslinkout") {  // as the last part, the link itself is meant
      EXPECT_EQ(psp.call(net::kRename, cat({field("/readme.txt"), field(path), le32(0)})), pspError(EACCES));
    }
  }
  // A path field without its terminating zero is refused.
  EXPECT_EQ(psp.call(net::kOpen, cat({Bytes(256, 'a'), le32(0), le32(1), le32(0)})), pspError(ENAMETOOLONG));
  EXPECT_TRUE(dir.outsideUntouched());
}

TEST_F(NetHostTest, RequestsThatCannotBeFollowedEndTheConnection) {
  {
    Connection c(client, "");
    NetPsp psp = c.psp();
    ASSERT_TRUE(psp.send(le32(net::kIoctl)));  // its fields are not known
    EXPECT_TRUE(psp.closedByHost());
  }
  {
    Connection c(client, "");
    NetPsp psp = c.psp();
    ASSERT_TRUE(psp.send(cat({le32(net::kWrite), le32(1), le32(0x7FFFFFFF)})));
    EXPECT_TRUE(psp.closedByHost());
  }
  {
    // A request cut short: the connection ends and the host is none the worse.
    Connection c(client, "");
    NetPsp psp = c.psp();
    ASSERT_TRUE(psp.send(cat({le32(net::kOpen), field("/readme.txt")})));
    ::shutdown(c.fds[0], SHUT_WR);
    EXPECT_TRUE(psp.closedByHost());
  }
  Connection again(client, "");
  NetPsp psp = again.psp();
  PspStat stat;
  EXPECT_EQ(psp.getStat("/readme.txt", stat), 0);
}

struct FixedKeys : net::KeySource {
  net::Keys keys(int32_t type) override {
    net::Keys k;
    k.buttons = 0x4000 | uint32_t(type);
    k.x = 255;
    return k;
  }
};

TEST(NetHost, AKeysOnlyHostAnswersKeysAndRefusesFiles) {
  net::Client client{nullptr};
  FixedKeys keys;
  Connection c(client, "", &keys);
  NetPsp psp = c.psp();
  Bytes answer;
  ASSERT_TRUE(psp.send(cat({le32(net::kGetKey), le32(2)})));
  ASSERT_TRUE(psp.receive(answer, 12));
  EXPECT_EQ(answer, cat({le32(0x4002), le32(0), Bytes{255, 127, 127, 127}}));
  PspStat stat;
  EXPECT_EQ(psp.getStat("/readme.txt", stat), pspError(ENODEV));
  EXPECT_EQ(psp.open("/readme.txt", kPspRead), pspError(ENODEV));
}

}  // namespace

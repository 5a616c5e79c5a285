// The USB host against a test PSP that sends the module's requests byte for byte.
#include "fixture.h"
#include "usbhostfs.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

using namespace kivo::psplink;
using namespace kivo::psplink::test;

namespace {

const int32_t kDenied = pspError(EACCES);

struct UsbHostTest : ::testing::Test {
  FolderFixture dir;
  ServedFolder folder{dir.served};
  UsbPsp psp;
  usb::SocketLink link{psp.hostFd()};
  std::thread host;
  bool greeted = false;
  usb::End end = usb::End::LinkLost;
  bool ended = false;

  void SetUp() override {
    host = std::thread([this] {
      usb::Session session(link, folder);
      greeted = session.greet();
      if (greeted) end = session.serve();
      ended = true;
    });
    ASSERT_TRUE(psp.attach());
  }
  void TearDown() override {
    psp.closeLink();
    host.join();
  }
  usb::End endOfSession() {
    host.join();
    host = std::thread([] {});
    return end;
  }
  Bytes header(uint32_t command, uint32_t extra) { return cat({le32(usb::kMagic), le32(command), le32(extra)}); }
};

TEST_F(UsbHostTest, ASessionReadsWritesListsAndRenamesTheFoldersBytes) {
  EXPECT_EQ(psp.list("/"), topNames());
  EXPECT_EQ(psp.list("sub"), (std::vector<std::string>{".", "..", "inner.txt"}));

  // Read in the module's 64 KiB blocks: the same bytes as the file.
  int32_t fid = psp.open("/big.bin", kPspRead);
  ASSERT_GE(fid, 0);
  std::string got;
  EXPECT_EQ(psp.read(fid, dir.big.size() + 100, got), int32_t(dir.big.size()));
  EXPECT_EQ(got, dir.big);
  EXPECT_EQ(psp.seek(fid, -5, 2), int64_t(dir.big.size() - 5));
  EXPECT_EQ(psp.read(fid, 100, got), 5);
  EXPECT_EQ(got, dir.big.substr(dir.big.size() - 5));
  EXPECT_EQ(psp.close(fid), 0);
  EXPECT_EQ(psp.close(fid), pspError(EBADF));

  // Write a new file, then move it into a new folder under a new name.
  const std::string data = pattern(200001, 3);
  fid = psp.open("/new.bin", kPspWrite | kPspCreate | kPspTruncate, 0666);
  ASSERT_GE(fid, 0);
  EXPECT_EQ(psp.write(fid, data), int32_t(data.size()));
  EXPECT_EQ(psp.close(fid), 0);
  EXPECT_EQ(readFile(dir.served + "/new.bin"), data);
  EXPECT_EQ(psp.makeFolder("/ISO"), 0);
  EXPECT_EQ(psp.makeFolder("/ISO"), pspError(EEXIST));
  EXPECT_EQ(psp.rename("/new.bin", "/ISO/game.iso"), 0);
  EXPECT_EQ(readFile(dir.served + "/ISO/game.iso"), data);
  EXPECT_EQ(psp.rename("/ISO/game.iso", "same.iso"), 0);  // a bare name stays in its folder
  EXPECT_TRUE(std::filesystem::exists(dir.served + "/ISO/same.iso"));

  PspStat stat;
  EXPECT_EQ(psp.getStat("/ISO/same.iso", stat), 0);
  EXPECT_EQ(stat.size, int64_t(data.size()));
  EXPECT_EQ(stat.mode & 0xF000, 0x2000u);
  EXPECT_EQ(psp.getStat("/ISO", stat), 0);
  EXPECT_EQ(stat.mode & 0xF000, 0x1000u);
  EXPECT_EQ(psp.removeFolder("/ISO"), pspError(ENOTEMPTY));  // the PSP's own number, not Linux's
  EXPECT_EQ(psp.remove("/ISO/same.iso"), 0);
  EXPECT_EQ(psp.removeFolder("/ISO"), 0);
  EXPECT_EQ(psp.getStat("/ISO", stat), pspError(ENOENT));

  // A current folder: relative paths start there.
  EXPECT_EQ(psp.changeFolder("/sub"), 0);
  fid = psp.open("inner.txt", kPspRead);
  ASSERT_GE(fid, 0);
  EXPECT_EQ(psp.read(fid, 100, got), 5);
  EXPECT_EQ(got, "inner");
  EXPECT_EQ(psp.changeFolder("/readme.txt"), pspError(ENOTDIR));

  // Links that stay inside are followed.
  EXPECT_EQ(psp.list("/linkin"), psp.list("/abslinkin"));
  EXPECT_GE(psp.open("/abslinkin/inner.txt", kPspRead), 0);
}

TEST_F(UsbHostTest, NothingOutsideTheFolderIsReadWrittenOrListed) {
  PspStat stat;
  for (const std::string& path : pathsOut()) {
    SCOPED_TRACE(path);
    EXPECT_EQ(psp.open(path, kPspRead), kDenied);
    EXPECT_EQ(psp.getStat(path, stat), kDenied);
    EXPECT_EQ(psp.open(path, kPspWrite | kPspCreate | kPspTruncate), kDenied);
    if (path == "/abslinkout") continue;  // as the last part, the link itself is meant (below)
    EXPECT_EQ(psp.remove(path), kDenied);
    EXPECT_EQ(psp.rename("/readme.txt", path), kDenied);
  }
  EXPECT_EQ(psp.openFolder("/linkout"), kDenied);
  EXPECT_EQ(psp.openFolder(".."), kDenied);
  EXPECT_EQ(psp.changeFolder("/.."), kDenied);
  EXPECT_EQ(psp.makeFolder("../made"), kDenied);
  // An absolute path is the PSP's: it starts at the served folder, never at the PC's root.
  EXPECT_EQ(psp.getStat("/etc/passwd", stat), pspError(ENOENT));
  EXPECT_EQ(psp.getStat("//readme.txt", stat), 0);
  // A link is removed as itself; what it points at stays.
  EXPECT_EQ(psp.remove("/abslinkout"), 0);
  EXPECT_TRUE(dir.outsideUntouched());
  EXPECT_TRUE(std::filesystem::exists(dir.served + "/readme.txt"));
}

TEST_F(UsbHostTest, RequestsOfTheWrongShapeAreRefusedAndTheSessionGoesOn) {
  Bytes answer, in;
  PspStat stat;
  // An open request four bytes short.
  ASSERT_TRUE(psp.exchange(cat({header(usb::kOpen, 5), le32(1), le32(0)}), text("/x.b"), 16, answer, 0, nullptr));
  EXPECT_EQ(psp.result(), pspError(EINVAL));
  // A path without its terminating zero.
  ASSERT_TRUE(psp.exchange(cat({header(usb::kGetStat, 4), le32(0)}), Bytes{'/', 'r', 'e', 'a'}, 16, answer,
                           kStatBytes, &in));
  EXPECT_EQ(psp.result(), pspError(EINVAL));
  // A path longer than any PSP sends: its bytes are taken in and refused.
  ASSERT_TRUE(psp.exchange(cat({header(usb::kOpen, 5000), le32(1), le32(0), le32(0)}), Bytes(5000, 'a'), 16, answer, 0,
                           nullptr));
  EXPECT_EQ(psp.result(), pspError(ENAMETOOLONG));
  // An unknown command, and console text for a shell, which is no request.
  ASSERT_TRUE(psp.exchange(header(0x8FFC00FF, 0), {}, 16, answer, 0, nullptr));
  EXPECT_EQ(psp.result(), pspError(ENOSYS));
  ASSERT_TRUE(psp.sendRaw(cat({le32(usb::kAsyncMagic), le32(2), text("ls")})));
  // A read of more than a block gets one block at most.
  const int32_t fid = psp.open("/big.bin", kPspRead);
  ASSERT_TRUE(psp.exchange(cat({header(usb::kRead, 0), le32(uint32_t(fid)), le32(1 << 20)}), {}, 16, answer,
                           usb::kMaxBlock, &in));
  EXPECT_EQ(psp.result(), int32_t(usb::kMaxBlock));
  EXPECT_EQ(std::string(in.begin(), in.end()), dir.big.substr(0, usb::kMaxBlock));
  // The session still answers.
  EXPECT_EQ(psp.getStat("/readme.txt", stat), 0);
  EXPECT_EQ(stat.size, 9);
}

TEST_F(UsbHostTest, ATruncatedHeaderEndsTheSessionWithoutHarm) {
  ASSERT_TRUE(psp.sendRaw(cat({le32(usb::kMagic), le32(usb::kOpen)})));
  EXPECT_EQ(endOfSession(), usb::End::OutOfStep);
  EXPECT_TRUE(dir.outsideUntouched());
}

TEST_F(UsbHostTest, AnAnnouncedLengthBeyondAnyTransferEndsTheSession) {
  ASSERT_TRUE(psp.sendRaw(cat({header(usb::kWrite, 0x7FFFFFFF), le32(1)})));
  EXPECT_EQ(endOfSession(), usb::End::OutOfStep);
}

TEST_F(UsbHostTest, DataCutShortByADetachEndsTheSession) {
  ASSERT_TRUE(psp.sendRaw(cat({header(usb::kOpen, 100), le32(1), le32(0), le32(0)})));
  ASSERT_TRUE(psp.sendRaw(Bytes(50, 'a')));
  psp.closeLink();
  EXPECT_EQ(endOfSession(), usb::End::LinkLost);
  EXPECT_EQ(folder.openFiles(), 0);
}

TEST(UsbHost, AGreetingAnsweredWithSomethingElseFails) {
  FolderFixture dir;
  ServedFolder folder(dir.served);
  UsbPsp psp;
  usb::SocketLink link(psp.hostFd());
  bool greeted = true;
  std::thread host([&] { greeted = usb::Session(link, folder).greet(); });
  Bytes word;
  ASSERT_EQ(psp.receiveRaw(word, 4), 4);
  ASSERT_TRUE(psp.sendRaw(cat({le32(usb::kMagic), le32(usb::kOpen), le32(0)})));
  host.join();
  EXPECT_FALSE(greeted);
}

}  // namespace

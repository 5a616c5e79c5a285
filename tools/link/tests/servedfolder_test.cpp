// The served folder on its own: what the hosts build on, and the drive letters of the page.
#include "drives.h"
#include "fixture.h"
#include "servedfolder.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kivo::psplink;
using namespace kivo::psplink::test;

TEST(ServedFolder, APipeOrAFolderIsNoFileToOpenAndNothingHangs) {
  FolderFixture dir;
  ASSERT_EQ(::mkfifo((dir.served + "/pipe").c_str(), 0600), 0);
  ServedFolder folder(dir.served);
  EXPECT_EQ(folder.open(0, "/pipe", kPspRead, 0), pspError(EACCES));
  EXPECT_EQ(folder.open(0, "/sub", kPspRead, 0), pspError(EISDIR));
  EXPECT_EQ(folder.openFiles(), 0);
}

TEST(ServedFolder, HandlesAreBoundedAndAResetClosesThem) {
  FolderFixture dir;
  ServedFolder folder(dir.served);
  for (int i = 0; i < ServedFolder::kMaxFiles; ++i) ASSERT_GE(folder.open(0, "/readme.txt", kPspRead, 0), 0);
  EXPECT_EQ(folder.open(0, "/readme.txt", kPspRead, 0), pspError(EMFILE));
  EXPECT_EQ(folder.changeFolder(3, "sub"), 0);
  folder.reset();
  EXPECT_EQ(folder.openFiles(), 0);
  PspStat stat;
  EXPECT_EQ(folder.getStat(3, "inner.txt", stat), pspError(ENOENT));  // the current folder is the top again
  EXPECT_EQ(folder.getStat(ServedFolder::kUnits, "/readme.txt", stat), pspError(ENODEV));
}

TEST(ServedFolder, ChangedStatusAndLongNames) {
  FolderFixture dir;
  ServedFolder folder(dir.served);
  PspStat want;
  want.mode = 0600;
  want.size = 4;
  want.mtime = {2008, 4, 6, 12, 30, 15, 0};
  EXPECT_EQ(folder.changeStat(0, "/readme.txt", kChangeMode | kChangeSize | kChangeModifyTime, want), 0);
  EXPECT_EQ(readFile(dir.served + "/readme.txt"), "hell");
  PspStat got;
  ASSERT_EQ(folder.getStat(0, "/readme.txt", got), 0);
  EXPECT_EQ(got.mode, 0x2000u | 0600u);
  EXPECT_EQ(got.mtime.year, 2008);
  EXPECT_EQ(got.mtime.minute, 30);
  want.mtime.month = 13;
  EXPECT_EQ(folder.changeStat(0, "/readme.txt", kChangeModifyTime, want), pspError(EINVAL));
  EXPECT_EQ(folder.getStat(0, "/" + std::string(300, 'n'), got), pspError(ENAMETOOLONG));
  EXPECT_EQ(folder.getStat(0, std::string(5000, '/'), got), pspError(ENAMETOOLONG));
}

TEST(ServedFolder, LinkLoopsEndAndAFolderThatIsNoneIsRefused) {
  FolderFixture dir;
  std::filesystem::create_symlink("loop2", dir.served + "/loop1");
  std::filesystem::create_symlink("loop1", dir.served + "/loop2");
  ServedFolder folder(dir.served);
  PspStat stat;
  EXPECT_EQ(folder.getStat(0, "/loop1", stat), pspError(ELOOP));
  EXPECT_EQ(folder.getStat(0, "/dangling", stat), pspError(ENOENT));
  EXPECT_THROW(ServedFolder(dir.served + "/readme.txt"), ServedFolder::Error);
  EXPECT_THROW(ServedFolder(dir.base + "/none"), ServedFolder::Error);
}

TEST(Drives, CygdrivePathsLandInTheFolderOfTheirLetter) {
  std::string problems;
  const DriveMap drives =
      parseDriveMap("# mine\nC = /home/me\n d=/media/d \nbad line\nCD=/x\nE=\n", &problems);
  EXPECT_EQ(drives, (DriveMap{{'C', "/home/me"}, {'D', "/media/d"}}));
  EXPECT_NE(problems.find("line 4"), std::string::npos);
  EXPECT_NE(problems.find("line 5"), std::string::npos);
  EXPECT_NE(problems.find("line 6"), std::string::npos);

  std::string why;
  EXPECT_EQ(hostFolder("/cygdrive/C/", drives, why), "/home/me");
  EXPECT_EQ(hostFolder("/cygdrive/c/PSP/ISO", drives, why), "/home/me/PSP/ISO");
  EXPECT_EQ(hostFolder("/cygdrive/D", drives, why), "/media/d");
  EXPECT_EQ(hostFolder("/cygdrive/C/My Games\\PSP", drives, why), "/home/me/My Games/PSP");
  // A plain path, or one that only looks like a drive, is taken as it is.
  EXPECT_EQ(hostFolder("/srv/psp", drives, why), "/srv/psp");
  EXPECT_EQ(hostFolder("/cygdrive/CD/x", drives, why), "/cygdrive/CD/x");
  EXPECT_EQ(hostFolder("games", drives, why), "games");
  EXPECT_TRUE(why.empty());
  EXPECT_EQ(hostFolder("/cygdrive/Z/", drives, why), "");
  EXPECT_NE(why.find("drive Z:"), std::string::npos);

  DriveMap map;
  EXPECT_TRUE(parseDriveOption("z=/mnt/z", map));
  EXPECT_FALSE(parseDriveOption("/mnt/z", map));
  EXPECT_EQ(map.at('Z'), "/mnt/z");
}

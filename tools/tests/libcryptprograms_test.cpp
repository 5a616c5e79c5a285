// psx and psxdisc with LibCrypt data as a player has it: an .sbi beside the image or sheet, a
// CloneCD .img/.ccd/.sub set, a playlist of discs, --sbi; into the EBOOT and back, byte for byte.
#include "lcsupport.h"
#include "support.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
namespace fs = std::filesystem;

namespace {

const libcrypt::DiscShape kShape{300, {}};

std::vector<libcrypt::Record> gameRecords() {
  return {protectedRecord(kShape, 100), protectedRecord(kShape, 105), protectedRecord(kShape, 150)};
}

std::vector<uint8_t> gameSbi() {
  return libcrypt::formatSbi(gameRecords());
}

bool has(const ToolRun& r, const std::string& text) {
  return r.output.find(text) != std::string::npos;
}

} // namespace

TEST(LibCryptPrograms, SbiBesideTheSheetRoundTrips) {
  TempDir dir;
  const auto data = rawImage(gameIso(300, "SLES_020.80", 1));
  writeFile(dir / "Game.bin", data);
  writeText(dir / "Game.cue", std::string("FILE \"Game.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"));
  writeFile(dir / "game.SBI", gameSbi()); // found in any letter case
  ToolRun r = runTool("psx", {"Game", "SLES02080", "9", "Game.cue"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "LibCrypt data: 3 sectors from game.SBI, summary word 0x0000\n")) << r.output;
  EXPECT_FALSE(has(r, "warning")) << r.output;

  r = runTool("psxdisc", {"info", "EBOOT.PBP"}, dir.path);
  EXPECT_TRUE(has(r, "  LibCrypt: 3 sectors, summary word 0x0000\n")) << r.output;
  r = runTool("psxdisc", {"verify", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;

  fs::create_directory(dir / "out");
  r = runTool("psxdisc", {"extract", "-o", "out/Back", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "300 sectors, LibCrypt data of 3 sectors in Back.sbi")) << r.output;
  EXPECT_EQ(readFile(dir / "out" / "Back.sbi"), gameSbi());
  EXPECT_EQ(readFile(dir / "out" / "Back.bin"), data);

  // rastle, which knows one disc image and its index, reads the disc as before.
  r = runTool("rastle", {"-o", "r.iso", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "r.iso"), data);

  // What came back makes the same EBOOT again.
  const auto eboot = readFile(dir / "EBOOT.PBP");
  r = runTool("psx", {"Game", "SLES02080", "9", "out/Back.cue"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "EBOOT.PBP"), eboot);
  // So does a CD CHD, whose .sbi goes beside it as emulators look for it.
  r = runTool("psxdisc", {"extract", "-f", "chd", "-o", "out/Chd", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "LibCrypt data of 3 sectors in Chd.sbi")) << r.output;
  EXPECT_EQ(readFile(dir / "out" / "Chd.sbi"), gameSbi());
  r = runTool("psx", {"Game", "SLES02080", "9", "out/Chd.chd"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "EBOOT.PBP"), eboot);

  // Without its .sbi, a disc known to check LibCrypt is made with a warning, and carries none.
  fs::remove(dir / "game.SBI");
  r = runTool("psx", {"Game", "SLES02080", "9", "Game.cue"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "psx: warning: the disc (SLES02080) is known to check LibCrypt protection, and no .sbi came with "
                     "it: the game may hang on the PSP. Put Game.sbi beside it, or name one with --sbi\n"))
      << r.output;
  r = runTool("psxdisc", {"info", "EBOOT.PBP"}, dir.path);
  EXPECT_TRUE(has(r, "  LibCrypt: none\n")) << r.output;
}

TEST(LibCryptPrograms, CloneCdSetGivesTheRecordsOfTheSbi) {
  TempDir dir;
  const auto data = rawImage(gameIso(300, "SLES_020.80", 1));
  writeFile(dir / "Game.img", data);
  writeFile(dir / "Game.sub", subOf(kShape, gameRecords()));
  writeText(dir / "Game.ccd", std::string("[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=4\r\nSessions=1\r\n"
                                          "[TRACK 1]\r\nMODE=2\r\nINDEX 1=0\r\n"));
  ToolRun r = runTool("psx", {"Game", "SLES02080", "1", "Game.ccd"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "LibCrypt data: 3 sectors from ")) << r.output;
  EXPECT_TRUE(has(r, "Game.sub, summary word")) << r.output;
  r = runTool("psx", {"--info", "Game.ccd"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "CloneCD sheet") && has(r, "SLES02080")) << r.output;
  r = runTool("psxdisc", {"extract", "-o", "Back", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "Back.sbi"), gameSbi());
  EXPECT_EQ(readFile(dir / "Back.bin"), data);

  // An .sbi beside the sheet comes first; a .sub of another image is refused, naming it.
  writeFile(dir / "Game.sub", subOf({299, {}}, {}));
  r = runTool("psx", {"Game", "SLES02080", "1", "Game.ccd"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "Game.sub' ends after the subchannel of 299 sectors, before the 300 of the disc")) << r.output;
  writeFile(dir / "Game.sbi", gameSbi());
  r = runTool("psx", {"Game", "SLES02080", "1", "Game.ccd"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "Game.sbi, summary word")) << r.output;
}

TEST(LibCryptPrograms, EachDiscOfAPlaylistCarriesItsOwn) {
  TempDir dir;
  const auto disc1 = rawImage(gameIso(300, "SLES_020.80", 1)), disc2 = rawImage(gameIso(200, "SLES_120.80", 2)),
             disc3 = rawImage(gameIso(150, "SLES_220.80", 3));
  writeFile(dir / "one.bin", disc1);
  writeFile(dir / "two.bin", disc2);
  writeFile(dir / "three.bin", disc3);
  fs::create_directory(dir / "lc");
  writeFile(dir / "lc" / "first.sbi", gameSbi());
  const std::vector<libcrypt::Record> second{protectedRecord({200, {}}, 199)};
  writeFile(dir / "two.sbi", libcrypt::formatSbi(second));
  // Disc 1's on the line after it, disc 2's beside it, disc 3 without.
  writeText(dir / "game.m3u", std::string("one.bin\nlc/first.sbi\ntwo.bin\nthree.bin\n"));
  ToolRun r = runTool("psx", {"Game", "SLES02080", "1", "game.m3u"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "LibCrypt data of disc 1: 3 sectors from")) << r.output;
  EXPECT_TRUE(has(r, "LibCrypt data of disc 2: 1 sector from")) << r.output;
  EXPECT_TRUE(has(r, "psx: warning: disc 3 (SLES22080) is known to check LibCrypt protection")) << r.output;

  r = runTool("psxdisc", {"extract", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "Game (Disc 1).sbi"), gameSbi());
  EXPECT_EQ(readFile(dir / "Game (Disc 2).sbi"), libcrypt::formatSbi(second));
  EXPECT_FALSE(fs::exists(dir / "Game (Disc 3).sbi"));
  EXPECT_EQ(readFile(dir / "Game (Disc 3).bin"), disc3);

  // --sbi names each disc's in order, before the files beside them.
  r = runTool("psx", {"--sbi", "two.sbi", "--sbi", "lc/first.sbi", "Game", "SLES02080", "1", "game.m3u"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "LibCrypt data of disc 1: 1 sector from two.sbi")) << r.output;
  EXPECT_TRUE(has(r, "LibCrypt data of disc 2: 3 sectors from lc/first.sbi")) << r.output;

  // A playlist's .sbi line needs a disc before it, and one each.
  writeText(dir / "first.m3u", std::string("lc/first.sbi\none.bin\n"));
  writeText(dir / "twice.m3u", std::string("one.bin\nlc/first.sbi\nlc/first.sbi\n"));
  r = runTool("psx", {"Game", "SLES02080", "1", "first.m3u"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "'first.m3u' names 'lc/first.sbi' before any disc")) << r.output;
  r = runTool("psx", {"Game", "SLES02080", "1", "twice.m3u"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "'twice.m3u' names two .sbi files for")) << r.output;
  r = runTool("psx", {"--sbi", "a.sbi", "--sbi", "b.sbi", "Game", "SLES02080", "1", "one.bin"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r, "--sbi names 2 files for 1 disc")) << r.output;
}

TEST(LibCryptPrograms, MalformedSbiStopsTheEbootNamingFileAndRecord) {
  TempDir dir;
  writeFile(dir / "Game.bin", rawImage(gameIso(300, "SLES_020.80", 1)));
  auto sbi = gameSbi();
  sbi[4 + 14 + 3] = 9;
  writeFile(dir / "Game.sbi", sbi);
  ToolRun r = runTool("psx", {"Game", "SLES02080", "9", "Game.bin"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "Game.sbi': record 2 (at byte 18), sector 105 (00:03:30), is of type 9")) << r.output;
  // A sector outside the disc, named explicitly: refused the same way.
  writeFile(dir / "far.sbi", libcrypt::formatSbi({protectedRecord({1000, {}}, 900)}));
  r = runTool("psx", {"--sbi", "far.sbi", "Game", "SLES02080", "9", "Game.bin"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "'far.sbi': record 1 (at byte 4), sector 900 (00:14:00), lies outside the disc of 300 sectors"))
      << r.output;
  EXPECT_FALSE(fs::exists(dir / "EBOOT.PBP"));
  EXPECT_FALSE(hasPartFiles(dir.path));
}

TEST(PsxWords, FourWordsAreTheDescribedFormWhateverTheTitle) {
  TempDir dir;
  writeFile(dir / "Game.bin", rawImage(gameIso(300, "SLES_020.80", 1)));
  writeFile(dir / "Game.sbi", gameSbi());
  // Titles as typed on the Convert page, options by their look.
  for (const char* title : {"--x", "--sbi", "--base", "--info"}) {
    ToolRun r = runTool("psx", {title, "SLES02080", "1", "Game.bin"}, dir.path);
    ASSERT_EQ(r.status, 0) << title << "\n" << r.output;
    EXPECT_TRUE(has(r, std::string("for \"") + title + "\" [SLES02080]")) << r.output;
    r = runTool("psxdisc", {"info", "EBOOT.PBP"}, dir.path);
    EXPECT_TRUE(has(r, std::string("Title:      ") + title + "\n")) << r.output;
    EXPECT_TRUE(has(r, "  LibCrypt: 3 sectors")) << r.output;
  }
  // With more than four words the options come first; what is left is the described form.
  ToolRun r = runTool("psx", {"--sbi", "Game.sbi", "--sbi", "SLES02080", "1", "Game.bin"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "for \"--sbi\" [SLES02080]")) << r.output;
  // --info with four words whose third is no level, and with any other count, describes.
  r = runTool("psx", {"--info", "--json", "Game.bin", "Game.bin"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r, "SLES02080")) << r.output;
  r = runTool("psx", {"--x", "SLES02080", "1", "Game.bin", "more"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r, "unknown option '--x'")) << r.output;
}

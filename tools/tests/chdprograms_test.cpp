// CHD files through the shipped programs: UMD images into a DVD CHD and back with ciso and dax,
// PS1 discs with audio from BIN/CUE into an EBOOT, into a CD CHD and back into an EBOOT; and
// MAME's chdman reading Kivo's files and Kivo reading chdman's, where chdman is installed.
#include "chddisc.h"
#include "support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kivo;
using namespace kivo::test;
namespace fs = std::filesystem;

namespace {

// (chdman 0.251 gives an audio track too many frames when its file holds the data track as well
// and another file follows, so each track has a file of its own here.)
const char kSheet[] = "FILE \"Game.bin\" BINARY\r\n"
                      "  TRACK 01 MODE2/2352\r\n"
                      "    INDEX 01 00:00:00\r\n"
                      "FILE \"Track2.bin\" BINARY\r\n"
                      "  TRACK 02 AUDIO\r\n"
                      "    INDEX 00 00:00:00\r\n"
                      "    INDEX 01 00:02:00\r\n"
                      "FILE \"Track3.bin\" BINARY\r\n"
                      "  TRACK 03 AUDIO\r\n"
                      "    PREGAP 00:02:00\r\n"
                      "    INDEX 01 00:00:00\r\n";

// A PS1 disc: 300 data sectors, then two audio tracks, one with its pregap in the file and one
// with a pregap the sheet adds.
void writeGame(const TempDir& dir) {
  writeFile(dir / "Game.bin", rawImage(gameIso(300, "SLUS_123.45", 1)));
  writeFile(dir / "Track2.bin", mixedBytes(250 * 2352, 2));
  writeFile(dir / "Track3.bin", mixedBytes(90 * 2352, 3));
  writeText(dir / "Game.cue", kSheet);
}

std::vector<uint8_t> sectorsOf(const DiscSource& disc) {
  std::vector<uint8_t> raw(size_t(disc.sectors()) * 2352);
  disc.readRaw(0, disc.sectors(), raw.data());
  return raw;
}

void expectSameDisc(const DiscSource& a, const DiscSource& b) {
  ASSERT_EQ(a.sectors(), b.sectors());
  EXPECT_TRUE(sectorsOf(a) == sectorsOf(b));
  const auto x = a.tracks(), y = b.tracks();
  ASSERT_EQ(x.size(), y.size());
  for (size_t k = 0; k < x.size(); ++k) {
    EXPECT_EQ(x[k].mode, y[k].mode) << "track " << k + 1;
    EXPECT_EQ(x[k].begin, y[k].begin) << "track " << k + 1;
    EXPECT_EQ(x[k].start, y[k].start) << "track " << k + 1;
    EXPECT_EQ(x[k].end, y[k].end) << "track " << k + 1;
  }
}

uint32_t hunkBytesOf(const fs::path& chd) {
  const auto head = readFile(chd);
  return uint32_t(head[56]) << 24 | uint32_t(head[57]) << 16 | uint32_t(head[58]) << 8 | head[59];
}

bool haveChdman() {
  return ::access("/usr/bin/chdman", X_OK) == 0;
}

ToolRun chdman(const std::vector<std::string>& args, const fs::path& cwd) {
  RunOptions options;
  options.toolDir = "/usr/bin";
  return runTool("chdman", args, cwd, options);
}

} // namespace

TEST(ChdPrograms, UmdImagesGoIntoChdAndBackThroughEveryTool) {
  TempDir dir;
  const auto iso = gameIso(900, "SLUS_123.45", 11);
  writeFile(dir / "a.iso", iso);
  ToolRun r = runTool("ciso", {"--verify", "-f", "chd", "9", "a.iso", "a.chd"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Verified a.chd: it reads back identical to a.iso"), std::string::npos) << r.output;
  EXPECT_EQ(hunkBytesOf(dir / "a.chd"), 2048u);
  r = runTool("ciso", {"--info", "a.chd"}, dir.path);
  EXPECT_NE(r.output.find("Format:         CHD, 2048-byte blocks"), std::string::npos) << r.output;

  // Read as a CHD by every form: decompressed, and packed straight into another container.
  r = runTool("ciso", {"0", "a.chd", "back.iso"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "Decompressed a.chd into back.iso (1800.0 KiB)\n");
  EXPECT_EQ(readFile(dir / "back.iso"), iso);
  ASSERT_EQ(runTool("ciso", {"9", "a.chd", "a.cso"}, dir.path).status, 0);
  ASSERT_EQ(runTool("dax", {"-l9", "a.chd", "a.dax"}, dir.path).status, 0);
  ASSERT_EQ(runTool("dax", {"-d", "a.chd", "d.iso"}, dir.path).status, 0);
  EXPECT_EQ(readFile(dir / "d.iso"), iso);
  for (const char* packed : {"a.cso", "a.dax"}) {
    ASSERT_EQ(runTool("ciso", {"0", packed, "x.iso"}, dir.path).status, 0) << packed;
    EXPECT_EQ(readFile(dir / "x.iso"), iso) << packed;
  }
  // Other hunk sizes, and a folder of outputs named after the inputs.
  ASSERT_EQ(runTool("ciso", {"-f", "chd", "-b", "64k", "-O", "out", "5", "a.cso"}, dir.path).status, 0);
  EXPECT_EQ(hunkBytesOf(dir / "out" / "a.chd"), 65536u);
  ASSERT_EQ(runTool("dax", {"-d", "out/a.chd", "y.iso"}, dir.path).status, 0);
  EXPECT_EQ(readFile(dir / "y.iso"), iso);
  EXPECT_EQ(runTool("ciso", {"-f", "chd", "-b", "1024k", "9", "a.iso", "z.chd"}, dir.path).status, 1);
  EXPECT_EQ(runTool("ciso", {"-f", "chd", "0", "a.iso", "z.chd"}, dir.path).status, 1);
  EXPECT_FALSE(fs::exists(dir / "z.chd"));
}

TEST(ChdPrograms, WhatIsNoUmdImageIsRefused) {
  TempDir dir;
  writeGame(dir);
  ASSERT_EQ(runTool("psx", {"Game", "SLUS12345", "9", "Game.cue"}, dir.path).status, 0);
  ASSERT_EQ(runTool("psxdisc", {"extract", "-f", "chd", "-o", "cd", "EBOOT.PBP"}, dir.path).status, 0);
  writeText(dir / "notes.iso", std::string(80000, 'x'));
  auto cut = readFile(dir / "cd.chd");
  cut.resize(cut.size() - 10);
  writeFile(dir / "cut.chd", cut);
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  for (const Case& c : {Case{{"ciso", "9", "notes.iso", "out"}, "is not a CSO, ZSO, DAX or CHD file, nor a disc image"},
                        Case{{"dax", "-l9", "notes.iso", "out"}, "is not a CSO, ZSO, DAX or CHD file, nor a disc image"},
                        Case{{"ciso", "0", "cd.chd", "out"}, "holds a CD"},
                        Case{{"ciso", "0", "cut.chd", "out"}, "not a valid CHD file"}}) {
    ToolRun r = runTool(c.args[0], {c.args.begin() + 1, c.args.end()}, dir.path);
    EXPECT_EQ(r.status, 2) << c.args[0] << " " << c.args[2] << ": " << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
  EXPECT_FALSE(fs::exists(dir / "out"));
  writeFile(dir / "u.iso", isoImage(40, 40));
  ASSERT_EQ(runTool("ciso", {"-f", "chd", "9", "u.iso", "u.chd"}, dir.path).status, 0);
  ToolRun r = runTool("psx", {"T", "SLUS00001", "9", "u.chd"}, dir.path);
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("'u.chd': the CHD file holds no CD"), std::string::npos) << r.output;
  EXPECT_EQ(runTool("psxdisc", {"extract", "-f", "chd", "--split", "EBOOT.PBP"}, dir.path).status, 1);
}

TEST(ChdPrograms, Ps1DiscsWithAudioGoFromCueToEbootToChdAndBack) {
  TempDir dir;
  writeGame(dir);
  ToolRun r = runTool("psx", {"Game", "SLUS12345", "9", "Game.cue"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  const auto eboot = readFile(dir / "EBOOT.PBP");
  fs::create_directory(dir / "out");
  fs::create_directory(dir / "both");
  r = runTool("psxdisc", {"extract", "-f", "chd", "-o", "out/Game.chd", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Disc 1 [SLUS12345]: out/Game.chd, 3 tracks"), std::string::npos) << r.output;
  {
    CueDisc cue((dir / "Game.cue").string());
    InputFile file((dir / "out" / "Game.chd").string());
    chd::ChdDisc chd(file);
    expectSameDisc(chd, cue);
  }
  r = runTool("psx", {"--info", "out/Game.chd"}, dir.path);
  EXPECT_NE(r.output.find("Format:         CHD (CD), 19584-byte blocks"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("SLUS12345"), std::string::npos) << r.output;
  // The CHD makes the same EBOOT as the sheet did.
  fs::remove(dir / "EBOOT.PBP");
  r = runTool("psx", {"Game", "SLUS12345", "9", "out/Game.chd"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("3 tracks: 1 data, 2 audio"), std::string::npos) << r.output;
  EXPECT_TRUE(readFile(dir / "EBOOT.PBP") == eboot);

  // A playlist of CHDs makes a game of several discs, which comes back as CHDs and a playlist.
  writeFile(dir / "two.bin", rawImage(gameIso(200, "SLUS_123.46", 5)));
  writeText(dir / "two.cue", "FILE \"two.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n");
  ASSERT_EQ(runTool("psx", {"Two", "SLUS12346", "1", "two.cue"}, dir.path).status, 0);
  ASSERT_EQ(runTool("psxdisc", {"extract", "-f", "chd", "-o", "out/Two", "EBOOT.PBP"}, dir.path).status, 0);
  writeText(dir / "out" / "game.m3u", "Game.chd\nTwo.chd\n");
  r = runTool("psx", {"Game", "SLUS12345", "9", "out/game.m3u"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Disc 2 [SLUS12346]"), std::string::npos) << r.output;
  r = runTool("psxdisc", {"extract", "-f", "chd", "-o", "both/Game", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  const auto list = readFile(dir / "both" / "Game.m3u");
  EXPECT_EQ(std::string(list.begin(), list.end()), "Game (Disc 1).chd\nGame (Disc 2).chd\n");
  EXPECT_EQ(readFile(dir / "both" / "Game (Disc 2).chd"), readFile(dir / "out" / "Two.chd"));
}

TEST(ChdPrograms, ChdmanAndKivoReadEachOthersFiles) {
  if (!haveChdman()) GTEST_SKIP() << "chdman (Debian's mame-tools) is not installed: the files are not checked against it";
  TempDir dir;
  const auto iso = isoImage(700, 700, 12);
  writeFile(dir / "a.iso", iso);
  ASSERT_EQ(runTool("ciso", {"-f", "chd", "9", "a.iso", "kivo.chd"}, dir.path).status, 0);
  ToolRun r = chdman({"verify", "-i", "kivo.chd"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  r = chdman({"extractraw", "-i", "kivo.chd", "-o", "raw.iso"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(readFile(dir / "raw.iso") == iso);

  // chdman's own, with createdvd's codecs (createraw, its DVD tag, then copy) and with one each.
  ASSERT_EQ(chdman({"createraw", "-i", "a.iso", "-o", "plain.chd", "-hs", "2048", "-us", "2048", "-c", "none"}, dir.path).status, 0);
  ASSERT_EQ(chdman({"addmeta", "-i", "plain.chd", "-t", "DVD ", "-vt", ""}, dir.path).status, 0);
  ASSERT_EQ(chdman({"copy", "-i", "plain.chd", "-o", "dvd.chd", "-hs", "2048", "-c", "lzma,zlib,huff,flac"}, dir.path).status, 0);
  for (const char* codecs : {"zlib", "lzma", "huff"})
    ASSERT_EQ(chdman({"createraw", "-i", "a.iso", "-o", std::string(codecs) + ".chd", "-hs", "4096", "-us", "2048", "-c",
                      codecs}, dir.path).status, 0);
  for (const char* file : {"plain.chd", "dvd.chd", "zlib.chd", "lzma.chd", "huff.chd"}) {
    r = runTool("ciso", {"0", file, "back.iso"}, dir.path);
    ASSERT_EQ(r.status, 0) << file << ": " << r.output;
    EXPECT_TRUE(readFile(dir / "back.iso") == iso) << file;
  }
  // The same image and metadata give the same checksums in both writers' files.
  const auto theirs = readFile(dir / "dvd.chd"), ours = readFile(dir / "kivo.chd");
  EXPECT_TRUE(std::equal(theirs.begin() + 64, theirs.begin() + 104, ours.begin() + 64));

  // CDs: Kivo's verify and extract to the disc they came from; chdman's make the same EBOOT.
  writeGame(dir);
  ASSERT_EQ(runTool("psx", {"Game", "SLUS12345", "9", "Game.cue"}, dir.path).status, 0);
  const auto eboot = readFile(dir / "EBOOT.PBP");
  ASSERT_EQ(runTool("psxdisc", {"extract", "-f", "chd", "-o", "kivocd", "EBOOT.PBP"}, dir.path).status, 0);
  r = chdman({"verify", "-i", "kivocd.chd"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  fs::create_directory(dir / "x");
  r = chdman({"extractcd", "-i", "kivocd.chd", "-o", "x/Game.cue"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  {
    CueDisc original((dir / "Game.cue").string()), extracted((dir / "x" / "Game.cue").string());
    expectSameDisc(extracted, original);
  }
  r = chdman({"createcd", "-i", "Game.cue", "-o", "chdman.chd"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  fs::remove(dir / "EBOOT.PBP");
  r = runTool("psx", {"Game", "SLUS12345", "9", "chdman.chd"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(readFile(dir / "EBOOT.PBP") == eboot);
}

// psx and psxdisc as a player runs them: CUE sheets with audio tracks and playlists of discs into
// an EBOOT, and back to BIN/CUE, byte for byte; rastle on a multi-disc EBOOT; the checks.
#include "cue.h"
#include "disc.h"
#include "support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kivo;
using namespace kivo::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> concat(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::vector<uint8_t> withPregap(const std::vector<uint8_t>& music) {
  std::vector<uint8_t> track(150 * 2352);
  track.insert(track.end(), music.begin(), music.end());
  return track;
}

// The tracks a sheet puts on the disc, with the files beside it.
std::vector<DiscTrack> layoutOf(const fs::path& cue) {
  CueDisc disc(cue.string());
  return disc.tracks();
}

void expectSameLayout(const fs::path& a, const fs::path& b) {
  auto x = layoutOf(a), y = layoutOf(b);
  ASSERT_EQ(x.size(), y.size());
  for (size_t k = 0; k < x.size(); ++k) {
    EXPECT_EQ(x[k].number, y[k].number);
    EXPECT_EQ(x[k].mode, y[k].mode) << "track " << k + 1;
    EXPECT_EQ(x[k].begin, y[k].begin) << "track " << k + 1;
    EXPECT_EQ(x[k].start, y[k].start) << "track " << k + 1;
    EXPECT_EQ(x[k].end, y[k].end) << "track " << k + 1;
  }
}

const char kSplitSheet[] = "REM a rip with one file per track\r\n"
                           "FILE \"Game (Track 1).bin\" BINARY\r\n"
                           "  TRACK 01 MODE2/2352\r\n"
                           "    INDEX 01 00:00:00\r\n"
                           "FILE \"Game (Track 2).bin\" BINARY\r\n"
                           "  TRACK 02 AUDIO\r\n"
                           "    INDEX 00 00:00:00\r\n"
                           "    INDEX 01 00:02:00\r\n"
                           "FILE \"Game (Track 3).bin\" BINARY\r\n"
                           "  TRACK 03 AUDIO\r\n"
                           "    INDEX 00 00:00:00\r\n"
                           "    INDEX 01 00:02:00\r\n";

} // namespace

TEST(DiscPrograms, CueSheetWithAudioTracksRoundTrips) {
  TempDir dir;
  const auto data = rawImage(gameIso(300, "SLUS_123.45", 1));
  const auto track2 = withPregap(mixedBytes(200 * 2352, 2)), track3 = withPregap(mixedBytes(121 * 2352, 3));
  writeFile(dir / "Game (Track 1).bin", data);
  writeFile(dir / "Game (Track 2).bin", track2);
  writeFile(dir / "Game (Track 3).bin", track3);
  writeText(dir / "Game.cue", std::string(kSplitSheet));
  ToolRun r = runTool("psx", {"Game", "SLUS12345", "9", "Game.cue"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("3 tracks: 1 data, 2 audio"), std::string::npos) << r.output;

  fs::create_directory(dir / "out");
  r = runTool("psxdisc", {"extract", "--split", "-o", "out/Game", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "out" / "Game (Track 01).bin"), data);
  EXPECT_EQ(readFile(dir / "out" / "Game (Track 02).bin"), track2);
  EXPECT_EQ(readFile(dir / "out" / "Game (Track 03).bin"), track3);
  expectSameLayout(dir / "Game.cue", dir / "out" / "Game.cue");

  // One BIN for the whole disc: the same bytes in a row and the same addresses.
  r = runTool("psxdisc", {"extract", "EBOOT.PBP"}, dir.path); // named after the title, beside the EBOOT
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "Game.bin"), concat({data, track2, track3}));
  const auto cueText = readFile(dir / "Game.cue");
  auto sheet = parseCue(std::string(cueText.begin(), cueText.end()));
  EXPECT_EQ(sheet.files.size(), 1u);
  EXPECT_EQ(sheet.files[0].name, "Game.bin");

  // The single-file sheet makes the same EBOOT.
  const auto eboot = readFile(dir / "EBOOT.PBP");
  fs::create_directory(dir / "one");
  fs::rename(dir / "Game.bin", dir / "one" / "Game.bin");
  fs::rename(dir / "Game.cue", dir / "one" / "Game.cue");
  r = runTool("psx", {"Game", "SLUS12345", "9", "one/Game.cue"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "EBOOT.PBP"), eboot);

  // A pregap the file does not hold is silence on the disc, and comes back as such.
  writeFile(dir / "t3.bin", mixedBytes(121 * 2352, 3));
  std::string gapSheet = kSplitSheet;
  gapSheet.replace(gapSheet.find("Game (Track 3).bin"), 18, "t3.bin");
  gapSheet.replace(gapSheet.rfind("    INDEX 00 00:00:00\r\n    INDEX 01 00:02:00"), 44,
                   "    PREGAP 00:02:00\r\n    INDEX 01 00:00:00");
  writeText(dir / "gap.cue", gapSheet);
  r = runTool("psx", {"Game", "SLUS12345", "9", "gap.cue"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "EBOOT.PBP"), eboot);
}

TEST(DiscPrograms, ThreeDiscsFromAPlaylistRoundTrip) {
  TempDir dir;
  const auto disc1 = gameIso(200, "SCUS_941.63", 1);
  const auto disc2data = rawImage(gameIso(150, "SCUS_941.64", 2));
  const auto disc2audio = withPregap(mixedBytes(80 * 2352, 7));
  const auto disc3 = isoImage(180, 180, 3); // no SYSTEM.CNF: its ID is counted on
  writeFile(dir / "disc1.iso", disc1);
  writeFile(dir / "d2.bin", concat({disc2data, disc2audio}));
  writeText(dir / "disc2.cue", std::string("FILE \"d2.bin\" BINARY\n TRACK 01 MODE2/2352\n  INDEX 01 00:00:00\n"
                                           " TRACK 02 AUDIO\n  INDEX 00 00:02:00\n  INDEX 01 00:04:00\n"));
  fs::create_directory(dir / "more");
  writeFile(dir / "more" / "disc3.iso", isoImage(180, 180, 3));
  writeText(dir / "game.m3u", std::string("#EXTM3U\ndisc1.iso\ndisc2.cue\nmore/disc3.iso\n"));
  writeText(dir / "windows.m3u", std::string("DISC1.ISO\r\n.\\disc2.cue\r\nC:\\Games\\more\\disc3.iso\r\n"));
  ToolRun r = runTool("psx", {"Big Game", "SCUS94163", "5", "game.m3u"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Disc 2 [SCUS94164]"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Disc 3 [SCUS94165, counted on from the game ID]"), std::string::npos) << r.output;

  r = runTool("psxdisc", {"info", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Discs:      3 (multi-disc image)"), std::string::npos) << r.output;

  r = runTool("psxdisc", {"extract", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "Big Game (Disc 1).bin"), rawImage(disc1));
  EXPECT_EQ(readFile(dir / "Big Game (Disc 2).bin"), concat({disc2data, disc2audio}));
  EXPECT_EQ(readFile(dir / "Big Game (Disc 3).bin"), rawImage(disc3));
  expectSameLayout(dir / "disc2.cue", dir / "Big Game (Disc 2).cue");
  auto m3u = readFile(dir / "Big Game.m3u");
  EXPECT_EQ(parsePlaylist(std::string(m3u.begin(), m3u.end())),
            (std::vector<std::string>{"Big Game (Disc 1).cue", "Big Game (Disc 2).cue", "Big Game (Disc 3).cue"}));
  // The playlist it wrote makes the same EBOOT again.
  const auto eboot = readFile(dir / "EBOOT.PBP");
  r = runTool("psx", {"Big Game", "SCUS94163", "5", "Big Game.m3u"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "EBOOT.PBP"), eboot);

  // A playlist written on another system names the same discs.
  r = runTool("psx", {"Big Game", "SCUS94163", "5", "windows.m3u"}, dir.path);
  EXPECT_NE(r.status, 0) << "disc3.iso is in more/, not beside the playlist";
  fs::copy_file(dir / "more" / "disc3.iso", dir / "disc3.iso");
  r = runTool("psx", {"Big Game", "SCUS94163", "5", "windows.m3u"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "EBOOT.PBP"), eboot);

  // One disc alone: no playlist.
  fs::create_directory(dir / "only");
  r = runTool("psxdisc", {"extract", "-d", "2", "-o", "only/x.cue", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "only" / "x (Disc 2).bin"), concat({disc2data, disc2audio}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "only"), fs::directory_iterator()), 2);

  // rastle knows one disc image: it reads the first disc, cut to its volume, as always.
  r = runTool("rastle", {"-o", "r.iso", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "Extracting iso (" + std::to_string(200 * 2352) + " bytes) from 'EBOOT.PBP' to 'r.iso'...\n");
  EXPECT_EQ(readFile(dir / "r.iso"), rawImage(disc1));
}

TEST(DiscPrograms, VerifySaysWhereTheDamageIs) {
  TempDir dir;
  auto data = rawImage(gameIso(200, "SLUS_123.45"));
  data[size_t(37) * 2352 + 2072] ^= 0x40; // the EDC of sector 37
  writeFile(dir / "game.bin", data);
  ASSERT_EQ(runTool("psx", {"T", "SLUS12345", "0", "game.bin"}, dir.path).status, 0);
  ToolRun r = runTool("psxdisc", {"verify", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("Disc 1: sector 37 (00:02:37) of track 1, in block 2: wrong EDC"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("psxdisc: error: 'EBOOT.PBP' is damaged: 1 fault\n"), std::string::npos) << r.output;

  data[size_t(37) * 2352 + 2072] ^= 0x40;
  writeFile(dir / "game.bin", data);
  ASSERT_EQ(runTool("psx", {"T", "SLUS12345", "9", "game.bin"}, dir.path).status, 0);
  r = runTool("psxdisc", {"verify", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Disc 1 [SLUS12345]: sound"), std::string::npos) << r.output;

  auto eboot = readFile(dir / "EBOOT.PBP");
  const uint32_t psar = getLe32(&eboot[36]);
  const uint32_t block7 = psar + 0x100000 + getLe32(&eboot[psar + 0x4000 + 7 * 32]);
  eboot[block7 + 5] ^= 0x08;
  writeFile(dir / "EBOOT.PBP", eboot);
  r = runTool("psxdisc", {"verify", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 2);
  char where[64];
  std::snprintf(where, sizeof where, "at file offset 0x%X", block7);
  EXPECT_NE(r.output.find("Disc 1: block 7 (disc sectors 112 to 127, " + std::string(where) + "): "),
            std::string::npos)
      << r.output;

  // Extraction of the damaged EBOOT stops and leaves nothing behind.
  r = runTool("psxdisc", {"extract", "-o", "bad", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("block 7"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir / "bad.bin"));
  EXPECT_FALSE(fs::exists(dir / "bad.cue"));
  EXPECT_FALSE(hasPartFiles(dir.path));
}

TEST(DiscPrograms, BadInputsAreRefusedClearly) {
  TempDir dir;
  writeFile(dir / "a.iso", isoImage(40, 40));
  ASSERT_EQ(runTool("psx", {"T", "SCUS00001", "9", "a.iso"}, dir.path).status, 0);
  const auto eboot = readFile(dir / "EBOOT.PBP");

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"list", "EBOOT.PBP"}, {"info"}, {"info", "a", "b"}, {"extract", "-d", "6", "EBOOT.PBP"},
        {"extract", "-o"}, {"verify", "--split", "EBOOT.PBP"}}) {
    ToolRun r = runTool("psxdisc", args, dir.path);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("usage: psxdisc"), std::string::npos) << r.output;
  }
  ToolRun r = runTool("psxdisc", {"extract", "-d", "2", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("holds 1 disc"), std::string::npos) << r.output;

  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  r = runTool("psxdisc", {"info", "fifo"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("not a regular file"), std::string::npos) << r.output;

  // An EBOOT named like an output is never written over.
  fs::copy_file(dir / "EBOOT.PBP", dir / "game.bin");
  r = runTool("psxdisc", {"extract", "-o", "game", "game.bin"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("is the EBOOT being read"), std::string::npos) << r.output;
  EXPECT_EQ(readFile(dir / "game.bin"), eboot);

  // Playlists: too many discs, one inside another, a missing disc. The EBOOT stays as it was.
  writeText(dir / "six.m3u", std::string("a.iso\na.iso\na.iso\na.iso\na.iso\na.iso\n"));
  writeText(dir / "nested.m3u", std::string("a.iso\nsix.m3u\n"));
  writeText(dir / "gone.m3u", std::string("a.iso\nnothing.cue\n"));
  writeText(dir / "empty.m3u", std::string("# nothing\n"));
  for (auto [list, expected] : {std::pair<const char*, const char*>{"six.m3u", "names 6 discs"},
                                {"nested.m3u", "cannot name another playlist"},
                                {"gone.m3u", "nothing.cue"},
                                {"empty.m3u", "names no disc"}}) {
    r = runTool("psx", {"T", "SCUS00001", "9", list}, dir.path);
    EXPECT_EQ(r.status, 2) << list;
    EXPECT_NE(r.output.find(expected), std::string::npos) << r.output;
  }
  writeText(dir / "bad.cue", std::string("FILE \"a.iso\" BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"));
  r = runTool("psx", {"T", "SCUS00001", "9", "bad.cue"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("'bad.cue': track 1 (line 2): 'a.iso' does not end on a whole sector"), std::string::npos)
      << r.output;
  EXPECT_EQ(readFile(dir / "EBOOT.PBP"), eboot);
  EXPECT_FALSE(hasPartFiles(dir.path));
}

TEST(DiscPrograms, ProgressForKivo) {
  TempDir dir;
  writeFile(dir / "a.iso", isoImage(400, 400));
  ASSERT_EQ(runTool("psx", {"T", "SCUS00001", "9", "a.iso"}, dir.path).status, 0);
  ::setenv("KIVO_PROGRESS", "1", 1);
  ToolRun extract = runTool("psxdisc", {"extract", "EBOOT.PBP"}, dir.path);
  ToolRun verify = runTool("psxdisc", {"verify", "EBOOT.PBP"}, dir.path);
  ::unsetenv("KIVO_PROGRESS");
  for (const ToolRun& r : {extract, verify}) {
    ASSERT_EQ(r.status, 0) << r.output;
    const size_t first = r.output.find("KIVO-PROGRESS 0 "), last = r.output.rfind("KIVO-PROGRESS ");
    ASSERT_NE(first, std::string::npos) << r.output;
    const std::string total = r.output.substr(first + 16, r.output.find('\n', first) - first - 16);
    EXPECT_EQ(r.output.compare(last, 14 + 2 * total.size() + 1, "KIVO-PROGRESS " + total + " " + total), 0)
        << r.output;
  }
}

TEST(DiscPrograms, ExtractPutsAllItsFilesInPlaceAtOnce) {
  TempDir dir;
  writeFile(dir / "game.iso", gameIso(200, "SLUS_123.45", 1));
  ASSERT_EQ(runTool("psx", {"Game", "SLUS12345", "9", "game.iso"}, dir.path).status, 0);
  const size_t page = 4096, binPages = (200 * 2352 + page - 1) / page;
  {
    // Room for the new BIN beside the old sheet, none for a new sheet as well.
    SmallDisk disk((binPages + 1) * page);
    if (!disk.mounted) GTEST_SKIP() << "a full disk here needs a tmpfs, which only the superuser may mount";
    writeText(disk.path / "Game.bin", "");
    writeText(disk.path / "Game.cue", "old sheet");
    ToolRun r = runTool("psxdisc", {"extract", "-o", (disk.path / "Game").string(), "EBOOT.PBP"}, dir.path);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("No space left on device"), std::string::npos) << r.output;
    EXPECT_EQ(readFile(disk.path / "Game.bin"), std::vector<uint8_t>{});
    const auto sheet = readFile(disk.path / "Game.cue");
    EXPECT_EQ(std::string(sheet.begin(), sheet.end()), "old sheet");
    EXPECT_FALSE(hasPartFiles(disk.path));
  }
  {
    // Room for a BIN alone: no BIN is left without its sheet.
    SmallDisk disk(binPages * page);
    ToolRun r = runTool("psxdisc", {"extract", "-o", (disk.path / "Game").string(), "EBOOT.PBP"}, dir.path);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(fs::is_empty(disk.path));
  }
}

TEST(DiscPrograms, NamesAreWrittenSoThatTheyReadBack) {
  TempDir dir;
  writeFile(dir / "game.iso", gameIso(200, "SLUS_123.45", 1));
  ASSERT_EQ(runTool("psx", {"Game", "SLUS12345", "9", "game.iso"}, dir.path).status, 0);
  // A sheet quotes its file names: a double quote or a line break cannot stand in one.
  fs::create_directory(dir / "x");
  for (const char* name : {"say \"hi\"", "two\nlines", "carriage\rreturn"}) {
    ToolRun r = runTool("psxdisc", {"extract", "-o", std::string("x/") + name, "EBOOT.PBP"}, dir.path);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("cannot hold"), std::string::npos) << r.output;
  }
  EXPECT_TRUE(fs::is_empty(dir / "x"));

  // A game whose title starts like a comment: its playlist still names every disc.
  writeFile(dir / "disc2.iso", gameIso(150, "SLUS_123.46", 2));
  writeText(dir / "two.m3u", std::string("game.iso\ndisc2.iso\n"));
  ASSERT_EQ(runTool("psx", {"#1 Hits", "SLUS12345", "9", "two.m3u"}, dir.path).status, 0);
  const auto eboot = readFile(dir / "EBOOT.PBP");
  ToolRun r = runTool("psxdisc", {"extract", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  r = runTool("psx", {"#1 Hits", "SLUS12345", "9", "#1 Hits.m3u"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "EBOOT.PBP"), eboot);
}

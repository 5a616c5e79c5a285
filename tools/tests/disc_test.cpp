// What a PS1 disc is made of outside an EBOOT: CUE sheets and playlists, the disc they lay out,
// the sectors' error codes, the disc ID in SYSTEM.CNF and the table of contents.
#include "cdrom.h"
#include "cue.h"
#include "disc.h"
#include "pbp.h"
#include "ps1image.h"
#include "support.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

namespace {

std::string errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ToolError& e) {
    return e.what();
  }
  return {};
}

std::vector<std::pair<unsigned, uint32_t>> idx(uint32_t i0, uint32_t i1) {
  return {{0, i0}, {1, i1}};
}

} // namespace

TEST(CueSheet, ReadsSheetsAsRippersWriteThem) {
  const std::string text = "\xEF\xBB\xBFREM GENRE Game\r\n"
                           "TITLE \"Some Game\"\r\n"
                           "file \"My Game (Track 1).bin\" binary\r\n"
                           "  track 01 mode2/2352\r\n"
                           "    INDEX 01 00:00:00\r\n"
                           "FILE \"My Game (Track 2).bin\" MOTOROLA\r\n"
                           "  TRACK 02 AUDIO\r\n"
                           "    FLAGS DCP\r\n"
                           "    PREGAP 00:01:00\r\n"
                           "    INDEX 00 00:00:00\r\n"
                           "    INDEX 01 00:02:00\r\n"
                           "    INDEX 02 01:00:00\r\n"
                           "    POSTGAP 00:00:10\r\n"
                           "  TRACK 03 MODE1/2048\r\n"
                           "    INDEX 01 02:00:00"; // no line end at the end
  CueSheet sheet = parseCue(text);
  ASSERT_EQ(sheet.files.size(), 2u);
  EXPECT_EQ(sheet.files[0].name, "My Game (Track 1).bin");
  EXPECT_FALSE(sheet.files[0].bigEndianAudio);
  EXPECT_TRUE(sheet.files[1].bigEndianAudio);
  const CueTrack& audio = sheet.files[1].tracks[0];
  EXPECT_EQ(audio.mode, TrackMode::Audio);
  EXPECT_EQ(audio.pregap, 75u);
  EXPECT_EQ(audio.postgap, 10u);
  EXPECT_EQ(audio.indexes.size(), 3u);
  EXPECT_EQ(audio.indexes[1], (std::pair<unsigned, uint32_t>{1, 150}));
  const CueTrack& cooked = sheet.files[1].tracks[1];
  EXPECT_EQ(cooked.sectorSize, 2048u);
  EXPECT_EQ(cooked.mode, TrackMode::Mode2); // a PS1 data track whatever the sheet calls it
  EXPECT_EQ(cooked.indexes[0].second, 9000u);

  // What the program writes, it reads back the same.
  CueSheet written;
  written.files = {{"a.bin", false, {}, 0}};
  written.files[0].tracks = {{1, TrackMode::Mode2, 2352, {{1, 0}}, 0, 0, 0},
                             {2, TrackMode::Audio, 2352, idx(1000, 1150), 0, 0, 0}};
  const std::string out = formatCue(written);
  EXPECT_EQ(out, "FILE \"a.bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n"
                 "  TRACK 02 AUDIO\r\n    INDEX 00 00:13:25\r\n    INDEX 01 00:15:25\r\n");
  EXPECT_EQ(parseCue(out).files[0].tracks[1].indexes, idx(1000, 1150));
}

TEST(CueSheet, SaysWhichLineIsWrong) {
  const std::string file = "FILE \"a.bin\" BINARY\n";
  const std::string track = file + "TRACK 01 MODE2/2352\n";
  const std::pair<std::string, std::string> cases[] = {
      {"", "no FILE"},
      {"TRACK 01 AUDIO\n", "line 1: TRACK before any FILE"},
      {file + "INDEX 01 00:00:00\n", "line 2: INDEX before any TRACK"},
      {"FILE \"a.wav\" WAVE\n", "line 1: only BINARY and MOTOROLA"},
      {"FILE \"a.bin BINARY\n", "line 1: a quote is not closed"},
      {file + "TRACK 1 CDG\n", "line 2: unsupported track mode CDG"},
      {file + "TRACK 00 AUDIO\n", "line 2: track number"},
      {file + "TRACK 100 AUDIO\n", "line 2: track number"},
      {track + "INDEX 01 00:60:00\n", "line 3: INDEX needs"},
      {track + "INDEX 01 00:00:75\n", "line 3: INDEX needs"},
      {track + "INDEX 01 1:2\n", "line 3: INDEX needs"},
      {track + "INDEX 01 00:02:00\nINDEX 00 00:00:00\n", "line 4: indexes must rise"},
      {track + "PREGAP\n", "line 3: PREGAP needs"},
      {track + "INDEX 00 00:00:00\n", "line 2: track has no INDEX 01"},
      {track + "INDEX 01 00:00:00\nTRACK 03 AUDIO\nINDEX 01 00:10:00\n", "line 4: tracks must be numbered"},
      {file + file + "TRACK 01 AUDIO\nINDEX 01 00:00:00\n", "line 1: FILE without a TRACK"},
      {std::string("FILE \"a\0.bin\" BINARY\n", 21), "line 1: not text"},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_NE(errorOf([&] { parseCue(text); }).find(expected), std::string::npos) << "sheet:\n" << text;
}

TEST(CueSheet, LaysTracksOutOnTheDisc) {
  // One file: data 1000 sectors, audio 2 with a 150-sector pregap in the file, audio 3 with a
  // PREGAP the file does not hold.
  CueSheet one = parseCue("FILE \"a.bin\" BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"
                          "TRACK 02 AUDIO\nINDEX 00 00:13:25\nINDEX 01 00:15:25\n"
                          "TRACK 03 AUDIO\nPREGAP 00:02:00\nINDEX 01 00:20:00\n");
  DiscLayout d = layoutCue(one, {1600ull * 2352});
  ASSERT_EQ(d.tracks.size(), 3u);
  EXPECT_EQ(d.tracks[0].begin, 0u);
  EXPECT_EQ(d.tracks[0].end, 1000u);
  EXPECT_EQ(d.tracks[1].begin, 1000u);
  EXPECT_EQ(d.tracks[1].start, 1150u);
  EXPECT_EQ(d.tracks[1].end, 1500u);
  EXPECT_EQ(d.tracks[2].begin, 1500u);
  EXPECT_EQ(d.tracks[2].start, 1650u);
  EXPECT_EQ(d.sectors, 1750u);
  EXPECT_EQ(d.segments[2].file, -1); // the PREGAP
  EXPECT_EQ(d.segments[3].offset, 1500ull * 2352);

  // The same disc from one file per track gives the same addresses.
  CueSheet split = parseCue("FILE \"1.bin\" BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"
                            "FILE \"2.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:02:00\n"
                            "FILE \"3.bin\" BINARY\nTRACK 03 AUDIO\nPREGAP 00:02:00\nINDEX 01 00:00:00\n");
  DiscLayout s = layoutCue(split, {1000ull * 2352, 500ull * 2352, 100ull * 2352});
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(s.tracks[k].begin, d.tracks[k].begin) << k;
    EXPECT_EQ(s.tracks[k].start, d.tracks[k].start) << k;
    EXPECT_EQ(s.tracks[k].end, d.tracks[k].end) << k;
  }

  EXPECT_NE(errorOf([&] { layoutCue(one, {1600ull * 2352 + 1}); }).find("whole sector"), std::string::npos);
  EXPECT_NE(errorOf([&] { layoutCue(one, {1100ull * 2352}); }).find("ends before"), std::string::npos);
  EXPECT_NE(errorOf([&] { layoutCue(split, {1000ull * 2352, 100ull * 2352, 0}); }).find("INDEX 01"),
            std::string::npos);
  CueSheet audioFirst = parseCue("FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
  EXPECT_NE(errorOf([&] { layoutCue(audioFirst, {2352}); }).find("data track"), std::string::npos);
  CueSheet huge = parseCue("FILE \"a.bin\" BINARY\nTRACK 01 MODE2/2352\nPREGAP 9999:00:00\nINDEX 01 00:00:00\n");
  EXPECT_NE(errorOf([&] { layoutCue(huge, {2352}); }).find("too large"), std::string::npos);
}

TEST(CueSheet, DiscReadsEveryKindOfTrackAsRawSectors) {
  TempDir dir;
  auto iso = isoImage(40, 40, 3);
  auto raw = rawImage(iso);
  auto audio = mixedBytes(20 * 2352, 4);
  std::vector<uint8_t> swapped(audio);
  for (size_t i = 0; i + 1 < swapped.size(); i += 2)
    std::swap(swapped[i], swapped[i + 1]);
  writeFile(dir / "data.iso", iso);
  writeFile(dir / "Audio.BIN", swapped);
  // A sheet from another system: backslashes and another letter case in the names.
  writeText(dir / "game.cue", std::string("FILE \"C:\\rips\\data.iso\" BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"
                                          "POSTGAP 00:00:02\n"
                                          "FILE \"audio.bin\" MOTOROLA\nTRACK 02 AUDIO\nPREGAP 00:00:03\nINDEX 01 00:00:00\n"));
  CueDisc disc((dir / "game.cue").string());
  ASSERT_EQ(disc.sectors(), 40u + 2 + 3 + 20);
  std::vector<uint8_t> all(size_t(disc.sectors()) * 2352);
  disc.readRaw(0, disc.sectors(), all.data());
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), all.begin()));
  uint8_t empty[2048] = {};
  for (uint32_t lba : {40u, 41u}) { // made-up data sectors carry their own address
    uint8_t expected[2352];
    cdrom::makeMode2Form1(expected, empty, lba);
    EXPECT_EQ(0, std::memcmp(expected, &all[lba * 2352], 2352)) << lba;
  }
  EXPECT_TRUE(std::all_of(&all[42 * 2352], &all[45 * 2352], [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), &all[45 * 2352]));
  // A run that crosses segments reads the same as sector by sector.
  std::vector<uint8_t> part(6 * 2352);
  disc.readRaw(39, 6, part.data());
  EXPECT_TRUE(std::equal(part.begin(), part.end(), &all[39 * 2352]));
  EXPECT_EQ(disc.volumeSectors(), 40u);

  writeText(dir / "missing.cue", std::string("FILE \"nothing.bin\" BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"));
  EXPECT_NE(errorOf([&] { CueDisc((dir / "missing.cue").string()); }).find("nothing.bin"), std::string::npos);
  std::filesystem::create_directory(dir / "folder.bin");
  writeText(dir / "folder.cue", std::string("FILE \"folder.bin\" BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"));
  EXPECT_NE(errorOf([&] { CueDisc((dir / "folder.cue").string()); }).find("not a regular file"), std::string::npos);
}

TEST(CueSheet, TakesFilesOnlyFromItsOwnFolder) {
  TempDir dir;
  std::filesystem::create_directories(dir / "rips" / "sub");
  writeFile(dir / "secret.iso", isoImage(40, 40, 1)); // beside the folder, not in it
  writeFile(dir / "rips" / "sub" / "data.iso", isoImage(40, 40, 2));
  const std::string track = "\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n";
  auto sheet = [&](const std::string& name) {
    writeText(dir / "rips" / "game.cue", "FILE \"" + name + "\" BINARY" + track);
    return (dir / "rips" / "game.cue").string();
  };
  auto sectors = [&](const std::string& cue) {
    CueDisc disc(cue);
    std::vector<uint8_t> raw(size_t(disc.sectors()) * 2352);
    disc.readRaw(0, disc.sectors(), raw.data());
    return raw;
  };
  // A name that leads out of the sheet's folder does not pull that file in.
  for (const std::string& name : {(dir / "secret.iso").string(), std::string("../secret.iso"),
                                  std::string("sub/../../secret.iso"), std::string("..\\secret.iso")}) {
    const std::string why = errorOf([&] { CueDisc disc(sheet(name)); });
    EXPECT_NE(why.find("outside the sheet's folder"), std::string::npos) << name << ": " << why;
  }
  // Below the folder, written with either separator, a name is taken as it reads.
  for (const char* name : {"sub/data.iso", "sub\\data.iso", "./sub/../sub/data.iso"})
    EXPECT_EQ(sectors(sheet(name)), rawImage(isoImage(40, 40, 2))) << name;
  // A file of the same name beside the sheet is the one meant, as for a sheet from another system.
  writeFile(dir / "rips" / "secret.iso", isoImage(40, 40, 3));
  EXPECT_EQ(sectors(sheet("../secret.iso")), rawImage(isoImage(40, 40, 3)));
}

TEST(Playlist, OnePathALine) {
  EXPECT_EQ(parsePlaylist("\xEF\xBB\xBF# a game\r\nDisc 1.cue\r\n\r\n  disc2.cue  \n#EXTINF:x\n/abs/disc3.bin"),
            (std::vector<std::string>{"Disc 1.cue", "disc2.cue", "/abs/disc3.bin"}));
  EXPECT_TRUE(parsePlaylist("").empty());
  EXPECT_THROW(parsePlaylist(std::string("a\0b", 3)), ToolError);
}

TEST(DiscId, FromSystemCnf) {
  EXPECT_EQ(discIdFromSystemCnf("BOOT = cdrom:\\SLUS_005.94;1\r\nTCB = 4\r\n"), "SLUS00594");
  EXPECT_EQ(discIdFromSystemCnf("boot=cdrom:SCES_123.45;1"), "SCES12345");
  EXPECT_EQ(discIdFromSystemCnf("BOOT2 = cdrom0:\\SLUS_201.00;1\nBOOT = cdrom:\\GAME\\SLPS_011.11;1"), "SLPS01111");
  EXPECT_EQ(discIdFromSystemCnf("BOOT = cdrom:\\PSX.EXE;1"), "");
  EXPECT_EQ(discIdFromSystemCnf(""), "");

  auto iso = gameIso(64, "SCUS_941.64");
  MemorySource src(iso.data(), iso.size());
  EXPECT_EQ(readDiscId(pbp::DiscImage(src)), "SCUS94164");
  auto plain = isoImage(64, 64);
  MemorySource noCnf(plain.data(), plain.size());
  EXPECT_EQ(readDiscId(pbp::DiscImage(noCnf)), "");
}

TEST(Sectors, DamageIsTold) {
  auto user = mixedBytes(2048, 9);
  uint8_t form1[2352], mode1[2352];
  cdrom::makeMode2Form1(form1, user.data(), 1000);
  cdrom::makeMode1(mode1, user.data(), 1000);
  EXPECT_EQ(cdrom::checkDataSector(form1, 1000), cdrom::SectorFault::None);
  EXPECT_EQ(cdrom::checkDataSector(mode1, 1000), cdrom::SectorFault::None);
  EXPECT_EQ(cdrom::checkDataSector(form1, 1001), cdrom::SectorFault::WrongAddress);

  auto damaged = [](const uint8_t* good, size_t at, uint8_t xorWith = 0x01) {
    std::vector<uint8_t> s(good, good + 2352);
    s[at] ^= xorWith;
    return cdrom::checkDataSector(s.data(), 1000);
  };
  EXPECT_EQ(damaged(form1, 3), cdrom::SectorFault::NoSync);
  EXPECT_EQ(damaged(form1, 15, 0x07), cdrom::SectorFault::BadMode);
  for (const uint8_t* s : {form1, mode1}) {
    EXPECT_EQ(damaged(s, 500), cdrom::SectorFault::BadEdc);
    EXPECT_EQ(damaged(s, 2100), cdrom::SectorFault::BadEcc);
    EXPECT_EQ(damaged(s, 2351), cdrom::SectorFault::BadEcc);
  }
  EXPECT_EQ(damaged(form1, 2072), cdrom::SectorFault::BadEdc); // the EDC itself

  // Form 2: the EDC may be left zero.
  std::vector<uint8_t> form2(form1, form1 + 2352);
  form2[18] = form2[22] = 0x20;
  std::fill(form2.begin() + 2348, form2.end(), 0);
  EXPECT_EQ(cdrom::checkDataSector(form2.data(), 1000), cdrom::SectorFault::None);
  uint32_t e = cdrom::edc(&form2[16], 2332);
  for (int i = 0; i < 4; ++i)
    form2[2348 + size_t(i)] = uint8_t(e >> (8 * i));
  EXPECT_EQ(cdrom::checkDataSector(form2.data(), 1000), cdrom::SectorFault::None);
  form2[100] ^= 1;
  EXPECT_EQ(cdrom::checkDataSector(form2.data(), 1000), cdrom::SectorFault::BadEdc);
}

TEST(Toc, ListsTracksAsTheLeadInDoes) {
  std::vector<DiscTrack> tracks = {{1, TrackMode::Mode2, 0, 0, 1000}, {2, TrackMode::Audio, 1000, 1150, 1500},
                                   {3, TrackMode::Audio, 1500, 1650, 4600}};
  uint8_t area[pbp::kTocRoom];
  pbp::buildToc(tracks, 4600, area);
  const uint8_t expected[] = {0x41, 0, 0xA0, 0, 0, 0, 0, 0x01, 0x20, 0x00, // first track 1, XA
                              0x01, 0, 0xA1, 0, 0, 0, 0, 0x03, 0x00, 0x00, // last track 3
                              0x01, 0, 0xA2, 0, 0, 0, 0, 0x01, 0x03, 0x25, // lead-out 01:03:25
                              0x41, 0, 0x01, 0, 0, 0, 0, 0x00, 0x02, 0x00, // track 1 at 00:02:00
                              0x01, 0, 0x02, 0, 0, 0, 0, 0x00, 0x17, 0x25, // track 2 at 00:17:25
                              0x01, 0, 0x03, 0, 0, 0, 0, 0x00, 0x24, 0x00};
  EXPECT_EQ(0, std::memcmp(area, expected, sizeof expected));
  EXPECT_TRUE(std::all_of(area + sizeof expected, area + sizeof area, [](uint8_t b) { return b == 0; }));

  pbp::Toc toc;
  std::string why;
  ASSERT_TRUE(pbp::parseToc(area, sizeof area, toc, why)) << why;
  EXPECT_EQ(toc.leadOut, 4600u);
  EXPECT_TRUE(toc.xa);
  ASSERT_EQ(toc.tracks.size(), 3u);
  EXPECT_FALSE(toc.tracks[0].audio);
  EXPECT_TRUE(toc.tracks[2].audio);
  EXPECT_EQ(toc.tracks[2].start, 1650u);

  // Only INDEX 01 is recorded: pregaps come back as the usual two seconds where there is room.
  auto back = ps1::tracksFromToc(toc, 4600);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(back[k].begin, tracks[k].begin) << k;
    EXPECT_EQ(back[k].end, tracks[k].end) << k;
  }
  toc.tracks[1].start = 100;
  EXPECT_EQ(ps1::tracksFromToc(toc, 4600)[1].begin, 1u); // not into track 1's own INDEX 01

  auto broken = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> a(area, area + sizeof area);
    a[at] = value;
    pbp::Toc t;
    std::string problem;
    EXPECT_FALSE(pbp::parseToc(a.data(), a.size(), t, problem)) << at;
    return problem;
  };
  EXPECT_NE(broken(27, 0x1A).find("lead-out"), std::string::npos);   // no BCD
  EXPECT_NE(broken(58, 0x10).find("starts before"), std::string::npos); // track 3 before track 2
  EXPECT_NE(broken(17, 0x04).find("other tracks"), std::string::npos);
  EXPECT_NE(broken(22, 0x00).find("names no track"), std::string::npos);
  EXPECT_NE(broken(27, 0x00).find("lead-out"), std::string::npos); // lead-out before track 3
  std::vector<uint8_t> none(pbp::kTocRoom);
  pbp::Toc t;
  EXPECT_FALSE(pbp::parseToc(none.data(), none.size(), t, why));
}

TEST(FileNames, TitlesAreMadeSafe) {
  EXPECT_EQ(ps1::safeFileName("Final Fantasy VII"), "Final Fantasy VII");
  EXPECT_EQ(ps1::safeFileName("../../etc/passwd"), "etc_passwd");
  EXPECT_EQ(ps1::safeFileName("a/b\\c:d*e?f\"g<h>i|j\nk"), "a_b_c_d_e_f_g_h_i_j_k");
  EXPECT_EQ(ps1::safeFileName("..."), "");
  EXPECT_EQ(ps1::safeFileName(" Name. "), "Name");
  std::string accents;
  for (int i = 0; i < 50; ++i)
    accents += "\xC3\xA9";
  EXPECT_EQ(ps1::safeFileName(accents).size(), 80u); // cut between characters
}

// LibCrypt data: SBI files and CloneCD .sub/.ccd sets read and refused, the summary word, the
// table a PS1 EBOOT carries and the EBOOT around it, with and without protection data.
#include "ccd.h"
#include "cdrom.h"
#include "lcsupport.h"
#include "libcrypt.h"
#include "ps1image.h"
#include "sha1.h"
#include "support.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using libcrypt::Record;

namespace {

std::vector<uint8_t> sbiOf(const std::vector<Record>& records) {
  return libcrypt::formatSbi(records);
}

std::string refusal(const std::vector<uint8_t>& sbi, uint32_t sectors = 0) {
  try {
    libcrypt::parseSbi(sbi.data(), sbi.size(), "Game.sbi", {sectors, {}});
  } catch (const ToolError& e) {
    return e.what();
  }
  return "accepted";
}

MemoryDisc rawDisc(uint32_t sectors, uint32_t seed) {
  MemoryDisc d;
  d.raw = rawImage(isoImage(sectors, sectors, seed));
  return d;
}

std::vector<uint8_t> ebootOf(const std::vector<pbp::DiscToWrite>& discs, int level = 1) {
  MemorySink out;
  pbp::write(discs, "Title", {}, level, out, 1);
  return out.bytes;
}

std::string hexOf(const std::array<uint8_t, 20>& digest) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : digest)
    s += {digits[b >> 4], digits[b & 15]};
  return s;
}

} // namespace

TEST(LibCrypt, RegularQAndItsCrc) {
  const libcrypt::DiscShape disc{20000, {}};
  const auto q0 = libcrypt::regularQ(disc, 0);
  EXPECT_EQ(std::vector<uint8_t>(q0.begin(), q0.end()),
            (std::vector<uint8_t>{0x41, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00}));
  EXPECT_EQ(libcrypt::qCrc(q0.data()), 0x2832); // CRC-16/CCITT, inverted, as a drive checks it
  const auto q = libcrypt::regularQ(disc, 13955);
  EXPECT_EQ(std::vector<uint8_t>(q.begin(), q.end()),
            (std::vector<uint8_t>{0x41, 0x01, 0x01, 0x03, 0x06, 0x05, 0x00, 0x03, 0x08, 0x05}));
  EXPECT_EQ(libcrypt::qCrc(q.data()), 0xB838);

  // An audio track with a two-second pregap: index 0 counts down to its start.
  libcrypt::DiscShape two{1000, {{1, TrackMode::Mode2, 0, 0, 500}, {2, TrackMode::Audio, 500, 650, 1000}}};
  const auto gap = libcrypt::regularQ(two, 575), music = libcrypt::regularQ(two, 651);
  EXPECT_EQ(gap[0], 0x01);
  EXPECT_EQ(gap[1], 0x02);
  EXPECT_EQ(gap[2], 0x00);
  EXPECT_EQ(gap[4], 0x01); // 75 sectors before INDEX 01: 00:01:00
  EXPECT_EQ(music[2], 0x01);
  EXPECT_EQ(music[5], 0x01);
}

TEST(LibCrypt, SbiFilesReadAndWrittenInTheirCanonicalForm) {
  const libcrypt::DiscShape disc{2000, {}};
  const std::vector<Record> records{protectedRecord(disc, 300), protectedRecord(disc, 305), protectedRecord(disc, 1999)};
  const std::vector<uint8_t> sbi = sbiOf(records);
  ASSERT_EQ(sbi.size(), 4u + 3 * 14);
  EXPECT_EQ(std::memcmp(sbi.data(), "SBI\0\x00\x06\x00\x01", 8), 0); // 300 + 150 sectors: 00:06:00, type 1
  EXPECT_EQ(libcrypt::parseSbi(sbi.data(), sbi.size(), "x.sbi", disc), records);
  EXPECT_TRUE(libcrypt::parseSbi(sbi.data(), 4, "x.sbi", disc).empty());

  // Records out of order are put in order; types 2 and 3 keep the rest of the regular Q.
  std::vector<uint8_t> mixed{'S', 'B', 'I', 0,
                             0x00, 0x06, 0x05, 2, 0x00, 0x04, 0x99,  // 305: relative time only
                             0x00, 0x06, 0x00, 3, 0x00, 0x06, 0x16}; // 300: absolute time only
  const auto read = libcrypt::parseSbi(mixed.data(), mixed.size(), "x.sbi", disc);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].lba, 300u);
  auto want = libcrypt::regularQ(disc, 300);
  want[9] = 0x16;
  EXPECT_EQ(read[0].q, want);
  want = libcrypt::regularQ(disc, 305);
  want[5] = 0x99;
  EXPECT_EQ(read[1].q, want);
  // Written back, every record is of type 1 and in sector order.
  EXPECT_EQ(sbiOf(read), sbiOf({read[0], read[1]}));
  EXPECT_EQ(sbiOf({read[1], read[0]}), sbiOf(read));
}

TEST(LibCrypt, MalformedSbiFilesAreRefusedNamingTheRecord) {
  const libcrypt::DiscShape disc{2000, {}};
  std::vector<uint8_t> sbi = sbiOf({protectedRecord(disc, 300), protectedRecord(disc, 301)});
  EXPECT_EQ(refusal({'S', 'B', 'X', 0}), "'Game.sbi' is no SBI file: it does not start with \"SBI\" and a zero byte");
  EXPECT_EQ(refusal({'S', 'B'}).find("'Game.sbi' is no SBI file"), 0u);

  auto cut = sbi;
  cut.resize(cut.size() - 3);
  EXPECT_EQ(refusal(cut), "'Game.sbi': record 2 (at byte 18), sector 301 (00:06:01), is cut short: it has 7 of its 10 "
                          "bytes of Q data");
  cut.resize(20);
  EXPECT_EQ(refusal(cut), "'Game.sbi': record 2 (at byte 18) is cut short: it has 2 of its 4 first bytes");

  auto typed = sbi;
  typed[4 + 14 + 3] = 7;
  EXPECT_EQ(refusal(typed), "'Game.sbi': record 2 (at byte 18), sector 301 (00:06:01), is of type 7; SBI records are of "
                            "type 1, 2 or 3");
  auto timed = sbi;
  timed[5] = 0x6A;
  EXPECT_EQ(refusal(timed), "'Game.sbi': record 1 (at byte 4): its time 00:6A:00 names no sector");
  timed[5] = 0x01; // 00:01:00, in the lead-in
  EXPECT_NE(refusal(timed).find("record 1 (at byte 4): its time 00:01:00 names no sector"), std::string::npos);

  EXPECT_EQ(refusal(sbi, 301), "'Game.sbi': record 2 (at byte 18), sector 301 (00:06:01), lies outside the disc of "
                               "301 sectors");
  auto twice = sbiOf({protectedRecord(disc, 300), protectedRecord(disc, 400)});
  auto again = twice;
  again.insert(again.end(), twice.begin() + 4, twice.begin() + 18);
  EXPECT_EQ(refusal(again), "'Game.sbi': records 1 and 3 both name sector 300 (00:06:00)");

  std::vector<Record> many;
  for (uint32_t lba = 0; lba < 10000; ++lba)
    many.push_back(protectedRecord({20000, {}}, lba));
  EXPECT_EQ(refusal(sbiOf(many)), "'Game.sbi': more than 1024 records, from record 1025 (at byte 14340) on; protection "
                                  "data names a few dozen sectors");

  // A file far too large is not read whole: the limit is found within the first records.
  TempDir dir;
  writeFile(dir / "big.sbi", sbiOf(many));
  try {
    libcrypt::readSbiFile((dir / "big.sbi").string(), {});
    ADD_FAILURE() << "accepted";
  } catch (const ToolError& e) {
    EXPECT_NE(std::string(e.what()).find("from record 1025"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("big.sbi"), std::string::npos) << e.what();
  }
}

TEST(LibCrypt, CloneCdSubchannelGivesTheSameRecordsAsTheSbi) {
  const libcrypt::DiscShape disc{1200, {{1, TrackMode::Mode2, 0, 0, 900}, {2, TrackMode::Audio, 900, 1050, 1200}}};
  std::vector<Record> changed{protectedRecord(disc, 300), protectedRecord(disc, 305), protectedRecord(disc, 1100)};
  // A record whose times LibCrypt left alone is still marked by its spoiled CRC.
  changed.insert(changed.begin() + 2, Record{600, libcrypt::regularQ(disc, 600)});
  std::vector<uint8_t> sub = subOf(disc, changed);
  // A catalogue number frame (ADR 2) in place of a position is no protection.
  sub[size_t(700) * libcrypt::kSubSector + 12] = 0x42;
  MemorySource src(sub.data(), sub.size());
  const auto read = libcrypt::readSub(src, "Game.sub", disc);
  EXPECT_EQ(read, changed);
  const auto sbi = sbiOf(changed);
  EXPECT_EQ(libcrypt::parseSbi(sbi.data(), sbi.size(), "Game.sbi", disc), read);

  // A subchannel of another size belongs to another image.
  auto longer = sub;
  longer.resize(sub.size() + 2 * libcrypt::kSubSector);
  MemorySource shorter(sub.data(), sub.size() - libcrypt::kSubSector), odd(sub.data(), sub.size() - 1),
      more(longer.data(), longer.size());
  auto message = [&](const ByteSource& s) {
    try {
      libcrypt::readSub(s, "Game.sub", disc);
    } catch (const ToolError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message(shorter), "'Game.sub' ends after the subchannel of 1199 sectors, before the 1200 of the disc; it "
                              "belongs to another image");
  EXPECT_EQ(message(odd), "'Game.sub': the subchannel of sector 1199 (00:17:74) is cut short: it has 95 of its 96 bytes");
  EXPECT_EQ(message(more), "'Game.sub': from sector 1200 (00:18:00) on, its subchannel lies outside the disc of 1200 "
                           "sectors; it belongs to another image");
  // Every sector's Q off its position (the sheet's tracks do not fit the .sub): no protection data.
  const libcrypt::DiscShape shifted{1200, {{1, TrackMode::Mode2, 0, 10, 1200}}};
  EXPECT_NE(message(src).find("accepted"), std::string::npos);
  try {
    libcrypt::readSub(src, "Game.sub", shifted);
    ADD_FAILURE() << "accepted";
  } catch (const ToolError& e) {
    EXPECT_EQ(std::string(e.what()), "'Game.sub': from sector 1025 (00:15:50) on, more than 1024 sectors' Q subchannel "
                                     "differs from their position; that is no protection data (is it the subchannel of "
                                     "this image?)");
  }
}

TEST(LibCrypt, SummaryWordFromTheKnownSectors) {
  const libcrypt::DiscShape disc{50000, {}};
  EXPECT_EQ(libcrypt::summaryWord({}), 0);
  // Bit 15 in minute 3, bit 0 by the second sector of its pair, bit 7 by its copy in minute 9.
  const std::vector<Record> records{protectedRecord(disc, 13955), protectedRecord(disc, 16022),
                                    protectedRecord(disc, 43139), protectedRecord(disc, 43144),
                                    protectedRecord(disc, 20000)};
  EXPECT_EQ(libcrypt::summaryWord(records), 0x8081);
}

TEST(LibCrypt, EbootTableRoundTripsAndNamesWhatIsWrong) {
  const libcrypt::DiscShape disc{2000, {}};
  const std::vector<Record> records{protectedRecord(disc, 300), protectedRecord(disc, 305)};
  const auto table = libcrypt::formatTable(records);
  ASSERT_EQ(table.size(), 4u * 12);
  EXPECT_EQ(std::vector<uint8_t>(table.begin(), table.begin() + 12),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  const uint8_t* first = &table[12];
  EXPECT_EQ(getLe32(first), 300u);
  EXPECT_EQ(std::vector<uint8_t>(first + 4, first + 12),
            (std::vector<uint8_t>{0x01, 0x01, 0x00, 0x04, records[0].q[5], 0x00, 0x06, records[0].q[9]}));
  EXPECT_EQ(std::vector<uint8_t>(table.end() - 12, table.end()), std::vector<uint8_t>(12, 0xFF));
  std::vector<std::string> problems;
  EXPECT_EQ(libcrypt::parseTable(table.data(), 4, disc, problems), records);
  EXPECT_TRUE(problems.empty());

  // Faults are named; a record that cannot stand is left out.
  auto bad = libcrypt::formatTable({protectedRecord(disc, 300), protectedRecord(disc, 250), protectedRecord(disc, 1999)});
  bad[3 * 12 + 4] = 0x1A;
  EXPECT_EQ(libcrypt::parseTable(bad.data(), 5, {1000, {}}, problems).size(), 1u);
  EXPECT_EQ(problems, (std::vector<std::string>{"record 3 names sector 250 (00:05:25), before the record ahead of it",
                                                "record 4 names sector 1999 (00:28:49), outside the disc of 1000 sectors"}));
  problems.clear();
  libcrypt::parseTable(bad.data(), 3, disc, problems);
  EXPECT_EQ(problems.back(), "the table of 3 records has no end marker");
}

TEST(LibCrypt, KnownProtectedSerials) {
  EXPECT_GT(libcrypt::knownProtectedCount(), 200u);
  EXPECT_TRUE(libcrypt::knownProtected("SCES00311"));
  EXPECT_TRUE(libcrypt::knownProtected("sles-020.80"));
  EXPECT_FALSE(libcrypt::knownProtected("SCUS94163"));
  EXPECT_FALSE(libcrypt::knownProtected(""));
}

TEST(CloneCd, SheetsFromTracksOrFromTheTableOfContents) {
  const std::string sheet = "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=5\r\n[Entry 3]\r\nPoint=0x01\r\nControl=0x04\r\n"
                            "PLBA=0\r\n[TRACK 1]\r\nMODE=2\r\nINDEX 1=0\r\n[TRACK 2]\r\nMODE=0\r\nINDEX 0=900\r\n"
                            "INDEX 1=1050\r\n";
  auto tracks = parseCcd(sheet);
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[1].mode, TrackMode::Audio);
  EXPECT_EQ(tracks[1].index0, 900);
  const auto laid = layoutCcd(tracks, 1200);
  EXPECT_EQ(laid[0].end, 900u);
  EXPECT_EQ(laid[1].begin, 900u);
  EXPECT_EQ(laid[1].start, 1050u);
  EXPECT_EQ(laid[1].end, 1200u);

  // Without [TRACK] sections the table of contents gives the starts and data or audio.
  tracks = parseCcd("[CloneCD]\n[Entry 0]\nPoint=0xa0\nPLBA=4350\n[Entry 1]\nPoint=0x01\nControl=0x04\nPLBA=0\n"
                    "[Entry 2]\nPoint=0x02\nControl=0x00\nPLBA=1050\n");
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_FALSE(tracks[0].modeKnown);
  EXPECT_EQ(tracks[0].mode, TrackMode::Mode2);
  EXPECT_EQ(tracks[1].index1, 1050);

  auto refusal = [](const std::string& text, uint32_t sectors = 1200) {
    try {
      layoutCcd(parseCcd(text), sectors);
    } catch (const ToolError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(refusal("[Disc]\nSessions=1\n"), "no [CloneCD] section: not a CloneCD sheet");
  EXPECT_EQ(refusal("[CloneCD]\n[TRACK 1]\nMODE=2\n"), "track 1 has no INDEX 1");
  EXPECT_EQ(refusal("[CloneCD]\n[TRACK 1]\nINDEX 1=0\n[TRACK 3]\nINDEX 1=10\n"), "track 2 is missing");
  EXPECT_EQ(refusal("[CloneCD]\n[TRACK 1]\nINDEX 1=0\nMODE=7\n"), "line 4: MODE must be 0 (audio), 1 or 2");
  EXPECT_EQ(refusal("[CloneCD]\n[TRACK 1]\nMODE=0\nINDEX 1=0\n"),
            "track 1 is an audio track; a PS1 disc starts with its data track");
  EXPECT_EQ(refusal("[CloneCD]\n[TRACK 1]\nINDEX 1=0\n[TRACK 2]\nINDEX 1=1300\n"),
            "track 2 starts at sector 1300, past the image's 1200 sectors");
  EXPECT_EQ(refusal("[CloneCD]\n[TRACK 1]\nINDEX 1=0\n[TRACK 2]\nINDEX 1=99999999999\n"),
            "line 5: INDEX needs a number and a sector");
  EXPECT_EQ(refusal("[CloneCD]\n[TRACK 1\n"), "line 2: a section name is not closed");
}

TEST(EbootProtection, WithoutProtectionDataTheEbootIsWhatPsxAlwaysWrote) {
  // DATA.PSAR of a small disc, stored (level 0 keeps the encoder out of it): the bytes psx wrote
  // before EBOOTs carried LibCrypt data.
  const auto image = isoImage(40, 40, 7);
  MemorySource src(image.data(), image.size());
  pbp::DiscImage disc(src);
  const auto eboot = ebootOf({{&disc, "SLES00001"}}, 0);
  const uint32_t psar = getLe32(&eboot[36]);
  EXPECT_EQ(hexOf(sha1(&eboot[psar], eboot.size() - psar)), "d3ef3041a71925eb15d58cc1d6f9c5f49afa6a87");
}

TEST(EbootProtection, RecordsTravelPerDiscBehindTheBlocks) {
  const MemoryDisc one = rawDisc(700, 1), two = rawDisc(500, 2);
  const libcrypt::DiscShape shape1{one.sectors(), {}}, shape2{two.sectors(), {}};
  const std::vector<Record> first{protectedRecord(shape1, 300), protectedRecord(shape1, 305)};
  const std::vector<Record> second{protectedRecord(shape2, 499)};
  for (const bool multi : {false, true}) {
    std::vector<pbp::DiscToWrite> discs{{&one, "SLES00001", first}};
    if (multi) discs.push_back({&two, "SLES00002", second});
    const auto eboot = ebootOf(discs);
    const auto plain = ebootOf(multi ? std::vector<pbp::DiscToWrite>{{&one, "SLES00001"}, {&two, "SLES00002"}}
                                     : std::vector<pbp::DiscToWrite>{{&one, "SLES00001"}});
    MemorySource src(eboot.data(), eboot.size());
    const auto read = pbp::Reader(src).discs();
    ASSERT_EQ(read.size(), discs.size());
    for (size_t d = 0; d < discs.size(); ++d) {
      const pbp::PsarDisc& disc = read[d];
      ps1::DiscPlan plan = ps1::planDisc(src, disc);
      std::vector<std::string> problems;
      EXPECT_EQ(ps1::readProtection(src, disc, plan, problems), discs[d].protection) << "disc " << d + 1;
      EXPECT_TRUE(problems.empty());
      EXPECT_EQ(disc.protectionWord, 0); // no record at a sector LibCrypt reads
      // The table lies after the last block, on a 16-byte boundary, inside the recorded data.
      const pbp::IndexEntry& last = disc.blocks.back();
      EXPECT_GE(disc.protectionOffset, pbp::kDataOffset + last.offset + last.length);
      EXPECT_EQ(disc.protectionOffset % 16, 0u);
      EXPECT_EQ(disc.dataEnd, disc.protectionOffset + disc.protectionCount * libcrypt::kTableRecord);
      // The disc comes back as it went in.
      MemorySink back;
      std::vector<ByteSink*> sinks{&back};
      ps1::extractDisc(src, disc, plan, sinks);
      EXPECT_EQ(back.bytes, (d == 0 ? one : two).raw);
      EXPECT_EQ(ps1::verifyDisc(src, disc, [](const std::string& f) { ADD_FAILURE() << f; }), 0u);
    }
    // Before the first table, the file is the one made without protection data but for the
    // header fields that point at it.
    const size_t tableAt = std::min<size_t>(read[0].base + read[0].protectionOffset, plain.size());
    std::vector<uint8_t> a(eboot.begin(), eboot.begin() + tableAt), b(plain.begin(), plain.begin() + tableAt);
    for (size_t at : {size_t(read[0].base + 12), size_t(read[0].base + libcrypt::kTableOffset),
                      size_t(read[0].base + libcrypt::kTableOffset + 4)})
      for (size_t i = 0; i < 4; ++i)
        a[at + i] = b[at + i] = 0;
    EXPECT_TRUE(a == b) << (multi ? "multi-disc" : "single disc");
  }

  // A summary word from records at the sectors LibCrypt reads: a disc of the size of the real ones.
  MemoryDisc big;
  big.raw.resize(size_t(16100) * 2352);
  const libcrypt::DiscShape bigShape{big.sectors(), {}};
  const auto eboot = ebootOf({{&big, "SLES02080", {protectedRecord(bigShape, 13955), protectedRecord(bigShape, 13960)}}});
  MemorySource src(eboot.data(), eboot.size());
  EXPECT_EQ(pbp::Reader(src).discs().front().protectionWord, 0x8000);
  EXPECT_EQ(getLe16(&eboot[getLe32(&eboot[36]) + libcrypt::kSummaryOffset]), 0x8000);
}

TEST(EbootProtection, TableInsideTheIndexAsOtherConvertersPlaceIt) {
  // The records right after the last block's index entry: what lies there is no block.
  const MemoryDisc disc = rawDisc(100, 3);
  const libcrypt::DiscShape shape{disc.sectors(), {}};
  auto eboot = ebootOf({{&disc, "SLES00001"}});
  const uint32_t psar = getLe32(&eboot[36]);
  const uint32_t blocks = (100 + 15) / 16, at = pbp::kIndexOffset + blocks * pbp::kIndexEntry;
  const auto table = libcrypt::formatTable({protectedRecord(shape, 50)});
  std::copy(table.begin(), table.end(), eboot.begin() + psar + at);
  putLe32(&eboot[psar + libcrypt::kTableOffset], at);
  putLe32(&eboot[psar + libcrypt::kTableOffset + 4], 3);
  MemorySource src(eboot.data(), eboot.size());
  const pbp::PsarDisc read = pbp::Reader(src).discs().front();
  EXPECT_EQ(read.blocks.size(), blocks);
  ps1::DiscPlan plan = ps1::planDisc(src, read);
  std::vector<std::string> problems;
  EXPECT_EQ(ps1::readProtection(src, read, plan, problems).size(), 1u);
  EXPECT_EQ(ps1::verifyDisc(src, read, [](const std::string& f) { ADD_FAILURE() << f; }), 0u);

  // A table that lies past the end of the file, or claims thousands of records, is a fault.
  auto far = ebootOf({{&disc, "SLES00001", {protectedRecord(shape, 50)}}});
  putLe32(&far[psar + libcrypt::kTableOffset], 0x7FFFFFF0);
  auto faultsOf = [](const std::vector<uint8_t>& file) {
    MemorySource s(file.data(), file.size());
    std::vector<std::string> faults;
    ps1::verifyDisc(s, pbp::Reader(s).discs().front(), [&](const std::string& f) { faults.push_back(f); });
    return faults;
  };
  auto faults = faultsOf(far);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].find("the LibCrypt table at file offset"), std::string::npos) << faults[0];
  putLe32(&far[psar + libcrypt::kTableOffset + 4], 10000);
  EXPECT_EQ(faultsOf(far),
            std::vector<std::string>{"the LibCrypt table claims 10000 records, more than the 1024 protection data has"});
}

// EBOOTs of several discs and with audio tracks, read back, extracted and checked in memory.
#include "cdrom.h"
#include "pbp.h"
#include "ps1image.h"
#include "support.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

namespace {

// A data track and audio tracks, each audio track after a two-second pregap of silence.
MemoryDisc gameDisc(uint32_t dataSectors, std::vector<uint32_t> audio = {}, uint32_t seed = 1) {
  MemoryDisc d;
  d.raw = rawImage(isoImage(dataSectors, dataSectors, seed));
  d.list.push_back({1, TrackMode::Mode2, 0, 0, dataSectors});
  for (size_t k = 0; k < audio.size(); ++k) {
    DiscTrack t{unsigned(k + 2), TrackMode::Audio, d.sectors(), d.sectors() + 150, 0};
    d.raw.resize(d.raw.size() + 150 * 2352);
    auto music = mixedBytes(size_t(audio[k]) * 2352, seed + uint32_t(k) + 10);
    d.raw.insert(d.raw.end(), music.begin(), music.end());
    t.end = d.sectors();
    d.list.push_back(t);
  }
  return d;
}

std::vector<uint8_t> ebootOf(const std::vector<const MemoryDisc*>& discs, int level) {
  std::vector<pbp::DiscToWrite> parts;
  const char* ids[] = {"SCUS94163", "SCUS94164", "SCUS94165", "SCUS94166", "SCUS94167", "SCUS94168"};
  for (size_t i = 0; i < discs.size(); ++i)
    parts.push_back({discs[i], ids[i]});
  MemorySink out;
  pbp::write(parts, "Game", {}, level, out, 2);
  return out.bytes;
}

std::vector<std::string> verify(const std::vector<uint8_t>& eboot, size_t disc = 0) {
  MemorySource src(eboot.data(), eboot.size());
  std::vector<std::string> faults;
  ps1::verifyDisc(src, pbp::Reader(src).discs().at(disc), [&](const std::string& f) { faults.push_back(f); });
  return faults;
}

bool mentions(const std::vector<std::string>& faults, const std::string& text) {
  for (const std::string& f : faults)
    if (f.find(text) != std::string::npos) return true;
  return false;
}

} // namespace

TEST(MultiDisc, EveryDiscComesBackWithItsIdAndTracks) {
  MemoryDisc one = gameDisc(300, {}, 1), two = gameDisc(200, {100, 60}, 2), three = gameDisc(120, {}, 3);
  auto eboot = ebootOf({&one, &two, &three}, 9);
  MemorySource src(eboot.data(), eboot.size());
  pbp::Reader reader(src);
  EXPECT_TRUE(reader.multiDisc());
  auto sfo = reader.section(pbp::Sfo);
  EXPECT_EQ(pbp::parseSfo(sfo.data(), sfo.size()).strings["DISC_ID"], "SCUS94163");
  const auto discs = reader.discs();
  ASSERT_EQ(discs.size(), 3u);
  EXPECT_EQ(discs[0].base, reader.sectionOffset(pbp::DataPsar) + pbp::kFirstDisc);
  const MemoryDisc* sources[] = {&one, &two, &three};
  for (size_t d = 0; d < 3; ++d) {
    EXPECT_EQ(discs[d].id, "_SCUS_9416" + std::to_string(3 + d));
    EXPECT_EQ((discs[d].base - reader.sectionOffset(pbp::DataPsar)) % pbp::kDiscAlign, 0u);
    ps1::DiscPlan plan = ps1::planDisc(src, discs[d]);
    ASSERT_TRUE(discs[d].tocValid) << discs[d].tocProblem;
    EXPECT_EQ(plan.sectors, sources[d]->sectors());
    ASSERT_EQ(plan.tracks.size(), sources[d]->list.size());
    for (size_t k = 0; k < plan.tracks.size(); ++k) {
      EXPECT_EQ(plan.tracks[k].begin, sources[d]->list[k].begin);
      EXPECT_EQ(plan.tracks[k].start, sources[d]->list[k].start);
      EXPECT_EQ(plan.tracks[k].mode, sources[d]->list[k].mode);
    }
    MemorySink image;
    ps1::extractDisc(src, discs[d], plan, {&image});
    EXPECT_EQ(image.bytes, sources[d]->raw) << "disc " << d + 1;
    EXPECT_TRUE(verify(eboot, d).empty());
  }
  // A reader of single images gets the first disc.
  MemorySink first;
  reader.extractImage(first);
  EXPECT_EQ(first.bytes, one.raw);

  std::vector<const MemoryDisc*> six(6, &three);
  EXPECT_THROW(ebootOf(six, 9), ToolError);
  EXPECT_THROW(ebootOf({}, 9), ToolError);
}

TEST(MultiDisc, TracksGoToTheirOwnFiles) {
  MemoryDisc disc = gameDisc(100, {40, 30});
  auto eboot = ebootOf({&disc}, 1);
  MemorySource src(eboot.data(), eboot.size());
  auto discs = pbp::Reader(src).discs();
  ps1::DiscPlan plan = ps1::planDisc(src, discs[0]);
  MemorySink sinks[3];
  ps1::extractDisc(src, discs[0], plan, {&sinks[0], &sinks[1], &sinks[2]});
  size_t at = 0;
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(std::equal(sinks[k].bytes.begin(), sinks[k].bytes.end(), disc.raw.begin() + long(at))) << k;
    at += sinks[k].bytes.size();
  }
  EXPECT_EQ(at, disc.raw.size());
  CueSheet sheet = ps1::cueSheetFor(plan, {"a.bin", "b.bin", "c.bin"});
  ASSERT_EQ(sheet.files.size(), 3u);
  EXPECT_EQ(sheet.files[1].tracks[0].indexes, (std::vector<std::pair<unsigned, uint32_t>>{{0, 0}, {1, 150}}));
  sheet = ps1::cueSheetFor(plan, {"all.bin"});
  ASSERT_EQ(sheet.files.size(), 1u);
  EXPECT_EQ(sheet.files[0].tracks[2].indexes, (std::vector<std::pair<unsigned, uint32_t>>{{0, 290}, {1, 440}}));
}

TEST(Verify, FindsAndLocatesDamage) {
  MemoryDisc disc = gameDisc(300, {200});
  // A data sector whose EDC is wrong: the EBOOT records it faithfully, and only its sector check
  // can tell.
  disc.raw[size_t(20) * 2352 + 2072] ^= 0x40;
  auto stored = ebootOf({&disc}, 0);
  auto faults = verify(stored);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0], "sector 20 (00:02:20) of track 1, in block 1: wrong EDC");
  disc.raw[size_t(20) * 2352 + 2072] ^= 0x40;
  stored = ebootOf({&disc}, 0);
  EXPECT_TRUE(verify(stored).empty());

  MemorySource src(stored.data(), stored.size());
  const pbp::PsarDisc d = pbp::Reader(src).discs()[0];
  auto blockAt = [&](const std::vector<uint8_t>& e, size_t i) {
    MemorySource s(e.data(), e.size());
    const pbp::PsarDisc di = pbp::Reader(s).discs()[0];
    return di.dataStart() + di.blocks[i].offset;
  };
  // A flipped byte in a stored block of music: only the block's checksum tells.
  auto v = stored;
  const uint64_t at = blockAt(v, 25);
  v[at + 1000] ^= 0x10;
  char where[64];
  std::snprintf(where, sizeof where, "at file offset 0x%llX", static_cast<unsigned long long>(at));
  faults = verify(v);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0], "block 25 (disc sectors 400 to 415, " + std::string(where) + "): does not match its checksum");

  // In a deflated block the stream breaks or decodes to other bytes.
  auto packed = ebootOf({&disc}, 9);
  MemorySource packedSrc(packed.data(), packed.size());
  const uint32_t len = pbp::Reader(packedSrc).discs()[0].blocks[5].length;
  ASSERT_LT(len, pbp::kBlockBytes);
  for (size_t flip : {size_t(10), size_t(len / 2), size_t(len - 2)}) {
    v = packed;
    v[blockAt(v, 5) + flip] ^= 0x01;
    faults = verify(v);
    ASSERT_FALSE(faults.empty()) << flip;
    EXPECT_EQ(faults[0].rfind("block 5 (disc sectors 80 to 95", 0), 0u) << faults[0];
  }

  // Sizes that disagree, a block outside the file, a table of contents that does not hold.
  const uint64_t index = d.base + pbp::kIndexOffset;
  v = stored;
  const size_t last = d.blocks.size() - 1;
  std::fill_n(v.begin() + long(index + last * 32), 32, 0);
  EXPECT_TRUE(mentions(verify(v), "the index holds " + std::to_string(last) + " blocks"));
  v = stored;
  putLe32(&v[index + 3 * 32], 0x7FFF0000);
  EXPECT_TRUE(mentions(verify(v), "block 3 (disc sectors 48 to 63"));
  EXPECT_TRUE(mentions(verify(v), "lies past the end of the file"));
  v = stored;
  v[d.base + pbp::kTocOffset + 27] = 0xFF;
  EXPECT_TRUE(mentions(verify(v), "table of contents: the lead-out"));
  v = stored;
  putLe32(&v[d.base + 12], 0x100000);
  EXPECT_TRUE(mentions(verify(v), "end of the block data"));

  // Without checksums (as other tools write them) the rest is still checked.
  v = stored;
  for (size_t i = 0; i <= last; ++i)
    std::fill_n(v.begin() + long(index + i * 32 + 8), 16, 0);
  EXPECT_TRUE(verify(v).empty());
  v[blockAt(v, 2) + 500] ^= 0x01;
  EXPECT_TRUE(mentions(verify(v), "sector 32 (00:02:32) of track 1, in block 2: wrong EDC"));
}

TEST(Verify, ExtractionRefusesDamageAndShortImages) {
  MemoryDisc disc = gameDisc(100, {50});
  auto eboot = ebootOf({&disc}, 0);
  MemorySource src(eboot.data(), eboot.size());
  pbp::PsarDisc d = pbp::Reader(src).discs()[0];
  eboot[d.dataStart() + d.blocks[4].offset] ^= 1;
  ps1::DiscPlan plan = ps1::planDisc(src, d);
  NullSink sink;
  try {
    ps1::extractDisc(src, d, plan, {&sink});
    FAIL() << "damage went unnoticed";
  } catch (const ToolError& e) {
    EXPECT_NE(std::string(e.what()).find("block 4 (disc sectors 64 to 79"), std::string::npos) << e.what();
  }
  eboot[d.dataStart() + d.blocks[4].offset] ^= 1;
  d.blocks.resize(5);
  try {
    ps1::extractDisc(src, d, plan, {&sink});
    FAIL() << "a short image went unnoticed";
  } catch (const ToolError& e) {
    EXPECT_NE(std::string(e.what()).find("ends after 80 sectors, before the 300"), std::string::npos) << e.what();
  }
}

TEST(Info, DescribesDiscsTracksAndCompression) {
  MemoryDisc one = gameDisc(300, {100}), two = gameDisc(120, {}, 5);
  auto eboot = ebootOf({&one, &two}, 9);
  MemorySource src(eboot.data(), eboot.size());
  const std::string text = ps1::describeEboot(src);
  // A title is shown as text, never as terminal commands.
  MemorySink hostile;
  pbp::write({{&two, "SCUS00001"}}, "Bad\x1B[2J\x07Title", {}, 1, hostile, 1);
  MemorySource hostileSrc(hostile.bytes.data(), hostile.bytes.size());
  EXPECT_NE(ps1::describeEboot(hostileSrc).find("Title:      Bad?[2J?Title\n"), std::string::npos);

  for (const char* expected : {"Title:      Game", "Game ID:    SCUS94163", "Discs:      2 (multi-disc image)",
                               "Disc 1: SCUS94163", "Disc 2: SCUS94164", "Checksums: every block",
                               "01  MODE2/2352  starts 00:00:00  length 00:04:00 (300 sectors)",
                               "02  AUDIO       starts 00:06:00  length 00:03:25 (250 sectors)",
                               "550 sectors", "from the table of contents", "Boot code:  none"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

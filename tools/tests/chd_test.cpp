// CHD files: the Huffman codes and the map they compress, every codec, whole files written and
// read back, the CD layout, and the files Kivo must refuse.
#include "cdrom.h"
#include "chd.h"
#include "chddisc.h"
#include "chdhuff.h"
#include "sha1.h"
#include "support.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

using namespace kivo;
using namespace kivo::chd;
using kivo::test::discBytes;
using kivo::test::mixedBytes;

namespace {

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out)
    b = uint8_t(rng());
  return out;
}

// 16-bit stereo samples of two tones, little-endian as in a WAV or BIN file.
std::vector<uint8_t> tones(size_t bytes, double phase = 0) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i + 3 < bytes; i += 4) {
    const double t = double(i / 4) + phase;
    const auto left = int16_t(9000 * std::sin(t * 0.031)), right = int16_t(7000 * std::sin(t * 0.047 + 1));
    out[i] = uint8_t(left);
    out[i + 1] = uint8_t(uint16_t(left) >> 8);
    out[i + 2] = uint8_t(right);
    out[i + 3] = uint8_t(uint16_t(right) >> 8);
  }
  return out;
}

std::vector<uint8_t> writeImage(const std::vector<uint8_t>& image, WriteOptions options = {}) {
  MemorySource src(image.data(), image.size());
  MemorySink out;
  writeDvd(src, out, options);
  return out.bytes;
}

std::vector<uint8_t> readImage(const std::vector<uint8_t>& file) {
  MemorySource src(file.data(), file.size());
  Reader r(src);
  std::vector<uint8_t> back(size_t(r.size()));
  r.readAt(0, back.data(), back.size());
  return back;
}

std::string failureOf(const std::vector<uint8_t>& file) {
  try {
    MemorySource src(file.data(), file.size());
    Reader r(src);
    std::vector<uint8_t> all(size_t(r.size()));
    r.readAt(0, all.data(), all.size());
  } catch (const ToolError& e) {
    return e.what();
  }
  return "";
}

void putBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (24 - 8 * i));
}

} // namespace

TEST(ChdHuffman, CodesRoundTripCompleteAndWithinTheirLimit) {
  std::mt19937 rng(7);
  for (int round = 0; round < 60; ++round) {
    const bool map = round % 2 == 0;
    const int symbols = map ? 16 : 256, maxBits = map ? 8 : 16;
    std::vector<int> data;
    // Skewed counts (Fibonacci-like) make plain Huffman codes deeper than the limit.
    const int kinds = 1 + int(rng() % uint32_t(symbols));
    uint64_t a = 1, b = 1;
    for (int s = 0; s < kinds; ++s) {
      const uint64_t n = round % 3 == 0 ? std::min<uint64_t>(a, 3000) : 1 + rng() % 20;
      data.insert(data.end(), size_t(n), int((s * 7 + round) % symbols));
      const uint64_t c = a + b;
      a = b;
      b = c;
    }
    std::shuffle(data.begin(), data.end(), rng);
    HuffmanEncoder enc(symbols, maxBits);
    for (int s : data)
      enc.count(s);
    enc.build();
    uint64_t kraft = 0;
    int used = 0;
    for (uint8_t l : enc.lengths()) {
      ASSERT_LE(l, maxBits);
      if (l) {
        kraft += uint64_t(1) << (maxBits - l);
        ++used;
      }
    }
    if (used > 1) {
      EXPECT_EQ(kraft, uint64_t(1) << maxBits) << "round " << round;
    }
    BitWriter bits;
    map ? enc.exportRle(bits) : enc.exportHuffman(bits);
    for (int s : data)
      enc.encode(bits, s);
    const std::vector<uint8_t> bytes = bits.finish();
    BitReader in(bytes.data(), bytes.size());
    HuffmanDecoder dec(symbols, maxBits);
    ASSERT_TRUE(map ? dec.importRle(in) : dec.importHuffman(in)) << "round " << round;
    for (size_t i = 0; i < data.size(); ++i)
      ASSERT_EQ(dec.decode(in), data[i]) << "round " << round << ", symbol " << i;
    EXPECT_FALSE(in.overflow());
  }
}

TEST(ChdHuffman, ImpossibleTreesAreRefused) {
  // Lengths that overlap (three codes of one bit) or overrun the code list must not decode.
  HuffmanDecoder dec(16, 8);
  std::vector<uint8_t> lengths(16, 0);
  lengths[0] = lengths[1] = lengths[2] = 1;
  EXPECT_FALSE(dec.setLengths(lengths));
  lengths.assign(16, 9); // longer than the limit
  EXPECT_FALSE(dec.setLengths(lengths));
  BitWriter bits; // an escape with a repeat of 3 + 15 from the last symbol on
  for (int i = 0; i < 15; ++i)
    bits.write(4, 4);
  bits.write(1, 4);
  bits.write(4, 4);
  bits.write(15, 4);
  const auto bytes = bits.finish();
  BitReader in(bytes.data(), bytes.size());
  EXPECT_FALSE(dec.importRle(in));
  // Bytes that are no huff hunk at all.
  const auto noise = randomBytes(300, 3);
  std::vector<uint8_t> out(2048);
  EXPECT_FALSE(huffDecompress(noise.data(), noise.size(), out.data(), out.size()));
}

TEST(ChdMap, KindsRunsAndCopiesRoundTrip) {
  std::vector<MapEntry> map;
  const uint32_t hunk = 2048;
  uint64_t at = 1000;
  auto add = [&](uint8_t type, uint32_t length, uint16_t crc) {
    MapEntry e;
    e.type = type;
    e.length = type == kStored ? hunk : length;
    e.offset = at;
    e.crc = crc;
    at += e.length;
    map.push_back(e);
  };
  auto copy = [&](uint64_t of) {
    MapEntry e;
    e.type = kSelf;
    e.offset = of;
    map.push_back(e);
  };
  for (int i = 0; i < 700; ++i) // a long run, longer than one run symbol holds
    add(0, 100 + i % 13, uint16_t(i));
  add(1, 5, 1);
  add(kStored, 0, 2);
  add(3, 2047, 3);
  copy(3);
  copy(3);   // the same again
  copy(4);   // the next one
  copy(700); // far away
  for (int i = 0; i < 20; ++i)
    add(2, 9, uint16_t(7 * i));
  copy(0);
  const std::vector<uint8_t> packed = encodeMap(map, 1000, hunk);
  const std::vector<MapEntry> back = decodeMap(packed.data(), packed.size(), map.size(), hunk);
  ASSERT_EQ(back.size(), map.size());
  for (size_t i = 0; i < map.size(); ++i) {
    EXPECT_EQ(back[i].type, map[i].type) << i;
    EXPECT_EQ(back[i].offset, map[i].offset) << i;
    if (map[i].type != kSelf) {
      EXPECT_EQ(back[i].length, map[i].length) << i;
      EXPECT_EQ(back[i].crc, map[i].crc) << i;
    }
  }

  // A flipped bit anywhere in the stream fails the CRC or the decoding; never a wrong map.
  for (size_t at = 16; at < packed.size(); at += 37) {
    std::vector<uint8_t> bad = packed;
    bad[at] ^= 0x10;
    EXPECT_THROW(decodeMap(bad.data(), bad.size(), map.size(), hunk), ToolError) << "byte " << at;
  }
  // A copy of a later hunk would let a reader go round in circles.
  std::vector<MapEntry> loop(2);
  loop[0].type = kSelf;
  loop[0].offset = 1;
  loop[1].type = kSelf;
  loop[1].offset = 0;
  const auto looped = encodeMap(loop, 124, hunk);
  EXPECT_THROW(decodeMap(looped.data(), looped.size(), 2, hunk), ToolError);
}

TEST(ChdCodecs, EveryCodecRoundTripsAndKeepsOnlyWhatIsSmaller) {
  const uint32_t hunk = 4096;
  const std::vector<std::vector<uint8_t>> hunks = {mixedBytes(hunk, 1), tones(hunk), std::vector<uint8_t>(hunk, 0),
                                                   std::vector<uint8_t>(hunk, 0xA5), randomBytes(hunk, 2)};
  HunkDecoder decoder(hunk);
  for (uint32_t codec : {kZlib, kLzma, kHuff, kFlac, kZstd}) {
    HunkEncoder encoder({codec}, hunk, 9);
    int packed = 0;
    for (size_t k = 0; k < hunks.size(); ++k) {
      std::vector<uint8_t> out, back(hunk);
      const int chosen = encoder.compress(hunks[k].data(), out);
      if (chosen < 0) {
        EXPECT_TRUE(out.empty());
        continue;
      }
      ++packed;
      EXPECT_LT(out.size(), hunk);
      ASSERT_TRUE(decoder.decode(codec, out.data(), out.size(), back.data())) << codecName(codec) << " " << k;
      EXPECT_EQ(back, hunks[k]) << codecName(codec) << " " << k;
      // Cut short, it must fail rather than make up bytes.
      EXPECT_FALSE(decoder.decode(codec, out.data(), out.size() / 2, back.data())) << codecName(codec) << " " << k;
    }
    EXPECT_GE(packed, 2) << codecName(codec);
    std::vector<uint8_t> out;
    EXPECT_EQ(encoder.compress(hunks.back().data(), out), -1) << codecName(codec) << " made noise smaller";
  }
  // Of all four, flac is kept for sound.
  HunkEncoder all(dvdCodecs(), hunk, 9);
  std::vector<uint8_t> out;
  EXPECT_EQ(dvdCodecs()[size_t(all.compress(tones(hunk).data(), out))], kFlac);
}

TEST(ChdCodecs, CdCodecsRebuildSyncAndParityAndKeepSubcode) {
  const uint32_t hunk = kCdHunkFrames * kCdFrame;
  std::vector<uint8_t> frames(hunk, 0);
  const auto user = mixedBytes(8 * 2048, 3);
  const auto sound = tones(2 * kCdSector);
  for (uint32_t f = 0; f < kCdHunkFrames; ++f) {
    uint8_t* frame = &frames[size_t(f) * kCdFrame];
    if (f < 3) cdrom::makeMode1(frame, &user[size_t(f) * 2048], 100 + f);
    else if (f < 6) cdrom::makeMode2Form1(frame, &user[size_t(f) * 2048], 100 + f);
    else std::memcpy(frame, &sound[size_t(f - 6) * kCdSector], kCdSector);
    if (f == 2) frame[2000] ^= 1; // damaged: its parity must come back as it was, not made anew
    for (uint32_t i = 0; i < kCdSubcode; ++i)
      frame[kCdSector + i] = uint8_t(f * 3 + i / 12);
  }
  HunkDecoder decoder(hunk);
  for (uint32_t codec : {kCdZlib, kCdLzma, kCdFlac, kCdZstd}) {
    HunkEncoder encoder({codec}, hunk, 9);
    std::vector<uint8_t> out, back(hunk);
    ASSERT_EQ(encoder.compress(frames.data(), out), 0) << codecName(codec);
    ASSERT_TRUE(decoder.decode(codec, out.data(), out.size(), back.data())) << codecName(codec);
    EXPECT_EQ(back, frames) << codecName(codec);
    if (codec != kCdFlac) {
      EXPECT_EQ(out[0], 0x3B) << codecName(codec) << ": the sound frames of Modes 1 and 2";
    }
  }
}

TEST(ChdFile, ImagesRoundTripWhateverTheCodecsHunksAndThreads) {
  auto image = discBytes(600 * 2048 + 1000, 4); // a short last hunk
  const auto sound = tones(40 * 2048);
  std::copy(sound.begin(), sound.end(), image.begin() + 100 * 2048);
  std::copy_n(image.begin() + 200 * 2048, 30 * 2048, image.begin() + 400 * 2048); // hunks seen before
  WriteOptions options;
  options.threads = 1;
  const auto one = writeImage(image, options);
  options.threads = 3;
  ASSERT_EQ(writeImage(image, options), one) << "the file depends on the threads";
  EXPECT_EQ(readImage(one), image);

  MemorySource src(one.data(), one.size());
  Reader r(src);
  EXPECT_EQ(r.header().hunkBytes, 2048u);
  EXPECT_EQ(r.header().unitBytes, 2048u);
  EXPECT_TRUE(r.hasMetadata(kMetaDvd));
  EXPECT_FALSE(r.isCd());
  EXPECT_EQ(r.codecList(), "lzma, zlib, huff, flac");
  EXPECT_EQ(r.header().rawSha1, sha1(image.data(), image.size()));
  EXPECT_EQ(r.header().sha1, overallSha1(r.header().rawSha1, r.metadata()));
  size_t copies = 0, kinds[5] = {};
  for (const MapEntry& e : r.map())
    if (e.type == kSelf) ++copies;
    else ++kinds[e.type];
  EXPECT_GE(copies, 30u);
  EXPECT_GT(kinds[0], 0u); // lzma
  EXPECT_GT(kinds[3], 0u); // flac, on the sound
  // Ranges that start and end inside hunks.
  std::vector<uint8_t> part(5000);
  r.readAt(2047, part.data(), part.size());
  EXPECT_TRUE(std::equal(part.begin(), part.end(), image.begin() + 2047));

  for (uint32_t codec : {kZlib, kLzma, kHuff, kFlac, kZstd}) {
    WriteOptions single;
    single.codecs = {codec};
    single.hunkBytes = codec == kZstd ? 65536 : 8192;
    EXPECT_EQ(readImage(writeImage(image, single)), image) << codecName(codec);
  }
}

TEST(ChdFile, DamagedParentAndForeignFilesAreRefusedClearly) {
  const auto image = discBytes(64 * 2048, 6);
  const auto good = writeImage(image);
  EXPECT_EQ(failureOf(good), "");

  auto child = good;
  child[110] = 1; // a parent's checksum
  EXPECT_NE(failureOf(child).find("parent"), std::string::npos) << failureOf(child);
  auto older = good;
  putBe32(&older[12], 4);
  EXPECT_NE(failureOf(older).find("CHD version 4 is not supported"), std::string::npos) << failureOf(older);
  auto laserdisc = good;
  putBe32(&laserdisc[28], fourcc("avhu"));
  EXPECT_NE(failureOf(laserdisc).find("'avhu'"), std::string::npos) << failureOf(laserdisc);
  auto hunkSize = good;
  putBe32(&hunkSize[56], 0x40000000);
  EXPECT_NE(failureOf(hunkSize).find("hunk size"), std::string::npos) << failureOf(hunkSize);
  EXPECT_NE(failureOf(std::vector<uint8_t>(good.begin(), good.end() - 3)).find("not a valid CHD file"),
            std::string::npos);

  // Damage inside a hunk is found by its CRC and named.
  auto hurt = good;
  MemorySource src(good.data(), good.size());
  Reader r(src);
  const MapEntry& e = r.map()[20];
  ASSERT_NE(e.type, kSelf);
  hurt[size_t(e.offset + e.length / 2)] ^= 0x40;
  EXPECT_NE(failureOf(hurt).find("corrupt CHD: hunk 20"), std::string::npos) << failureOf(hurt);

  // A file without codecs: a map of positions, 0 for a hunk of zeros.
  std::vector<uint8_t> plain(124 + 3 * 4);
  Header h;
  h.logicalBytes = 3 * 2048 - 100;
  h.mapOffset = 124;
  h.hunkBytes = h.unitBytes = 2048;
  const auto head = encodeHeader(h);
  std::copy(head.begin(), head.end(), plain.begin());
  plain.resize(2 * 2048, 0);
  const auto stored = mixedBytes(2048, 4);
  std::copy(stored.begin(), stored.end(), plain.begin() + 2048);
  putBe32(&plain[124], 1); // hunk 0 and hunk 2 at 1 * 2048, hunk 1 of zeros
  putBe32(&plain[132], 1);
  std::vector<uint8_t> expect(size_t(h.logicalBytes), 0);
  std::copy_n(stored.begin(), 2048, expect.begin());
  std::copy_n(stored.begin(), 2048 - 100, expect.begin() + 4096);
  EXPECT_EQ(readImage(plain), expect);
}

TEST(ChdCd, TrackMetadataReadsAndWritesAsChdmanHasIt) {
  for (const std::string text : {"TRACK:1 TYPE:MODE2_RAW SUBTYPE:NONE FRAMES:9765 PREGAP:0 PGTYPE:MODE1 PGSUB:NONE POSTGAP:0",
                                 "TRACK:3 TYPE:AUDIO SUBTYPE:NONE FRAMES:927 PREGAP:150 PGTYPE:VAUDIO PGSUB:NONE POSTGAP:0",
                                 "TRACK:2 TYPE:AUDIO SUBTYPE:NONE FRAMES:1000 PREGAP:150 PGTYPE:AUDIO PGSUB:NONE POSTGAP:75"})
    EXPECT_EQ(formatCdTrack(parseCdTrack(text)), text);
  const CdTrack old = parseCdTrack("TRACK:2 TYPE:MODE1 SUBTYPE:RW FRAMES:20");
  EXPECT_EQ(old.pregap, 0u);
  EXPECT_EQ(old.subtype, "RW");
  for (const char* bad : {"TRACK:1 TYPE:AUDIO", "TRACK:x TYPE:AUDIO FRAMES:1", "FRAMES:1 TRACK:1 TYPE:AUDIO junk",
                          "TRACK:1 TYPE:AUDIO FRAMES:99999999999"})
    EXPECT_THROW(parseCdTrack(bad), ToolError) << bad;
}

TEST(ChdCd, DiscsRoundTripWithAudioAndPregaps) {
  // Track 1: Mode 2 data; track 2: audio with a two-second pregap; track 3: audio, 77 frames.
  MemoryDisc disc;
  const auto iso = discBytes(301 * 2048, 8);
  disc.raw = kivo::test::rawImage(iso);
  const auto sound = tones(250 * 2352);
  disc.raw.insert(disc.raw.end(), sound.begin(), sound.end());
  const auto more = mixedBytes(77 * 2352, 9);
  disc.raw.insert(disc.raw.end(), more.begin(), more.end());
  disc.list = {{1, TrackMode::Mode2, 0, 0, 301}, {2, TrackMode::Audio, 301, 451, 551}, {3, TrackMode::Audio, 551, 551, 628}};
  MemorySink file;
  WriteOptions options;
  options.threads = 2;
  writeCd(disc, file, options);

  MemorySource src(file.bytes.data(), file.bytes.size());
  ChdDisc back(src);
  ASSERT_EQ(back.sectors(), disc.sectors());
  std::vector<uint8_t> raw(disc.raw.size());
  back.readRaw(0, back.sectors(), raw.data());
  EXPECT_EQ(raw, disc.raw);
  const auto tracks = back.tracks();
  ASSERT_EQ(tracks.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(tracks[k].mode, disc.list[k].mode);
    EXPECT_EQ(tracks[k].begin, disc.list[k].begin);
    EXPECT_EQ(tracks[k].start, disc.list[k].start);
    EXPECT_EQ(tracks[k].end, disc.list[k].end);
  }
  const Reader& r = back.reader();
  EXPECT_EQ(r.header().hunkBytes, kCdHunkFrames * kCdFrame);
  EXPECT_EQ(r.size(), uint64_t(304 + 252 + 80) * kCdFrame); // each track padded to four frames
  // Audio is stored with the high byte of each sample first.
  std::vector<uint8_t> frame(kCdFrame);
  r.readAt(uint64_t(304) * kCdFrame, frame.data(), frame.size());
  EXPECT_EQ(frame[0], disc.raw[size_t(301) * 2352 + 1]);
  EXPECT_EQ(frame[1], disc.raw[size_t(301) * 2352]);
  EXPECT_TRUE(std::all_of(frame.begin() + kCdSector, frame.end(), [](uint8_t b) { return b == 0; }));

  EXPECT_NE(r.metadata()[1].text().find("PREGAP:150 PGTYPE:VAUDIO"), std::string::npos) << r.metadata()[1].text();
}

TEST(ChdCd, GapsTheFileDoesNotStoreReadAsSilenceOrEmptySectors) {
  // Track 1: 20 Mode 1 sectors; track 2: 10 frames of sound after a pregap of 150 and before a
  // postgap of 5 that the file does not hold.
  std::vector<uint8_t> frames(size_t(32) * kCdFrame, 0);
  const auto user = mixedBytes(20 * 2048, 2);
  for (uint32_t f = 0; f < 20; ++f)
    cdrom::makeMode1(&frames[size_t(f) * kCdFrame], &user[size_t(f) * 2048], f);
  const auto sound = tones(10 * kCdSector);
  for (uint32_t f = 0; f < 10; ++f)
    for (uint32_t i = 0; i < kCdSector; ++i) // stored high byte first
      frames[size_t(20 + f) * kCdFrame + i] = sound[size_t(f) * kCdSector + (i ^ 1)];
  Content c;
  c.bytes = frames.size();
  c.unitBytes = kCdFrame;
  c.metadata = {Metadata::ofText(kMetaCdTracks, "TRACK:1 TYPE:MODE1_RAW SUBTYPE:NONE FRAMES:20 PREGAP:0 "
                                                "PGTYPE:MODE1 PGSUB:NONE POSTGAP:0"),
                Metadata::ofText(kMetaCdTracks, "TRACK:2 TYPE:AUDIO SUBTYPE:NONE FRAMES:10 PREGAP:150 "
                                                "PGTYPE:AUDIO PGSUB:NONE POSTGAP:5")};
  c.read = [&](uint64_t off, uint8_t* buf, size_t n) { std::memcpy(buf, &frames[size_t(off)], n); };
  MemorySink file;
  WriteOptions options;
  options.codecs = cdCodecs();
  options.hunkBytes = kCdHunkFrames * kCdFrame;
  write(c, file, options);
  MemorySource src(file.bytes.data(), file.bytes.size());
  ChdDisc disc(src);
  ASSERT_EQ(disc.sectors(), 20u + 150 + 10 + 5);
  const auto tracks = disc.tracks();
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[0].mode, TrackMode::Mode1);
  EXPECT_EQ(tracks[1].begin, 20u);
  EXPECT_EQ(tracks[1].start, 170u);
  EXPECT_EQ(tracks[1].end, 185u);
  std::vector<uint8_t> raw(size_t(disc.sectors()) * kCdSector);
  disc.readRaw(0, disc.sectors(), raw.data());
  EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + 2352, frames.begin()));
  EXPECT_TRUE(std::all_of(raw.begin() + 20 * 2352, raw.begin() + 170 * 2352, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(sound.begin(), sound.end(), raw.begin() + 170 * 2352));
  EXPECT_TRUE(std::all_of(raw.begin() + 180 * 2352, raw.end(), [](uint8_t b) { return b == 0; }));

  // A disc that starts with sound is no PS1 disc; a CHD without tracks is no CD.
  c.metadata[0] = Metadata::ofText(kMetaCdTracks, "TRACK:1 TYPE:AUDIO SUBTYPE:NONE FRAMES:20");
  MemorySink music;
  write(c, music, options);
  MemorySource musicSrc(music.bytes.data(), music.bytes.size());
  EXPECT_THROW(ChdDisc{musicSrc}, ToolError);
  const auto dvd = writeImage(discBytes(40 * 2048, 1));
  MemorySource dvdSrc(dvd.data(), dvd.size());
  try {
    ChdDisc{dvdSrc};
    ADD_FAILURE() << "a DVD CHD read as a CD";
  } catch (const ToolError& e) {
    EXPECT_NE(std::string(e.what()).find("no CD"), std::string::npos) << e.what();
  }
}

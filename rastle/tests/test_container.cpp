// The container rules: index scan, stored and compressed blocks, image size and cut.
#include "container.h"
#include "eboot_builder.h"
#include "extract.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <zlib.h>

using namespace rastle;
using namespace rastle_test;

namespace {

struct MemorySink : ByteSink {
  Bytes bytes;
  std::vector<std::string>* log = nullptr;
  size_t failAfter = SIZE_MAX;
  bool write(const uint8_t* data, size_t n) override {
    if (bytes.size() + n > failAfter) return false;
    bytes.insert(bytes.end(), data, data + n);
    if (log) log->push_back("write " + std::to_string(n));
    return true;
  }
};

struct Events : ExtractListener {
  std::vector<std::string> log;
  void extracting(int32_t size) override { log.push_back("extracting " + std::to_string(size)); }
  void indexProblem(BlockIndex::Status s) override { log.push_back("index " + std::to_string(int(s))); }
  void blockProblem(size_t k, BlockStatus s) override {
    log.push_back("block " + std::to_string(k) + " " + std::to_string(int(s)));
  }
};

struct Outcome {
  Bytes out;
  Events events;
  ExtractResult result;
};

Outcome extractBytes(const Bytes& file, ExtractOptions options = {}) {
  Outcome run;
  MemorySource src(file.data(), file.size());
  MemorySink sink;
  run.result = extract(src, sink, run.events, options);
  run.out = sink.bytes;
  return run;
}

Bytes filled(size_t n, uint8_t v) {
  return Bytes(n, v);
}

// A block 1 whose bytes 104..107 give the image size in sectors.
Bytes sizeBlock(uint32_t sectors, size_t length = kBlockSize) {
  Bytes b(length, 0x11);
  putLe32(&b[104], sectors);
  return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

} // namespace

TEST(Index, AllEmptyEntriesGiveNoBlocksAndNoImage) {
  Outcome run = extractBytes(EbootBuilder().build());
  EXPECT_EQ(run.result.blocks, 0u);
  EXPECT_TRUE(run.out.empty());
  EXPECT_TRUE(run.events.log.empty());
}

TEST(Index, EmptyEntriesLeaveNoGapAndTailsAreIgnored) {
  Bytes a = filled(kBlockSize, 'a'), b = sizeBlock(48), c = filled(5000, 'c');
  EbootBuilder plain;
  plain.addCompressed(a);
  plain.addEmpty();
  plain.addCompressed(b);
  plain.addEmpty();
  plain.addEmpty();
  plain.addCompressed(c);
  Outcome run = extractBytes(plain.build());
  EXPECT_EQ(run.result.blocks, 3u);
  EXPECT_EQ(run.out, concat({a, b, c}));

  // The same index with junk in every entry's last 24 bytes reads the same.
  Bytes file = plain.build();
  for (size_t e = 0; e < plain.entries(); ++e)
    for (size_t i = 8; i < 32; ++i)
      file[plain.psar() + kIndexStart + e * 32 + i] = uint8_t(e * 31 + i);
  EXPECT_EQ(extractBytes(file).out, run.out);
}

TEST(Index, BlockAtOffsetZeroIsNotEmpty) {
  EbootBuilder eb;
  Bytes packed = deflateRaw(filled(100, 'z'));
  eb.addEntry(eb.addData(packed), uint32_t(packed.size())); // offset 0
  EXPECT_EQ(extractBytes(eb.build()).out, filled(100, 'z'));
}

TEST(Index, ReadsTheWholeRegionAndStopsAtItsEnd) {
  EbootBuilder eb;
  for (size_t i = 0; i < kMaxBlocks; ++i)
    eb.addEntry(0, 0);
  eb.addData(Bytes(64, 0));
  Bytes file = eb.build();
  // An entry right behind the region is data, not index.
  putLe32(&file[eb.psar() + kDataStart], 7);
  putLe32(&file[eb.psar() + kDataStart + 4], 9);
  // and the last slot of the region is a real entry.
  putLe32(&file[eb.psar() + kDataStart - 32 + 4], 3);
  MemorySource src(file.data(), file.size());
  BlockIndex index = readIndex(src);
  EXPECT_EQ(index.status, BlockIndex::Status::Complete);
  ASSERT_EQ(index.blocks.size(), 1u);
  EXPECT_EQ(index.blocks[0].length, 3u);
}

TEST(Index, ShortFilesStopTheScanAtTheirEnd) {
  EXPECT_EQ(extractBytes(Bytes(39, 0)).events.log, std::vector<std::string>{"index 1"});
  EXPECT_EQ(extractBytes(Bytes{}).result.blocks, 0u);

  EbootBuilder eb(0x1000);
  Bytes packed = deflateRaw(filled(300, 'p'));
  uint32_t at = eb.addData(packed);
  eb.addEntry(at, uint32_t(packed.size()));
  eb.addEntry(at, uint32_t(packed.size()));
  Bytes file = eb.build();

  Bytes beforeIndex(file.begin(), file.begin() + 0x1000 + kIndexStart);
  Outcome before = extractBytes(beforeIndex);
  EXPECT_EQ(before.result.blocks, 0u);
  EXPECT_EQ(before.events.log, std::vector<std::string>{"index 1"});

  // Cut inside the second entry's tail: both entries are kept, their data is gone.
  Bytes inside(file.begin(), file.begin() + 0x1000 + kIndexStart + 32 + 12);
  Outcome in = extractBytes(inside);
  EXPECT_EQ(in.result.blocks, 2u);
  EXPECT_EQ(in.events.log[0], "index 2");
  EXPECT_TRUE(in.out.empty());
}

TEST(Index, PositionsWrapAroundIn32Bits) {
  // P = -0x1000: the index starts at 0x3000 and the data area at 0xFF000.
  const uint32_t psar = 0xFFFFF000u;
  Bytes file(0xFF000, 0);
  putLe32(&file[36], psar);
  Bytes packed = deflateRaw(filled(1000, 'w'));
  putLe32(&file[0x3000], 0);
  putLe32(&file[0x3004], uint32_t(packed.size()));
  file.insert(file.end(), packed.begin(), packed.end());
  Outcome run = extractBytes(file);
  EXPECT_EQ(run.out, filled(1000, 'w'));
  EXPECT_TRUE(run.events.log.empty());

  // A block offset of -256 reaches back before the data area.
  Bytes back(0xFF000 - 256, 0);
  putLe32(&back[36], psar);
  putLe32(&back[0x3000], 0xFFFFFF00u);
  putLe32(&back[0x3004], uint32_t(packed.size()));
  back.insert(back.end(), packed.begin(), packed.end());
  EXPECT_EQ(extractBytes(back).out, filled(1000, 'w'));
}

TEST(Index, RegionBeyond2GiBIsOutOfReach) {
  Bytes file(64, 0);
  putLe32(&file[36], 0x7FFFF000u);
  Outcome run = extractBytes(file);
  EXPECT_EQ(run.result.blocks, 0u);
  EXPECT_EQ(run.events.log, std::vector<std::string>{"index 3"});
}

TEST(Blocks, StoredLengthAloneDecidesHowABlockIsRead) {
  // A valid deflate stream padded to exactly 37632 bytes is still copied as it stands.
  Bytes stream = deflateRaw(filled(50000, 'q'));
  Bytes asStored = stream;
  asStored.resize(kBlockSize, 0xEE);
  // With one byte more the same bytes are inflated (over-long input is fine).
  Bytes asDeflate = asStored;
  asDeflate.push_back(0xEE);
  EbootBuilder eb;
  eb.addEntry(eb.addData(asStored), uint32_t(asStored.size()));
  eb.addEntry(eb.addData(asDeflate), uint32_t(asDeflate.size()));
  Outcome run = extractBytes(eb.build());
  ASSERT_EQ(run.out.size(), 2 * kBlockSize);
  EXPECT_EQ(Bytes(run.out.begin(), run.out.begin() + kBlockSize), asStored);
  // 50000 bytes inflate to one block's worth at most.
  EXPECT_EQ(Bytes(run.out.begin() + kBlockSize, run.out.end()), filled(kBlockSize, 'q'));
}

TEST(Blocks, DamagedStreamsKeepWhatCameBeforeTheDamage) {
  // A non-final stored deflate block of 1000 bytes, then a block of the reserved type 3.
  Bytes stream = {0x00, 0xE8, 0x03, 0x17, 0xFC};
  Bytes payload = noise(1000, 7);
  stream.insert(stream.end(), payload.begin(), payload.end());
  stream.push_back(0x07);
  EbootBuilder eb;
  eb.addEntry(eb.addData(stream), uint32_t(stream.size()));
  eb.addEntry(eb.addData(Bytes(40, 0xFF)), 40); // garbage: nothing comes out
  eb.addEntry(123, 0);                          // length 0: no bytes
  eb.addCompressed(filled(10, 'e'));
  Outcome run = extractBytes(eb.build());
  EXPECT_EQ(run.out, concat({payload, filled(10, 'e')}));
  EXPECT_EQ(run.result.imageSize, 0); // block 1 produced nothing: its size bytes count as 0
}

TEST(Blocks, StreamThatInflatesPastOneBlockIsCapped) {
  Bytes big = noise(40000, 3);
  EbootBuilder eb;
  eb.addCompressed(big);
  Outcome run = extractBytes(eb.build());
  EXPECT_EQ(run.out, Bytes(big.begin(), big.begin() + kBlockSize));
}

TEST(Blocks, BlocksRunningPastTheEndGiveWhatCouldBeRead) {
  Bytes stored = noise(kBlockSize, 11);
  Bytes text(30000);
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = uint8_t("lorem ipsum dolor "[i % 18] + i / 997);
  EbootBuilder eb;
  Bytes packed = deflateRaw(text, 1);
  eb.addEntry(eb.addData(packed), uint32_t(packed.size()));
  eb.addStored(stored);
  Bytes file = eb.build();
  file.resize(file.size() - 1000); // cuts the stored block short
  Outcome run = extractBytes(file);
  EXPECT_EQ(run.out, concat({text, Bytes(stored.begin(), stored.end() - 1000)}));
  EXPECT_EQ(run.events.log.front(), "block 1 1");

  // Cut the compressed block instead: a prefix of the text, no more.
  EbootBuilder eb2;
  eb2.addEntry(eb2.addData(packed), uint32_t(packed.size()));
  Bytes file2 = eb2.build();
  file2.resize(file2.size() - packed.size() / 2);
  Outcome half = extractBytes(file2);
  EXPECT_EQ(half.events.log, std::vector<std::string>{"block 0 1"});
  ASSERT_LT(half.out.size(), text.size());
  EXPECT_EQ(half.out, Bytes(text.begin(), text.begin() + half.out.size()));
}

TEST(Blocks, HostileOffsetsAndLengthsAreHarmless) {
  EbootBuilder eb;
  eb.addEntry(0x7FFFFFFFu, 100);         // wraps below zero: out of reach
  eb.addEntry(0x40000000u, 0xFFFFFFF0u); // far past the end, huge length
  eb.addEntry(0, 0xFFFFFFFFu);           // a huge length over real data
  Bytes packed = deflateRaw(filled(64, 'h'));
  eb.addData(packed);
  Outcome run = extractBytes(eb.build());
  EXPECT_EQ(run.result.blocks, 3u);
  EXPECT_EQ(run.out, filled(64, 'h'));
  EXPECT_EQ(run.events.log[0], "block 0 2");
}

TEST(ImageSize, ComesFromBlock1Bytes104To107) {
  EXPECT_EQ(imageSizeFromBlock1(sizeBlock(16).data(), kBlockSize), 37632);
  Bytes b = sizeBlock(0);
  b[105] = 1;
  EXPECT_EQ(imageSizeFromBlock1(b.data(), kBlockSize), 602112);
  // Products past 2^31 wrap like a signed 32-bit integer.
  EXPECT_EQ(imageSizeFromBlock1(sizeBlock(0x7FFFFFFFu).data(), kBlockSize), -2352);
  EXPECT_EQ(imageSizeFromBlock1(sizeBlock(913000).data(), kBlockSize), int32_t(913000u * 2352u));
  // Bytes past the content count as zero.
  EXPECT_EQ(imageSizeFromBlock1(sizeBlock(0x01010101u).data(), 106), 0x0101 * 2352);
  EXPECT_EQ(imageSizeFromBlock1(sizeBlock(16).data(), 104), 0);
}

TEST(Extract, CutsToTheImageSizeAfterBlock0) {
  EbootBuilder eb;
  eb.addCompressed(filled(kBlockSize, '0'));
  Bytes block1 = sizeBlock(20); // 20 sectors: block 0 plus 4 sectors of block 1
  eb.addCompressed(block1);
  eb.addCompressed(filled(kBlockSize, '2'));
  Outcome run = extractBytes(eb.build());
  ASSERT_EQ(run.out.size(), 20 * kSectorSize);
  EXPECT_EQ(run.result.imageSize, int32_t(20 * kSectorSize));
  EXPECT_EQ(run.out,
            concat({filled(kBlockSize, '0'), Bytes(block1.begin(), block1.begin() + 4 * kSectorSize)}));
}

TEST(Extract, SmallOrNegativeSizesCutNothingTheyCannot) {
  // Size smaller than block 0: block 0 stays whole, the rest contributes nothing.
  EbootBuilder small;
  small.addStored(noise(kBlockSize, 1));
  small.addCompressed(sizeBlock(1));
  small.addCompressed(filled(100, 'x'));
  EXPECT_EQ(extractBytes(small.build()).out.size(), kBlockSize);

  // A negative size cuts nothing.
  EbootBuilder negative;
  negative.addCompressed(filled(10, 'a'));
  negative.addCompressed(sizeBlock(0xFFFFFFFFu));
  negative.addCompressed(filled(10, 'b'));
  Outcome run = extractBytes(negative.build());
  EXPECT_EQ(run.result.imageSize, -2352);
  EXPECT_EQ(run.out.size(), 20 + kBlockSize);
}

TEST(Extract, OneBlockIsWrittenWholeWithoutAnnouncement) {
  EbootBuilder eb;
  eb.addCompressed(sizeBlock(1));
  Outcome run = extractBytes(eb.build());
  EXPECT_EQ(run.out.size(), kBlockSize);
  EXPECT_TRUE(run.events.log.empty());
  EXPECT_EQ(run.result.imageSize, 0);
}

TEST(Extract, Block0IsWrittenBeforeTheAnnouncement) {
  EbootBuilder eb;
  eb.addCompressed(filled(kBlockSize, '0'));
  eb.addCompressed(sizeBlock(48));
  eb.addCompressed(filled(kBlockSize, '2'));
  Bytes file = eb.build();
  MemorySource src(file.data(), file.size());
  Events events;
  MemorySink sink;
  sink.log = &events.log;
  extract(src, sink, events);
  std::vector<std::string> expected = {"write 37632", "extracting 112896", "write 75264"};
  EXPECT_EQ(events.log, expected);
}

TEST(Extract, WriteFailureStopsAndIsReported) {
  Bytes file = packDisc(rawMode2Disc(100));
  MemorySource src(file.data(), file.size());
  Events events;
  MemorySink sink;
  sink.failAfter = 3 * kBlockSize;
  ExtractResult result = extract(src, sink, events, ExtractOptions{true, 2 * kBlockSize});
  EXPECT_TRUE(result.writeFailed);
}

TEST(Extract, RawMode2DiscSurvivesTheRoundTrip) {
  const uint32_t sectors = 16 * 7 + 5; // the last block is padded and must be cut
  Bytes disc = rawMode2Disc(sectors);
  Bytes file = packDisc(disc);
  for (bool fast : {true, false}) {
    Outcome run = extractBytes(file, ExtractOptions{fast, 3 * kBlockSize});
    EXPECT_EQ(run.result.imageSize, int32_t(sectors * kSectorSize));
    EXPECT_TRUE(run.out == disc) << "fast inflate " << fast;
  }
}

namespace {

// A file whose data area turns unreadable at a given position, as a bad sector would.
struct BadSectorSource : CheckedSource {
  MemorySource mem;
  uint64_t badAt;
  BadSectorSource(const Bytes& file, uint64_t at) : mem(file.data(), file.size()), badAt(at) {}
  size_t readAtChecked(uint64_t pos, uint8_t* dst, size_t n, bool* failed) override {
    *failed = pos + n > badAt;
    if (*failed) n = pos < badAt ? size_t(badAt - pos) : 0;
    return mem.readAt(pos, dst, n);
  }
};

// Everything an extraction shows: the bytes, and the writes and events in the order they came.
struct Trace {
  Bytes out;
  std::vector<std::string> log;
  ExtractResult result;
};

Trace traceExtract(const Bytes& file, unsigned threads, size_t failWriteAfter = SIZE_MAX,
                   uint64_t badAt = UINT64_MAX) {
  BadSectorSource src(file, badAt);
  Events events;
  MemorySink sink;
  sink.log = &events.log;
  sink.failAfter = failWriteAfter;
  ExtractOptions options;
  options.writeBuffer = 3 * kBlockSize;
  options.threads = threads;
  Trace t;
  t.result = extract(src, sink, events, options);
  t.out = sink.bytes;
  t.log = events.log;
  return t;
}

void expectSameTrace(const Trace& a, const Trace& b, const std::string& what) {
  EXPECT_TRUE(a.out == b.out) << what;
  EXPECT_EQ(a.log, b.log) << what;
  EXPECT_EQ(a.result.written, b.result.written) << what;
  EXPECT_EQ(a.result.readFailed, b.result.readFailed) << what;
  EXPECT_EQ(a.result.writeFailed, b.result.writeFailed) << what;
  EXPECT_EQ(a.result.imageSize, b.result.imageSize) << what;
}

// Many blocks of every kind, so decoders finish out of order: text at several levels, noise
// stored plain, partly compressible blocks, short ones, empty entries, a damaged stream, a
// stream cut short, one out of reach, one with an over-long stored length, and a truncated tail.
Bytes mixedEboot(uint32_t imageSectors) {
  EbootBuilder eb;
  eb.addCompressed(filled(kBlockSize, '0'));
  eb.addCompressed(sizeBlock(imageSectors));
  for (uint32_t k = 2; k < 60; ++k) {
    Bytes text(kBlockSize);
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = uint8_t("abcdefgh"[(i * k / 7) % 8] + (i % (k + 3) == 0));
    switch (k % 9) {
    case 0: eb.addStored(noise(kBlockSize, k)); break;
    case 1: eb.addCompressed(text, 1 + int(k % 9)); break;
    case 2: {
      Bytes half = noise(kBlockSize, k);
      std::fill(half.begin(), half.begin() + kBlockSize / 2, uint8_t(k));
      eb.addCompressed(half);
      break;
    }
    case 3: eb.addCompressed(Bytes(k * 100, uint8_t(k))); break;
    case 4: eb.addEmpty(); eb.addCompressed(text, 9); break;
    default: eb.addCompressed(text, int(k % 9)); break;
    }
    if (k == 20) { // damaged in the middle: zlib gives what precedes the damage
      Bytes packed = deflateRaw(noise(kBlockSize, 99), 0);
      packed[packed.size() / 2] ^= 0xFF;
      packed[2] ^= 0x55;
      eb.addEntry(eb.addData(packed), uint32_t(packed.size()));
    }
    if (k == 30) { // cut short
      Bytes packed = deflateRaw(text, 6);
      eb.addEntry(eb.addData(packed), uint32_t(packed.size() / 2));
    }
    if (k == 40) eb.addEntry(0x7FFFFF00u, 100); // beyond 2 GiB
    if (k == 50) { // a stored length past the stream and past one slice
      Bytes packed = deflateRaw(text, 6);
      uint32_t at = eb.addData(packed);
      eb.addData(noise(kInputSlice * 2, 7));
      eb.addEntry(at, uint32_t(kInputSlice * 2));
    }
  }
  Bytes tail = deflateRaw(noise(kBlockSize, 5), 6); // the file ends inside the last block
  uint32_t at = eb.addData(Bytes(tail.begin(), tail.begin() + tail.size() / 3));
  eb.addEntry(at, uint32_t(tail.size()));
  return eb.build();
}

} // namespace

TEST(ExtractThreads, GiveTheSameBytesWritesAndEventsAsOneThread) {
  for (uint32_t sectors : {0u, 16u * 40 + 3, 16u * 200}) { // no cut, a cut inside, past the end
    Bytes file = mixedEboot(sectors);
    Trace alone = traceExtract(file, 1);
    EXPECT_GT(alone.out.size(), 16u * kSectorSize * 3);
    for (unsigned threads : {2u, 3u, 8u})
      expectSameTrace(alone, traceExtract(file, threads),
                      std::to_string(threads) + " threads, S=" + std::to_string(sectors));
  }
}

TEST(ExtractThreads, StopAtTheSameBlockOnReadAndWriteErrors) {
  Bytes file = mixedEboot(0);
  const uint64_t data = 0x28 + kDataStart;
  ASSERT_GT(file.size(), data + 300000);
  for (uint64_t badAt : {data + 5000, data + 300000, uint64_t(file.size() - 10)}) {
    Trace alone = traceExtract(file, 1, SIZE_MAX, badAt);
    EXPECT_TRUE(alone.result.readFailed) << badAt;
    expectSameTrace(alone, traceExtract(file, 2, SIZE_MAX, badAt), "read error at " + std::to_string(badAt));
  }
  for (size_t failAfter : {size_t(10), kBlockSize + 1, 20 * kBlockSize}) {
    Trace alone = traceExtract(file, 1, failAfter);
    EXPECT_TRUE(alone.result.writeFailed);
    expectSameTrace(alone, traceExtract(file, 3, failAfter), "write error after " + std::to_string(failAfter));
  }
}

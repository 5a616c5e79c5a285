// CSO and DAX: exact round trips, the on-disk layout other readers rely on, and damaged files.
#include "cso.h"
#include "dax.h"
#include "support.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <zlib.h>

using namespace kivo;
using kivo::test::mixedBytes;

namespace {

std::vector<uint8_t> csoOf(const std::vector<uint8_t>& image, int level, unsigned threads) {
  MemorySource src(image.data(), image.size());
  MemorySink out;
  cso::compress(src, out, level, threads);
  return out.bytes;
}

std::vector<uint8_t> daxOf(const std::vector<uint8_t>& image, int level, unsigned threads) {
  MemorySource src(image.data(), image.size());
  MemorySink out;
  dax::compress(src, out, level, threads);
  return out.bytes;
}

template <class Reader> std::vector<uint8_t> unpack(const std::vector<uint8_t>& file) {
  MemorySource src(file.data(), file.size());
  Reader reader(src);
  MemorySink out;
  reader.decompress(out);
  return out.bytes;
}

std::string failureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ToolError& e) {
    return e.what();
  }
  return "";
}

} // namespace

TEST(Cso, RoundTripsAwkwardSizesAndLevels) {
  for (size_t size : {0, 1, 2047, 2048, 2049, 300000}) {
    for (int level : {1, 9}) {
      auto image = mixedBytes(size, uint32_t(size));
      EXPECT_EQ(unpack<cso::Reader>(csoOf(image, level, 2)), image) << size << " bytes at level " << level;
    }
  }
}

TEST(Cso, OutputDoesNotDependOnThreadCount) {
  auto image = mixedBytes(3 << 20);
  auto one = csoOf(image, 9, 1);
  EXPECT_EQ(csoOf(image, 9, 2), one);
  EXPECT_EQ(csoOf(image, 9, 7), one);
}

TEST(Cso, LayoutIsVersion1With2048ByteBlocksAndNoShift) {
  std::vector<uint8_t> image(2048, 0); // compresses well
  std::mt19937 rng(3);
  for (int i = 0; i < 2048; ++i)
    image.push_back(uint8_t(rng())); // does not compress
  image.push_back(7);                // a short last block
  auto file = csoOf(image, 9, 1);
  ASSERT_GE(file.size(), 24u + 4 * 4);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "CISO");
  EXPECT_EQ(getLe32(&file[4]), 24u);
  EXPECT_EQ(getLe64(&file[8]), image.size());
  EXPECT_EQ(getLe32(&file[16]), 2048u);
  EXPECT_EQ(file[20], 1);
  EXPECT_EQ(file[21], 0);
  uint32_t idx[4];
  for (int i = 0; i < 4; ++i)
    idx[i] = getLe32(&file[24 + 4 * i]);
  EXPECT_EQ(idx[0], 24u + 16u);
  EXPECT_FALSE(idx[0] & cso::kPlainFlag);
  EXPECT_TRUE(idx[1] & cso::kPlainFlag) << "random data must be stored plain";
  EXPECT_EQ((idx[2] & ~cso::kPlainFlag) - (idx[1] & ~cso::kPlainFlag), 2048u);
  EXPECT_EQ(idx[3], file.size());
  EXPECT_TRUE(
      std::equal(image.begin() + 2048, image.begin() + 4096, file.begin() + (idx[1] & ~cso::kPlainFlag)));

  // Deflated blocks are raw deflate that zlib reads on its own.
  uint8_t block[2048];
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = &file[idx[0]];
  z.avail_in = (idx[1] & ~cso::kPlainFlag) - idx[0];
  z.next_out = block;
  z.avail_out = sizeof block;
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  inflateEnd(&z);
  EXPECT_TRUE(std::equal(block, block + 2048, image.begin()));
}

TEST(Cso, ReadsAnIndexShiftAndPadding) {
  // A hand-made file with shift 2: offsets count 4-byte units and blocks are padded.
  std::vector<uint8_t> plain(2048, 'x');
  std::vector<uint8_t> file(24 + 2 * 4, 0);
  std::copy_n("CISO", 4, file.begin());
  putLe64(&file[8], 2048);
  putLe32(&file[16], 2048);
  file[20] = 1;
  file[21] = 2;
  file.resize(40, 0xEE); // padding before the block
  putLe32(&file[24], (40 >> 2) | cso::kPlainFlag);
  file.insert(file.end(), plain.begin(), plain.end());
  file.resize(file.size() + 4, 0xEE);
  putLe32(&file[28], uint32_t(file.size() >> 2));
  EXPECT_EQ(unpack<cso::Reader>(file), plain);
}

TEST(Cso, DamagedFilesAreRejectedWithAReason) {
  auto good = csoOf(mixedBytes(40000), 9, 1);
  auto fails = [](std::vector<uint8_t> file) { return failureOf([&] { unpack<cso::Reader>(file); }); };

  EXPECT_NE(fails({good.begin(), good.begin() + 10}), "");
  auto v = good;
  v[0] = 'X';
  EXPECT_NE(fails(v).find("signature"), std::string::npos);
  v = good;
  v[20] = 3;
  EXPECT_NE(fails(v).find("version 3"), std::string::npos);
  v = good;
  putLe64(&v[8], uint64_t(1) << 40); // claims far more blocks than the index holds
  EXPECT_NE(fails(v).find("index"), std::string::npos);
  v = good;
  putLe64(&v[8], ~uint64_t(0) - 0xDF); // so large that rounding up to whole blocks wraps around
  EXPECT_NE(fails(v).find("index"), std::string::npos);
  v = good;
  v.resize(v.size() - 100); // the last entry now points past the end
  EXPECT_NE(fails(v).find("past the end"), std::string::npos);
  v = good;
  putLe32(&v[24 + 4], (getLe32(&v[24 + 8]) & ~cso::kPlainFlag) + 100); // block 1 past block 2
  EXPECT_NE(fails(v).find("backwards"), std::string::npos);

  // Garbage in the first deflated block.
  v = good;
  uint32_t first = getLe32(&v[24]);
  ASSERT_FALSE(first & cso::kPlainFlag);
  std::fill(v.begin() + first, v.begin() + first + 8, 0xFF);
  EXPECT_NE(fails(v).find("block 0"), std::string::npos);
}

TEST(Dax, RoundTripsAwkwardSizesAndLevels) {
  for (size_t size : {0, 1, 8191, 8192, 8193, 300000}) {
    for (int level : {0, 1, 9}) {
      auto image = mixedBytes(size, uint32_t(size));
      EXPECT_EQ(unpack<dax::Reader>(daxOf(image, level, 3)), image) << size << " bytes at level " << level;
    }
  }
  auto image = mixedBytes(2 << 20);
  EXPECT_EQ(daxOf(image, 9, 1), daxOf(image, 9, 4));
}

TEST(Dax, LayoutHasHeaderTablesAndZlibFrames) {
  auto image = mixedBytes(20000);
  auto file = daxOf(image, 9, 1);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), std::string("DAX\0", 4));
  EXPECT_EQ(getLe32(&file[4]), 20000u);
  EXPECT_EQ(getLe32(&file[8]), 1u);
  EXPECT_EQ(getLe32(&file[12]), 0u);
  const uint32_t frames = 3, tables = 32 + frames * 6;
  EXPECT_EQ(getLe32(&file[32]), tables);
  uint32_t end = tables;
  for (uint32_t f = 0; f < frames; ++f) {
    uint32_t off = getLe32(&file[32 + 4 * f]), len = getLe16(&file[32 + 4 * frames + 2 * f]);
    EXPECT_EQ(off, end);
    uint8_t out[8192];
    uLongf outLen = sizeof out;
    ASSERT_EQ(uncompress(out, &outLen, &file[off], len), Z_OK) << "frame " << f;
    // Every frame is whole: the last one is padded with zeros past the image.
    const size_t have = std::min<size_t>(8192, 20000 - f * 8192);
    EXPECT_EQ(outLen, 8192u);
    EXPECT_TRUE(std::equal(out, out + have, image.begin() + f * 8192));
    EXPECT_TRUE(std::all_of(out + have, out + 8192, [](uint8_t b) { return b == 0; }));
    end = off + len;
  }
  EXPECT_EQ(end, file.size());
}

TEST(Dax, ReadsPlainAreasOfVersion1) {
  // Two frames: the second lies in a plain area and is stored as it is.
  std::vector<uint8_t> image = mixedBytes(8192 + 100, 9);
  std::vector<uint8_t> file(32 + 2 * 6 + 8);
  putLe32(&file[0], dax::kMagic);
  putLe32(&file[4], uint32_t(image.size()));
  putLe32(&file[8], 1);
  putLe32(&file[12], 1);
  std::vector<uint8_t> z(compressBound(8192));
  uLongf zLen = z.size();
  ASSERT_EQ(compress2(z.data(), &zLen, image.data(), 8192, 9), Z_OK);
  putLe32(&file[32], uint32_t(file.size()));
  putLe16(&file[40], uint16_t(zLen));
  putLe32(&file[36], uint32_t(file.size() + zLen));
  putLe32(&file[44], 1); // area: first frame 1, one frame
  putLe32(&file[48], 1);
  file.insert(file.end(), z.begin(), z.begin() + zLen);
  file.insert(file.end(), image.begin() + 8192, image.end());
  EXPECT_EQ(unpack<dax::Reader>(file), image);
}

TEST(Dax, DamagedFilesAreRejectedWithAReason) {
  auto good = daxOf(mixedBytes(40000), 9, 1);
  auto fails = [](std::vector<uint8_t> file) { return failureOf([&] { unpack<dax::Reader>(file); }); };
  EXPECT_NE(fails({good.begin(), good.begin() + 31}), "");
  auto v = good;
  v[1] = 'X';
  EXPECT_NE(fails(v).find("signature"), std::string::npos);
  v = good;
  putLe32(&v[4], 0xFFFFFFFF); // tables would run past the end
  EXPECT_NE(fails(v).find("tables"), std::string::npos);
  v = good;
  putLe32(&v[12], 0x10000000); // absurd number of plain areas
  EXPECT_NE(fails(v), "");
  v = good;
  v.resize(v.size() - 10);
  EXPECT_NE(fails(v).find("past the end"), std::string::npos);
  v = good;
  v[getLe32(&v[32]) + 5] ^= 0x55; // damaged data, caught by the zlib check
  EXPECT_NE(fails(v).find("frame 0"), std::string::npos);
}

TEST(Pipeline, AReadFailureOnAnyThreadStopsTheWholeRun) {
  // Fails part-way, as a disc with a bad sector would; every thread count must report it.
  struct Failing : ByteSource {
    uint64_t size() const override { return 8 << 20; }
    void readAt(uint64_t off, void* buf, size_t n) const override {
      if (off + n > (5 << 20)) throw ToolError("read error at " + std::to_string(off));
      std::memset(buf, int(off / 4096), n);
    }
  } src;
  for (unsigned threads : {1u, 2u, 8u}) {
    MemorySink out;
    EXPECT_THROW(cso::compress(src, out, 9, threads), ToolError) << threads << " threads";
    EXPECT_THROW(dax::compress(src, out, 1, threads), ToolError) << threads << " threads";
  }
}

TEST(Images, DecodeAlikeOnAnyThreadCountAndReadAnyRange) {
  const auto image = mixedBytes((3 << 20) + 777, 6);
  const std::vector<uint8_t> files[] = {csoOf(image, 9, 2), daxOf(image, 9, 2)};
  std::mt19937 rng(11);
  for (const auto& file : files) {
    MemorySource src(file.data(), file.size());
    auto source = openImage(src);
    auto* blocks = dynamic_cast<BlockImage*>(source.get());
    ASSERT_NE(blocks, nullptr);
    for (unsigned threads : {1u, 2u, 5u}) {
      MemorySink out;
      blocks->decompress(out, {}, threads);
      EXPECT_EQ(out.bytes, image) << formatName(source->format()) << " on " << threads << " threads";
    }
    // Ranges that start and end inside blocks, span many, or lie within one.
    for (int i = 0; i < 300; ++i) {
      uint64_t off = rng() % image.size();
      size_t n = size_t(std::min<uint64_t>(i % 3 ? rng() % 9000 : rng() % 600000, image.size() - off));
      std::vector<uint8_t> got(n);
      source->readAt(off, got.data(), n);
      ASSERT_TRUE(std::equal(got.begin(), got.end(), image.begin() + off)) << off << "+" << n;
    }
  }
}

TEST(Images, TheFirstDamagedBlockIsNamedWhateverTheThreads) {
  auto file = csoOf(mixedBytes(4 << 20, 2), 9, 1);
  // Damage two deflated blocks far apart; the earlier one must be reported.
  std::vector<uint32_t> hit;
  for (uint32_t b : {700u, 1900u}) {
    while (getLe32(&file[24 + 4 * b]) & cso::kPlainFlag)
      ++b;
    std::fill_n(file.begin() + getLe32(&file[24 + 4 * b]), 16, 0xFF);
    hit.push_back(b);
  }
  for (unsigned threads : {1u, 2u, 8u}) {
    MemorySource src(file.data(), file.size());
    cso::Reader reader(src);
    NullSink out;
    std::string why = failureOf([&] { reader.decompress(out, {}, threads); });
    EXPECT_NE(why.find("block " + std::to_string(hit[0]) + " "), std::string::npos) << threads << ": " << why;
  }
}

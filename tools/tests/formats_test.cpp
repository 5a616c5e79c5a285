// CSO v2, ZSO and the smallest-stream encoders: round trips between every pair of formats, the
// layouts other readers rely on, and files from writers that pad or do not.
#include "cso.h"
#include "dax.h"
#include "support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <lz4.h>
#include <random>
#include <zlib.h>

using namespace kivo;
using kivo::test::mixedBytes;

namespace {

std::vector<uint8_t> write(const std::vector<uint8_t>& image, Format format, int level = 9,
                           uint32_t blockSize = 2048, bool slowest = false) {
  MemorySource src(image.data(), image.size());
  MemorySink out;
  if (format == Format::Dax) {
    Effort effort;
    effort.level = level;
    effort.slowest = slowest;
    dax::compress(src, out, effort, 2);
  } else {
    cso::WriteOptions options;
    options.format = format;
    options.effort.level = level;
    options.effort.slowest = slowest;
    options.blockSize = blockSize;
    options.threads = 2;
    cso::write(src, out, options);
  }
  return out.bytes;
}

std::vector<uint8_t> decode(const std::vector<uint8_t>& file, Format expected) {
  MemorySource src(file.data(), file.size());
  auto image = openImage(src);
  EXPECT_EQ(image->format(), expected);
  MemorySink out;
  copyImage(*image, out, 3);
  return out.bytes;
}

// A block that LZ4 stores about as small as deflate: a noise pattern repeated.
std::vector<uint8_t> withRepeatedNoise(std::vector<uint8_t> image, size_t from, size_t to) {
  std::mt19937 rng(4);
  std::vector<uint8_t> pattern(300);
  for (auto& b : pattern)
    b = uint8_t(rng());
  for (size_t i = from; i < to && i < image.size(); ++i)
    image[i] = pattern[i % pattern.size()];
  return image;
}

struct Entry {
  uint64_t offset, length;
  bool flag;
};

std::vector<Entry> indexOf(const std::vector<uint8_t>& file) {
  const uint64_t blocks = (getLe64(&file[8]) + getLe32(&file[16]) - 1) / getLe32(&file[16]);
  std::vector<Entry> out;
  for (uint64_t i = 0; i < blocks; ++i) {
    uint32_t e = getLe32(&file[24 + 4 * i]), next = getLe32(&file[28 + 4 * i]);
    out.push_back({e & 0x7FFFFFFFu, (next & 0x7FFFFFFFu) - (e & 0x7FFFFFFFu), bool(e & 0x80000000u)});
  }
  return out;
}

bool lz4Block(const uint8_t* in, size_t n, uint8_t* out, size_t size) {
  return LZ4_decompress_safe(reinterpret_cast<const char*>(in), reinterpret_cast<char*>(out), int(n),
                             int(size)) == int(size);
}

bool rawDeflateBlock(const uint8_t* in, size_t n, uint8_t* out, size_t size) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<uint8_t*>(in);
  z.avail_in = uInt(n);
  z.next_out = out;
  z.avail_out = uInt(size);
  bool ok = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == size;
  inflateEnd(&z);
  return ok;
}

const Format kAll[] = {Format::Cso1, Format::Cso2, Format::Zso, Format::Dax};

} // namespace

TEST(Formats, EveryFormatRoundTripsAwkwardSizesLevelsAndBlockSizes) {
  for (Format format : kAll) {
    for (size_t size : {0, 1, 2047, 2049, 16385, 300000}) {
      auto image = withRepeatedNoise(mixedBytes(size, uint32_t(size)), 2048, 8192);
      for (int level : {1, 5, 9}) {
        for (uint32_t block : {2048u, 16384u}) {
          if (format == Format::Dax && block != 2048) continue;
          EXPECT_EQ(decode(write(image, format, level, block), format), image)
              << formatName(format) << ", " << size << " bytes, level " << level << ", blocks of " << block;
        }
      }
    }
  }
}

TEST(Formats, EachFormatConvertsIntoEachOtherExactly) {
  const auto image = withRepeatedNoise(mixedBytes((1 << 20) + 2048 * 3 + 5, 9), 100000, 140000);
  for (Format from : kAll) {
    const auto first = write(image, from, 6);
    MemorySource src(first.data(), first.size());
    auto source = openImage(src);
    ASSERT_EQ(source->format(), from);
    for (Format to : kAll) {
      MemorySink out;
      if (to == Format::Dax) {
        dax::compress(*source, out, 6, 2);
      } else {
        cso::WriteOptions options;
        options.format = to;
        options.effort.level = 6;
        cso::write(*source, out, options);
      }
      EXPECT_EQ(out.bytes, write(image, to, 6)) << formatName(from) << " to " << formatName(to);
      EXPECT_EQ(decode(out.bytes, to), image) << formatName(from) << " to " << formatName(to);
    }
  }
}

TEST(Formats, CsoV2FlagsLz4AndTellsStoredBlocksByTheirLength) {
  // Deflate text, an LZ4-friendly pattern, noise, and a short noisy last block.
  // Letters drawn at random from four: deflate's codes take two bits each, LZ4 has few matches.
  std::mt19937 rng(5);
  std::vector<uint8_t> image(2048);
  for (auto& c : image)
    c = uint8_t("acgt"[rng() % 4]);
  auto pattern = withRepeatedNoise(std::vector<uint8_t>(2048), 0, 2048);
  image.insert(image.end(), pattern.begin(), pattern.end());
  for (int i = 0; i < 2048 + 700; ++i)
    image.push_back(uint8_t(rng()));
  auto file = write(image, Format::Cso2);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "CISO");
  EXPECT_EQ(getLe32(&file[4]), 24u);
  EXPECT_EQ(file[20], 2);
  auto index = indexOf(file);
  ASSERT_EQ(index.size(), 4u);
  uint8_t out[2048];
  EXPECT_FALSE(index[0].flag);
  EXPECT_TRUE(rawDeflateBlock(&file[index[0].offset], index[0].length, out, 2048));
  EXPECT_TRUE(index[1].flag) << "the repeated pattern should be kept as LZ4";
  EXPECT_TRUE(lz4Block(&file[index[1].offset], index[1].length, out, 2048));
  EXPECT_TRUE(std::equal(out, out + 2048, pattern.begin()));
  // A stored block takes a whole block and carries no flag.
  EXPECT_FALSE(index[2].flag);
  EXPECT_EQ(index[2].length, 2048u);
  // The short last block is padded with zeros to a whole one, which then compresses.
  EXPECT_LT(index[3].length, 2048u);
  std::vector<uint8_t> last(2048);
  EXPECT_TRUE(index[3].flag ? lz4Block(&file[index[3].offset], index[3].length, last.data(), 2048)
                            : rawDeflateBlock(&file[index[3].offset], index[3].length, last.data(), 2048));
  EXPECT_TRUE(std::equal(image.end() - 700, image.end(), last.begin()));
  EXPECT_TRUE(std::all_of(last.begin() + 700, last.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(index[3].offset + index[3].length, file.size());
}

TEST(Formats, ZsoHoldsLz4BlocksAndStoredOnesUnderTheFlag) {
  auto image = withRepeatedNoise(mixedBytes(20000, 3), 0, 20000);
  std::mt19937 rng(6);
  for (int i = 0; i < 4096; ++i)
    image.push_back(uint8_t(rng()));
  auto file = write(image, Format::Zso, 9);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "ZISO");
  EXPECT_EQ(file[20], 1);
  auto index = indexOf(file);
  std::vector<uint8_t> out(2048);
  // Every block holds 2048 bytes, the last one padded with zeros.
  for (size_t b = 0; b < index.size(); ++b) {
    size_t size = std::min<size_t>(2048, image.size() - b * 2048);
    if (index[b].flag) {
      EXPECT_EQ(index[b].length, 2048u);
      EXPECT_TRUE(std::equal(file.begin() + long(index[b].offset), file.begin() + long(index[b].offset + size),
                             image.begin() + long(b * 2048)));
    } else {
      ASSERT_TRUE(lz4Block(&file[index[b].offset], index[b].length, out.data(), 2048)) << "block " << b;
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + long(size), image.begin() + long(b * 2048)));
      EXPECT_TRUE(std::all_of(out.begin() + long(size), out.end(), [](uint8_t c) { return c == 0; }));
    }
  }
  EXPECT_TRUE(index[index.size() - 2].flag) << "noise is stored";
}

TEST(Formats, ReadsOtherWritersPaddingAndUnpaddedShortBlocks) {
  // A ZSO with index shift 2: offsets count 4-byte units, so LZ4 blocks are followed by padding
  // that must not be taken for more of the block.
  auto plain = withRepeatedNoise(std::vector<uint8_t>(2048 + 100), 0, 2048 + 100);
  std::vector<uint8_t> file(24 + 3 * 4, 0);
  std::copy_n("ZISO", 4, file.begin());
  putLe64(&file[8], plain.size());
  putLe32(&file[16], 2048);
  file[20] = 1;
  file[21] = 2;
  for (int b = 0; b < 2; ++b) {
    std::vector<char> z(LZ4_compressBound(2048));
    size_t n = b ? 100 : 2048;
    int len = LZ4_compress_default(reinterpret_cast<const char*>(&plain[size_t(b) * 2048]), z.data(), int(n),
                                   int(z.size()));
    putLe32(&file[24 + 4 * size_t(b)], uint32_t(file.size() >> 2));
    file.insert(file.end(), z.begin(), z.begin() + len);
    file.resize((file.size() + 3) / 4 * 4 + 4, 0x11); // padding up to, and past, the next unit
  }
  putLe32(&file[32], uint32_t(file.size() >> 2));
  EXPECT_EQ(decode(file, Format::Zso), plain);

  // A CSO v2 whose short last block was stored at its own size, without padding.
  auto v2 = write(plain, Format::Cso2);
  auto index = indexOf(v2);
  ASSERT_EQ(index.size(), 2u);
  std::vector<uint8_t> cut(v2.begin(), v2.begin() + long(index[1].offset));
  cut.insert(cut.end(), plain.begin() + 2048, plain.end());
  putLe32(&cut[24 + 8], uint32_t(cut.size()));
  EXPECT_EQ(decode(cut, Format::Cso2), plain);
}

TEST(Formats, HigherEffortIsNeverLargerAndEveryBlockStaysPlainDeflate) {
  const auto image = mixedBytes(600000, 12), &l9Image = image;
  const auto l9 = write(image, Format::Cso1, 9);
  // zopfli is slow: a part of the image will do.
  const std::vector<uint8_t> part(image.begin(), image.begin() + 100000);
  const auto slowest = write(part, Format::Cso1, 9, 2048, true);
  // The references: zlib at level 9 on every block, and libdeflate at 9 alone, as level 9 was
  // before; both stored where it does not pay.
  uint64_t zlib9 = 24 + 4 * (image.size() / 2048 + 2), libdeflate9 = zlib9;
  DeflateEncoder plain9(9, Wrap::Raw);
  for (size_t at = 0; at < image.size(); at += 2048) {
    size_t n = std::min<size_t>(2048, image.size() - at);
    uint8_t buf[4096];
    size_t got = plain9.encode(&image[at], n, buf, sizeof buf);
    libdeflate9 += got ? got : n;
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    uint8_t out[4096];
    z.next_in = const_cast<uint8_t*>(&image[at]);
    z.avail_in = uInt(n);
    z.next_out = out;
    z.avail_out = sizeof out;
    deflate(&z, Z_FINISH);
    zlib9 += std::min<uint64_t>(z.total_out, n);
    deflateEnd(&z);
  }
  EXPECT_LE(l9.size(), zlib9);
  EXPECT_LE(l9.size(), libdeflate9);
  EXPECT_LE(slowest.size(), write(part, Format::Cso1, 9).size());
  for (const auto* file : {&l9, &slowest}) {
    auto index = indexOf(*file);
    const auto& image = file == &l9 ? l9Image : part;
    std::vector<uint8_t> out(2048);
    for (size_t b = 0; b < index.size(); ++b) {
      size_t size = std::min<size_t>(2048, image.size() - b * 2048);
      if (index[b].flag) continue;
      ASSERT_TRUE(rawDeflateBlock(&(*file)[index[b].offset], index[b].length, out.data(), 2048)) << "block " << b;
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + long(size), image.begin() + long(b * 2048)));
    }
  }
  // DAX frames of the chosen streams are still zlib streams with a valid check value.
  auto dax = write(image, Format::Dax, 9);
  uint32_t offset = getLe32(&dax[32]);
  uint16_t length = getLe16(&dax[32 + 4 * ((image.size() + 8191) / 8192)]);
  uint8_t frame[8192];
  uLongf got = sizeof frame;
  EXPECT_EQ(uncompress(frame, &got, &dax[offset], length), Z_OK);
  EXPECT_TRUE(std::equal(frame, frame + 8192, image.begin()));
}

TEST(Formats, VerificationNamesTheFirstByteThatDiffers) {
  auto image = mixedBytes(3 << 20, 2);
  auto other = image;
  other[(2 << 20) + 17] ^= 1;
  other[(2 << 20) + 300000] ^= 1;
  MemorySource a(image.data(), image.size()), b(other.data(), other.size());
  EXPECT_NO_THROW(compareImages(a, a, "x", 2));
  for (unsigned threads : {1u, 3u}) {
    try {
      compareImages(b, a, "'out'", threads);
      ADD_FAILURE() << "no difference found";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find("'out' differs from the input at byte " + std::to_string((2 << 20) + 17)),
                std::string::npos)
          << e.what();
    }
  }
  MemorySource shorter(image.data(), image.size() - 1);
  EXPECT_THROW(compareImages(shorter, a, "x"), ToolError);
}

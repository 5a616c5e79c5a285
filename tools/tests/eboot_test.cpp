// EBOOT.PBP as psx writes it: raw sectors with valid error correction, a container that a
// plain zlib reader following the block index can unpack, PARAM.SFO and the artwork.
#include "cdrom.h"
#include "pbp.h"
#include "support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <zlib.h>

using namespace kivo;

namespace {

std::vector<uint8_t> ebootOf(const std::vector<uint8_t>& image, int level, const pbp::Artwork& art = {},
                             const std::string& title = "Title", const std::string& id = "SCES12345") {
  MemorySource src(image.data(), image.size());
  pbp::DiscImage disc(src);
  MemorySink out;
  pbp::write(disc, title, id, art, level, out, 2);
  return out.bytes;
}

// Unpacks the image the simplest way a reader can: P at byte 36, entries from +0x4000,
// stored when 37632 bytes long, else one zlib raw-inflate call; cut by block 1's volume size.
std::vector<uint8_t> plainExtract(const std::vector<uint8_t>& f, std::vector<uint32_t>* lengths = nullptr) {
  uint32_t p = getLe32(&f[36]);
  std::vector<uint8_t> image;
  for (uint32_t e = p + 0x4000; e < p + 0x100000; e += 32) {
    uint32_t off = getLe32(&f[e]), len = getLe32(&f[e + 4]);
    if (off == 0 && len == 0) continue;
    if (lengths) lengths->push_back(len);
    const uint8_t* data = &f[p + 0x100000 + off];
    if (len == 37632) {
      image.insert(image.end(), data, data + len);
      continue;
    }
    std::vector<uint8_t> block(37632);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = len;
    z.next_out = block.data();
    z.avail_out = 37632;
    inflate(&z, Z_NO_FLUSH);
    image.insert(image.end(), block.begin(), block.end() - z.avail_out);
    inflateEnd(&z);
  }
  if (image.size() >= 37632 + 108)
    image.resize(std::min<size_t>(image.size(), getLe32(&image[37632 + 104]) * 2352ull));
  return image;
}

// x * alpha^e in the field of the sector's Reed-Solomon codes.
uint8_t gfMul(uint8_t x, int e) {
  for (int i = 0; i < e; ++i)
    x = uint8_t((x << 1) ^ (x & 0x80 ? 0x1D : 0));
  return x;
}

// Both syndromes of a codeword whose last symbol has weight alpha^0.
bool codewordHolds(const std::vector<uint8_t>& v) {
  uint8_t s0 = 0, s1 = 0;
  for (size_t k = 0; k < v.size(); ++k) {
    s0 ^= v[k];
    s1 ^= gfMul(v[k], int(v.size() - 1 - k));
  }
  return s0 == 0 && s1 == 0;
}

} // namespace

TEST(Sectors, Mode2Form1SectorsCarryValidHeaderEdcAndParity) {
  auto user = test::mixedBytes(2048, 5);
  uint8_t raw[2352];
  cdrom::makeMode2Form1(raw, user.data(), 4500 - 150 + 16); // 01:00:16
  EXPECT_TRUE(cdrom::hasSync(raw));
  EXPECT_EQ(raw[12], 0x01);
  EXPECT_EQ(raw[13], 0x00);
  EXPECT_EQ(raw[14], 0x16);
  EXPECT_EQ(raw[15], 2);
  EXPECT_EQ(0, std::memcmp(raw + 16, raw + 20, 4));
  EXPECT_EQ(0, std::memcmp(raw + 24, user.data(), 2048));
  EXPECT_EQ(getLe32(raw + 2072), cdrom::edc(raw + 16, 2056));

  // Parity is computed with the header taken as zero.
  std::vector<uint8_t> s(raw + 12, raw + 2352);
  std::fill_n(s.begin(), 4, 0);
  for (int col = 0; col < 86; ++col) {
    std::vector<uint8_t> v;
    for (int k = 0; k < 26; ++k)
      v.push_back(s[col + 86 * k]);
    EXPECT_TRUE(codewordHolds(v)) << "P column " << col;
  }
  for (int diag = 0; diag < 52; ++diag) {
    std::vector<uint8_t> v;
    for (int k = 0, at = (diag / 2) * 86 + diag % 2; k < 43; ++k, at = (at + 88) % 2236)
      v.push_back(s[at]);
    v.push_back(s[2236 + diag]);
    v.push_back(s[2236 + 52 + diag]);
    EXPECT_TRUE(codewordHolds(v)) << "Q diagonal " << diag;
  }
}

TEST(Eboot, IsoIsWrappedAndReadBackByAPlainZlibReader) {
  auto iso = test::isoImage(300, 300); // 18.75 blocks: the last one is padded
  auto raw = test::rawImage(iso);
  for (int level : {0, 1, 9}) {
    auto eboot = ebootOf(iso, level);
    std::vector<uint32_t> lengths;
    EXPECT_EQ(plainExtract(eboot, &lengths), raw) << "level " << level;
    ASSERT_EQ(lengths.size(), 19u);
    for (uint32_t len : lengths) {
      if (level == 0)
        EXPECT_EQ(len, 37632u);
      else
        EXPECT_LE(len, 37632u);
    }
    MemorySource src(eboot.data(), eboot.size());
    MemorySink out;
    pbp::Reader(src).extractImage(out);
    EXPECT_EQ(out.bytes, raw);
  }
}

TEST(Eboot, RawImageIsTakenAsItIsAndIncompressibleBlocksAreStored) {
  auto iso = test::isoImage(64, 64, 7);
  auto raw = test::rawImage(iso);
  std::mt19937 rng(1);
  for (size_t i = 2 * 37632; i < raw.size(); ++i)
    raw[i] = uint8_t(rng()); // blocks 2 and 3: noise
  std::vector<uint32_t> lengths;
  EXPECT_EQ(plainExtract(ebootOf(raw, 9), &lengths), raw);
  ASSERT_EQ(lengths.size(), 4u);
  EXPECT_LT(lengths[0], 37632u);
  EXPECT_EQ(lengths[2], 37632u);
  EXPECT_EQ(lengths[3], 37632u);
}

TEST(Eboot, HeaderSfoAndArtworkSections) {
  pbp::Artwork art;
  art.icon0 = {1, 2, 3};
  art.pic1 = std::vector<uint8_t>(1000, 9);
  art.snd0 = {4};
  auto eboot = ebootOf(test::isoImage(40, 40), 5, art, "Crash \xC3\xA9", "SCUS94900");
  EXPECT_EQ(std::string(eboot.begin(), eboot.begin() + 4), std::string("\0PBP", 4));
  MemorySource src(eboot.data(), eboot.size());
  pbp::Reader reader(src);
  EXPECT_EQ(reader.sectionOffset(pbp::Sfo), 40u);
  EXPECT_EQ(reader.section(pbp::Icon0), art.icon0);
  EXPECT_EQ(reader.sectionSize(pbp::Icon1), 0u);
  EXPECT_EQ(reader.sectionSize(pbp::Pic0), 0u);
  EXPECT_EQ(reader.section(pbp::Pic1), art.pic1);
  EXPECT_EQ(reader.section(pbp::Snd0), art.snd0);
  EXPECT_EQ(getLe32(&eboot[36]), reader.sectionOffset(pbp::DataPsar));

  auto sfoBytes = reader.section(pbp::Sfo);
  auto sfo = pbp::parseSfo(sfoBytes.data(), sfoBytes.size());
  EXPECT_EQ(sfo.strings["TITLE"], "Crash \xC3\xA9");
  EXPECT_EQ(sfo.strings["DISC_ID"], "SCUS94900");
  EXPECT_EQ(sfo.strings["CATEGORY"], "ME");
  EXPECT_EQ(sfo.numbers["BOOTABLE"], 1u);

  uint64_t psar = reader.sectionOffset(pbp::DataPsar);
  EXPECT_EQ(std::string(&eboot[psar], &eboot[psar + 12]), "PSISOIMG0000");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&eboot[psar + 0x400])), "_SCUS_94900");
}

TEST(Eboot, SfoKeepsTextsWithinTheirRoom) {
  auto sfoBytes = pbp::buildSfo(std::string(300, 'T'), "ABCD");
  auto sfo = pbp::parseSfo(sfoBytes.data(), sfoBytes.size());
  EXPECT_EQ(sfo.strings["TITLE"], std::string(127, 'T'));
  EXPECT_EQ(sfo.strings["DISC_ID"], "ABCD");
}

TEST(Eboot, RejectsWhatIsNoDiscImage) {
  std::vector<uint8_t> odd(5000, 1);
  EXPECT_THROW(ebootOf(odd, 9), ToolError);
  EXPECT_THROW(ebootOf({}, 9), ToolError);

  struct Huge : ByteSource { // one block more than the index can hold
    uint64_t size() const override { return (32256ull * 16 + 1) * 2048; }
    void readAt(uint64_t, void* buf, size_t n) const override { std::memset(buf, 0, n); }
  } huge;
  EXPECT_THROW(pbp::DiscImage{huge}, ToolError);
}

TEST(Eboot, ReaderRejectsDamagedContainers) {
  auto eboot = ebootOf(test::isoImage(100, 100), 9);
  auto fails = [](const std::vector<uint8_t>& f) {
    MemorySource src(f.data(), f.size());
    NullSink out;
    try {
      pbp::Reader(src).extractImage(out);
    } catch (const ToolError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  auto v = eboot;
  putLe32(&v[36], uint32_t(v.size() + 1));
  EXPECT_NE(fails(v), "");
  v = eboot;
  uint32_t p = getLe32(&v[36]);
  v[p] = 'X';
  EXPECT_NE(fails(v).find("no PS1"), std::string::npos);
  v = eboot;
  putLe32(&v[p + 0x4000 + 4], 0x7FFFFFF0); // block 0 far past the end
  EXPECT_NE(fails(v).find("past the end"), std::string::npos);
  v = eboot;
  std::fill_n(v.begin() + p + 0x100000, 16, 0xFF);
  EXPECT_NE(fails(v).find("does not inflate"), std::string::npos);
}

// What the converters write for the PSP: every deflate stream in zlib's shape, judged by a strict
// inflater of the tests' own; ciso --check and --repair on files of other writers; padded last
// blocks of other converters read, and written.
#include "cso.h"
#include "dax.h"
#include "deflateshape.h"
#include "pbp.h"
#include "strictinflate.h"
#include "support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <lz4.h>
#include <zlib.h>

using namespace kivo;
using namespace kivo::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> zlibRawInflate(const std::vector<uint8_t>& stream, size_t room) {
  std::vector<uint8_t> out(room);
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<uint8_t*>(stream.data());
  z.avail_in = uInt(stream.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  const int r = inflate(&z, Z_FINISH);
  out.resize(r == Z_STREAM_END ? z.total_out : 0);
  inflateEnd(&z);
  return out;
}

std::vector<uint8_t> csoOf(const std::vector<uint8_t>& image, Format format, int level, bool slowest = false,
                         uint32_t blockSize = 2048) {
  MemorySource src(image.data(), image.size());
  MemorySink out;
  cso::WriteOptions o;
  o.format = format;
  o.effort.level = level;
  o.effort.slowest = slowest;
  o.blockSize = blockSize;
  o.threads = 2;
  cso::write(src, out, o);
  return out.bytes;
}

std::vector<uint8_t> daxOf(const std::vector<uint8_t>& image, int level) {
  MemorySource src(image.data(), image.size());
  MemorySink out;
  dax::compress(src, out, level, 2);
  return out.bytes;
}

// Every deflate stream of a file, as its container lays them out, with the bytes it must give.
struct Stream {
  std::vector<uint8_t> bytes;
  bool zlib;
  std::vector<uint8_t> plain; // what it must decode to (a whole block)
};

std::vector<uint8_t> padded(const std::vector<uint8_t>& image, uint64_t at, size_t n) {
  std::vector<uint8_t> out(n, 0);
  if (at < image.size()) std::copy_n(image.begin() + long(at), std::min<uint64_t>(n, image.size() - at), out.begin());
  return out;
}

std::vector<Stream> csoStreams(const std::vector<uint8_t>& file, const std::vector<uint8_t>& image) {
  const uint32_t blockSize = getLe32(&file[16]);
  const bool v2 = file[20] == 2;
  const uint64_t blocks = (getLe64(&file[8]) + blockSize - 1) / blockSize;
  std::vector<Stream> out;
  for (uint64_t b = 0; b < blocks; ++b) {
    const uint32_t e = getLe32(&file[24 + 4 * b]), next = getLe32(&file[28 + 4 * b]) & 0x7FFFFFFF;
    const uint32_t at = e & 0x7FFFFFFF;
    const bool flag = e & 0x80000000u;
    if (v2 ? flag || next - at >= blockSize : flag) continue;
    out.push_back({std::vector<uint8_t>(file.begin() + at, file.begin() + next), false,
                   padded(image, b * blockSize, blockSize)});
  }
  return out;
}

std::vector<Stream> daxStreams(const std::vector<uint8_t>& file, const std::vector<uint8_t>& image) {
  const uint32_t frames = uint32_t((image.size() + 8191) / 8192);
  std::vector<Stream> out;
  for (uint32_t f = 0; f < frames; ++f) {
    const uint32_t at = getLe32(&file[32 + 4 * f]), len = getLe16(&file[32 + 4 * frames + 2 * f]);
    out.push_back({std::vector<uint8_t>(file.begin() + at, file.begin() + at + len), true,
                   padded(image, uint64_t(f) * 8192, 8192)});
  }
  return out;
}

std::vector<Stream> ebootStreams(const std::vector<uint8_t>& file, const std::vector<uint8_t>& raw) {
  MemorySource src(file.data(), file.size());
  pbp::Reader reader(src);
  const pbp::PsarDisc disc = reader.discs().front();
  std::vector<Stream> out;
  for (size_t b = 0; b < disc.blocks.size(); ++b) {
    const pbp::IndexEntry& e = disc.blocks[b];
    if (e.length == pbp::kBlockBytes) continue;
    const auto at = file.begin() + long(disc.dataStart() + e.offset);
    out.push_back({std::vector<uint8_t>(at, at + e.length), false, padded(raw, b * pbp::kBlockBytes, pbp::kBlockBytes)});
  }
  return out;
}

// The strict inflater takes every stream and gives back its block.
void expectPspSafe(const std::vector<Stream>& streams, const std::string& what) {
  size_t refused = 0, wrong = 0;
  std::string first;
  for (const Stream& s : streams) {
    const Inflated r = s.zlib ? strictInflateZlib(s.bytes.data(), s.bytes.size(), s.plain.size())
                              : strictInflate(s.bytes.data(), s.bytes.size(), s.plain.size());
    if (!r.ok) {
      if (refused++ == 0) first = r.why;
    } else if (r.bytes != s.plain) {
      ++wrong;
    }
  }
  EXPECT_GT(streams.size(), 0u) << what;
  EXPECT_EQ(refused, 0u) << what << ": " << refused << " of " << streams.size() << " refused, first: " << first;
  EXPECT_EQ(wrong, 0u) << what << ": " << wrong << " streams give other bytes";
}

// How many streams libdeflate writes at a level that the strict inflater refuses.
size_t libdeflateMisshapen(const std::vector<uint8_t>& image, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::vector<uint8_t> out(4096);
  size_t refused = 0;
  for (size_t at = 0; at + 2048 <= image.size(); at += 2048) {
    const size_t n = libdeflate_deflate_compress(c, &image[at], 2048, out.data(), 2047);
    refused += n && !strictInflate(out.data(), n, 2048).ok;
  }
  libdeflate_free_compressor(c);
  return refused;
}

// A CSO whose blocks libdeflate compressed directly, as another converter writes them.
std::vector<uint8_t> libdeflateCso(const std::vector<uint8_t>& image, int level) {
  const uint32_t blocks = uint32_t((image.size() + 2047) / 2048);
  std::vector<uint8_t> file(24 + 4 * (blocks + 1));
  std::copy_n("CISO", 4, file.begin());
  putLe32(&file[4], 24);
  putLe64(&file[8], image.size());
  putLe32(&file[16], 2048);
  file[20] = 1;
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::vector<uint8_t> out(4096);
  for (uint32_t b = 0; b < blocks; ++b) {
    const size_t n = std::min<size_t>(2048, image.size() - b * 2048);
    const size_t got = libdeflate_deflate_compress(c, &image[b * 2048], n, out.data(), n - 1);
    putLe32(&file[24 + 4 * b], uint32_t(file.size()) | (got ? 0 : 0x80000000u));
    if (got)
      file.insert(file.end(), out.begin(), out.begin() + long(got));
    else
      file.insert(file.end(), image.begin() + b * 2048, image.begin() + long(b * 2048 + n));
  }
  putLe32(&file[24 + 4 * blocks], uint32_t(file.size()));
  libdeflate_free_compressor(c);
  return file;
}

std::vector<uint8_t> decodeFile(const std::vector<uint8_t>& file) {
  MemorySource src(file.data(), file.size());
  auto image = openImage(src);
  MemorySink out;
  copyImage(*image, out, 2);
  return out.bytes;
}

} // namespace

TEST(DeflateShape, TheTwoOtherShapesAreLegalButRefusedAndRewrittenIntoZlibs) {
  for (int kind = 0; kind < 2; ++kind) {
    std::vector<uint8_t> plain;
    const std::vector<uint8_t> stream = kind == 0 ? crossingRunStream(plain) : emptyDistanceStream(plain);
    SCOPED_TRACE(kind == 0 ? "crossing run" : "empty distance code");
    // RFC 1951 allows both: zlib reads them.
    EXPECT_EQ(zlibRawInflate(stream, 100), plain);
    const Inflated strict = strictInflate(stream.data(), stream.size(), 100);
    EXPECT_FALSE(strict.ok);
    EXPECT_NE(strict.why.find(kind == 0 ? "runs past the literal/length" : "fewer than two"), std::string::npos)
        << strict.why;
    const DeflateShape shape = inspectDeflate(stream.data(), stream.size());
    EXPECT_TRUE(shape.valid);
    EXPECT_FALSE(shape.zlibShaped());
    EXPECT_EQ(shape.crossingRuns, kind == 0 ? 1u : 0u);
    EXPECT_EQ(shape.thinCodes, kind == 0 ? 0u : 1u);

    std::vector<uint8_t> fixed(64);
    fixed.resize(reshapeDeflate(stream.data(), stream.size(), fixed.data(), fixed.size()));
    ASSERT_FALSE(fixed.empty());
    const Inflated again = strictInflate(fixed.data(), fixed.size(), 100);
    EXPECT_TRUE(again.ok) << again.why;
    EXPECT_EQ(again.bytes, plain);
    EXPECT_TRUE(inspectDeflate(fixed.data(), fixed.size(), true).zlibShaped());
    // No room for the result: nothing, never a cut stream.
    EXPECT_EQ(reshapeDeflate(stream.data(), stream.size(), fixed.data(), 3), 0u);
  }
}

TEST(DeflateShape, ZlibsOwnStreamsAndDamagedOnesAreToldApart) {
  const auto text = textHeavyBytes(64 * 1024, 3);
  for (int level : {1, 6, 9}) {
    std::vector<uint8_t> out(compressBound(uLong(text.size())));
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<uint8_t*>(text.data());
    z.avail_in = uInt(text.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    // Several blocks: the walker finds each header behind the symbols of the one before.
    const DeflateShape shape = inspectDeflate(out.data(), out.size(), true);
    EXPECT_TRUE(shape.zlibShaped()) << "level " << level;
    EXPECT_GT(shape.blocks, 1u);
    EXPECT_EQ(shape.bytes, out.size());
    std::vector<uint8_t> copy(out.size());
    EXPECT_EQ(reshapeDeflate(out.data(), out.size(), copy.data(), copy.size()), out.size());
    EXPECT_EQ(copy, out) << "a stream in zlib's shape is copied bit for bit";
    // Cut short, or with a block type 3, it is damaged.
    EXPECT_FALSE(inspectDeflate(out.data(), out.size() / 2, true).valid);
    EXPECT_EQ(reshapeDeflate(out.data(), out.size() / 2, copy.data(), copy.size()), 0u);
    auto bad = out;
    bad[0] |= 6;
    EXPECT_FALSE(inspectDeflate(bad.data(), bad.size()).valid);
  }
}

TEST(PspSafe, EveryStreamTheConvertersWriteHasZlibsShapeAndGivesItsBlockBack) {
  const auto text = textHeavyBytes((1 << 20) + 3000, 1);
  const auto mixed = mixedBytes((1 << 20) + 3000, 2);
  // The text holds blocks on which libdeflate alone writes the other shapes.
  EXPECT_GT(libdeflateMisshapen(text, 1), 0u);
  EXPECT_GT(libdeflateMisshapen(text, 9), 0u);
  for (const auto* image : {&text, &mixed}) {
    const std::string name = image == &text ? "text" : "mixed";
    for (int level = 1; level <= 9; ++level)
      expectPspSafe(csoStreams(csoOf(*image, Format::Cso1, level), *image), name + " ciso " + std::to_string(level));
    const std::vector<uint8_t> part(image->begin(), image->begin() + 96 * 1024);
    expectPspSafe(csoStreams(csoOf(part, Format::Cso1, 9, true), part), name + " ciso --slowest");
    expectPspSafe(csoStreams(csoOf(*image, Format::Cso2, 9), *image), name + " ciso -f cso2");
    expectPspSafe(csoStreams(csoOf(*image, Format::Cso1, 9, false, 16384), *image), name + " ciso -b 16k");
    for (int level : {1, 9})
      expectPspSafe(daxStreams(daxOf(*image, level), *image), name + " dax -l" + std::to_string(level));
    // The written files also give the image back through the converters' own readers.
    EXPECT_EQ(decodeFile(csoOf(*image, Format::Cso1, 1)), *image);
    EXPECT_EQ(decodeFile(daxOf(*image, 9)), *image);
  }
  // PS1 EBOOT blocks: 16 raw sectors each, of an ISO made of the text and of the mixed bytes.
  for (uint32_t seed : {1u, 2u}) {
    std::vector<uint8_t> iso = isoImage(600, 600, seed);
    if (seed == 1) std::copy_n(text.begin(), std::min<size_t>(text.size(), 580 * 2048), iso.begin() + 20 * 2048);
    MemorySource isoSrc(iso.data(), iso.size());
    pbp::DiscImage disc(isoSrc);
    const std::vector<uint8_t> raw = rawImage(iso);
    for (int level : {1, 9}) {
      MemorySink eboot;
      pbp::write(disc, "Game", "SLUS00001", {}, level, eboot, 2);
      expectPspSafe(ebootStreams(eboot.bytes, raw), "psx level " + std::to_string(level));
    }
  }
}

TEST(PspSafe, CheckCountsOtherShapesAndRepairRewritesOnlyThose) {
  TempDir dir;
  const auto image = asDisc(textHeavyBytes(600 * 1024, 5));
  const auto other = libdeflateCso(image, 1);
  // The count the strict inflater gives, to be named by --check.
  size_t refused = 0, streams = 0;
  {
    auto all = csoStreams(other, image);
    for (const Stream& s : all) {
      ++streams;
      refused += !strictInflate(s.bytes.data(), s.bytes.size(), 2048).ok;
    }
  }
  ASSERT_GT(refused, 0u);
  writeFile(dir / "other.cso", other);
  ToolRun run = runTool("ciso", {"--check", "other.cso"}, dir.path);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find(std::to_string(refused) + " of " + std::to_string(streams) +
                            " deflate streams are not in zlib's shape"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("with a code of fewer than two symbols"), std::string::npos) << run.output;

  // A zlib-made CSO of the same image, and Kivo's own, pass.
  writeFile(dir / "own.cso", csoOf(image, Format::Cso1, 9));
  writeFile(dir / "game.iso", image);
  ASSERT_EQ(runTool("ciso", {"-f", "dax", "1", "game.iso", "own.dax"}, dir.path).status, 0);
  run = runTool("ciso", {"--check", "own.cso", "own.dax"}, dir.path);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("own.cso: PSP-safe: CSO v1"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("own.dax: PSP-safe: DAX"), std::string::npos) << run.output;

  run = runTool("ciso", {"--repair", "other.cso"}, dir.path);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("rewrote " + std::to_string(refused) + " deflate streams"), std::string::npos)
      << run.output;
  EXPECT_FALSE(hasPartFiles(dir.path));
  const auto repaired = readFile(dir / "other.cso");
  EXPECT_EQ(decodeFile(repaired), image);
  EXPECT_TRUE(std::equal(repaired.begin(), repaired.begin() + 24, other.begin())) << "the header stays";
  // Every stream the strict inflater took before is there byte for byte; the others now pass.
  const auto before = csoStreams(other, image), after = csoStreams(repaired, image);
  ASSERT_EQ(before.size(), after.size());
  size_t kept = 0;
  for (size_t k = 0; k < before.size(); ++k) {
    if (strictInflate(before[k].bytes.data(), before[k].bytes.size(), 2048).ok) {
      EXPECT_EQ(after[k].bytes, before[k].bytes) << "stream " << k;
      ++kept;
    }
  }
  EXPECT_EQ(kept, streams - refused);
  expectPspSafe(after, "repaired");
  EXPECT_EQ(runTool("ciso", {"--check", "other.cso"}, dir.path).status, 0);
  run = runTool("ciso", {"--repair", "other.cso"}, dir.path);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("nothing to repair"), std::string::npos) << run.output;
}

TEST(PspSafe, CheckNamesWhatTheFirmwareDoesNotReadAndRepairTouchesNothingDamaged) {
  TempDir dir;
  const auto image = textHeavyBytes(200 * 1024, 6);
  writeFile(dir / "big.cso", csoOf(image, Format::Cso1, 9, false, 16384));
  writeFile(dir / "fast.zso", csoOf(image, Format::Zso, 9));
  ToolRun run = runTool("ciso", {"--check", "big.cso", "fast.zso"}, dir.path);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("big.cso: blocks of 16384 bytes: the common custom firmware read 2048-byte blocks only"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("fast.zso: ZSO: the common custom firmware read CSO version 1 only"), std::string::npos)
      << run.output;

  // A damaged block is named, and --repair leaves the file as it was.
  auto broken = libdeflateCso(image, 1);
  const uint32_t at = getLe32(&broken[24 + 4 * 7]) & 0x7FFFFFFF;
  broken[at] ^= 0xFF;
  broken[at + 1] ^= 0xFF;
  writeFile(dir / "broken.cso", broken);
  run = runTool("ciso", {"--check", "broken.cso"}, dir.path);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("not decode (the first: block 7)"), std::string::npos) << run.output;
  run = runTool("ciso", {"--repair", "broken.cso"}, dir.path);
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_EQ(readFile(dir / "broken.cso"), broken);
  EXPECT_FALSE(hasPartFiles(dir.path));
  // Not a container at all; and the modes take files only.
  writeFile(dir / "plain.iso", image);
  EXPECT_EQ(runTool("ciso", {"--check", "plain.iso"}, dir.path).status, 2);
  EXPECT_EQ(runTool("ciso", {"--check", "-f", "cso", "big.cso"}, dir.path).status, 1);
  EXPECT_EQ(runTool("ciso", {"--check", "--repair", "big.cso"}, dir.path).status, 1);
}

TEST(PspSafe, OtherConvertersPaddedLastBlocksReadBackAndOursArePadded) {
  TempDir dir;
  const auto image = discBytes(5 * 8192 + 3000, 8);
  writeFile(dir / "game.iso", image);
  // A DAX whose last frame inflates to a whole 8192 bytes, zeros past the image.
  const uint32_t frames = uint32_t((image.size() + 8191) / 8192);
  std::vector<uint8_t> dax(32 + frames * 6);
  putLe32(&dax[0], dax::kMagic);
  putLe32(&dax[4], uint32_t(image.size()));
  for (uint32_t f = 0; f < frames; ++f) {
    const auto block = padded(image, uint64_t(f) * 8192, 8192);
    std::vector<uint8_t> z(compressBound(8192));
    uLongf len = z.size();
    ASSERT_EQ(compress2(z.data(), &len, block.data(), 8192, 9), Z_OK);
    putLe32(&dax[32 + 4 * f], uint32_t(dax.size()));
    putLe16(&dax[32 + 4 * frames + 2 * f], uint16_t(len));
    dax.insert(dax.end(), z.begin(), z.begin() + long(len));
  }
  writeFile(dir / "other.dax", dax);
  // CSO (raw deflate) and ZSO (LZ4) with 16 KiB blocks, the last one padded the same way.
  for (bool zso : {false, true}) {
    const uint32_t blocks = uint32_t((image.size() + 16383) / 16384);
    std::vector<uint8_t> file(24 + 4 * (blocks + 1));
    std::copy_n(zso ? "ZISO" : "CISO", 4, file.begin());
    putLe32(&file[4], 24);
    putLe64(&file[8], image.size());
    putLe32(&file[16], 16384);
    file[20] = 1;
    for (uint32_t b = 0; b < blocks; ++b) {
      const auto block = padded(image, uint64_t(b) * 16384, 16384);
      std::vector<uint8_t> z(20000);
      size_t len;
      if (zso) {
        len = size_t(LZ4_compress_default(reinterpret_cast<const char*>(block.data()), reinterpret_cast<char*>(z.data()),
                                          16384, int(z.size())));
      } else {
        libdeflate_compressor* c = libdeflate_alloc_compressor(6);
        len = libdeflate_deflate_compress(c, block.data(), 16384, z.data(), z.size());
        libdeflate_free_compressor(c);
      }
      putLe32(&file[24 + 4 * b], uint32_t(file.size()));
      file.insert(file.end(), z.begin(), z.begin() + long(len));
    }
    putLe32(&file[24 + 4 * blocks], uint32_t(file.size()));
    writeFile(dir / (zso ? "other.zso" : "other.cso"), file);
  }
  for (const char* name : {"other.dax", "other.cso", "other.zso"}) {
    ToolRun run = runTool("ciso", {"0", name, "back.iso"}, dir.path);
    ASSERT_EQ(run.status, 0) << name << ": " << run.output;
    EXPECT_EQ(readFile(dir / "back.iso"), image) << name;
  }
  ToolRun run = runTool("dax", {"-d", "other.dax", "back.iso"}, dir.path);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(readFile(dir / "back.iso"), image);

  // ciso -b 16k pads its own last block: it inflates to the whole block.
  ASSERT_EQ(runTool("ciso", {"-b", "16k", "9", "game.iso", "own.cso"}, dir.path).status, 0);
  const auto own = readFile(dir / "own.cso");
  const auto streams = csoStreams(own, image);
  ASSERT_FALSE(streams.empty());
  const uint32_t last = uint32_t((image.size() + 16383) / 16384) - 1;
  const uint32_t e = getLe32(&own[24 + 4 * last]), next = getLe32(&own[28 + 4 * last]);
  ASSERT_FALSE(e & 0x80000000u);
  const std::vector<uint8_t> lastStream(own.begin() + (e & 0x7FFFFFFF), own.begin() + next);
  EXPECT_EQ(zlibRawInflate(lastStream, 20000), padded(image, uint64_t(last) * 16384, 16384));
}

namespace {

// A PS1 EBOOT as a user's own would be, made by hand: its boot code a small ELF-looking blob, a disc
// image header whose end-of-data offset points at a boot picture section.
std::vector<uint8_t> fakeBase(const std::vector<uint8_t>& dataPsp, const std::vector<uint8_t>& startDat) {
  const std::vector<uint8_t> sfo = pbp::buildSfo("Base Game", "SCUS94163");
  std::vector<uint8_t> file(40);
  std::copy_n("\0PBP", 4, file.begin());
  putLe32(&file[4], 0x00010000);
  uint32_t at = 40;
  for (int s = 0; s < 8; ++s) {
    putLe32(&file[8 + 4 * s], at);
    if (s == pbp::Sfo) at += uint32_t(sfo.size());
    if (s == pbp::DataPsp) at += uint32_t(dataPsp.size());
  }
  file.insert(file.end(), sfo.begin(), sfo.end());
  file.insert(file.end(), dataPsp.begin(), dataPsp.end());
  std::vector<uint8_t> psar(0x100000 + 0x9300, 0);
  std::copy_n("PSISOIMG0000", 12, psar.begin());
  putLe32(&psar[12], uint32_t(psar.size()));
  std::copy_n("_SCUS_94163", 11, psar.begin() + 0x400);
  psar.insert(psar.end(), startDat.begin(), startDat.end());
  file.insert(file.end(), psar.begin(), psar.end());
  return file;
}

std::vector<uint8_t> blob(const char* magic, size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = uint8_t(i * 7 + seed);
  std::copy_n(magic, std::min<size_t>(n, std::char_traits<char>::length(magic)), b.begin());
  return b;
}

// DATA.PSP of an EBOOT: the base's bytes, then at most the zeros that align DATA.PSAR to 16.
void expectBootCode(const std::vector<uint8_t>& eboot, const std::vector<uint8_t>& code) {
  MemorySource src(eboot.data(), eboot.size());
  const std::vector<uint8_t> section = pbp::Reader(src).section(pbp::DataPsp);
  ASSERT_GE(section.size(), code.size());
  EXPECT_LT(section.size() - code.size(), 16u);
  EXPECT_TRUE(std::equal(code.begin(), code.end(), section.begin()));
  EXPECT_TRUE(std::all_of(section.begin() + long(code.size()), section.end(), [](uint8_t b) { return b == 0; }));
}

} // namespace

TEST(BaseEboot, ItsBootCodeIsCarriedByteForByteAndTheDiscStillComesBack) {
  TempDir dir;
  const auto iso = isoImage(400, 400, 7);
  writeFile(dir / "game.iso", iso);
  const auto elf = blob("\x7F" "ELF", 3001, 1);
  auto startDat = blob("STARTDAT", 0x50 + 700, 2);
  writeFile(dir / "mine.pbp", fakeBase(elf, startDat));

  ToolRun r = runTool("psx", {"--base", "mine.pbp", "Game", "SLUS00001", "9", "game.iso"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Boot code: DATA.PSP (3001 bytes) from mine.pbp, with its boot picture"), std::string::npos)
      << r.output;
  const auto eboot = readFile(dir / "EBOOT.PBP");
  MemorySource src(eboot.data(), eboot.size());
  pbp::Reader reader(src);
  expectBootCode(eboot, elf);
  // The boot picture section follows the blocks, where the disc header's end-of-data points.
  const uint64_t psar = reader.sectionOffset(pbp::DataPsar);
  const uint32_t end = getLe32(&eboot[psar + 12]);
  ASSERT_LE(psar + end + startDat.size(), eboot.size());
  EXPECT_TRUE(std::equal(startDat.begin(), startDat.end(), eboot.begin() + long(psar + end)));
  // Custom firmware takes an EBOOT for a custom one when the disc header holds no "\0PGD" there.
  EXPECT_NE(std::string(eboot.begin() + long(psar + 0x400), eboot.begin() + long(psar + 0x404)), std::string("\0PGD", 4));

  r = runTool("rastle", {"-o", "back.bin", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "back.bin"), rawImage(iso));
  r = runTool("psxdisc", {"verify", "EBOOT.PBP"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  r = runTool("psxdisc", {"info", "EBOOT.PBP"}, dir.path);
  EXPECT_NE(r.output.find("Boot code:  DATA.PSP, 3016 bytes, an ELF module: custom firmware starts it"),
            std::string::npos)
      << r.output;

  // BASE.PBP beside the artwork serves without --base, in any letter case; an encrypted module too.
  const auto psp = blob("~PSP", 5000, 3);
  writeFile(dir / "Base.pbp", fakeBase(psp, {}));
  r = runTool("psx", {"Game", "SLUS00001", "1", "game.iso"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  expectBootCode(readFile(dir / "EBOOT.PBP"), psp);
}

TEST(BaseEboot, AFileThatIsNoPs1EbootWithBootCodeIsRefusedAndNothingWritten) {
  TempDir dir;
  const auto iso = isoImage(300, 300, 8);
  writeFile(dir / "game.iso", iso);
  ASSERT_EQ(runTool("psx", {"Game", "SLUS00001", "9", "game.iso"}, dir.path).status, 0);
  fs::rename(dir / "EBOOT.PBP", dir / "plain.pbp"); // an EBOOT without boot code
  writeFile(dir / "notes.txt", {'h', 'i'});
  writeFile(dir / "odd.pbp", fakeBase(blob("MZ", 400, 4), {}));
  writeFile(dir / "mine.pbp", fakeBase(blob("\x7F" "ELF", 400, 5), {}));
  const std::pair<const char*, const char*> cases[] = {{"game.iso", "not a PBP file"},
                                                       {"notes.txt", "not a PBP file: shorter than its header"},
                                                       {"plain.pbp", "it holds no boot code"},
                                                       {"odd.pbp", "its DATA.PSP is no PSP module"}};
  for (const auto& [base, why] : cases) {
    ToolRun r = runTool("psx", {"--base", base, "Game", "SLUS00001", "9", "game.iso"}, dir.path);
    EXPECT_EQ(r.status, 2) << base;
    EXPECT_NE(r.output.find("'" + std::string(base) + "' is not a PS1 EBOOT to take boot code from: " + why),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(dir / "EBOOT.PBP")) << base;
    EXPECT_FALSE(hasPartFiles(dir.path));
  }
  // A BASE.PBP that does not serve stops the build as well, rather than giving an EBOOT that does not start.
  fs::copy_file(dir / "odd.pbp", dir / "BASE.PBP");
  EXPECT_EQ(runTool("psx", {"Game", "SLUS00001", "9", "game.iso"}, dir.path).status, 2);
  EXPECT_FALSE(fs::exists(dir / "EBOOT.PBP"));
  // After --base BASE, four words are the described form whatever they hold; level 0 warns.
  fs::remove(dir / "BASE.PBP");
  fs::copy_file(dir / "mine.pbp", dir / "--mine.pbp");
  ToolRun r = runTool("psx", {"--base", "--mine.pbp", "--info", "SLUS00001", "0", "game.iso"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("level 0 stores every block"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("for \"--info\""), std::string::npos) << r.output;
}

TEST(BaseEboot, AMultiDiscEbootNamesTheGameAndCarriesTheBootCode) {
  TempDir dir;
  writeFile(dir / "d1.iso", isoImage(200, 200, 1));
  writeFile(dir / "d2.iso", isoImage(150, 150, 2));
  writeText(dir / "game.m3u", "d1.iso\nd2.iso\n");
  const auto elf = blob("\x7F" "ELF", 800, 5);
  writeFile(dir / "BASE.PBP", fakeBase(elf, blob("STARTDAT", 0x60, 6)));
  ToolRun r = runTool("psx", {"Game", "SLES01234", "5", "game.m3u"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  const auto eboot = readFile(dir / "EBOOT.PBP");
  MemorySource src(eboot.data(), eboot.size());
  pbp::Reader reader(src);
  expectBootCode(eboot, elf);
  const uint64_t psar = reader.sectionOffset(pbp::DataPsar);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&eboot[psar + pbp::kTitleGameId])), "_SLES_01234");
  EXPECT_EQ(runTool("psxdisc", {"verify", "EBOOT.PBP"}, dir.path).status, 0);
  r = runTool("psxdisc", {"extract", "-o", "out", "EBOOT.PBP"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "out (Disc 2).bin"), rawImage(isoImage(150, 150, 2)));
}

TEST(PspSafe, VerifyNamesEbootBlocksOfAnotherShape) {
  TempDir dir;
  auto iso = isoImage(480, 480, 9);
  const auto text = textHeavyBytes(460 * 2048, 9);
  std::copy(text.begin(), text.end(), iso.begin() + 20 * 2048);
  MemorySource isoSrc(iso.data(), iso.size());
  pbp::DiscImage disc(isoSrc);
  MemorySink ours;
  pbp::write(disc, "Game", "SLUS00001", {}, 9, ours, 2);
  // The same EBOOT with every third block deflated into literals alone, as another tool might.
  MemorySource src(ours.bytes.data(), ours.bytes.size());
  pbp::Reader reader(src);
  const pbp::PsarDisc d = reader.discs().front();
  std::vector<uint8_t> theirs(ours.bytes.begin(), ours.bytes.begin() + long(d.dataStart()));
  const std::vector<uint8_t> raw = rawImage(iso);
  size_t refused = 0;
  for (size_t b = 0; b < d.blocks.size(); ++b) {
    const pbp::IndexEntry& e = d.blocks[b];
    std::vector<uint8_t> stream(ours.bytes.begin() + long(d.dataStart() + e.offset),
                                ours.bytes.begin() + long(d.dataStart() + e.offset + e.length));
    if (b % 3 == 1) {
      const auto block = padded(raw, b * pbp::kBlockBytes, pbp::kBlockBytes);
      stream = literalsOnlyStream(block.data(), block.size());
      ASSERT_EQ(zlibRawInflate(stream, pbp::kBlockBytes), block);
      ++refused;
    }
    uint8_t* entry = &theirs[d.base + pbp::kIndexOffset + b * pbp::kIndexEntry];
    putLe32(entry, uint32_t(theirs.size() - d.dataStart()));
    putLe32(entry + 4, uint32_t(stream.size()));
    theirs.insert(theirs.end(), stream.begin(), stream.end());
  }
  putLe32(&theirs[d.base + 12], uint32_t(theirs.size() - d.base));
  ASSERT_GT(refused, 0u);
  writeFile(dir / "theirs.pbp", theirs);
  writeFile(dir / "ours.pbp", ours.bytes);
  EXPECT_EQ(runTool("psxdisc", {"verify", "ours.pbp"}, dir.path).status, 0);
  ToolRun r = runTool("psxdisc", {"verify", "theirs.pbp"}, dir.path);
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("deflated blocks: " + std::to_string(refused) + " of " + std::to_string(d.blocks.size()) +
                          " deflate streams are not in zlib's shape"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find(std::to_string(refused) + (refused == 1 ? " fault" : " faults")), std::string::npos)
      << r.output;
}

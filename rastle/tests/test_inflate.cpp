// The fast inflate path must give exactly zlib's bytes, also for streams only zlib refuses.
#include "container.h"
#include "deflate_check.h"
#include "eboot_builder.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

using namespace rastle;
using namespace rastle_test;

namespace {

// Writes deflate bits: fields LSB first, Huffman codes MSB first.
struct BitWriter {
  Bytes bytes;
  unsigned used = 0;
  void bits(uint32_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i, ++used) {
      if (used % 8 == 0) bytes.push_back(0);
      if ((v >> i) & 1) bytes.back() |= uint8_t(1u << (used % 8));
    }
  }
  void code(uint32_t c, unsigned n) {
    for (unsigned i = n; i-- > 0;)
      bits((c >> i) & 1, 1);
  }
  // Fixed-code literal/length symbols.
  void fixedSym(unsigned sym) {
    if (sym < 144)
      code(0x30 + sym, 8);
    else if (sym < 256)
      code(0x190 + sym - 144, 9);
    else if (sym < 280)
      code(sym - 256, 7);
    else
      code(0xC0 + sym - 280, 8);
  }
};

Bytes zlibInflate(const Bytes& stream) {
  Bytes out(kBlockSize);
  z_stream zs{};
  inflateInit2(&zs, -15);
  zs.next_in = const_cast<uint8_t*>(stream.data());
  zs.avail_in = uInt(stream.size());
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  inflate(&zs, Z_NO_FLUSH);
  out.resize(kBlockSize - zs.avail_out);
  inflateEnd(&zs);
  return out;
}

Bytes decodeBlock(const Bytes& stream, bool fast) {
  EbootBuilder eb;
  eb.addEntry(eb.addData(stream), uint32_t(stream.size()));
  Bytes file = eb.build();
  MemorySource src(file.data(), file.size());
  BlockDecoder decoder;
  decoder.setFastPath(fast);
  Bytes out(kBlockSize);
  BlockStatus status;
  out.resize(decoder.decode(src, eb.psar(), {0, uint32_t(stream.size())}, out.data(), &status));
  return out;
}

// Our own inflater's answer: the bytes, or nothing when it leaves the stream to zlib.
bool ownInflate(const Bytes& stream, Bytes* out) {
  out->assign(kBlockSize, 0);
  size_t produced = 0;
  if (!inflateLikeZlib(stream.data(), stream.size(), out->data(), out->size(), &produced)) return false;
  out->resize(produced);
  return true;
}

void expectLikeZlib(const Bytes& stream, const char* what) {
  Bytes expected = zlibInflate(stream);
  EXPECT_EQ(decodeBlock(stream, true), expected) << what;
  EXPECT_EQ(decodeBlock(stream, false), expected) << what;
  Bytes own;
  if (ownInflate(stream, &own)) {
    EXPECT_EQ(own, expected) << what;
  }
}

Bytes deflateWith(const Bytes& data, int level, int strategy) {
  z_stream zs{};
  deflateInit2(&zs, level, Z_DEFLATED, -15, 8, strategy);
  Bytes out(deflateBound(&zs, uLong(data.size())));
  zs.next_in = const_cast<uint8_t*>(data.data());
  zs.avail_in = uInt(data.size());
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

} // namespace

TEST(FastInflate, AcceptsWhatZlibWrites) {
  Bytes disc = rawMode2Disc(48);
  Bytes mixed(disc.begin() + kBlockSize, disc.begin() + 2 * kBlockSize);
  Bytes text(kBlockSize);
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = uint8_t("the quick brown fox "[i % 20] ^ (i / 501));
  for (const Bytes* data : {&mixed, &text}) {
    for (int level : {1, 6, 9})
      for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_FILTERED}) {
        Bytes stream = deflateWith(*data, level, strategy);
        EXPECT_TRUE(zlibAcceptsStructure(stream.data(), stream.size())) << level << " " << strategy;
        EXPECT_EQ(decodeBlock(stream, true), *data);
        Bytes own;
        EXPECT_TRUE(ownInflate(stream, &own)) << level << " " << strategy;
        EXPECT_EQ(own, *data);
      }
  }
  Bytes empty = deflateRaw({});
  EXPECT_TRUE(zlibAcceptsStructure(empty.data(), empty.size()));
}

TEST(FastInflate, StreamsOnlyZlibRefusesGiveZlibsBytes) {
  { // fixed codes: a literal, then length symbol 286 at distance 1
    BitWriter w;
    w.bits(1, 1), w.bits(1, 2);
    w.fixedSym('a'), w.fixedSym(286), w.code(0, 5), w.fixedSym(256);
    EXPECT_FALSE(zlibAcceptsStructure(w.bytes.data(), w.bytes.size()));
    Bytes own;
    EXPECT_FALSE(ownInflate(w.bytes, &own));
    expectLikeZlib(w.bytes, "length symbol 286");
  }
  { // fixed codes: 30000 literals, then distance symbol 30 reaching back 24577
    BitWriter w;
    w.bits(1, 1), w.bits(1, 2);
    for (int i = 0; i < 30000; ++i)
      w.fixedSym('b');
    w.fixedSym(257), w.code(30, 5), w.bits(0, 13), w.fixedSym(256);
    EXPECT_FALSE(zlibAcceptsStructure(w.bytes.data(), w.bytes.size()));
    Bytes own;
    EXPECT_FALSE(ownInflate(w.bytes, &own));
    expectLikeZlib(w.bytes, "distance symbol 30");
  }
  { // a stored block, then a dynamic header declaring 288 literal/length codes
    BitWriter w;
    w.bits(0, 3);
    w.bytes.insert(w.bytes.end(), {0x03, 0x00, 0xFC, 0xFF, 'x', 'y', 'z'});
    w.used = unsigned(w.bytes.size() * 8);
    w.bits(1, 1), w.bits(2, 2), w.bits(31, 5), w.bits(0, 5), w.bits(15, 4);
    for (int i = 0; i < 19; ++i)
      w.bits(i < 2 ? 1 : 0, 3);
    EXPECT_FALSE(zlibAcceptsStructure(w.bytes.data(), w.bytes.size()));
    expectLikeZlib(w.bytes, "288 codes");
  }
}

TEST(FastInflate, StructureCheckFollowsStoredBlocks) {
  // A fixed block of `lead` literals shifts the stored blocks behind it to every bit alignment;
  // the check must land on each header after the stored bytes.
  for (unsigned lead = 0; lead < 16; ++lead) {
    BitWriter w;
    w.bits(0, 1), w.bits(1, 2);
    for (unsigned i = 0; i < lead; ++i)
      w.fixedSym(i % 2 ? 'l' : 0xF0);
    w.fixedSym(256);
    for (unsigned last = 0; last < 2; ++last) {
      w.bits(last, 1), w.bits(0, 2);
      w.used = unsigned(w.bytes.size() * 8);
      w.bytes.insert(w.bytes.end(), {20, 0, 0xEB, 0xFF});
      w.bytes.insert(w.bytes.end(), 20, 0xFF);
      w.used = unsigned(w.bytes.size() * 8);
    }
    EXPECT_TRUE(zlibAcceptsStructure(w.bytes.data(), w.bytes.size())) << lead;
    expectLikeZlib(w.bytes, "stored blocks after a fixed block");
  }
}

TEST(FastInflate, StructureCheckStopsAtTheEndOfTheBytes) {
  // Fixed-code blocks are walked symbol by symbol, so a cut anywhere is noticed.
  Bytes stream = deflateWith(rawMode2Disc(16), 6, Z_FIXED);
  for (size_t cut = 0; cut < stream.size(); cut += 97) {
    Bytes part(stream.begin(), stream.begin() + cut);
    EXPECT_FALSE(zlibAcceptsStructure(part.data(), part.size())) << cut;
  }
  // A dynamic one is judged by its header; cut inside that, it is refused too.
  Bytes dynamic = deflateRaw(rawMode2Disc(16), 6);
  for (size_t cut = 0; cut < 20; ++cut) {
    Bytes part(dynamic.begin(), dynamic.begin() + cut);
    EXPECT_FALSE(zlibAcceptsStructure(part.data(), part.size())) << cut;
  }
}

TEST(FastInflate, StreamsOfSeveralBlocksPassTheCheck) {
  // Literals from a skewed alphabet get codes longer than any look-up table, and zlib cuts a
  // stream of this many symbols into several blocks: the walk must get through all of them.
  Bytes skewed(kBlockSize);
  uint32_t x = 7;
  for (auto& b : skewed) {
    x = x * 1103515245u + 12345u;
    unsigned r = x >> 16, sym = 0;
    while (r & 1 && sym < 40)
      r >>= 1, ++sym;
    b = uint8_t('a' + sym);
  }
  Bytes disc = rawMode2Disc(32);
  Bytes mixed(disc.begin() + kBlockSize, disc.begin() + 2 * kBlockSize);
  for (const Bytes* data : {&skewed, &mixed}) {
    for (int strategy : {Z_HUFFMAN_ONLY, Z_DEFAULT_STRATEGY}) {
      Bytes stream = deflateWith(*data, 9, strategy);
      if (data == &skewed && strategy == Z_HUFFMAN_ONLY) {
        EXPECT_EQ(stream[0] & 1, 0) << "not several blocks";
      }
      EXPECT_TRUE(zlibAcceptsStructure(stream.data(), stream.size())) << strategy;
      EXPECT_EQ(decodeBlock(stream, true), *data);
      Bytes own;
      EXPECT_TRUE(ownInflate(stream, &own)) << strategy;
      EXPECT_EQ(own, *data);
    }
    // libdeflate, as our psx writes them, splits differently.
    for (int level : {1, 6, 12}) {
      libdeflate_compressor* c = libdeflate_alloc_compressor(level);
      Bytes stream(kBlockSize * 2);
      stream.resize(libdeflate_deflate_compress(c, data->data(), data->size(), stream.data(), stream.size()));
      libdeflate_free_compressor(c);
      ASSERT_FALSE(stream.empty());
      EXPECT_TRUE(zlibAcceptsStructure(stream.data(), stream.size())) << "libdeflate " << level;
      EXPECT_EQ(decodeBlock(stream, true), *data);
    }
  }
}

TEST(FastInflate, OwnInflaterStopsWhereZlibWouldDiffer) {
  Bytes disc = rawMode2Disc(32);
  Bytes data(disc.begin() + kBlockSize, disc.begin() + 2 * kBlockSize);
  Bytes stream = deflateWith(data, 9, Z_HUFFMAN_ONLY); // several blocks
  Bytes own;
  // Output past the room given: zlib stops there, so the stream is left to it.
  Bytes room(kBlockSize - 1);
  size_t produced = 0;
  EXPECT_FALSE(inflateLikeZlib(stream.data(), stream.size(), room.data(), room.size(), &produced));
  // Cut anywhere, the stream is refused, never read past its end (the sanitizers watch).
  for (size_t cut = 0; cut < stream.size(); cut += 61) {
    Bytes part(stream.begin(), stream.begin() + cut);
    EXPECT_FALSE(ownInflate(part, &own)) << cut;
  }
  // A distance reaching before the start: a fixed block with one literal, then a match 2 back.
  BitWriter w;
  w.bits(1, 1), w.bits(1, 2);
  w.fixedSym('a'), w.fixedSym(257), w.code(1, 5), w.fixedSym(256);
  EXPECT_FALSE(ownInflate(w.bytes, &own));
  expectLikeZlib(w.bytes, "distance before the start");
  // Matches at every short distance, where copies overlap what they write.
  for (unsigned dist = 1; dist <= 9; ++dist) {
    BitWriter m;
    m.bits(1, 1), m.bits(1, 2);
    for (unsigned i = 0; i < dist; ++i)
      m.fixedSym('0' + i);
    m.fixedSym(284), m.bits(30, 5); // length 257
    const unsigned sym[] = {0, 0, 1, 2, 3, 4, 4, 5, 5, 6}, base[] = {0, 1, 2, 3, 4, 5, 5, 7, 7, 9};
    m.code(sym[dist], 5);
    if (dist > 4) m.bits(dist - base[dist], dist > 8 ? 2 : 1);
    m.fixedSym(256);
    ASSERT_TRUE(ownInflate(m.bytes, &own)) << dist;
    expectLikeZlib(m.bytes, "short distances");
  }
}

// Hostile container bytes through the whole extraction: no crash, no overrun, no allocation
// driven by a stored length, and the fast inflaters (libdeflate with its check, our own) must
// agree with zlib byte for byte, both inside a container and on the input taken as one
// compressed block.
#include "deflate_check.h"
#include "extract.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <vector>
#include <zlib.h>

namespace {

struct Sink : rastle::ByteSink {
  std::vector<uint8_t> bytes;
  bool write(const uint8_t* data, size_t n) override {
    bytes.insert(bytes.end(), data, data + n);
    return true;
  }
};

struct Quiet : rastle::ExtractListener {
  void extracting(int32_t) override {}
  void indexProblem(rastle::BlockIndex::Status) override {}
  void blockProblem(size_t, rastle::BlockStatus) override {}
};

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (8 * i));
}

size_t deflateInto(const uint8_t* src, size_t n, uint8_t* out, size_t cap, int level = 6,
                   int strategy = Z_DEFAULT_STRATEGY) {
  z_stream zs{};
  deflateInit2(&zs, level, Z_DEFLATED, -15, 8, strategy);
  zs.next_in = const_cast<uint8_t*>(src);
  zs.avail_in = uInt(n);
  zs.next_out = out;
  zs.avail_out = uInt(cap);
  deflate(&zs, Z_FINISH);
  size_t done = zs.total_out;
  deflateEnd(&zs);
  return done;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> outputs[2];
  for (int fast = 0; fast < 2; ++fast) {
    rastle::MemorySource src(data, size);
    Sink sink;
    Quiet quiet;
    rastle::ExtractOptions options;
    options.fastInflate = fast != 0;
    options.threads = 1;                     // threads only cost start-up time here; the tests cover them
    options.writeBuffer = rastle::kBlockSize; // and big buffers only cost clearing
    rastle::extract(src, sink, quiet, options);
    outputs[fast] = std::move(sink.bytes);
  }
  if (outputs[0] != outputs[1]) std::abort();

  // The same bytes as one compressed block: libdeflate with its check against zlib alone.
  if (size > 0 && size != rastle::kBlockSize) {
    rastle::MemorySource src(data, size);
    const rastle::BlockRef block{0u - rastle::kDataStart, uint32_t(size)}; // starts at byte 0
    std::vector<uint8_t> out[2];
    for (int fast = 0; fast < 2; ++fast) {
      rastle::BlockDecoder decoder;
      decoder.setFastPath(fast != 0);
      out[fast].resize(rastle::kBlockSize);
      rastle::BlockStatus status;
      out[fast].resize(decoder.decode(src, 0, block, out[fast].data(), &status));
    }
    if (out[0] != out[1]) std::abort();
    // Our own inflater, whatever the first block says: zlib's bytes, or no answer.
    std::vector<uint8_t> own(rastle::kBlockSize);
    size_t produced = 0;
    if (rastle::inflateLikeZlib(data, size, own.data(), own.size(), &produced) &&
        (produced != out[0].size() || !std::equal(out[0].begin(), out[0].end(), own.begin())))
      std::abort();
  }
  return 0;
}

// A small but complete container: P wraps so the index starts at byte 64, and negative block
// offsets reach back to blocks stored right behind the few entries. Its blocks are streams of
// every shape the makers write: one deflate block or several, from zlib and from libdeflate,
// fixed codes, and a block stored plain.
extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  const uint32_t psar = 0xFFFFC040u;
  const uint32_t base = psar + rastle::kDataStart; // file position 0xFC040
  std::vector<uint8_t> file(0x200, 0);
  put32(&file[36], psar);
  size_t entry = 0;
  auto addBlock = [&](const uint8_t* bytes, size_t len) {
    put32(&file[64 + entry * 32], uint32_t(file.size()) - base);
    put32(&file[64 + entry * 32 + 4], uint32_t(len));
    file.insert(file.end(), bytes, bytes + len);
    ++entry;
  };
  std::vector<uint8_t> packed(rastle::kBlockSize * 2);
  auto addZlib = [&](const std::vector<uint8_t>& content, int level, int strategy) {
    addBlock(packed.data(), deflateInto(content.data(), content.size(), packed.data(), packed.size(), level, strategy));
  };
  std::vector<uint8_t> block(rastle::kBlockSize);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = uint8_t(i / 7);
  addZlib(block, 6, Z_DEFAULT_STRATEGY);
  std::memset(block.data(), 0x20, block.size());
  put32(&block[104], 40);
  addZlib(block, 6, Z_DEFAULT_STRATEGY);
  uint32_t x = 1;
  for (auto& b : block)
    b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
  addBlock(block.data(), block.size());
  // Half noise, half text: enough symbols for zlib and libdeflate to split the stream.
  for (size_t i = block.size() / 2; i < block.size(); ++i)
    block[i] = uint8_t("abcdefgh"[(i * 5 / 3) % 8]);
  addZlib(block, 9, Z_DEFAULT_STRATEGY);
  libdeflate_compressor* c = libdeflate_alloc_compressor(12);
  addBlock(packed.data(), libdeflate_deflate_compress(c, block.data(), block.size(), packed.data(), packed.size()));
  libdeflate_free_compressor(c);
  addZlib(block, 6, Z_FIXED);
  if (file.size() > capacity) return 0;
  std::memcpy(out, file.data(), file.size());
  return file.size();
}

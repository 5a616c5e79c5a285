// Deflate encoders for the block pipeline, and the batched block reading shared by the
// CSO, DAX and PBP readers.
#pragma once

#include "image.h"
#include "io.h"
#include "pipeline.h"

#include <functional>
#include <memory>
#include <vector>

struct libdeflate_compressor;
struct libdeflate_decompressor;

namespace kivo {

enum class Wrap { Raw, Zlib };

/// Raw blocks are stored (encode returns 0) when deflate does not make them smaller, or
/// always at level 0. Zlib blocks are always encoded.
class DeflateEncoder : public BlockEncoder {
public:
  DeflateEncoder(int level, Wrap wrap);
  ~DeflateEncoder() override;
  size_t encode(const uint8_t* in, size_t n, uint8_t* out, size_t outCap) override;
  size_t bound(size_t n) override;

private:
  libdeflate_compressor* c_ = nullptr;
  int level_;
  Wrap wrap_;
};

/// How hard the container encoders try: every level runs libdeflate at that level; 8 and 9 also
/// run libdeflate at 10 or 12 and zlib at 9, keeping the smallest stream; slowest adds zopfli.
struct Effort {
  int level = 9;
  bool slowest = false;
};

/// Encodes each block with every encoder the effort and the container allow and keeps the
/// smallest result; where deflate and LZ4 are both allowed, LZ4 is kept when it is at most 1/32
/// larger, since it decodes several times faster. Raw deflate and LZ4 blocks are stored (encode returns 0) when nothing makes
/// them smaller; zlib blocks (DAX frames) are always encoded, in stored deflate blocks if need be.
class SmallestEncoder : public BlockEncoder {
public:
  enum Allowed { DeflateOnly, Lz4Only, DeflateOrLz4, ZlibOnly };
  SmallestEncoder(Effort effort, Allowed allowed);
  ~SmallestEncoder() override;
  SmallestEncoder(const SmallestEncoder&) = delete;
  SmallestEncoder& operator=(const SmallestEncoder&) = delete;
  size_t encode(const uint8_t* in, size_t n, uint8_t* out, size_t outCap) override;
  size_t bound(size_t n) override;
  Codec codec() const override { return codec_; }

private:
  size_t deflate(const uint8_t* in, size_t n, size_t cap);
  size_t lz4(const uint8_t* in, size_t n, size_t cap);
  Effort effort_;
  Allowed allowed_;
  Codec codec_ = Codec::Deflate;
  libdeflate_compressor* fast_ = nullptr;   // libdeflate at the level itself
  libdeflate_compressor* strong_ = nullptr; // and at 10 or 12 from level 8 on
  libdeflate_compressor* stored_ = nullptr; // DAX frames that do not compress
  void* zlib_ = nullptr;                    // a z_stream kept between blocks
  std::vector<uint8_t> lz4State_;
  std::vector<uint8_t> best_, trial_;
};

class Inflater {
public:
  Inflater();
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  /// Decodes a whole stream that must yield exactly outSize bytes; data after the end of
  /// the stream is ignored. Returns false for a damaged stream or a wrong size.
  bool inflateExact(Wrap wrap, const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);
  /// Decodes up to outCap bytes; returns how many came out, or -1 for a damaged stream.
  long inflateUpTo(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCap);
  long inflateUpTo(Wrap wrap, const uint8_t* in, size_t inSize, uint8_t* out, size_t outCap);

private:
  libdeflate_decompressor* d_ = nullptr;
};

/// Decodes one block that must yield exactly n bytes; false when it is damaged. exact says that
/// `in` holds the compressed block and nothing after it (an LZ4 block has no end marker, so
/// padding after it can only be skipped by stopping at n bytes). With room above n, the block may
/// yield up to room bytes (out must hold them): a padded last block. Thread-safe.
bool decodeBlock(Codec codec, const uint8_t* in, size_t inLen, uint8_t* out, size_t n, bool exact = true,
                 size_t room = 0);

/// Where one block's bytes lie in a container: what is read of it, never more than its
/// reader can use, so a damaged length cannot drive a large allocation.
struct BlockSpan {
  uint64_t offset;
  uint32_t length;
};

/// Reads blocks first..end-1 in order, grouping neighbouring ones into a single read, and
/// hands each block's bytes to use(). Every span must lie inside the source. Thread-safe.
void readBlocks(const ByteSource& src, uint64_t first, uint64_t end, const std::function<BlockSpan(uint64_t)>& spanOf,
                const std::function<void(uint64_t, const uint8_t*)>& use);
inline void readBlocks(const ByteSource& src, uint64_t count, const std::function<BlockSpan(uint64_t)>& spanOf,
                       const std::function<void(uint64_t, const uint8_t*)>& use) {
  readBlocks(src, 0, count, spanOf, use);
}

} // namespace kivo

// Deflate encoders for the block pipeline, and the batched block reading shared by the
// CSO, DAX and PBP readers.
#pragma once

#include "image.h"
#include "io.h"
#include "pipeline.h"

#include <functional>
#include <memory>

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

private:
  libdeflate_decompressor* d_ = nullptr;
};

/// Decodes one block that must yield exactly n bytes; false when it is damaged. exact says that
/// `in` holds the compressed block and nothing after it (an LZ4 block has no end marker, so
/// padding after it can only be skipped by stopping at n bytes). Thread-safe.
bool decodeBlock(Codec codec, const uint8_t* in, size_t inLen, uint8_t* out, size_t n, bool exact = true);

/// Where one block's bytes lie in a container: what is read of it, never more than its
/// reader can use, so a damaged length cannot drive a large allocation.
struct BlockSpan {
  uint64_t offset;
  uint32_t length;
};

/// Reads blocks 0..count-1 in order, grouping neighbouring ones into a single read, and
/// hands each block's bytes to use(). Every span must lie inside the source.
void readBlocks(const ByteSource& src, uint64_t count, const std::function<BlockSpan(uint64_t)>& spanOf,
                const std::function<void(uint64_t, const uint8_t*)>& use);

} // namespace kivo

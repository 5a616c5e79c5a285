// Compresses a stream block by block on several threads. Blocks are grouped into chunks that
// workers read and encode independently; the calling thread hands the results to the sink in
// block order, so the output does not depend on the number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace kivo {

/// How a block of a container is stored.
enum class Codec : uint8_t { Plain, Deflate, Zlib, Lz4 };

class BlockEncoder {
public:
  virtual ~BlockEncoder() = default;
  /// Encodes one block into out; returns the encoded size, or 0 when the block should be
  /// stored as it is (the encoding would not be smaller than the block).
  virtual size_t encode(const uint8_t* in, size_t n, uint8_t* out, size_t outCap) = 0;
  /// Room needed in out for a block of n bytes.
  virtual size_t bound(size_t n) = 0;
  /// The codec of the block encode() last returned a size for, for encoders with a choice.
  virtual Codec codec() const { return Codec::Deflate; }
};

struct BlockStream {
  uint64_t totalBytes = 0; // the last block may be short
  size_t blockSize = 0;
  /// Fills buf with n bytes of the stream at off. Called from several threads at once.
  std::function<void(uint64_t off, uint8_t* buf, size_t n)> read;
  /// Called once per worker thread.
  std::function<std::unique_ptr<BlockEncoder>()> makeEncoder;
  /// Receives each block in order on the calling thread; stored blocks get the plain bytes.
  std::function<void(const uint8_t* data, size_t n, bool stored)> sink;
  /// Instead of sink, for containers whose blocks may use different codecs.
  std::function<void(const uint8_t* data, size_t n, Codec codec)> put;
  /// Optional: told how many bytes of the stream are done.
  std::function<void(uint64_t done)> progress;
};

/// threads == 0 means one per usable core.
void encodeBlocks(const BlockStream& stream, unsigned threads);

/// The cores this process may use (CPU affinity, cgroup quota; KIVO_THREADS overrides).
unsigned defaultThreads();

} // namespace kivo

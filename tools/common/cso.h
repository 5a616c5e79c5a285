// CSO: a disc image cut into fixed blocks, each raw-deflated or stored, behind an index.
#pragma once

#include "codec.h"
#include "image.h"
#include "io.h"

#include <functional>
#include <vector>

namespace kivo::cso {

constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kBlockSize = 2048;
constexpr uint32_t kPlainFlag = 0x80000000u;

using Progress = std::function<void(uint64_t done)>;

constexpr uint32_t kMaxBlockSize = 1 << 20;

struct WriteOptions {
  Format format = Format::Cso1; // Cso1, Cso2 or Zso
  Effort effort;
  uint32_t blockSize = kBlockSize; // a power of two from 2048 to 1 MiB
  unsigned threads = 0;            // 0: every usable core
};

/// Writes src as a CSO or ZSO file without index shift; the file does not depend on the number
/// of threads.
void write(const ByteSource& src, ByteSink& out, const WriteOptions& options, const Progress& progress = {});

/// Writes a version 1 CSO (2048-byte blocks, no index shift) of src at level 1..9.
void compress(const ByteSource& src, ByteSink& out, int level, unsigned threads = 0,
              const Progress& progress = {});

/// Reads CSO versions 0 to 2 and ZSO, which shares the CSO layout with LZ4 blocks.
class Reader : public BlockImage {
public:
  /// Checks the header and the whole index against the source; throws ToolError.
  explicit Reader(const ByteSource& src);
  Format format() const override { return format_; }
  uint64_t imageSize() const { return imageSize_; }
  unsigned indexShift() const { return align_; }
  /// Bytes of the file from block i to the next, padding after it included.
  uint64_t storedLength(uint64_t i) const { return offsetOf(i + 1) - offsetOf(i); }
  /// The high bit of block i's index entry.
  bool flagged(uint64_t i) const { return index_[size_t(i)] & kPlainFlag; }

  ToolError damaged(uint64_t i) const override;

protected:
  Block block(uint64_t i) const override;

private:
  uint64_t offsetOf(uint64_t i) const { return uint64_t(index_[size_t(i)] & ~kPlainFlag) << align_; }
  Format format_ = Format::Cso1;
  unsigned align_ = 0;
  std::vector<uint32_t> index_;
};

} // namespace kivo::cso

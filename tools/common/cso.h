// CSO: a disc image cut into fixed blocks, each raw-deflated or stored, behind an index.
#pragma once

#include "io.h"

#include <functional>
#include <vector>

namespace kivo::cso {

constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kBlockSize = 2048;
constexpr uint32_t kPlainFlag = 0x80000000u;

using Progress = std::function<void(uint64_t done)>;

/// Writes a version 1 CSO (2048-byte blocks, no index shift) of src at level 1..9.
void compress(const ByteSource& src, ByteSink& out, int level, unsigned threads = 0,
              const Progress& progress = {});

class Reader {
public:
  /// Checks the header and the whole index against the source; throws ToolError.
  explicit Reader(const ByteSource& src);
  uint64_t imageSize() const { return total_; }
  uint32_t blockSize() const { return blockSize_; }
  uint32_t blockCount() const { return uint32_t(index_.size() - 1); }
  /// Writes the whole image; throws ToolError naming the first damaged block.
  void decompress(ByteSink& out, const Progress& progress = {}) const;

private:
  const ByteSource& src_;
  uint64_t total_ = 0;
  uint32_t blockSize_ = 0;
  unsigned align_ = 0;
  std::vector<uint32_t> index_;
};

} // namespace kivo::cso

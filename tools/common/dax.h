// DAX: a disc image cut into 8 KiB frames, each zlib-compressed, behind offset and length tables.
#pragma once

#include "codec.h"
#include "image.h"
#include "io.h"

#include <functional>
#include <vector>

namespace kivo::dax {

constexpr uint32_t kHeaderSize = 32;
constexpr uint32_t kFrameSize = 8192;
constexpr uint32_t kMagic = 0x00584144; // "DAX\0"

using Progress = std::function<void(uint64_t done)>;

/// Writes a version 1 DAX of src at level 0..9 (every frame compressed, no plain areas).
void compress(const ByteSource& src, ByteSink& out, Effort effort, unsigned threads = 0,
              const Progress& progress = {});
void compress(const ByteSource& src, ByteSink& out, int level, unsigned threads = 0,
              const Progress& progress = {});

class Reader : public BlockImage {
public:
  /// Checks the header and the tables against the source; throws ToolError.
  explicit Reader(const ByteSource& src);
  Format format() const override { return Format::Dax; }
  uint64_t imageSize() const { return imageSize_; }
  uint32_t frameCount() const { return uint32_t(offsets_.size()); }

  ToolError damaged(uint64_t i) const override;

protected:
  Block block(uint64_t i) const override;

private:
  std::vector<uint32_t> offsets_;
  std::vector<uint16_t> lengths_;
  std::vector<bool> plain_; // frames of the version 1 "not compressed" areas
};

} // namespace kivo::dax

// Writing the disc image held in an EBOOT: the blocks in index order, cut to the image size.
#pragma once

#include "container.h"

#include <cstdint>
#include <string>

namespace rastle {

/// Part of the output: bytes to be written one after another with the others of a write.
struct Piece {
  const uint8_t* data;
  size_t size;
};

/// Sequential writes to the output; false means the bytes were not all written.
class ByteSink {
public:
  virtual ~ByteSink() = default;
  virtual bool write(const uint8_t* data, size_t n) = 0;
  /// Writes the pieces in order as one write; a sink that can gather them (writev) should.
  virtual bool writePieces(const Piece* pieces, size_t count);
};

/// What the extraction reports while it runs, in the order it happens. Calls never overlap,
/// though they may come from any of the decoding threads.
class ExtractListener {
public:
  virtual ~ExtractListener() = default;
  /// Block 1 has been decoded and gave the image size; block 0 is already written.
  virtual void extracting(int32_t imageSize) = 0;
  /// The index could not be read whole.
  virtual void indexProblem(BlockIndex::Status status) = 0;
  /// Block number k (counting non-empty entries) could not be read whole.
  virtual void blockProblem(size_t k, BlockStatus status) = 0;
  /// Stored bytes of the blocks handled so far, of all the index names: once after the index,
  /// then after each block.
  virtual void progress(uint64_t done, uint64_t total) {
    (void)done;
    (void)total;
  }
};

struct ExtractResult {
  bool writeFailed = false; ///< the sink refused bytes; extraction stopped there
  bool readFailed = false;  ///< the source reported an error other than its end
  size_t blocks = 0;        ///< blocks in the index
  int32_t imageSize = 0;    ///< 0 when the index holds fewer than two blocks
  uint64_t written = 0;
};

struct ExtractOptions {
  bool fastInflate = true;
  /// Blocks are read, decoded and written in runs of about this many bytes of output; block 0
  /// is always a run of its own, written before block 1 is looked at.
  size_t writeBuffer = 4 * kBlockSize;
  /// Threads decoding blocks, the calling one included; 0 takes one per usable core. Runs are
  /// read and decoded in parallel, and written in order by whichever thread holds the next one.
  unsigned threads = 0;
  /// The input's size, when known: stored lengths reaching past it count only up to it.
  uint64_t inputSize = 0;
};

/// A source that can tell a read error from the end of its data, read by read; it must allow
/// reads from several threads at once.
class CheckedSource : public ByteSource {
public:
  /// Like readAt; failed tells whether the read stopped short on an error.
  virtual size_t readAtChecked(uint64_t pos, uint8_t* dst, size_t n, bool* failed) = 0;
  size_t readAt(uint64_t pos, uint8_t* dst, size_t n) override {
    bool failed;
    return readAtChecked(pos, dst, n, &failed);
  }
};

/// Reads the index, then the blocks. A read error stops the output at the block it hit, a write
/// error where it happened, exactly as if one thread did everything in order.
ExtractResult extract(ByteSource& src, ByteSink& sink, ExtractListener& listener,
                      const ExtractOptions& options = {});

} // namespace rastle

// Writing the disc image held in an EBOOT: the blocks in index order, cut to the image size.
#pragma once

#include "container.h"

#include <cstdint>
#include <string>

namespace rastle {

/// Sequential writes to the output; false means the bytes were not all written.
class ByteSink {
public:
  virtual ~ByteSink() = default;
  virtual bool write(const uint8_t* data, size_t n) = 0;
};

/// What the extraction reports while it runs, in the order it happens.
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
  /// Output is gathered into writes of about this size; block 0 is always written alone.
  size_t writeBuffer = 28 * kBlockSize;
  /// Threads decoding blocks; 0 takes one per core, 1 decodes on the calling thread alone.
  /// The source, sink and listener are only ever used from the calling thread.
  unsigned threads = 0;
  /// The input's size, when known: stored lengths reaching past it count only up to it.
  uint64_t inputSize = 0;
};

/// A source that can tell a read error from the end of its data.
class CheckedSource : public ByteSource {
public:
  virtual bool failed() const = 0;
};

ExtractResult extract(ByteSource& src, ByteSink& sink, ExtractListener& listener,
                      const ExtractOptions& options = {});

} // namespace rastle

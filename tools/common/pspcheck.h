// Whether a CSO, ZSO or DAX file, from any converter, holds only what a PSP is known to read, and
// the rewrite of the deflate streams that are not in zlib's shape.
#pragma once

#include "deflateshape.h"
#include "image.h"

#include <string>
#include <vector>

namespace kivo {

/// Counts over the deflate streams of one file.
struct StreamCounts {
  uint64_t streams = 0;    ///< deflate streams, raw or inside zlib frames
  uint64_t misshapen = 0;  ///< of those, not in zlib's shape
  uint64_t crossing = 0;   ///< streams with a code-length run across the two tables
  uint64_t thin = 0;       ///< streams with a code of fewer than two symbols
  uint64_t incomplete = 0; ///< streams with a code that leaves part of its space unused
  void add(const DeflateShape& shape);
  /// "13 of 11857 deflate streams are not in zlib's shape (11 with ..., 2 with ...)".
  std::string describe() const;
};

struct PspCheck {
  Format format = Format::Iso;
  uint32_t blockSize = 0;
  uint64_t blocks = 0;
  StreamCounts counts;
  uint64_t damaged = 0;         ///< blocks that do not decode
  uint64_t firstDamaged = 0;
  std::vector<std::string> notes; ///< what else the common custom firmware do not read
  bool safe() const { return counts.misshapen == 0 && damaged == 0 && notes.empty(); }
  /// "CSO v1, 20480 blocks of 2048 bytes".
  std::string what() const;
};

/// Reads every block of the CSO (v1, v2), ZSO or DAX file; throws ToolError for anything else or
/// for a damaged header or index.
PspCheck checkForPsp(const ByteSource& file, const Progress& progress = {});

/// Writes the file again with every stream that is not in zlib's shape rewritten into it, and the
/// bytes of every other block, and the header, as they were; blocks move where a stream's length
/// changed. Returns how many streams were rewritten. Throws ToolError for a damaged block.
uint64_t repairForPsp(const ByteSource& file, ByteSink& out, const Progress& progress = {});

} // namespace kivo

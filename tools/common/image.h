// A disc image as its bytes, whatever container holds it: a plain ISO, or a CSO, ZSO or DAX
// file decoded block by block on demand. Every conversion reads its input through this.
#pragma once

#include "io.h"
#include "pipeline.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kivo {

enum class Format { Iso, Cso1, Cso2, Zso, Dax, Chd };

/// "ISO", "CSO v1", "CSO v2", "ZSO", "DAX", "CHD".
const char* formatName(Format format);

using Progress = std::function<void(uint64_t done)>;

/// The decoded image: size() and readAt() give its bytes. readAt may be called from several
/// threads at once.
class ImageSource : public ByteSource {
public:
  virtual Format format() const = 0;
};

/// A container of fixed-size blocks, each stored or compressed on its own: reads decode only the
/// blocks they touch, grouping neighbouring blocks into one read of the file.
class BlockImage : public ImageSource {
public:
  uint64_t size() const override { return imageSize_; }
  void readAt(uint64_t off, void* buf, size_t n) const override;
  uint32_t blockSize() const { return blockSize_; }
  // Written so that a header claiming nearly 2^64 bytes cannot wrap to a small count.
  uint64_t blockCount() const { return imageSize_ / blockSize_ + (imageSize_ % blockSize_ != 0); }
  /// Writes the whole image, decoded on `threads` threads (0: every usable core); throws
  /// ToolError naming the first damaged block.
  void decompress(ByteSink& out, const Progress& progress = {}, unsigned threads = 0) const;

  struct Block {
    uint64_t offset;
    uint32_t length; // what is read: never more than the codec can use
    Codec codec;
    bool exact;      // length is the block's exact size, with no padding after it
  };
  /// Where block i is stored in the file, and how.
  Block storedBlock(uint64_t i) const { return block(i); }
  /// The image bytes block i holds: the block size, less for a short last block.
  uint32_t plainSize(uint64_t i) const;
  /// Decodes block i from its stored bytes into out (room for blockSize() bytes); false when it is
  /// damaged. A last block that writers padded to a whole block decodes too.
  bool decodeStored(uint64_t i, const Block& b, const uint8_t* in, uint8_t* out) const;
  /// The error for block i, which does not decode to its size.
  virtual ToolError damaged(uint64_t i) const = 0;

protected:
  explicit BlockImage(const ByteSource& file) : file_(file) {}
  virtual Block block(uint64_t i) const = 0;

  const ByteSource& file_;
  uint64_t imageSize_ = 0;
  uint32_t blockSize_ = 1;
};

/// The image held in file, its container told by its first bytes; a file without a known
/// signature is a plain image. Throws ToolError for a damaged container.
std::unique_ptr<ImageSource> openImage(const ByteSource& file);

/// Reads both whole, on `threads` threads, and throws ToolError naming the first byte where
/// `written` differs from `original` (`what` names the written file in the message).
void compareImages(const ByteSource& written, const ByteSource& original, const std::string& what,
                   unsigned threads = 0, const Progress& progress = {});

/// Reads n bytes at off of a source of `size` bytes, zeros past its end.
void readPadded(const ByteSource& src, uint64_t size, uint64_t off, uint8_t* buf, size_t n);

/// Writes all of src to out in order, reading it (and so decoding it) on `threads` threads.
void copyImage(const ByteSource& src, ByteSink& out, unsigned threads = 0, const Progress& progress = {});

} // namespace kivo

// Reading the disc image out of a PS1 EBOOT.PBP: the block index and the blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace rastle {

/// Raw CD sector size and the number of sectors per image block.
constexpr size_t kSectorSize = 2352;
constexpr size_t kBlockSize = 16 * kSectorSize; // 37632
/// Where things lie, relative to the DATA.PSAR offset P read at byte 36 of the file.
constexpr uint32_t kPsarField = 36;
constexpr uint32_t kIndexStart = 0x4000;
constexpr uint32_t kDataStart = 0x100000;
constexpr uint32_t kEntrySize = 32;
constexpr size_t kMaxBlocks = (kDataStart - kIndexStart) / kEntrySize; // 32256
/// Compressed bytes are fed to the decoder in slices of this size, so a hostile stored length
/// never turns into a big allocation; a real block fits in one slice and is read in one go.
constexpr size_t kInputSlice = 64 * 1024;

/// Positional reads from the input. Offsets in the container are untrusted, so reads
/// anywhere are allowed and simply come back short past the end of the data.
class ByteSource {
public:
  virtual ~ByteSource() = default;
  /// Reads up to n bytes at pos into dst; fewer only at the end of the data or on error.
  virtual size_t readAt(uint64_t pos, uint8_t* dst, size_t n) = 0;
};

/// A source over bytes in memory (tests, fuzzing).
class MemorySource : public ByteSource {
public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t readAt(uint64_t pos, uint8_t* dst, size_t n) override;

private:
  const uint8_t* data_;
  size_t size_;
};

/// Container positions are 32-bit signed with wrap-around; negative ones cannot be reached.
inline int32_t wrap32(uint32_t v) {
  return v <= 0x7FFFFFFFu ? static_cast<int32_t>(v) : -static_cast<int32_t>(~v) - 1;
}

struct BlockRef {
  uint32_t offset; ///< relative to P + 1 MiB
  uint32_t length; ///< stored bytes; exactly kBlockSize means the block is stored plain
};

struct BlockIndex {
  enum class Status {
    Complete,   ///< the whole index region was read
    EndsBefore, ///< the file ends before P or before the index region
    EndsInside, ///< the file ends inside the index region; the entries before are kept
    OutOfReach, ///< the index region does not lie in the first 2 GiB
  };
  Status status = Status::Complete;
  uint32_t psar = 0;
  std::vector<BlockRef> blocks; ///< non-empty entries, in index order
};

/// Reads P and scans the index region, skipping empty entries.
BlockIndex readIndex(ByteSource& src);

/// How a single block came out.
enum class BlockStatus {
  Ok,
  Truncated,  ///< the file ended before the block's bytes did (and the decoder needed them)
  OutOfReach, ///< the block's position lies beyond the first 2 GiB; it contributes nothing
};

/// Decodes blocks one at a time. Reuses its buffers and decoder state between blocks.
class BlockDecoder {
public:
  BlockDecoder();
  ~BlockDecoder();
  BlockDecoder(const BlockDecoder&) = delete;
  BlockDecoder& operator=(const BlockDecoder&) = delete;

  /// Decodes one block into out, which must hold kBlockSize bytes; returns the content length.
  size_t decode(ByteSource& src, uint32_t psar, const BlockRef& block, uint8_t* out, BlockStatus* status);

  /// Decodes a compressed block at file position pos whose first bytes are already read: have
  /// bytes at in, of the min(length, kInputSlice) asked for. Only a stream longer than one slice
  /// reads more from src.
  size_t decodeRead(ByteSource& src, uint64_t pos, const BlockRef& block, const uint8_t* in, size_t have,
                    uint8_t* out, BlockStatus* status);

  /// Turns the fast inflater off, leaving zlib alone (to compare the two).
  void setFastPath(bool on) { fast_ = on; }

private:
  size_t inflateSlow(ByteSource& src, uint64_t pos, uint32_t length, const uint8_t* in, size_t have,
                     uint8_t* out, BlockStatus* status);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::vector<uint8_t> in_; // compressed bytes of the current block
  bool fast_ = true;
};

/// The disc image size from block 1's content: bytes 104..107 times 2352, wrapping like int32.
/// Bytes beyond the content length count as zero.
int32_t imageSizeFromBlock1(const uint8_t* content, size_t length);

} // namespace rastle

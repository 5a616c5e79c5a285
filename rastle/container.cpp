#include "container.h"

#include "deflate_check.h"

#include <algorithm>
#include <cstring>
#include <libdeflate.h>
#include <zlib.h>

namespace rastle {
namespace {

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

size_t MemorySource::readAt(uint64_t pos, uint8_t* dst, size_t n) {
  if (pos >= size_) return 0;
  size_t count = std::min<uint64_t>(n, size_ - pos);
  std::memcpy(dst, data_ + pos, count);
  return count;
}

BlockIndex readIndex(ByteSource& src) {
  BlockIndex index;
  uint8_t field[4];
  if (src.readAt(kPsarField, field, 4) != 4) {
    index.status = BlockIndex::Status::EndsBefore;
    return index;
  }
  index.psar = le32(field);
  int32_t start = wrap32(index.psar + kIndexStart);
  int32_t end = wrap32(index.psar + kDataStart);
  if (start < 0 || end < 0) {
    index.status = BlockIndex::Status::OutOfReach;
    return index;
  }
  index.blocks.reserve(kMaxBlocks);
  // The region is read in pieces so the scan costs no more memory than the block list.
  uint8_t chunk[256 * kEntrySize];
  uint64_t pos = uint64_t(start);
  while (pos < uint64_t(end)) {
    size_t want = std::min<uint64_t>(sizeof chunk, uint64_t(end) - pos);
    size_t got = src.readAt(pos, chunk, want);
    // An entry counts once its offset and length are in the file; its tail is never read.
    for (size_t at = 0; at + 8 <= got; at += kEntrySize) {
      BlockRef ref{le32(chunk + at), le32(chunk + at + 4)};
      if (ref.offset != 0 || ref.length != 0) index.blocks.push_back(ref);
    }
    if (got < want) {
      index.status = (pos == uint64_t(start) && got == 0) ? BlockIndex::Status::EndsBefore
                                                          : BlockIndex::Status::EndsInside;
      break;
    }
    pos += got;
  }
  index.blocks.shrink_to_fit();
  return index;
}

int32_t imageSizeFromBlock1(const uint8_t* content, size_t length) {
  uint8_t field[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < 4 && 104 + i < length; ++i)
    field[i] = content[104 + i];
  return wrap32(le32(field) * uint32_t(kSectorSize));
}

struct BlockDecoder::Impl {
  z_stream zs{};
  bool zsReady = false;
  libdeflate_decompressor* fast = libdeflate_alloc_decompressor();
  ~Impl() {
    if (zsReady) inflateEnd(&zs);
    libdeflate_free_decompressor(fast);
  }
};

BlockDecoder::BlockDecoder() : impl_(std::make_unique<Impl>()) {}
BlockDecoder::~BlockDecoder() = default;

size_t BlockDecoder::decode(ByteSource& src, uint32_t psar, const BlockRef& block, uint8_t* out,
                            BlockStatus* status) {
  *status = BlockStatus::Ok;
  int32_t pos = wrap32(psar + kDataStart + block.offset);
  if (pos < 0) {
    *status = BlockStatus::OutOfReach;
    return 0;
  }
  if (block.length == kBlockSize) {
    size_t got = src.readAt(uint64_t(pos), out, kBlockSize);
    if (got < kBlockSize) *status = BlockStatus::Truncated;
    return got;
  }
  if (block.length == 0) return 0;
  size_t first = std::min<size_t>(block.length, kInputSlice);
  if (in_.size() < first) in_.resize(first);
  size_t have = src.readAt(uint64_t(pos), in_.data(), first);
  return decodeRead(src, uint64_t(pos), block, in_.data(), have, out, status);
}

size_t BlockDecoder::decodeRead(ByteSource& src, uint64_t pos, const BlockRef& block, const uint8_t* in,
                                size_t have, uint8_t* out, BlockStatus* status) {
  *status = BlockStatus::Ok;
  if (block.length == 0) return 0;
  // A whole stream of one deflate block goes through libdeflate, the fastest; a header check then
  // proves that zlib would accept it too. A stream of several blocks would need its symbols walked
  // to find the later headers, which costs about as much as inflating: our own inflater checks
  // as it goes instead. Whatever either refuses, damaged and over-long streams included, is left
  // to zlib, which gives the bytes before the damage.
  if (fast_ && impl_->fast && have == block.length) {
    size_t used = 0, produced = 0;
    if ((in[0] & 1) != 0) {
      if (libdeflate_deflate_decompress_ex(impl_->fast, in, have, out, kBlockSize, &used, &produced) ==
              LIBDEFLATE_SUCCESS &&
          zlibAcceptsStructure(in, used))
        return produced;
    } else if (inflateLikeZlib(in, have, out, kBlockSize, &produced)) {
      return produced;
    }
  }
  return inflateSlow(src, pos, block.length, in, have, out, status);
}

// zlib's raw inflate decides what a damaged or over-long stream yields: the bytes produced before
// the damage, at most one block's worth. Feeding it slice by slice gives the same bytes as one
// call over the whole stored block.
size_t BlockDecoder::inflateSlow(ByteSource& src, uint64_t pos, uint32_t length, const uint8_t* in, size_t have,
                                 uint8_t* out, BlockStatus* status) {
  z_stream& zs = impl_->zs;
  if (!impl_->zsReady) {
    if (inflateInit2(&zs, -15) != Z_OK) return 0;
    impl_->zsReady = true;
  } else {
    inflateReset(&zs);
  }
  zs.next_out = out;
  zs.avail_out = uInt(kBlockSize);
  uint64_t consumed = 0; // stored bytes already handed to zlib
  size_t slice = have;
  bool fileEnded = have < std::min<size_t>(length, kInputSlice);
  int ret = Z_OK;
  for (;;) {
    zs.next_in = const_cast<uint8_t*>(in);
    zs.avail_in = uInt(slice);
    ret = inflate(&zs, Z_NO_FLUSH);
    consumed += slice;
    if (ret != Z_OK || zs.avail_out == 0 || fileEnded || consumed >= length) break;
    size_t want = std::min<uint64_t>(length - consumed, kInputSlice);
    if (in_.size() < want) in_.resize(want);
    slice = src.readAt(pos + consumed, in_.data(), want);
    in = in_.data();
    if (slice < want) fileEnded = true;
  }
  if (fileEnded && ret != Z_STREAM_END && ret != Z_DATA_ERROR && ret != Z_MEM_ERROR && zs.avail_out > 0)
    *status = BlockStatus::Truncated;
  return kBlockSize - zs.avail_out;
}

} // namespace rastle

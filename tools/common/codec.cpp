#include "codec.h"

#include <algorithm>
#include <cstring>
#include <libdeflate.h>
#include <lz4.h>
#include <new>
#include <vector>

namespace kivo {

DeflateEncoder::DeflateEncoder(int level, Wrap wrap) : level_(level), wrap_(wrap) {
  c_ = libdeflate_alloc_compressor(level);
  if (!c_) throw std::bad_alloc();
}

DeflateEncoder::~DeflateEncoder() {
  libdeflate_free_compressor(c_);
}

size_t DeflateEncoder::bound(size_t n) {
  return wrap_ == Wrap::Raw ? libdeflate_deflate_compress_bound(c_, n)
                            : libdeflate_zlib_compress_bound(c_, n);
}

size_t DeflateEncoder::encode(const uint8_t* in, size_t n, uint8_t* out, size_t outCap) {
  if (wrap_ == Wrap::Zlib) return libdeflate_zlib_compress(c_, in, n, out, outCap);
  if (level_ == 0 || n < 2) return 0;
  // Room for one byte less than the block: anything that does not fit is not worth keeping.
  return libdeflate_deflate_compress(c_, in, n, out, std::min(outCap, n - 1));
}

Inflater::Inflater() {
  d_ = libdeflate_alloc_decompressor();
  if (!d_) throw std::bad_alloc();
}

Inflater::~Inflater() {
  libdeflate_free_decompressor(d_);
}

bool Inflater::inflateExact(Wrap wrap, const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  libdeflate_result r = wrap == Wrap::Raw
                            ? libdeflate_deflate_decompress(d_, in, inSize, out, outSize, nullptr)
                            : libdeflate_zlib_decompress(d_, in, inSize, out, outSize, nullptr);
  return r == LIBDEFLATE_SUCCESS;
}

long Inflater::inflateUpTo(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCap) {
  size_t got = 0;
  libdeflate_result r = libdeflate_deflate_decompress(d_, in, inSize, out, outCap, &got);
  return r == LIBDEFLATE_SUCCESS ? long(got) : -1;
}

bool decodeBlock(Codec codec, const uint8_t* in, size_t inLen, uint8_t* out, size_t n, bool exact) {
  switch (codec) {
  case Codec::Plain:
    if (inLen < n) return false;
    std::memcpy(out, in, n);
    return true;
  case Codec::Deflate:
  case Codec::Zlib: {
    // One decompressor per thread: allocating one per block would cost more than most blocks.
    thread_local Inflater inflater;
    return inflater.inflateExact(codec == Codec::Zlib ? Wrap::Zlib : Wrap::Raw, in, inLen, out, n);
  }
  case Codec::Lz4:
    if (inLen > size_t(INT32_MAX) || n > size_t(INT32_MAX)) return false;
    if (exact)
      return LZ4_decompress_safe(reinterpret_cast<const char*>(in), reinterpret_cast<char*>(out), int(inLen),
                                 int(n)) == int(n);
    return LZ4_decompress_safe_partial(reinterpret_cast<const char*>(in), reinterpret_cast<char*>(out),
                                       int(inLen), int(n), int(n)) == int(n);
  }
  return false;
}

void readBlocks(const ByteSource& src, uint64_t count, const std::function<BlockSpan(uint64_t)>& spanOf,
                const std::function<void(uint64_t, const uint8_t*)>& use) {
  constexpr uint64_t kMaxSpan = 4 << 20;
  constexpr uint64_t kMaxBatch = 1024;
  std::vector<uint8_t> buf;
  std::vector<BlockSpan> batch;
  uint64_t i = 0;
  while (i < count) {
    // Take following blocks while they lie a little after the first one, in one window.
    BlockSpan first = spanOf(i);
    uint64_t start = first.offset, end = first.offset + first.length;
    batch.assign(1, first);
    uint64_t j = i + 1;
    for (; j < count && j - i < kMaxBatch; ++j) {
      BlockSpan s = spanOf(j);
      if (s.offset < start || s.offset + s.length > start + kMaxSpan) break;
      end = std::max(end, s.offset + s.length);
      batch.push_back(s);
    }
    buf.resize(size_t(end - start));
    src.readAt(start, buf.data(), buf.size());
    for (uint64_t k = 0; k < batch.size(); ++k)
      use(i + k, buf.data() + (batch[k].offset - start));
    i = j;
  }
}

} // namespace kivo

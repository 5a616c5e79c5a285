#include "codec.h"

#include "deflateshape.h"

#include <algorithm>
#include <cstring>
#include <libdeflate.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>
#include <zopfli/zopfli.h>
#include <cstdlib>
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
  if (wrap_ == Wrap::Zlib) {
    // The raw stream between the two-byte header and the Adler-32 is kept in zlib's shape.
    const size_t got = libdeflate_zlib_compress(c_, in, n, out, outCap);
    if (got < 6) return got;
    uint8_t adler[4];
    std::memcpy(adler, out + got - 4, 4);
    const size_t raw = keepZlibShape(out + 2, got - 6, outCap - 6);
    if (!raw) throw ToolError("internal error: a zlib stream could not be kept in shape");
    std::memcpy(out + 2 + raw, adler, 4);
    return raw + 6;
  }
  if (level_ == 0 || n < 2) return 0;
  // Room for one byte less than the block: anything that does not fit is not worth keeping.
  const size_t cap = std::min(outCap, n - 1);
  const size_t got = libdeflate_deflate_compress(c_, in, n, out, cap);
  return got ? keepZlibShape(out, got, cap) : 0;
}

namespace {

int strongLevel(int level) {
  return level >= 9 ? 12 : 10;
}

} // namespace

SmallestEncoder::SmallestEncoder(Effort effort, Allowed allowed) : effort_(effort), allowed_(allowed) {
  if (allowed_ != Lz4Only) {
    fast_ = libdeflate_alloc_compressor(std::max(effort_.level, 1));
    if (!fast_) throw std::bad_alloc();
    if (effort_.level >= 8 || effort_.slowest) {
      strong_ = libdeflate_alloc_compressor(strongLevel(effort_.level));
      if (!strong_) throw std::bad_alloc();
      auto* z = new z_stream{};
      if (deflateInit2(z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete z;
        throw std::bad_alloc();
      }
      zlib_ = z;
    }
  }
  if (allowed_ == ZlibOnly) {
    stored_ = libdeflate_alloc_compressor(0);
    if (!stored_) throw std::bad_alloc();
  }
  if (allowed_ == Lz4Only || allowed_ == DeflateOrLz4)
    lz4State_.resize(size_t(std::max(LZ4_sizeofState(), LZ4_sizeofStateHC())));
}

SmallestEncoder::~SmallestEncoder() {
  libdeflate_free_compressor(fast_);
  libdeflate_free_compressor(strong_);
  libdeflate_free_compressor(stored_);
  if (auto* z = static_cast<z_stream*>(zlib_)) {
    deflateEnd(z);
    delete z;
  }
}

size_t SmallestEncoder::bound(size_t n) {
  size_t b = n + 64;
  if (stored_) b = std::max(b, libdeflate_zlib_compress_bound(stored_, n));
  if (!lz4State_.empty()) b = std::max(b, size_t(LZ4_compressBound(int(n))));
  return b;
}

// The smallest raw deflate stream below cap bytes in best_, or 0.
size_t SmallestEncoder::deflate(const uint8_t* in, size_t n, size_t cap) {
  best_.resize(cap);
  size_t best = libdeflate_deflate_compress(fast_, in, n, best_.data(), cap);
  auto keep = [&](const uint8_t* data, size_t size) {
    if (size == 0 || size > cap || (best && size >= best)) return;
    std::memcpy(best_.data(), data, size);
    best = size;
  };
  if (strong_) {
    trial_.resize(cap);
    keep(trial_.data(), libdeflate_deflate_compress(strong_, in, n, trial_.data(), cap));
  }
  if (auto* z = static_cast<z_stream*>(zlib_)) {
    trial_.resize(cap);
    deflateReset(z);
    z->next_in = const_cast<uint8_t*>(in);
    z->avail_in = uInt(n);
    z->next_out = trial_.data();
    z->avail_out = uInt(cap);
    if (::deflate(z, Z_FINISH) == Z_STREAM_END) keep(trial_.data(), z->total_out);
  }
  // Blocks that came out tiny (runs of zeros) or not at all (noise) gain nothing from zopfli.
  if (effort_.slowest && best > 64) {
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    // Splitting a block in two gains about as much as any finer split, at half the time.
    options.numiterations = 5;
    options.blocksplittingmax = 2;
    unsigned char* out = nullptr;
    size_t size = 0;
    ZopfliCompress(&options, ZOPFLI_FORMAT_DEFLATE, in, n, &out, &size);
    keep(out, size);
    std::free(out);
  }
  // The stream kept is in zlib's shape, the only one the PSP is known to read: another is
  // rewritten, which costs a few bits at most, in a few blocks of ten thousand.
  return best ? keepZlibShape(best_.data(), best, cap) : 0;
}

// An LZ4 block below cap bytes in trial_, or 0.
size_t SmallestEncoder::lz4(const uint8_t* in, size_t n, size_t cap) {
  trial_.resize(cap);
  auto src = reinterpret_cast<const char*>(in);
  auto dst = reinterpret_cast<char*>(trial_.data());
  int got = effort_.level <= 3
                ? LZ4_compress_fast_extState(lz4State_.data(), src, dst, int(n), int(cap), 1)
                : LZ4_compress_HC_extStateHC(lz4State_.data(), src, dst, int(n), int(cap),
                                             effort_.level >= 9 || effort_.slowest ? LZ4HC_CLEVEL_MAX
                                                                                   : effort_.level + 1);
  return got > 0 ? size_t(got) : 0;
}

size_t SmallestEncoder::encode(const uint8_t* in, size_t n, uint8_t* out, size_t outCap) {
  if (allowed_ == ZlibOnly) {
    if (effort_.level == 0) return libdeflate_zlib_compress(stored_, in, n, out, outCap);
    // A zlib stream: the two-byte header, the raw stream, the Adler-32 of the block.
    size_t raw = n > 1 ? deflate(in, n, n - 1) : 0;
    if (raw == 0) return libdeflate_zlib_compress(stored_, in, n, out, outCap);
    out[0] = 0x78;
    out[1] = 0xDA;
    std::memcpy(out + 2, best_.data(), raw);
    const uint32_t adler = libdeflate_adler32(1, in, n);
    for (int i = 0; i < 4; ++i)
      out[2 + raw + i] = uint8_t(adler >> (24 - 8 * i));
    codec_ = Codec::Zlib;
    return raw + 6;
  }
  if (n < 2) return 0;
  // Room for one byte less than the block: anything that does not fit is not worth keeping.
  const size_t cap = std::min(outCap, n - 1);
  size_t size = 0;
  if (allowed_ != Lz4Only && (size = deflate(in, n, cap))) {
    std::memcpy(out, best_.data(), size);
    codec_ = Codec::Deflate;
  }
  if (allowed_ != DeflateOnly) {
    // LZ4 decodes several times faster: where both are allowed it may cost up to 1/32 more.
    const size_t most = size ? std::min(cap, size + size / 32) : cap;
    size_t small = lz4(in, n, most);
    if (small) {
      std::memcpy(out, trial_.data(), small);
      size = small;
      codec_ = Codec::Lz4;
    }
  }
  return size;
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
  return inflateUpTo(Wrap::Raw, in, inSize, out, outCap);
}

long Inflater::inflateUpTo(Wrap wrap, const uint8_t* in, size_t inSize, uint8_t* out, size_t outCap) {
  size_t got = 0;
  libdeflate_result r = wrap == Wrap::Raw ? libdeflate_deflate_decompress(d_, in, inSize, out, outCap, &got)
                                          : libdeflate_zlib_decompress(d_, in, inSize, out, outCap, &got);
  return r == LIBDEFLATE_SUCCESS ? long(got) : -1;
}

bool decodeBlock(Codec codec, const uint8_t* in, size_t inLen, uint8_t* out, size_t n, bool exact, size_t room) {
  room = std::max(room, n);
  switch (codec) {
  case Codec::Plain:
    if (inLen < n) return false;
    std::memcpy(out, in, n);
    return true;
  case Codec::Deflate:
  case Codec::Zlib: {
    // One decompressor per thread: allocating one per block would cost more than most blocks.
    thread_local Inflater inflater;
    const Wrap wrap = codec == Codec::Zlib ? Wrap::Zlib : Wrap::Raw;
    if (room == n) return inflater.inflateExact(wrap, in, inLen, out, n);
    const long got = inflater.inflateUpTo(wrap, in, inLen, out, room);
    return got >= long(n);
  }
  case Codec::Lz4: {
    if (inLen > size_t(INT32_MAX) || room > size_t(INT32_MAX)) return false;
    const char* src = reinterpret_cast<const char*>(in);
    char* dst = reinterpret_cast<char*>(out);
    if (exact) {
      const int got = LZ4_decompress_safe(src, dst, int(inLen), int(room));
      return room == n ? got == int(n) : got >= int(n);
    }
    return LZ4_decompress_safe_partial(src, dst, int(inLen), int(n), int(room)) >= int(n);
  }
  }
  return false;
}

void readBlocks(const ByteSource& src, uint64_t first, uint64_t end, const std::function<BlockSpan(uint64_t)>& spanOf,
                const std::function<void(uint64_t, const uint8_t*)>& use) {
  constexpr uint64_t kMaxSpan = 4 << 20;
  constexpr uint64_t kMaxBatch = 1024;
  thread_local std::vector<uint8_t> buf;
  thread_local std::vector<BlockSpan> batch;
  uint64_t i = first;
  while (i < end) {
    // Take following blocks while they lie a little after the first one, in one window.
    BlockSpan head = spanOf(i);
    uint64_t start = head.offset, stop = head.offset + head.length;
    batch.assign(1, head);
    uint64_t j = i + 1;
    for (; j < end && j - i < kMaxBatch; ++j) {
      BlockSpan s = spanOf(j);
      if (s.offset < start || s.offset + s.length > start + kMaxSpan) break;
      stop = std::max(stop, s.offset + s.length);
      batch.push_back(s);
    }
    buf.resize(size_t(stop - start));
    src.readAt(start, buf.data(), buf.size());
    for (uint64_t k = 0; k < batch.size(); ++k)
      use(i + k, buf.data() + (batch[k].offset - start));
    i = j;
  }
}

} // namespace kivo

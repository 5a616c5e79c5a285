// Feeds arbitrary bytes to the deflate shape walker and the rewrite into zlib's shape: they must
// never read or write past their buffers, and a rewrite must keep the stream's bytes.
#include "deflateshape.h"

#include <cstring>
#include <libdeflate.h>
#include <vector>

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  inspectDeflate(data, size);
  const DeflateShape whole = inspectDeflate(data, size, true);
  std::vector<uint8_t> out(size + 64);
  const size_t got = reshapeDeflate(data, size, out.data(), out.size());
  if (got) {
    if (!whole.valid || !inspectDeflate(out.data(), got, true).zlibShaped()) __builtin_trap();
    // Both decode to the same bytes.
    static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    std::vector<uint8_t> a(1 << 16), b(1 << 16);
    size_t na = 0, nb = 0;
    const auto ra = libdeflate_deflate_decompress(d, data, size, a.data(), a.size(), &na);
    const auto rb = libdeflate_deflate_decompress(d, out.data(), got, b.data(), b.size(), &nb);
    if (ra == LIBDEFLATE_SUCCESS && (rb != LIBDEFLATE_SUCCESS || na != nb || std::memcmp(a.data(), b.data(), na)))
      __builtin_trap();
  }
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  // A stream of some text, with matches, as libdeflate writes it.
  static const char text[] = "the quick brown fox jumps over the lazy dog; the lazy dog sleeps, the fox jumps";
  libdeflate_compressor* c = libdeflate_alloc_compressor(9);
  const size_t n = libdeflate_deflate_compress(c, text, sizeof text - 1, out, capacity);
  libdeflate_free_compressor(c);
  return n;
}

// Compression and decompression of the converters on a mixed-content image:
//   bench_convert [MiB=300] [folder=/tmp] [slowest MiB=32]
// Prints the size of level 9 and of --slowest against a CSO made with zlib at level 9, both over
// the whole file and over the blocks that compress at all (stored blocks weigh the same in every
// encoder's file); compression on one thread against every usable core (the outputs must match);
// decompression against a plain zlib inflate pass over the same blocks; ZSO and DAX.
#include "cso.h"
#include "dax.h"
#include "deflateshape.h"
#include "pipeline.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <unistd.h>
#include <zlib.h>

using namespace kivo;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Roughly what a game disc holds: padding, text and tables, compressed media, code-like data.
std::vector<uint8_t> mixedImage(size_t size) {
  std::mt19937 rng(2024);
  std::vector<uint8_t> out;
  out.reserve(size);
  static const char words[][8] = {"the ", "level ", "enemy ", "score ", "PLAYER", "map ", "0x1F ", "\n"};
  while (out.size() < size) {
    size_t run = 4096 + rng() % (1 << 20);
    switch (rng() % 5) {
    case 0:
      out.insert(out.end(), run, 0);
      break;
    case 1:
      for (size_t i = 0; i < run;) {
        const char* w = words[rng() % 8];
        for (; *w && i < run; ++w, ++i)
          out.push_back(uint8_t(*w));
      }
      break;
    case 2:
    case 3:
      for (size_t i = 0; i < run; ++i)
        out.push_back(uint8_t(rng()));
      break;
    default: {
      uint32_t x = rng();
      for (size_t i = 0; i < run; ++i) {
        if (i % 64 == 0) x = x * 1103515245 + 12345;
        out.push_back(uint8_t((x >> (i % 4 * 8)) + (i % 3)));
      }
    }
    }
  }
  out.resize(size);
  return out;
}

// Block sizes of a CSO made with zlib at level 9, stored where deflate does not pay (2048).
std::vector<uint32_t> zlib9Blocks(const std::vector<uint8_t>& image, size_t bytes) {
  std::vector<uint32_t> sizes;
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  uint8_t out[4096];
  for (size_t at = 0; at < bytes; at += 2048) {
    const size_t n = std::min<size_t>(2048, bytes - at);
    deflateReset(&z);
    z.next_in = const_cast<uint8_t*>(&image[at]);
    z.avail_in = uInt(n);
    z.next_out = out;
    z.avail_out = sizeof out;
    deflate(&z, Z_FINISH);
    sizes.push_back(uint32_t(std::min<uLong>(z.total_out, n)));
  }
  deflateEnd(&z);
  return sizes;
}

std::vector<uint32_t> blockSizes(const std::vector<uint8_t>& cso) {
  const uint32_t blocks = uint32_t((getLe64(&cso[8]) + 2047) / 2048);
  std::vector<uint32_t> sizes;
  for (uint32_t b = 0; b < blocks; ++b)
    sizes.push_back((getLe32(&cso[28 + 4 * b]) & 0x7FFFFFFF) - (getLe32(&cso[24 + 4 * b]) & 0x7FFFFFFF));
  return sizes;
}

// The whole file's ratio, the ratio over the blocks zlib compresses at all, and how many deflate
// streams are not in zlib's shape (there should be none).
void compareWithZlib(const char* what, const std::vector<uint8_t>& cso, const std::vector<uint32_t>& zlib) {
  auto ours = blockSizes(cso);
  double zTotal = 24 + 4 * (zlib.size() + 1), zPacked = 0, oursPacked = 0;
  size_t misshapen = 0;
  for (size_t b = 0; b < zlib.size(); ++b) {
    zTotal += zlib[b];
    if (zlib[b] < 2048) zPacked += zlib[b], oursPacked += ours[b];
    const uint32_t e = getLe32(&cso[24 + 4 * b]);
    if (!(e & 0x80000000u)) misshapen += !inspectDeflate(&cso[e], ours[b]).zlibShaped();
  }
  std::printf("%-28s %8.1f MiB  vs zlib-9 CSO %.4f   over the blocks that compress %.4f   other shapes %zu\n", what,
              cso.size() / 1048576.0, cso.size() / zTotal, oursPacked / zPacked, misshapen);
}

std::vector<uint8_t> write(const std::vector<uint8_t>& image, size_t bytes, Format format, bool slowest,
                           unsigned threads, double* seconds = nullptr) {
  MemorySource src(image.data(), bytes);
  MemorySink out;
  out.bytes.reserve(bytes);
  cso::WriteOptions options;
  options.format = format;
  options.effort.slowest = slowest;
  options.threads = threads;
  auto t = Clock::now();
  cso::write(src, out, options);
  if (seconds) *seconds = since(t);
  return std::move(out.bytes);
}

// The reference: inflate every block of the CSO, already in memory, with zlib on one thread.
double zlibPass(const std::vector<uint8_t>& file) {
  uint64_t total = getLe64(&file[8]);
  uint32_t blocks = uint32_t((total + 2047) / 2048);
  std::vector<uint8_t> block(2048);
  z_stream z{};
  inflateInit2(&z, -15);
  auto t = Clock::now();
  for (uint32_t b = 0; b < blocks; ++b) {
    uint32_t e = getLe32(&file[24 + 4 * b]), next = getLe32(&file[28 + 4 * b]) & 0x7FFFFFFF;
    uint32_t off = e & 0x7FFFFFFF;
    if (e & 0x80000000u) {
      std::memcpy(block.data(), &file[off], 2048);
      continue;
    }
    inflateReset(&z);
    z.next_in = const_cast<uint8_t*>(&file[off]);
    z.avail_in = next - off;
    z.next_out = block.data();
    z.avail_out = 2048;
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) std::fprintf(stderr, "zlib: block %u failed\n", b);
  }
  double s = since(t);
  inflateEnd(&z);
  return s;
}

// Decodes the whole file in memory; the best of three runs.
double decodeTime(const std::vector<uint8_t>& file, unsigned threads) {
  double best = 1e9;
  for (int round = 0; round < 3; ++round) {
    MemorySource src(file.data(), file.size());
    cso::Reader reader(src);
    NullSink sink;
    auto t = Clock::now();
    reader.decompress(sink, {}, threads);
    best = std::min(best, since(t));
  }
  return best;
}

} // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? size_t(std::atol(argv[1])) : 300;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const size_t slowMib = std::min(mib, argc > 3 ? size_t(std::atol(argv[3])) : 32);
  const std::string base = dir + "/kivo-bench-" + std::to_string(::getpid());
  const unsigned cores = defaultThreads();
  std::printf("image: %zu MiB of mixed content, %u usable cores\n", mib, cores);
  const auto image = mixedImage(mib << 20);
  try {
    auto t = Clock::now();
    const auto zlib = zlib9Blocks(image, image.size());
    std::printf("zlib-9 CSO reference: %.2f s on one thread\n", since(t));

    // Alternate one thread and every core, keeping the best of each, so that a burst of other
    // work on a shared machine weighs on neither alone. CPU seconds show the work done.
    double t1 = 1e9, tn = 1e9, cpu1 = 0, cpuN = 0;
    std::vector<uint8_t> one, many;
    for (int round = 0; round < 2; ++round) {
      double s;
      std::clock_t c = std::clock();
      one = write(image, image.size(), Format::Cso1, false, 1, &s);
      if (s < t1) t1 = s, cpu1 = double(std::clock() - c) / CLOCKS_PER_SEC;
      c = std::clock();
      many = write(image, image.size(), Format::Cso1, false, cores, &s);
      if (s < tn) tn = s, cpuN = double(std::clock() - c) / CLOCKS_PER_SEC;
    }
    std::printf("ciso 9, 1 thread:    %7.2f s  %6.1f MiB/s  (%.2f CPU s)\n", t1, mib / t1, cpu1);
    std::printf("ciso 9, %u threads:   %7.2f s  %6.1f MiB/s  (%.2f CPU s)  speed-up %.2fx  identical: %s\n", cores,
                tn, mib / tn, cpuN, t1 / tn, one == many ? "yes" : "NO");
    compareWithZlib("ciso 9 (CSO v1):", one, zlib);

    double ts;
    const auto slow = write(image, slowMib << 20, Format::Cso1, true, cores, &ts);
    const auto zlibPart = zlib9Blocks(image, slowMib << 20);
    char label[64];
    std::snprintf(label, sizeof label, "ciso --slowest (%zu MiB):", slowMib);
    compareWithZlib(label, slow, zlibPart);
    std::printf("  --slowest took %.1f s on %u threads (%.2f MiB/s)\n", ts, cores, slowMib / ts);

    const double tz = zlibPass(one);
    const double d1 = decodeTime(one, 1), dn = decodeTime(one, cores);
    std::printf("plain zlib inflate pass of the CSO (1 thread):  %6.2f s\n", tz);
    std::printf("ciso 0 in memory, 1 thread:   %6.2f s  (%.2fx the zlib pass)\n", d1, d1 / tz);
    std::printf("ciso 0 in memory, %u threads:  %6.2f s  (%.2fx the zlib pass)\n", cores, dn, dn / tz);

    // File to file, as the tools run: the image is read from and written to the folder.
    {
      OutputFile iso(base + ".iso");
      iso.write(image.data(), image.size());
      iso.commit();
    }
    InputFile isoIn(base + ".iso");
    {
      t = Clock::now();
      OutputFile cso(base + ".cso");
      cso::compress(isoIn, cso, 9, cores);
      cso.commit();
      std::printf("ciso 9 file to file:  %6.2f s\n", since(t));
    }
    {
      InputFile csoIn(base + ".cso");
      cso::Reader reader(csoIn);
      t = Clock::now();
      OutputFile back(base + "-back.iso");
      reader.decompress(back);
      back.commit();
      const double s = since(t);
      std::printf("ciso 0 file to file:  %6.2f s  (%.2fx the zlib pass)\n", s, s / tz);
    }

    const auto zso = write(image, image.size(), Format::Zso, false, cores, &ts);
    const double dz = decodeTime(zso, cores), dz1 = decodeTime(zso, 1);
    std::printf("ZSO level 9: %.1f MiB (%.3f of the CSO) in %.2f s; decompression %.2f s on 1 thread, %.2f s on "
                "%u (%.2fx the zlib pass)\n",
                zso.size() / 1048576.0, double(zso.size()) / one.size(), ts, dz1, dz, cores, dz / tz);
    const auto v2 = write(image, image.size(), Format::Cso2, false, cores, &ts);
    std::printf("CSO v2 level 9: %.1f MiB (%.3f of the CSO v1) in %.2f s; decompression %.2f s on %u threads\n",
                v2.size() / 1048576.0, double(v2.size()) / one.size(), ts, decodeTime(v2, cores), cores);

    OutputFile dout(base + ".dax"); // never committed: removed when done
    t = Clock::now();
    dax::compress(isoIn, dout, 9, cores);
    std::printf("dax -l9, %u threads: %6.2f s  ratio %.1f%%\n", cores, since(t), 100.0 * dout.position() / image.size());
  } catch (const ToolError& e) {
    std::fprintf(stderr, "bench: %s\n", e.what());
  }
  for (const std::string& f : {base + ".iso", base + ".cso", base + "-back.iso"})
    ::unlink(f.c_str());
  return 0;
}

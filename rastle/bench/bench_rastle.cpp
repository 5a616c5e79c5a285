// Measures rastle on synthetic EBOOTs of about 30 MB and 300 MB of raw image: wall time against
// a plain zlib inflate pass over the same blocks that writes nothing, and the program's peak RSS.
// Usage: rastle_bench [scratch folder (/tmp)] [rounds (3)]; the files it makes are removed at the end.
#include "container.h"
#include "extract.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <libdeflate.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

using Clock = std::chrono::steady_clock;
using rastle::kBlockSize;
using rastle::kSectorSize;

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (8 * i));
}

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// CPU time of this process; the machine may be shared, so wall time alone can mislead.
double cpuNow() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

struct Timing {
  double wall = 1e9, cpu = 1e9;
  void keepBest(double w, double c) {
    wall = std::min(wall, w);
    cpu = std::min(cpu, c);
  }
};

struct Image {
  std::string path;
  uint32_t sectors = 0;
  size_t blocks = 0, stored = 0, oneDeflateBlock = 0;
  uint64_t fileSize = 0;
  uLong crc = 0; // of the raw image
};

// One raw sector of a mixed disc: program data and text that compress, padding that compresses
// very well, and video/audio streams that do not (those blocks end up stored plain).
void makeSector(uint8_t* sec, uint32_t lba, int kind, std::mt19937& rng) {
  std::memset(sec, 0, kSectorSize);
  std::memset(sec + 1, 0xFF, 10);
  sec[12] = uint8_t(lba >> 16), sec[13] = uint8_t(lba >> 8), sec[14] = uint8_t(lba);
  sec[15] = 2;
  sec[18] = sec[22] = 0x08;
  uint8_t* user = sec + 24;
  static const char words[] =
      "SYSTEM.CNF;1 BOOT = cdrom:\\SLUS_000.00;1 TCB = 4 EVENT = 10 STACK = 801FFFF0 ";
  switch (kind) {
  case 0: // code and tables: short repeats with variation
    for (int i = 0; i < 2048; ++i)
      user[i] = uint8_t(i % 64 < 40 ? words[(i * 7 + lba) % 80] : rng() & 0x3F);
    break;
  case 1: // padding
    break;
  default: // streams
    for (int i = 0; i < 2048; i += 4)
      put32(user + i, uint32_t(rng()));
  }
  // The error-correction bytes look random, except in padding sectors of zeros.
  if (kind != 1)
    for (int i = 2072; i < 2352; i += 4)
      put32(sec + i, uint32_t(rng()));
}

bool writeAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w <= 0) return false;
    p += w, n -= size_t(w);
  }
  return true;
}

Image buildImage(const std::string& path, uint32_t sectors) {
  Image img;
  img.path = path;
  img.sectors = sectors = (sectors + 15) / 16 * 16;
  img.blocks = sectors / 16;
  std::mt19937 rng(sectors);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return {};
  const uint32_t psar = 0x2000; // some room for the parts of a PBP that rastle skips
  std::vector<uint8_t> index(rastle::kDataStart - rastle::kIndexStart, 0);
  std::vector<uint8_t> block(kBlockSize), packed(kBlockSize * 2);
  uint64_t dataPos = 0;
  lseek(fd, off_t(psar + rastle::kDataStart), SEEK_SET);
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  img.crc = crc32(0, nullptr, 0);
  int kind = 0;
  for (size_t b = 0; b < img.blocks; ++b) {
    // Runs of a few blocks of one kind, as files lie on a disc: ~55% data, 15% padding, 30% streams.
    if (b % 4 == 0) {
      unsigned r = rng() % 20;
      kind = r < 11 ? 0 : r < 14 ? 1 : 2;
    }
    for (int s = 0; s < 16; ++s) {
      uint32_t lba = uint32_t(b * 16 + s);
      makeSector(&block[s * kSectorSize], lba, lba < 32 ? 0 : kind, rng);
      if (lba == 16) put32(&block[s * kSectorSize + 104], sectors);
    }
    img.crc = crc32(img.crc, block.data(), uInt(block.size()));
    deflateReset(&zs);
    zs.next_in = block.data();
    zs.avail_in = uInt(block.size());
    zs.next_out = packed.data();
    zs.avail_out = uInt(packed.size());
    deflate(&zs, Z_FINISH);
    size_t len = zs.total_out;
    const uint8_t* bytes = packed.data();
    // Makers store a block plain when deflate saves next to nothing.
    if (len >= kBlockSize - kBlockSize / 50) {
      len = kBlockSize;
      bytes = block.data();
      img.stored++;
    }
    if (bytes == packed.data() && (packed[0] & 1)) img.oneDeflateBlock++;
    put32(&index[b * 32], uint32_t(dataPos));
    put32(&index[b * 32 + 4], uint32_t(len));
    writeAll(fd, bytes, len);
    dataPos += len;
  }
  deflateEnd(&zs);
  std::vector<uint8_t> head(psar + rastle::kIndexStart, 0);
  std::memcpy(head.data(), "\0PBP", 4);
  put32(&head[36], psar);
  pwrite(fd, head.data(), head.size(), 0);
  pwrite(fd, index.data(), index.size(), off_t(head.size()));
  img.fileSize = psar + rastle::kDataStart + dataPos;
  close(fd);
  return img;
}

// The reference: read each block and inflate it with zlib (or libdeflate), writing nothing.
void inflatePass(const Image& img, Timing& timing, bool useLibdeflate = false) {
  auto start = Clock::now();
  double cpu0 = cpuNow();
  int fd = open(img.path.c_str(), O_RDONLY);
  uint8_t field[4];
  pread(fd, field, 4, 36);
  uint32_t psar =
      uint32_t(field[0]) | uint32_t(field[1]) << 8 | uint32_t(field[2]) << 16 | uint32_t(field[3]) << 24;
  std::vector<uint8_t> index(rastle::kDataStart - rastle::kIndexStart);
  pread(fd, index.data(), index.size(), off_t(psar + rastle::kIndexStart));
  std::vector<uint8_t> in(kBlockSize * 2), out(kBlockSize);
  z_stream zs{};
  inflateInit2(&zs, -15);
  libdeflate_decompressor* fast = libdeflate_alloc_decompressor();
  uint64_t produced = 0;
  for (size_t e = 0; e < rastle::kMaxBlocks; ++e) {
    uint32_t off, len;
    std::memcpy(&off, &index[e * 32], 4);
    std::memcpy(&len, &index[e * 32 + 4], 4);
    if (off == 0 && len == 0) continue;
    pread(fd, in.data(), len, off_t(psar + rastle::kDataStart + off));
    if (len == kBlockSize) {
      produced += len;
      continue;
    }
    if (useLibdeflate) {
      size_t got = 0;
      libdeflate_deflate_decompress(fast, in.data(), len, out.data(), out.size(), &got);
      produced += got;
      continue;
    }
    inflateReset(&zs);
    zs.next_in = in.data();
    zs.avail_in = len;
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    inflate(&zs, Z_NO_FLUSH);
    produced += kBlockSize - zs.avail_out;
  }
  inflateEnd(&zs);
  libdeflate_free_decompressor(fast);
  close(fd);
  timing.keepBest(seconds(start), cpuNow() - cpu0);
  if (produced != uint64_t(img.sectors) * kSectorSize)
    std::printf("  (inflate pass produced %llu bytes)\n", (unsigned long long)produced);
}

struct ProgramRun {
  double wall = 0, cpu = 0;
  long maxRssKiB = 0;
  int status = -1;
};

ProgramRun runRastle(const Image& img, const std::string& out) {
  ProgramRun r;
  std::string exe = std::string(KIVO_TOOL_DIR) + "/rastle";
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl(exe.c_str(), exe.c_str(), "-o", out.c_str(), img.path.c_str(), (char*)nullptr);
    _exit(127);
  }
  int st = 0;
  struct rusage ru {};
  wait4(pid, &st, 0, &ru);
  r.wall = seconds(start);
  r.maxRssKiB = ru.ru_maxrss;
  r.cpu =
      double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

struct NullListener : rastle::ExtractListener {
  void extracting(int32_t) override {}
  void indexProblem(rastle::BlockIndex::Status) override {}
  void blockProblem(size_t, rastle::BlockStatus) override {}
};

struct FdSink : rastle::ByteSink {
  int fd;
  bool write(const uint8_t* p, size_t n) override { return writeAll(fd, p, n); }
};

struct FdSource : rastle::ByteSource {
  int fd;
  size_t readAt(uint64_t pos, uint8_t* dst, size_t n) override {
    ssize_t got = pread(fd, dst, n, off_t(pos));
    return got > 0 ? size_t(got) : 0;
  }
};

// The library in-process, with or without the fast path, writing to a real file.
void runCore(const Image& img, const std::string& out, bool fast, Timing& timing) {
  auto start = Clock::now();
  double cpu0 = cpuNow();
  FdSource src;
  src.fd = open(img.path.c_str(), O_RDONLY);
  FdSink sink;
  sink.fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  NullListener quiet;
  rastle::ExtractOptions options;
  options.fastInflate = fast;
  rastle::extract(src, sink, quiet, options);
  close(sink.fd);
  close(src.fd);
  timing.keepBest(seconds(start), cpuNow() - cpu0);
}

uLong fileCrc(const std::string& path, uint64_t* size) {
  int fd = open(path.c_str(), O_RDONLY);
  std::vector<uint8_t> buf(1 << 20);
  uLong crc = crc32(0, nullptr, 0);
  *size = 0;
  ssize_t n;
  while ((n = read(fd, buf.data(), buf.size())) > 0) {
    crc = crc32(crc, buf.data(), uInt(n));
    *size += uint64_t(n);
  }
  close(fd);
  return crc;
}

void measure(const std::string& dir, uint32_t sectors, int rounds) {
  std::string eboot = dir + "/EBOOT.PBP", out = dir + "/out.iso";
  auto t0 = Clock::now();
  Image img = buildImage(eboot, sectors);
  double mb = img.sectors * double(kSectorSize) / 1e6;
  std::printf(
      "image %.1f MB raw (%zu blocks: %zu stored plain, %zu one-block streams), EBOOT %.1f MB, built in "
      "%.1f s\n",
      mb, img.blocks, img.stored, img.oneDeflateBlock, img.fileSize / 1e6, seconds(t0));

  Timing zlib, libdeflate, prog, core, coreZlib;
  long rss = 0;
  inflatePass(img, zlib); // warms the page cache
  for (int i = 0; i < rounds; ++i) {
    inflatePass(img, zlib);
    inflatePass(img, libdeflate, true);
    ProgramRun r = runRastle(img, out);
    prog.keepBest(r.wall, r.cpu);
    rss = std::max(rss, r.maxRssKiB);
    if (r.status != 0) std::printf("  rastle ended with status %d\n", r.status);
    runCore(img, out, true, core);
    runCore(img, out, false, coreZlib);
  }
  uint64_t outSize = 0;
  runRastle(img, out);
  bool same = fileCrc(out, &outSize) == img.crc && outSize == uint64_t(img.sectors) * kSectorSize;
  auto line = [&](const char* what, const Timing& t) {
    std::printf("  %-40s %7.3f s %5.2fx   cpu %7.3f s %5.2fx\n", what, t.wall, t.wall / zlib.wall, t.cpu,
                t.cpu / zlib.cpu);
  };
  line("zlib inflate pass (reads, writes nothing)", zlib);
  line("libdeflate inflate pass (the same)", libdeflate);
  line("rastle program", prog);
  line("extraction in-process, fast path", core);
  line("extraction in-process, zlib only", coreZlib);
  std::printf("  rastle peak RSS %.1f MiB, output %s\n", rss / 1024.0,
              same ? "identical to the image" : "DIFFERS");
  unlink(eboot.c_str());
  unlink(out.c_str());
}

} // namespace

int main(int argc, char** argv) {
  std::string base = argc > 1 ? argv[1] : "/tmp";
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::string dir = base + "/rastle-bench-XXXXXX";
  if (!mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const uint32_t sectorsPerMB = uint32_t(1e6 / kSectorSize);
  for (uint32_t mb : {30u, 300u})
    measure(dir, mb * sectorsPerMB, rounds);
  rmdir(dir.c_str());
  return 0;
}

// Measures rastle on EBOOTs of about 30 MB and 300 MB of raw image, made three ways: the benchmark
// image (zlib -9, as older makers did), one made by our psx tool (libdeflate, which splits streams
// into several deflate blocks) and one at zlib's default level. Prints, for each, rastle on one
// core against a libdeflate inflate pass over the same blocks that writes nothing (CPU and wall),
// the gain of a second core, and the peak RSS.
// Usage: rastle_bench [scratch folder (/tmp)] [rounds (3)] [one size in MB]; the files it makes
// are removed at the end. RASTLE_BEFORE=/path/to/an/older/rastle measures that one beside the current one.
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
#include <sys/stat.h>
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

enum class Maker { Zlib9, Psx, Zlib6 };

const char* makerName(Maker m) {
  return m == Maker::Zlib9 ? "benchmark image (zlib -9)" : m == Maker::Psx ? "psx-made (libdeflate -9)" : "zlib -6";
}

// The raw image, block by block, the same for every maker.
template <class Each> void forEachBlock(uint32_t sectors, Each each) {
  std::mt19937 rng(sectors);
  std::vector<uint8_t> block(kBlockSize);
  int kind = 0;
  for (size_t b = 0; b < sectors / 16; ++b) {
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
    each(block);
  }
}

bool runPsx(const std::string& dir, const std::string& raw) {
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(dir.c_str()) != 0) _exit(126);
    std::string exe = std::string(KIVO_TOOL_DIR) + "/psx";
    execl(exe.c_str(), exe.c_str(), "BENCH", "SLUS00000", "9", raw.c_str(), (char*)nullptr);
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

Image buildImage(const std::string& dir, uint32_t sectors, Maker maker) {
  Image img;
  img.path = dir + "/EBOOT.PBP";
  img.sectors = sectors = (sectors + 15) / 16 * 16;
  img.blocks = sectors / 16;
  img.crc = crc32(0, nullptr, 0);
  if (maker == Maker::Psx) {
    std::string raw = dir + "/image.bin";
    int fd = open(raw.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    forEachBlock(sectors, [&](const std::vector<uint8_t>& block) {
      img.crc = crc32(img.crc, block.data(), uInt(block.size()));
      writeAll(fd, block.data(), block.size());
    });
    close(fd);
    bool ok = runPsx(dir, raw);
    unlink(raw.c_str());
    if (!ok) return {};
    fd = open(img.path.c_str(), O_RDONLY);
    struct stat st {};
    fstat(fd, &st);
    img.fileSize = uint64_t(st.st_size);
    // Count what the maker chose, from the index.
    uint8_t field[4];
    pread(fd, field, 4, 36);
    uint32_t psar = uint32_t(field[0]) | uint32_t(field[1]) << 8 | uint32_t(field[2]) << 16 | uint32_t(field[3]) << 24;
    std::vector<uint8_t> index(rastle::kDataStart - rastle::kIndexStart);
    pread(fd, index.data(), index.size(), off_t(psar + rastle::kIndexStart));
    uint8_t first;
    for (size_t b = 0; b < img.blocks; ++b) {
      uint32_t off, len;
      std::memcpy(&off, &index[b * 32], 4);
      std::memcpy(&len, &index[b * 32 + 4], 4);
      if (len == kBlockSize) {
        img.stored++;
      } else if (pread(fd, &first, 1, off_t(psar + rastle::kDataStart + off)) == 1 && (first & 1)) {
        img.oneDeflateBlock++;
      }
    }
    close(fd);
    return img;
  }
  int fd = open(img.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return {};
  const uint32_t psar = 0x2000; // some room for the parts of a PBP that rastle skips
  std::vector<uint8_t> index(rastle::kDataStart - rastle::kIndexStart, 0);
  std::vector<uint8_t> packed(kBlockSize * 2);
  uint64_t dataPos = 0;
  lseek(fd, off_t(psar + rastle::kDataStart), SEEK_SET);
  z_stream zs{};
  deflateInit2(&zs, maker == Maker::Zlib9 ? 9 : 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  size_t b = 0;
  forEachBlock(sectors, [&](const std::vector<uint8_t>& block) {
    img.crc = crc32(img.crc, block.data(), uInt(block.size()));
    deflateReset(&zs);
    zs.next_in = const_cast<uint8_t*>(block.data());
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
    ++b;
  });
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
  if (produced < uint64_t(img.sectors) * kSectorSize)
    std::printf("  (inflate pass produced %llu bytes)\n", (unsigned long long)produced);
}

struct ProgramRun {
  double wall = 0, cpu = 0;
  long maxRssKiB = 0;
  int status = -1;
};

ProgramRun runRastle(const std::string& exe, const Image& img, const std::string& out, unsigned threads) {
  ProgramRun r;
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    setenv("KIVO_THREADS", std::to_string(threads).c_str(), 1);
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

struct Program {
  const char* label;
  std::string exe;
};

void measure(const std::string& dir, uint32_t sectors, Maker maker, int rounds,
             const std::vector<Program>& programs) {
  std::string out = dir + "/out.iso";
  auto t0 = Clock::now();
  Image img = buildImage(dir, sectors, maker);
  if (img.path.empty() || img.fileSize == 0) {
    std::printf("%s: could not be made\n", makerName(maker));
    return;
  }
  double mb = img.sectors * double(kSectorSize) / 1e6;
  std::printf("%s, %.1f MB raw (%zu blocks: %zu stored plain, %zu one-block streams), EBOOT %.1f MB, "
              "made in %.1f s\n",
              makerName(maker), mb, img.blocks, img.stored, img.oneDeflateBlock, img.fileSize / 1e6,
              seconds(t0));

  Timing zlib, libdeflate;
  std::vector<Timing> one(programs.size()), two(programs.size()), discard(programs.size());
  std::vector<long> rss(programs.size(), 0);
  std::vector<bool> same(programs.size(), true);
  inflatePass(img, zlib); // warms the page cache
  for (int i = 0; i < rounds; ++i) {
    inflatePass(img, zlib);
    inflatePass(img, libdeflate, true);
    for (size_t p = 0; p < programs.size(); ++p) {
      // Writing to /dev/null leaves out the kernel's work of filling the page cache.
      ProgramRun null = runRastle(programs[p].exe, img, "/dev/null", 1);
      discard[p].keepBest(null.wall, null.cpu);
      for (unsigned threads : {1u, 2u}) {
        unlink(out.c_str()); // a new image, as usual; replacing one adds a sync
        ProgramRun r = runRastle(programs[p].exe, img, out, threads);
        (threads == 1 ? one : two)[p].keepBest(r.wall, r.cpu);
        rss[p] = std::max(rss[p], r.maxRssKiB);
        uint64_t outSize = 0;
        if (r.status != 0 || fileCrc(out, &outSize) != img.crc || outSize != uint64_t(img.sectors) * kSectorSize)
          same[p] = false;
      }
    }
  }
  std::printf("  %-34s wall %6.3f s   cpu %6.3f s\n", "libdeflate inflate pass", libdeflate.wall, libdeflate.cpu);
  std::printf("  %-34s wall %6.3f s   cpu %6.3f s\n", "zlib inflate pass", zlib.wall, zlib.cpu);
  for (size_t p = 0; p < programs.size(); ++p) {
    std::printf("  %-34s wall %6.3f s   cpu %6.3f s   %.2fx wall, %.2fx cpu of the libdeflate pass\n",
                (std::string(programs[p].label) + ", one core").c_str(), one[p].wall, one[p].cpu,
                one[p].wall / libdeflate.wall, one[p].cpu / libdeflate.cpu);
    std::printf("  %-34s wall %6.3f s   cpu %6.3f s   %.2fx wall, %.2fx cpu of the libdeflate pass\n",
                (std::string(programs[p].label) + " to /dev/null").c_str(), discard[p].wall, discard[p].cpu,
                discard[p].wall / libdeflate.wall, discard[p].cpu / libdeflate.cpu);
    std::printf("  %-34s wall %6.3f s   %.2fx faster than one core; peak RSS %.1f MiB; output %s\n",
                (std::string(programs[p].label) + ", two cores").c_str(), two[p].wall, one[p].wall / two[p].wall,
                rss[p] / 1024.0, same[p] ? "identical to the image" : "DIFFERS");
  }
  unlink(img.path.c_str());
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
  std::vector<Program> programs = {{"rastle", std::string(KIVO_TOOL_DIR) + "/rastle"}};
  if (const char* before = std::getenv("RASTLE_BEFORE")) programs.insert(programs.begin(), {"rastle before", before});
  std::vector<uint32_t> sizes = {30, 300};
  if (argc > 3) sizes = {uint32_t(std::max(1, std::atoi(argv[3])))};
  const uint32_t sectorsPerMB = uint32_t(1e6 / kSectorSize);
  for (uint32_t mb : sizes)
    for (Maker maker : {Maker::Zlib9, Maker::Psx, Maker::Zlib6})
      measure(dir, mb * sectorsPerMB, maker, rounds, programs);
  rmdir(dir.c_str());
  return 0;
}

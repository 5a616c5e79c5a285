// The codecs of CHD hunks: zlib (raw deflate), lzma (raw LZMA1), huff, flac (16-bit stereo
// frames) and zstd, and the CD codecs cdzl, cdlz, cdfl and cdzs, which compress the sector data
// of a hunk's 2448-byte frames apart from their subcode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kivo::chd {

constexpr uint32_t fourcc(const char (&t)[5]) {
  return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 | uint32_t(uint8_t(t[2])) << 8 |
         uint32_t(uint8_t(t[3]));
}

constexpr uint32_t kZlib = fourcc("zlib");
constexpr uint32_t kLzma = fourcc("lzma");
constexpr uint32_t kHuff = fourcc("huff");
constexpr uint32_t kFlac = fourcc("flac");
constexpr uint32_t kZstd = fourcc("zstd");
constexpr uint32_t kCdZlib = fourcc("cdzl");
constexpr uint32_t kCdLzma = fourcc("cdlz");
constexpr uint32_t kCdFlac = fourcc("cdfl");
constexpr uint32_t kCdZstd = fourcc("cdzs");

/// A CD frame in a hunk: the raw sector and its 96 bytes of subcode.
constexpr uint32_t kCdFrame = 2448;
constexpr uint32_t kCdSector = 2352;
constexpr uint32_t kCdSubcode = 96;

/// "zlib", "cdlz", ...: the tag as text, with unprintable bytes shown in hex.
std::string codecName(uint32_t codec);
bool knownCodec(uint32_t codec);
bool isCdCodec(uint32_t codec);

/// Decodes hunks of one size, with any known codec. Keeps the codecs' state between hunks: one
/// per thread.
class HunkDecoder {
public:
  explicit HunkDecoder(uint32_t hunkBytes);
  ~HunkDecoder();
  HunkDecoder(const HunkDecoder&) = delete;
  HunkDecoder& operator=(const HunkDecoder&) = delete;
  uint32_t hunkBytes() const { return hunkBytes_; }
  /// Decodes in into hunkBytes bytes at out; false for damaged data or a codec it lacks.
  bool decode(uint32_t codec, const uint8_t* in, size_t inSize, uint8_t* out);

private:
  struct Engines;
  uint32_t hunkBytes_;
  std::unique_ptr<Engines> e_;
};

/// Compresses hunks with up to four codecs and keeps the smallest result, as the file's map
/// records one of four codecs per hunk. One per thread.
class HunkEncoder {
public:
  /// level 1..9 sets how hard each codec tries.
  HunkEncoder(const std::vector<uint32_t>& codecs, uint32_t hunkBytes, int level);
  ~HunkEncoder();
  HunkEncoder(const HunkEncoder&) = delete;
  HunkEncoder& operator=(const HunkEncoder&) = delete;
  /// The index of the codec whose result, now in out, is smallest; -1 when none makes the hunk
  /// smaller (or can encode it).
  int compress(const uint8_t* hunk, std::vector<uint8_t>& out);

private:
  struct Engines;
  std::vector<uint32_t> codecs_;
  uint32_t hunkBytes_;
  std::unique_ptr<Engines> e_;
  std::vector<uint8_t> trial_;
};

} // namespace kivo::chd

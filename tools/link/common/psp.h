// What a PSP expects of a host file system, whatever carries the requests: its error codes, its
// open flags and the byte layout of its stat and directory entry records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

struct stat;

namespace kivo::psplink {

inline uint32_t getLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline int32_t getLe32s(const uint8_t* p) { return int32_t(getLe32(p)); }
inline uint64_t getLe64(const uint8_t* p) { return uint64_t(getLe32(p)) | uint64_t(getLe32(p + 4)) << 32; }
inline uint16_t getLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline void putLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putLe64(uint8_t* p, uint64_t v) {
  putLe32(p, uint32_t(v));
  putLe32(p + 4, uint32_t(v >> 32));
}

/// The PSP's error for a C library error number: 0x80010000 with the number as the PSP's own C
/// library counts it (most agree with Linux; a few, such as ENOTEMPTY, do not).
int32_t pspError(int hostErrno);

/// Open flags as the PSP passes them.
enum : uint32_t {
  kPspRead = 0x0001,
  kPspWrite = 0x0002,
  kPspAccessMask = 0x0003,
  kPspAppend = 0x0100,
  kPspCreate = 0x0200,
  kPspTruncate = 0x0400,
  kPspExclusive = 0x0800,
};

/// Which fields a change-of-status request sets.
enum : uint32_t { kChangeMode = 0x01, kChangeSize = 0x04, kChangeAccessTime = 0x10, kChangeModifyTime = 0x20 };

struct PspTime {
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  uint32_t microsecond = 0;
};

struct PspStat {
  uint32_t mode = 0;  ///< type (0x1000 folder, 0x2000 file) and the rwx bits
  uint32_t attr = 0;  ///< type (0x10 folder, 0x20 file) and rwx for the PSP's own checks
  int64_t size = 0;
  PspTime ctime, atime, mtime;
};

constexpr size_t kStatBytes = 88;     ///< a stat record
constexpr size_t kDirentBytes = 352;  ///< a directory entry: stat, then a 256-byte name
constexpr size_t kNameBytes = 256;    ///< room for a name and its terminating zero

PspTime pspTime(const struct timespec& t);
/// Seconds since the epoch for a PSP time in local time; -1 for a date that does not exist.
time_t hostTime(const PspTime& t);
PspStat pspStat(const struct stat& st);

void encodeStat(const PspStat& s, uint8_t* out);  // kStatBytes
PspStat decodeStat(const uint8_t* in);            // kStatBytes
/// A directory entry; the name is cut at 255 bytes (callers skip longer names).
void encodeDirent(const PspStat& s, const std::string& name, uint8_t* out);  // kDirentBytes

}  // namespace kivo::psplink

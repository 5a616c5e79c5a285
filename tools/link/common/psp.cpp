#include "psp.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace kivo::psplink {

int32_t pspError(int hostErrno) {
  int n = hostErrno;
  switch (hostErrno) {
  case ENAMETOOLONG: n = 91; break;
  case ENOTEMPTY: n = 90; break;
  case ELOOP: n = 92; break;
  case ENOSYS: n = 88; break;
  case EDQUOT: n = 132; break;
  case ENOTSUP: n = 134; break;
  default:
    // Numbers up to EPIPE mean the same on both sides; anything else is an I/O error there.
    if (hostErrno <= 0 || hostErrno > EPIPE) n = EIO;
  }
  return int32_t(0x80010000u | uint32_t(n));
}

PspTime pspTime(const struct timespec& t) {
  PspTime p;
  struct tm local;
  const time_t seconds = t.tv_sec;
  if (!localtime_r(&seconds, &local)) return p;
  p.year = uint16_t(local.tm_year + 1900);
  p.month = uint16_t(local.tm_mon + 1);
  p.day = uint16_t(local.tm_mday);
  p.hour = uint16_t(local.tm_hour);
  p.minute = uint16_t(local.tm_min);
  p.second = uint16_t(local.tm_sec);
  p.microsecond = uint32_t(t.tv_nsec / 1000);
  return p;
}

time_t hostTime(const PspTime& t) {
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 60)
    return -1;
  struct tm local = {};
  local.tm_year = t.year - 1900;
  local.tm_mon = t.month - 1;
  local.tm_mday = t.day;
  local.tm_hour = t.hour;
  local.tm_min = t.minute;
  local.tm_sec = t.second;
  local.tm_isdst = -1;
  return mktime(&local);
}

PspStat pspStat(const struct stat& st) {
  PspStat s;
  const uint32_t rwx = st.st_mode & 0777;
  if (S_ISDIR(st.st_mode)) {
    s.mode = 0x1000 | rwx;
    s.attr = 0x10;
  } else {
    s.mode = 0x2000 | rwx;
    s.attr = 0x20;
    s.size = st.st_size;
  }
  s.attr |= (rwx >> 6) & 7;  // what the owner, the user serving the folder, may do
  s.ctime = pspTime(st.st_ctim);
  s.atime = pspTime(st.st_atim);
  s.mtime = pspTime(st.st_mtim);
  return s;
}

namespace {

void putTime(uint8_t* p, const PspTime& t) {
  putLe16(p, t.year);
  putLe16(p + 2, t.month);
  putLe16(p + 4, t.day);
  putLe16(p + 6, t.hour);
  putLe16(p + 8, t.minute);
  putLe16(p + 10, t.second);
  putLe32(p + 12, t.microsecond);
}

PspTime getTime(const uint8_t* p) {
  PspTime t;
  t.year = getLe16(p);
  t.month = getLe16(p + 2);
  t.day = getLe16(p + 4);
  t.hour = getLe16(p + 6);
  t.minute = getLe16(p + 8);
  t.second = getLe16(p + 10);
  t.microsecond = getLe32(p + 12);
  return t;
}

}  // namespace

// mode, attr, size (at 8, aligned as the PSP's compiler lays it out), three 16-byte times, and
// 24 private bytes.
void encodeStat(const PspStat& s, uint8_t* out) {
  std::memset(out, 0, kStatBytes);
  putLe32(out, s.mode);
  putLe32(out + 4, s.attr);
  putLe64(out + 8, uint64_t(s.size));
  putTime(out + 16, s.ctime);
  putTime(out + 32, s.atime);
  putTime(out + 48, s.mtime);
}

PspStat decodeStat(const uint8_t* in) {
  PspStat s;
  s.mode = getLe32(in);
  s.attr = getLe32(in + 4);
  s.size = int64_t(getLe64(in + 8));
  s.ctime = getTime(in + 16);
  s.atime = getTime(in + 32);
  s.mtime = getTime(in + 48);
  return s;
}

void encodeDirent(const PspStat& s, const std::string& name, uint8_t* out) {
  std::memset(out, 0, kDirentBytes);
  encodeStat(s, out);
  std::memcpy(out + kStatBytes, name.data(), std::min(name.size(), kNameBytes - 1));
}

}  // namespace kivo::psplink

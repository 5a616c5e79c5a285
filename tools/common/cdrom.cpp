#include "cdrom.h"

#include <cstdio>
#include <cstring>

namespace kivo::cdrom {

namespace {

constexpr uint32_t kPBytes = 86 * 24; // header, subheader, data and EDC: the P columns
constexpr uint32_t kQBytes = 52 * 43; // the same and the P parity: the Q diagonals

struct Tables {
  uint32_t edc[4][256]; // slice k: a byte followed by k zero bytes
  uint8_t div3[256];    // x / (alpha + 1) in GF(2^8) with x^8 + x^4 + x^3 + x^2 + 1
  uint16_t q[43][52];   // where the k-th byte of Q diagonal m lies
  Tables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t e = i;
      for (int k = 0; k < 8; ++k)
        e = (e >> 1) ^ (e & 1 ? 0xD8018001u : 0);
      edc[0][i] = e;
      uint32_t m = (i << 1) ^ (i & 0x80 ? 0x11D : 0);
      div3[uint8_t(i ^ m)] = uint8_t(i);
    }
    for (int k = 1; k < 4; ++k)
      for (uint32_t i = 0; i < 256; ++i)
        edc[k][i] = (edc[k - 1][i] >> 8) ^ edc[0][edc[k - 1][i] & 0xFF];
    for (uint32_t m = 0; m < 52; ++m)
      for (uint32_t k = 0; k < 43; ++k)
        q[k][m] = uint16_t(((m >> 1) * 86 + (m & 1) + 88 * k) % kQBytes);
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

inline uint8_t times2(uint8_t x) {
  return uint8_t((x << 1) ^ ((x >> 7) * 0x1D));
}

// Reed-Solomon product code parity over the sector from its header on (src is the sector + 12):
// the P pass runs down 86 columns of 24 bytes, the Q pass along 52 diagonals of 43 bytes. The
// codewords are worked on side by side, so each step is the same for all of them.
template <int N> void finishParity(const uint8_t (&a)[N], const uint8_t (&b)[N], uint8_t* dest) {
  const Tables& t = tables();
  for (int i = 0; i < N; ++i) {
    const uint8_t x = t.div3[uint8_t(times2(a[i]) ^ b[i])];
    dest[i] = x;
    dest[i + N] = x ^ b[i];
  }
}

void pParity(const uint8_t* src, uint8_t* dest) {
  uint8_t a[86] = {}, b[86] = {};
  for (int r = 0; r < 24; ++r) {
    const uint8_t* row = src + 86 * r;
    for (int c = 0; c < 86; ++c) {
      b[c] ^= row[c];
      a[c] = times2(uint8_t(a[c] ^ row[c]));
    }
  }
  finishParity(a, b, dest);
}

void qParity(const uint8_t* src, uint8_t* dest) {
  const Tables& t = tables();
  uint8_t a[52] = {}, b[52] = {};
  for (int k = 0; k < 43; ++k) {
    for (int m = 0; m < 52; ++m) {
      const uint8_t v = src[t.q[k][m]];
      b[m] ^= v;
      a[m] = times2(uint8_t(a[m] ^ v));
    }
  }
  finishParity(a, b, dest);
}

void parity(uint8_t* raw) {
  pParity(raw + 12, raw + 12 + kPBytes);
  qParity(raw + 12, raw + 12 + kQBytes);
}

uint32_t getEdcField(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

uint32_t edc(const uint8_t* p, size_t n) {
  const Tables& t = tables();
  uint32_t e = 0;
  for (; n >= 4; n -= 4, p += 4) {
    e ^= uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    e = t.edc[3][e & 0xFF] ^ t.edc[2][(e >> 8) & 0xFF] ^ t.edc[1][(e >> 16) & 0xFF] ^ t.edc[0][e >> 24];
  }
  for (; n > 0; --n, ++p)
    e = (e >> 8) ^ t.edc[0][(e ^ *p) & 0xFF];
  return e;
}

bool hasSync(const uint8_t* p) {
  static const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  return std::memcmp(p, sync, 12) == 0;
}

void toBcdMsf(uint32_t address, uint8_t out[3]) {
  auto bcd = [](uint32_t v) { return uint8_t((v / 10 % 10) << 4 | v % 10); };
  out[0] = bcd(address / (75 * 60));
  out[1] = bcd(address / 75 % 60);
  out[2] = bcd(address % 75);
}

bool fromBcdMsf(const uint8_t in[3], uint32_t& address) {
  uint32_t v[3];
  for (int i = 0; i < 3; ++i) {
    if ((in[i] >> 4) > 9 || (in[i] & 15) > 9) return false;
    v[i] = (in[i] >> 4) * 10u + (in[i] & 15);
  }
  if (v[1] > 59 || v[2] >= kFramesPerSecond) return false;
  address = (v[0] * 60 + v[1]) * kFramesPerSecond + v[2];
  return true;
}

std::string msfText(uint32_t sectors) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", sectors / (75 * 60), sectors / 75 % 60, sectors % 75);
  return buf;
}

void makeMode2Form1(uint8_t* raw, const uint8_t* user, uint32_t lba) {
  std::memset(raw, 0xFF, 12);
  raw[0] = raw[11] = 0;
  // Form 1 error correction treats the header as zero; it is filled in afterwards.
  std::memset(raw + 12, 0, 4);
  static const uint8_t subheader[8] = {0, 0, 0x08, 0, 0, 0, 0x08, 0}; // data, form 1
  std::memcpy(raw + 16, subheader, 8);
  std::memcpy(raw + 24, user, kUserSector);
  uint32_t e = edc(raw + 16, 8 + kUserSector);
  for (int i = 0; i < 4; ++i)
    raw[2072 + i] = uint8_t(e >> (8 * i));
  parity(raw);
  toBcdMsf(lba + kLeadIn, raw + 12);
  raw[15] = 2;
}

void makeMode1(uint8_t* raw, const uint8_t* user, uint32_t lba) {
  std::memset(raw, 0xFF, 12);
  raw[0] = raw[11] = 0;
  toBcdMsf(lba + kLeadIn, raw + 12);
  raw[15] = 1;
  std::memcpy(raw + 16, user, kUserSector);
  uint32_t e = edc(raw, 2064);
  for (int i = 0; i < 4; ++i)
    raw[2064 + i] = uint8_t(e >> (8 * i));
  std::memset(raw + 2068, 0, 8);
  parity(raw);
}

namespace {

bool edcHolds(const uint8_t* raw, size_t from, size_t to) {
  uint32_t e = edc(raw + from, to - from);
  for (int i = 0; i < 4; ++i)
    if (raw[to + i] != uint8_t(e >> (8 * i))) return false;
  return true;
}

// P and Q parity over bytes 12 to 2247; Mode 2 computes them with the header taken as zero.
bool eccHolds(const uint8_t* raw, bool zeroHeader) {
  uint8_t src[kQBytes];
  std::memcpy(src, raw + 12, sizeof src);
  if (zeroHeader) std::memset(src, 0, 4);
  uint8_t p[2 * 86], q[2 * 52];
  pParity(src, p);
  if (std::memcmp(p, raw + 12 + kPBytes, sizeof p) != 0) return false;
  qParity(src, q);
  return std::memcmp(q, raw + 12 + kQBytes, sizeof q) == 0;
}

} // namespace

bool parityHolds(const uint8_t* raw) {
  return eccHolds(raw, raw[15] == 2);
}

void writeParity(uint8_t* raw) {
  uint8_t header[4];
  std::memcpy(header, raw + 12, 4);
  if (raw[15] == 2) std::memset(raw + 12, 0, 4);
  parity(raw);
  std::memcpy(raw + 12, header, 4);
}

SectorFault checkDataSector(const uint8_t* raw, uint32_t lba) {
  if (!hasSync(raw)) return SectorFault::NoSync;
  uint8_t msf[3];
  toBcdMsf(lba + kLeadIn, msf);
  if (std::memcmp(raw + 12, msf, 3) != 0) return SectorFault::WrongAddress;
  switch (raw[15]) {
  case 0:
    return SectorFault::None;
  case 1:
    if (!edcHolds(raw, 0, 2064)) return SectorFault::BadEdc;
    return eccHolds(raw, false) ? SectorFault::None : SectorFault::BadEcc;
  case 2:
    if (raw[18] & 0x20) { // form 2: the EDC is optional
      const bool none = getEdcField(raw + 2348) == 0;
      return none || edcHolds(raw, 16, 2348) ? SectorFault::None : SectorFault::BadEdc;
    }
    if (!edcHolds(raw, 16, 2072)) return SectorFault::BadEdc;
    return eccHolds(raw, true) ? SectorFault::None : SectorFault::BadEcc;
  default:
    return SectorFault::BadMode;
  }
}

const char* describe(SectorFault fault) {
  switch (fault) {
  case SectorFault::None: return "sound";
  case SectorFault::NoSync: return "no sync pattern";
  case SectorFault::WrongAddress: return "its header names another sector";
  case SectorFault::BadMode: return "unknown sector mode";
  case SectorFault::BadEdc: return "wrong EDC";
  case SectorFault::BadEcc: return "wrong ECC";
  }
  return "";
}

} // namespace kivo::cdrom

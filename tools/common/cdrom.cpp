#include "cdrom.h"

#include <cstring>

namespace kivo::cdrom {

namespace {

struct Tables {
  uint32_t edc[256];
  uint8_t mul2[256]; // x * alpha in GF(2^8) with x^8 + x^4 + x^3 + x^2 + 1
  uint8_t div3[256]; // x / (alpha + 1)
  Tables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t e = i;
      for (int k = 0; k < 8; ++k)
        e = (e >> 1) ^ (e & 1 ? 0xD8018001u : 0);
      edc[i] = e;
      uint32_t m = (i << 1) ^ (i & 0x80 ? 0x11D : 0);
      mul2[i] = uint8_t(m);
      div3[uint8_t(i ^ m)] = uint8_t(i);
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

// Reed-Solomon product code parity over the sector from its header on: the P pass runs down
// 86 columns of 24 bytes, the Q pass along 52 diagonals of 43 bytes.
void parity(const uint8_t* src, uint32_t majors, uint32_t minors, uint32_t majorStep, uint32_t minorStep,
            uint8_t* dest) {
  const Tables& t = tables();
  const uint32_t size = majors * minors;
  for (uint32_t major = 0; major < majors; ++major) {
    uint32_t index = (major >> 1) * majorStep + (major & 1);
    uint8_t a = 0, b = 0;
    for (uint32_t minor = 0; minor < minors; ++minor) {
      uint8_t v = src[index];
      index += minorStep;
      if (index >= size) index -= size;
      a ^= v;
      b ^= v;
      a = t.mul2[a];
    }
    a = t.div3[uint8_t(t.mul2[a] ^ b)];
    dest[major] = a;
    dest[major + majors] = a ^ b;
  }
}

} // namespace

uint32_t edc(const uint8_t* p, size_t n) {
  const Tables& t = tables();
  uint32_t e = 0;
  for (size_t i = 0; i < n; ++i)
    e = (e >> 8) ^ t.edc[(e ^ p[i]) & 0xFF];
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
  parity(raw + 12, 86, 24, 2, 86, raw + 2076);
  parity(raw + 12, 52, 43, 86, 88, raw + 2248);
  toBcdMsf(lba + kLeadIn, raw + 12);
  raw[15] = 2;
}

} // namespace kivo::cdrom

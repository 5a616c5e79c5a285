// LibCrypt test data: protected records and the CloneCD subchannel that carries them.
#pragma once

#include "libcrypt.h"

#include <vector>

namespace kivo::test {

/// A record as LibCrypt leaves it: two bits of both times changed.
inline libcrypt::Record protectedRecord(const libcrypt::DiscShape& disc, uint32_t lba) {
  libcrypt::Record r{lba, libcrypt::regularQ(disc, lba)};
  r.q[5] ^= 0x11;
  r.q[9] ^= 0x11;
  return r;
}

/// A CloneCD subchannel: every sector's regular Q with its CRC, P and R to W empty; the changed
/// records with the CRC of the frame they replaced, spoiled, as LibCrypt leaves it.
inline std::vector<uint8_t> subOf(const libcrypt::DiscShape& disc, const std::vector<libcrypt::Record>& changed) {
  std::vector<uint8_t> sub(size_t(disc.sectors) * libcrypt::kSubSector);
  for (uint32_t lba = 0; lba < disc.sectors; ++lba) {
    uint8_t* q = &sub[size_t(lba) * libcrypt::kSubSector + 12];
    const auto regular = libcrypt::regularQ(disc, lba);
    std::copy(regular.begin(), regular.end(), q);
    const uint16_t crc = libcrypt::qCrc(q);
    q[10] = uint8_t(crc >> 8);
    q[11] = uint8_t(crc);
  }
  for (const libcrypt::Record& r : changed) {
    uint8_t* q = &sub[size_t(r.lba) * libcrypt::kSubSector + 12];
    std::copy(r.q.begin(), r.q.end(), q);
    q[10] ^= 0x80;
  }
  return sub;
}

} // namespace kivo::test

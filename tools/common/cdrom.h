// Raw CD-ROM sectors: 2352 bytes with sync, header, subheader and error correction.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kivo::cdrom {

constexpr size_t kRawSector = 2352;
constexpr size_t kUserSector = 2048;
constexpr uint32_t kLeadIn = 150; // sector 0 lies at 00:02:00

/// Builds the Mode 2 Form 1 sector at lba around 2048 bytes of user data.
void makeMode2Form1(uint8_t* raw, const uint8_t* user, uint32_t lba);

/// True when the 12 bytes at p are the sync pattern that starts every raw data sector.
bool hasSync(const uint8_t* p);

uint32_t edc(const uint8_t* p, size_t n);

/// Minutes, seconds and frames of an absolute sector address, in BCD.
void toBcdMsf(uint32_t address, uint8_t out[3]);

} // namespace kivo::cdrom

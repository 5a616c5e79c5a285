// Raw CD-ROM sectors: 2352 bytes with sync, header, subheader and error correction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kivo::cdrom {

constexpr size_t kRawSector = 2352;
constexpr size_t kUserSector = 2048;
constexpr uint32_t kLeadIn = 150; // sector 0 lies at 00:02:00
constexpr uint32_t kFramesPerSecond = 75;

/// Builds the Mode 2 Form 1 sector at lba around 2048 bytes of user data.
void makeMode2Form1(uint8_t* raw, const uint8_t* user, uint32_t lba);
/// Builds the Mode 1 sector at lba around 2048 bytes of user data.
void makeMode1(uint8_t* raw, const uint8_t* user, uint32_t lba);

/// Whether the P and Q parity of a raw sector match its bytes 12 to 2075, and writes them so:
/// with the header, or taken as zero when the mode byte says 2 (as Mode 2 Form 1 has it). CHD
/// files leave out parity that the second can make again.
bool parityHolds(const uint8_t* raw);
void writeParity(uint8_t* raw);

/// True when the 12 bytes at p are the sync pattern that starts every raw data sector.
bool hasSync(const uint8_t* p);

uint32_t edc(const uint8_t* p, size_t n);

/// Minutes, seconds and frames of an absolute sector address, in BCD.
void toBcdMsf(uint32_t address, uint8_t out[3]);
/// The address of three BCD bytes; false when a byte is no BCD number or out of range.
bool fromBcdMsf(const uint8_t in[3], uint32_t& address);
/// "mm:ss:ff" of a count of sectors, as CUE sheets write positions and lengths.
std::string msfText(uint32_t sectors);

enum class SectorFault {
  None,
  NoSync,     ///< the 12-byte sync pattern is missing
  WrongAddress, ///< the header names another sector
  BadMode,    ///< a mode byte other than 0, 1 or 2
  BadEdc,     ///< the error detection code does not match the data
  BadEcc,     ///< the P or Q parity does not match
};
/// Checks a data sector read at lba: sync, address, mode and, for Mode 1 and Mode 2 Form 1,
/// EDC and P/Q parity; for Mode 2 Form 2 the EDC when one is recorded (it may be zero).
SectorFault checkDataSector(const uint8_t* raw, uint32_t lba);
const char* describe(SectorFault fault);

} // namespace kivo::cdrom

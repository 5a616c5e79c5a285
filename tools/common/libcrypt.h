// LibCrypt protection data: the sectors of a PAL PS1 disc whose Q subchannel deliberately does
// not say where they are. Dumps keep them beside the image as an .sbi file or in a CloneCD .sub;
// a PS1 EBOOT carries them per disc as a table of 12-byte records and a 16-bit summary word in
// its disc image header (docs/ps1-eboot.md).
#pragma once

#include "disc.h"
#include "io.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kivo::libcrypt {

/// Q subchannel bytes without their CRC: control and ADR, track, index, relative time, zero,
/// absolute time; numbers in BCD.
constexpr size_t kQBytes = 10;
/// A protected disc changes a few dozen sectors; a list beyond this is no protection data.
constexpr size_t kMaxRecords = 1024;
/// Bytes of one sector's subchannel in a CloneCD .sub: P, Q, R to W, 12 bytes each.
constexpr size_t kSubSector = 96;

/// In a disc image header: the summary word, and the table's offset (from the header) and count.
constexpr uint32_t kSummaryOffset = 0x12B0;
constexpr uint32_t kTableOffset = 0x12D4;
constexpr size_t kTableRecord = 12;
/// The table opens with this marker record and ends with one of twelve 0xFF bytes.
constexpr uint32_t kMarker = 0xFFFFFFFF;

struct Record {
  uint32_t lba = 0; ///< the sector, from 0 at 00:02:00
  std::array<uint8_t, kQBytes> q{};
  bool operator==(const Record& o) const { return lba == o.lba && q == o.q; }
};

/// What the reader knows of the disc the data belongs to.
struct DiscShape {
  uint32_t sectors = 0;           ///< 0: not known, sectors are not checked against it
  std::vector<DiscTrack> tracks;  ///< empty: one data track over the whole disc
};

/// The Q data a sector of this disc has when nothing is changed.
std::array<uint8_t, kQBytes> regularQ(const DiscShape& disc, uint32_t lba);
/// The CRC-16 a Q frame carries after its ten bytes (high byte first).
uint16_t qCrc(const uint8_t* q);
/// "sector 13955 (03:08:05)": the sector and its absolute time.
std::string sectorText(uint32_t lba);

/// The records of an SBI file ("SBI\0", then per sector its absolute time in BCD, a type and its
/// Q data: type 1 all ten bytes, type 2 the relative time, type 3 the absolute time; the rest of
/// a record of type 2 or 3 is the sector's regular Q), in sector order. Throws ToolError naming
/// `name` and the record for a wrong signature, a record cut short or of an unknown type, a time
/// that names no sector or one outside the disc, a sector named twice, more than kMaxRecords.
std::vector<Record> parseSbi(const uint8_t* data, size_t size, const std::string& name, const DiscShape& disc);
/// The SBI file of the records: every one of type 1, in sector order.
std::vector<uint8_t> formatSbi(const std::vector<Record>& records);
/// Reads the SBI file at path (at most a few hundred KiB).
std::vector<Record> readSbiFile(const std::string& path, const DiscShape& disc);

/// The records a CloneCD .sub gives: each sector whose Q frame is a position (ADR 1) and either
/// fails its CRC or differs from the sector's regular Q. Throws ToolError naming `name` and the
/// sector for a sector cut short, sectors outside the disc or missing, or the sector from which
/// on there are more than kMaxRecords.
std::vector<Record> readSub(const ByteSource& sub, const std::string& name, const DiscShape& disc);

/// The 16-bit key LibCrypt reads from the disc: bit 15 down to bit 0 are set when one of the
/// sectors that carry the bit (a pair five sectors apart in minute 3, and its copy in minute 9)
/// is among the records.
uint16_t summaryWord(const std::vector<Record>& records);

/// The table an EBOOT's disc image carries: the opening marker, per record its sector (32 bits),
/// track, index, relative and absolute time, then the end marker.
std::vector<uint8_t> formatTable(const std::vector<Record>& records);
/// Reads count records of a table; the control and zero bytes the table does not hold come from
/// the disc's tracks. What is not well formed goes to problems (one line each, naming the record)
/// and, where the record cannot stand, leaves it out.
std::vector<Record> parseTable(const uint8_t* data, size_t count, const DiscShape& disc,
                               std::vector<std::string>& problems);

/// Records whose control or zero byte a table cannot carry (they come back as the disc's own).
size_t uncarried(const std::vector<Record>& records, const DiscShape& disc, Record* first = nullptr);

/// True for the serial of a disc known to check LibCrypt ("SLES02080", "SLES-020.80" alike).
bool knownProtected(const std::string& serial);
/// How many serials the list holds.
size_t knownProtectedCount();

} // namespace kivo::libcrypt

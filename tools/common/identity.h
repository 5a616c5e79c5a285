// What a disc image says it is: the container around it, its volume, and the game on it: a PSP
// game's PARAM.SFO and artwork, a PS1 disc's serial from SYSTEM.CNF. The tools' --info and the
// Convert page read it.
#pragma once

#include "disc.h"
#include "iso9660.h"
#include "sfo.h"

#include <optional>
#include <string>
#include <vector>

namespace kivo {

struct DiscIdentity {
  std::string format;         ///< "ISO", "CSO v1", "CSO v2", "ZSO", "DAX", "CHD", "CHD (CD)", "raw image", "CUE sheet",
                              ///< "CloneCD sheet"
  bool compressed = false;    ///< a CSO, ZSO, DAX or CHD container
  uint32_t blockSize = 0;     ///< the container's blocks; the sector size for an image as it is
  uint32_t sectorSize = 2048; ///< 2352 for raw sectors
  uint64_t fileSize = 0;      ///< bytes the container takes (every file of a CUE sheet)
  uint64_t imageSize = 0;     ///< bytes of the image it holds
  iso::Volume volume;
  bool psp = false;           ///< PSP_GAME/PARAM.SFO is there and reads
  sfo::Fields sfo;
  std::optional<uint64_t> icon0, pic1; ///< their sizes, when the disc has them
  std::vector<uint8_t> icon0Png;       ///< read only when asked for
  std::string serial;                  ///< a PS1 disc's, from SYSTEM.CNF
  std::vector<DiscTrack> tracks;       ///< the tracks of a raw image or CUE sheet
  std::vector<std::string> problems;   ///< what could not be read, as messages for the user

  /// DISC_ID, else the serial.
  std::string discId() const;
  std::string title() const { return sfo.text("TITLE"); }
};

/// Reads the volume and the game from a disc's sectors. Throws ToolError when there is no ISO 9660
/// volume; damage further in is kept in problems.
void readIdentity(const iso::SectorSource& sectors, DiscIdentity& id, bool withIcon = false);

/// Opens path as any container Kivo reads (ISO, CSO v1/v2, ZSO, DAX, CHD, a raw image, a CUE or CloneCD sheet) and
/// reads its identity; ICON0.PNG's bytes too when withIcon. Throws ToolError.
DiscIdentity identifyFile(const std::string& path, bool withIcon = false);

/// The volume name of a disc, empty when it has none or cannot be read.
std::string readVolumeName(const DiscSource& disc);

/// What --info prints for one file: a heading line and indented fields.
std::string describeIdentity(const std::string& path, const DiscIdentity& id);
/// The same as a JSON object, and a failure as one.
std::string identityJson(const std::string& path, const DiscIdentity& id);
std::string failureJson(const std::string& path, const std::string& error);
/// A JSON string literal: control characters escaped, bytes that are not UTF-8 replaced.
std::string jsonString(const std::string& text);

/// --info of the tools: each file described on standard output (one JSON array when json), each
/// failure on standard error (in the array when json); 2 when any failed, else 0.
int printIdentities(const char* tool, const std::vector<std::string>& paths, bool json);

} // namespace kivo

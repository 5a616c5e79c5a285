// A PS1 disc as raw 2352-byte sectors with its track list, from an image file or a CUE sheet.
#pragma once

#include "cue.h"
#include "io.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kivo {

/// One track on the disc, in sector addresses from the start of the disc (LBA 0 is 00:02:00).
struct DiscTrack {
  unsigned number = 1;
  TrackMode mode = TrackMode::Mode2;
  uint32_t begin = 0; ///< where the track's pregap starts (its INDEX 00, or INDEX 01 without one)
  uint32_t start = 0; ///< INDEX 01: the address the table of contents gives
  uint32_t end = 0;   ///< one past its last sector
};

/// The disc's sectors, however they are stored.
class DiscSource {
public:
  virtual ~DiscSource() = default;
  virtual uint32_t sectors() const = 0;
  /// Fills out with count raw sectors from first on; safe to call from several threads.
  virtual void readRaw(uint32_t first, uint32_t count, uint8_t* out) const = 0;
  /// The tracks; a plain image is one data track over the whole disc.
  virtual std::vector<DiscTrack> tracks() const;
  /// The volume size recorded at sector 16, or 0 when there is no ISO 9660 descriptor.
  uint32_t volumeSectors() const;
};

/// A disc held in memory (tests, fuzzing): raw sectors and, when given, its tracks.
class MemoryDisc : public DiscSource {
public:
  uint32_t sectors() const override { return uint32_t(raw.size() / 2352); }
  void readRaw(uint32_t first, uint32_t count, uint8_t* out) const override;
  std::vector<DiscTrack> tracks() const override { return list.empty() ? DiscSource::tracks() : list; }
  std::vector<uint8_t> raw;
  std::vector<DiscTrack> list;
};

/// Where a run of the disc's sectors comes from: a file of the sheet, or nothing (a gap the
/// sheet declares with PREGAP or POSTGAP, made of silence or empty data sectors).
struct DiscSegment {
  uint32_t lba = 0, count = 0;
  int file = -1; ///< index into the sheet's files; -1 for a made-up gap
  uint64_t offset = 0;
  uint32_t sectorSize = 2352;
  TrackMode mode = TrackMode::Mode2;
  bool swapAudio = false;
};

struct DiscLayout {
  std::vector<DiscTrack> tracks;
  std::vector<DiscSegment> segments; ///< in disc order, without holes
  uint32_t sectors = 0;
};

/// Lays the sheet's tracks out on the disc, given the size of each of its files.
/// Throws ToolError for a sheet that does not fit its files.
DiscLayout layoutCue(const CueSheet& sheet, const std::vector<uint64_t>& fileSizes);

/// A disc described by a CUE sheet; its files are found beside the sheet.
class CueDisc : public DiscSource {
public:
  explicit CueDisc(const std::string& cuePath);
  uint32_t sectors() const override { return layout_.sectors; }
  void readRaw(uint32_t first, uint32_t count, uint8_t* out) const override;
  std::vector<DiscTrack> tracks() const override { return layout_.tracks; }
  const std::vector<std::string>& filePaths() const { return paths_; }

private:
  DiscLayout layout_;
  std::vector<std::string> paths_;
  std::vector<std::unique_ptr<InputFile>> files_;
};

/// The file a sheet or playlist in folder names: as written, else (for a list written on another
/// system, with backslashes or in another letter case) the file of that name in folder. Confined,
/// a name is only taken inside folder and below: one that leads elsewhere (an absolute path, a
/// ".." too many) is looked up by its last part in folder, and "" comes back when it is not there.
std::string findBeside(const std::filesystem::path& folder, const std::string& name, bool confined = false);

/// Opens path as an input that must be a regular file (not a folder, FIFO or device).
std::unique_ptr<InputFile> openRegularFile(const std::string& path);
/// Reads a small text file whole (sheets, playlists); refuses one larger than limit.
std::string readTextFile(const std::string& path, size_t limit = 1 << 20);

/// The game ID that SYSTEM.CNF's BOOT line names ("cdrom:\SLUS_005.94;1" gives SLUS00594), or
/// empty when there is none of the usual form.
std::string discIdFromSystemCnf(const std::string& text);
/// The same, read from the disc's ISO 9660 file system; empty when the disc has none.
std::string readDiscId(const DiscSource& disc);

} // namespace kivo

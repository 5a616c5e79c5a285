// ISO 9660 file systems: the volume descriptor, path table and folders of a data disc, read
// through any container. Every address and size comes from the image, so each is checked before
// it is used, and every walk has a bound: a hostile image gives a clear error, never a hang.
#pragma once

#include "disc.h"
#include "io.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kivo::iso {

constexpr uint32_t kSector = 2048;
/// Larger folders than this are refused: a real one with ten thousand entries takes 0.5 MiB.
constexpr uint32_t kMaxFolderBytes = 16u << 20;

/// The 2048-byte user data of a disc's sectors, whatever holds them.
class SectorSource {
public:
  virtual ~SectorSource() = default;
  virtual uint32_t sectors() const = 0;
  /// Fills out with count sectors from first on; throws ToolError for one outside the disc or
  /// one that holds no 2048 bytes of data (audio, Mode 2 Form 2).
  virtual void read(uint32_t first, uint32_t count, uint8_t* out) const = 0;
  /// True for raw 2352-byte sectors.
  virtual bool raw() const = 0;
};

/// The sectors of an image's bytes: raw 2352-byte sectors when it starts with a sync pattern and
/// holds a whole number of them, else 2048-byte ones. The source must outlive the result.
std::unique_ptr<SectorSource> sectorsOf(const ByteSource& image);
/// The data sectors of a disc (a CUE sheet's, an EBOOT's).
std::unique_ptr<SectorSource> sectorsOf(const DiscSource& disc);

struct Extent {
  uint32_t sector = 0;
  uint32_t bytes = 0;
};

struct Entry {
  std::string name; ///< as recorded, without its ";1" version
  std::string path; ///< from the root, for messages: "/PSP_GAME/PARAM.SFO"
  bool folder = false;
  uint64_t size = 0;
  std::vector<Extent> extents; ///< one, or several for a file recorded in parts
};

struct Volume {
  std::string system, name, publisher, application; ///< blanks at the end removed
  std::string created; ///< "YYYY-MM-DD hh:mm:ss", empty when not recorded
  uint32_t sectors = 0; ///< the volume size recorded
};

class FileSystem {
public:
  /// Reads the volume descriptors from sector 16 on; throws ToolError when there is no ISO 9660
  /// volume. The source must outlive the file system.
  explicit FileSystem(const SectorSource& disc);
  const Volume& volume() const { return volume_; }
  /// The file or folder at path ("PSP_GAME/PARAM.SFO"), with letter case, a ";1" version and a
  /// trailing dot ignored; nothing when it is not there. Throws ToolError for a damaged folder
  /// on the way (records cut short, a folder leading back to one above it, one past the end).
  std::optional<Entry> find(const std::string& path) const;
  /// A file's bytes; throws ToolError when it holds more than limit bytes or lies past the end
  /// of the image.
  std::vector<uint8_t> read(const Entry& file, size_t limit) const;
  /// The first bytes of a file, at most limit of them.
  std::vector<uint8_t> readStart(const Entry& file, size_t limit) const;

private:
  struct Folder {
    uint32_t sector, bytes;
    std::string path;
  };
  struct PathRecord {
    std::string name;
    uint32_t sector;
    uint16_t parent;
  };
  std::optional<Entry> lookIn(const Folder& folder, const std::string& name) const;
  std::optional<Folder> folderFromTable(const std::vector<std::string>& parts) const;
  void loadPathTable(uint32_t sector, uint32_t bytes);
  void checkInside(const Entry& e) const;
  std::vector<uint8_t> readBytes(const Entry& file, uint64_t count) const;

  const SectorSource& disc_;
  Volume volume_;
  Folder root_{};
  std::vector<PathRecord> table_; ///< empty when the image has none that holds together
};

/// Text from the image made safe to print: control characters become '?'.
std::string printable(const std::string& text);

} // namespace kivo::iso

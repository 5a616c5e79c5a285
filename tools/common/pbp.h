// PS1 EBOOT.PBP: a PBP container whose DATA.PSAR holds one disc image as 16-sector blocks,
// each raw-deflated or stored, behind an index at +0x4000, with the blocks from +1 MiB.
#pragma once

#include "io.h"

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kivo::pbp {

constexpr uint32_t kHeaderSize = 40;
constexpr uint32_t kBlockSectors = 16;
constexpr uint32_t kBlockBytes = kBlockSectors * 2352; // 37632
constexpr uint32_t kIndexOffset = 0x4000;
constexpr uint32_t kDataOffset = 0x100000;
constexpr uint32_t kIndexEntry = 32;
constexpr uint32_t kMaxBlocks = (kDataOffset - kIndexOffset) / kIndexEntry; // 32256

enum Section { Sfo, Icon0, Icon1, Pic0, Pic1, Snd0, DataPsp, DataPsar, kSections };
extern const char* const kSectionNames[kSections];

using Progress = std::function<void(uint64_t done)>;

/// A disc image as raw 2352-byte sectors: a raw image as it is, a 2048-byte ISO wrapped
/// into Mode 2 Form 1 sectors.
class DiscImage {
public:
  /// Throws ToolError when the source is neither kind of image.
  explicit DiscImage(const ByteSource& src);
  bool isRaw() const { return raw_; }
  uint32_t sectors() const { return sectors_; }
  /// Fills out with count raw sectors from first on; safe to call from several threads.
  void readRaw(uint32_t first, uint32_t count, uint8_t* out) const;
  /// The volume size recorded at sector 16, or 0 when there is no ISO 9660 descriptor.
  uint32_t volumeSectors() const { return volume_; }

private:
  const ByteSource& src_;
  bool raw_ = false;
  uint32_t sectors_ = 0;
  uint32_t volume_ = 0;
};

struct Artwork {
  std::vector<uint8_t> icon0, icon1, pic0, pic1, snd0;
};

std::vector<uint8_t> buildSfo(const std::string& title, const std::string& discId);

struct SfoFields {
  std::map<std::string, std::string> strings;
  std::map<std::string, uint32_t> numbers;
};
/// Throws ToolError for a damaged PARAM.SFO.
SfoFields parseSfo(const uint8_t* data, size_t size);

/// Writes the whole EBOOT.PBP; level 0 stores every block.
void write(const DiscImage& image, const std::string& title, const std::string& discId, const Artwork& art,
           int level, ByteSink& out, unsigned threads = 0, const Progress& progress = {});

class Reader {
public:
  /// Checks the PBP header; throws ToolError.
  explicit Reader(const ByteSource& src);
  uint64_t sectionOffset(Section s) const { return offsets_[s]; }
  uint64_t sectionSize(Section s) const;
  std::vector<uint8_t> section(Section s) const;
  /// Writes the disc image held in DATA.PSAR, cut to the volume size that its sector 16
  /// records; throws ToolError for a damaged image.
  void extractImage(ByteSink& out) const;

private:
  const ByteSource& src_;
  std::array<uint64_t, kSections + 1> offsets_{};
};

} // namespace kivo::pbp

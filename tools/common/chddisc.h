// CD CHD files: a disc's frames (2352-byte sectors and 96 bytes of subcode) in hunks of eight,
// each track padded to a multiple of four frames, with one metadata entry per track.
#pragma once

#include "chd.h"
#include "disc.h"

#include <string>
#include <vector>

namespace kivo::chd {

constexpr uint32_t kCdHunkFrames = 8;

/// One track as the metadata records it (a "CHT2" entry, or the older "CHTR" without gaps).
struct CdTrack {
  unsigned number = 1;
  std::string type = "MODE2_RAW"; ///< MODE1, MODE1_RAW, MODE2, MODE2_FORM1, MODE2_FORM_MIX, MODE2_RAW, AUDIO
  std::string subtype = "NONE";   ///< the subcode stored: NONE, RW or RW_RAW
  uint32_t frames = 0;            ///< frames stored, the pregap among them when pregapStored
  uint32_t pregap = 0;
  bool pregapStored = false;      ///< the pregap's frames are stored ("V" before its type)
  std::string pregapType = "MODE1", pregapSubtype = "NONE";
  uint32_t postgap = 0;           ///< frames the disc has after the track and the file has not
};

/// Throws ToolError for text that is not a track entry.
CdTrack parseCdTrack(const std::string& text);
std::string formatCdTrack(const CdTrack& track);

/// The CD a CHD file holds, as raw sectors with audio in the byte order of BIN files, and its
/// tracks. Gaps that the file does not store read as silence or as empty data sectors.
class ChdDisc : public DiscSource {
public:
  /// Throws ToolError for a file that is no CHD of a CD, or a CD Kivo cannot lay out.
  explicit ChdDisc(const ByteSource& file);
  uint32_t sectors() const override { return sectors_; }
  void readRaw(uint32_t first, uint32_t count, uint8_t* out) const override;
  std::vector<DiscTrack> tracks() const override { return tracks_; }
  const Reader& reader() const { return reader_; }

private:
  struct Segment {
    uint32_t lba, count;
    int64_t frame; ///< the first frame in the file; -1 for a gap
    TrackMode mode;
    uint32_t dataBytes; ///< bytes of each stored frame that hold the sector
  };
  Reader reader_;
  std::vector<DiscTrack> tracks_;
  std::vector<Segment> segments_;
  uint32_t sectors_ = 0;
};

/// The frames the CHD of these tracks holds: each track from its first sector (its pregap
/// included) to its last, padded to a multiple of four.
uint64_t cdFrames(const std::vector<DiscTrack>& tracks);

/// Writes a CD CHD of the disc: every track with its pregap, raw sectors, no subcode.
void writeCd(const DiscSource& disc, ByteSink& out, const WriteOptions& options, const Progress& progress = {});

} // namespace kivo::chd

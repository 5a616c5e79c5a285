// CloneCD disc descriptions: NAME.ccd (an INI-style sheet of the disc's tracks) beside NAME.img
// (every sector of the disc, 2352 bytes each, from sector 0) and NAME.sub (96 bytes of subchannel
// per sector). Parsing is pure (text in, tracks out) so that it can be fuzzed.
#pragma once

#include "disc.h"

#include <memory>
#include <string>
#include <vector>

namespace kivo {

struct CcdTrack {
  unsigned number = 0;
  TrackMode mode = TrackMode::Mode2;
  bool modeKnown = false; ///< the sheet's [TRACK] MODE; a table of contents gives only data or audio
  int64_t index0 = -1;    ///< where its pregap starts; -1 when the sheet gives none
  int64_t index1 = -1;    ///< where the track starts
};

/// The tracks of a .ccd sheet, in order: from its [TRACK n] sections, else from the table of
/// contents' entries (Point 1 to 99). Throws ToolError naming the line for what does not hold.
std::vector<CcdTrack> parseCcd(const std::string& text);

/// The disc's tracks laid over an image of `sectors` sectors; throws ToolError when the sheet
/// does not fit the image.
std::vector<DiscTrack> layoutCcd(const std::vector<CcdTrack>& tracks, uint32_t sectors);

/// A disc that a CloneCD sheet describes; its .img (and .sub) are found beside the sheet under
/// the sheet's name, in any letter case.
class CcdDisc : public DiscSource {
public:
  explicit CcdDisc(const std::string& ccdPath);
  uint32_t sectors() const override { return sectors_; }
  void readRaw(uint32_t first, uint32_t count, uint8_t* out) const override;
  std::vector<DiscTrack> tracks() const override { return tracks_; }
  const std::string& imagePath() const { return imagePath_; }
  /// NAME.sub beside the sheet, or empty when there is none.
  const std::string& subPath() const { return subPath_; }

private:
  std::unique_ptr<InputFile> image_;
  std::string imagePath_, subPath_;
  std::vector<DiscTrack> tracks_;
  uint32_t sectors_ = 0;
};

/// The file beside path with the same name and another extension (".sbi"), in any letter case;
/// empty when there is none.
std::string siblingFile(const std::string& path, const std::string& extension);

} // namespace kivo

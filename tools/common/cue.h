// CUE sheets and .m3u playlists: the text files that describe a disc as several tracks and a
// game as several discs. Parsing is pure (text in, structure out) so it can be fuzzed.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kivo {

enum class TrackMode { Audio, Mode1, Mode2 };

/// "AUDIO", "MODE1/2352" or "MODE2/2352": how a track is written in a BIN/CUE pair.
const char* modeName(TrackMode mode);

struct CueTrack {
  unsigned number = 0;
  TrackMode mode = TrackMode::Mode2;
  uint32_t sectorSize = 2352; ///< bytes per sector in the file: 2352, 2336 or 2048
  /// INDEX number and position in sectors from the start of the file, in sheet order.
  std::vector<std::pair<unsigned, uint32_t>> indexes;
  uint32_t pregap = 0, postgap = 0; ///< sectors the disc has but the file does not
  unsigned line = 0;                ///< where the TRACK stands, for messages
};

struct CueFile {
  std::string name;
  bool bigEndianAudio = false; ///< MOTOROLA: 16-bit samples with the high byte first
  std::vector<CueTrack> tracks;
  unsigned line = 0;
};

struct CueSheet {
  std::vector<CueFile> files;
};

/// Throws ToolError naming the line for anything the sheet does not say clearly.
CueSheet parseCue(const std::string& text);
/// The sheet as text, with CRLF line ends as the sheets of other tools have them.
std::string formatCue(const CueSheet& sheet);

/// The lines of a text file, without line ends (LF or CRLF) and without a leading UTF-8 mark.
std::vector<std::string> textLines(const std::string& text);

/// The entries of an .m3u playlist: one path a line; blank lines and # comments are skipped.
std::vector<std::string> parsePlaylist(const std::string& text);

} // namespace kivo

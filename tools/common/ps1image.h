// The disc images inside a PS1 EBOOT.PBP as a player wants them back: their size and tracks from
// the table of contents, extraction to BIN/CUE, a check of every block and data sector, and a
// description of the whole file.
#pragma once

#include "cue.h"
#include "pbp.h"

#include <functional>
#include <string>
#include <vector>

namespace kivo::ps1 {

/// How one disc image of the EBOOT is laid out on the disc.
struct DiscPlan {
  uint32_t sectors = 0;
  const char* sizeFrom = ""; ///< "the table of contents", "the volume descriptor" or "the blocks"
  std::vector<DiscTrack> tracks;
};

/// The tracks a table of contents gives a disc of the given size. It records only where each
/// track's INDEX 01 lies; an audio track after the first is given the two-second pregap that
/// pressed discs have (and rips keep), as far as the track before leaves room for it.
std::vector<DiscTrack> tracksFromToc(const pbp::Toc& toc, uint32_t sectors);

/// The disc's size and tracks: from its table of contents, else from the volume size that its
/// sector 16 records, else from its blocks.
DiscPlan planDisc(const ByteSource& src, const pbp::PsarDisc& disc);

using StoredProgress = std::function<void(uint64_t storedBytesDone)>;

/// Writes the disc's sectors, track by track, to sinks: one sink for the whole disc, or one per
/// track. Learns each data track's mode from its first sector. Throws ToolError for a block that
/// does not decode or does not match its checksum, naming it.
void extractDisc(const ByteSource& src, const pbp::PsarDisc& disc, DiscPlan& plan, const std::vector<ByteSink*>& sinks,
                 const StoredProgress& progress = {});

/// The CUE sheet of an extracted disc: bins holds one file name, or one per track.
CueSheet cueSheetFor(const DiscPlan& plan, const std::vector<std::string>& bins);

/// Checks one disc image: every block lies in the file, decodes and matches its checksum; every
/// data sector has a sound header, EDC and ECC; the index, the table of contents and the volume
/// agree on the size; the LibCrypt table, where there is one, is well formed. Each fault goes to
/// report with where it is; returns how many there were.
size_t verifyDisc(const ByteSource& src, const pbp::PsarDisc& disc, const std::function<void(const std::string&)>& report,
                  const StoredProgress& progress = {});

/// The disc's LibCrypt records, read from the table its header points at (none when it has no
/// table). What is not well formed goes to problems, one line each.
std::vector<libcrypt::Record> readProtection(const ByteSource& src, const pbp::PsarDisc& disc, const DiscPlan& plan,
                                             std::vector<std::string>& problems);

/// What `info` prints: title, IDs, artwork, and per disc its size, compression and tracks.
std::string describeEboot(const ByteSource& src);

/// Bytes of the file that the disc's blocks take: what extraction and verification read.
uint64_t storedBytes(const pbp::PsarDisc& disc);

/// A text made safe as a file name: no folder separators, control characters or characters other
/// systems refuse, no leading dots, at most 80 bytes; empty when nothing usable is left.
std::string safeFileName(const std::string& text);

} // namespace kivo::ps1

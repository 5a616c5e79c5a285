// A disc image inside a PS1 EBOOT read sector by sector, so that it can be written into
// another container (a CD CHD) without going through a BIN file first.
#pragma once

#include "disc.h"
#include "ps1image.h"

namespace kivo::ps1 {

class EbootDisc : public DiscSource {
public:
  /// plan: the disc's size and tracks (planDisc); the data tracks' modes are read from their
  /// first sectors.
  EbootDisc(const ByteSource& src, const pbp::PsarDisc& disc, const DiscPlan& plan);
  uint32_t sectors() const override { return plan_.sectors; }
  /// Throws ToolError naming a block that does not decode or match its checksum.
  void readRaw(uint32_t first, uint32_t count, uint8_t* out) const override;
  std::vector<DiscTrack> tracks() const override { return plan_.tracks; }

private:
  const ByteSource& src_;
  const pbp::PsarDisc& disc_;
  DiscPlan plan_;
};

} // namespace kivo::ps1

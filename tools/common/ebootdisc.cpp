#include "ebootdisc.h"

#include "cdrom.h"
#include "codec.h"

#include <algorithm>
#include <cstring>

namespace kivo::ps1 {

EbootDisc::EbootDisc(const ByteSource& src, const pbp::PsarDisc& disc, const DiscPlan& plan)
    : src_(src), disc_(disc), plan_(plan) {
  if (uint64_t(disc.blocks.size()) * pbp::kBlockSectors < plan_.sectors)
    throw ToolError("the image holds " + std::to_string(disc.blocks.size() * pbp::kBlockSectors) +
                    " sectors, fewer than the " + std::to_string(plan_.sectors) + " that " + plan_.sizeFrom +
                    " records");
  for (DiscTrack& t : plan_.tracks) {
    if (t.mode == TrackMode::Audio || t.start >= plan_.sectors) continue;
    uint8_t raw[cdrom::kRawSector];
    readRaw(t.start, 1, raw);
    t.mode = cdrom::hasSync(raw) && raw[15] == 1 ? TrackMode::Mode1 : TrackMode::Mode2;
  }
}

void EbootDisc::readRaw(uint32_t first, uint32_t count, uint8_t* out) const {
  if (first > plan_.sectors || count > plan_.sectors - first) throw ToolError("internal error: sector outside the disc");
  thread_local Inflater inflater;
  thread_local std::vector<uint8_t> stored, block;
  block.resize(pbp::kBlockBytes);
  while (count > 0) {
    const size_t i = first / pbp::kBlockSectors;
    const pbp::IndexEntry& e = disc_.blocks[i];
    const uint64_t at = disc_.dataStart() + e.offset;
    const std::string name = "block " + std::to_string(i) + " (disc sectors from " +
                             std::to_string(uint64_t(i) * pbp::kBlockSectors) + ")";
    if (at > src_.size() || src_.size() - at < e.length) throw ToolError(name + " lies past the end of the file");
    stored.resize(std::min<uint32_t>(e.length, 2 * pbp::kBlockBytes));
    src_.readAt(at, stored.data(), stored.size());
    size_t n = 0;
    const pbp::BlockFault fault = pbp::decodeBlock(inflater, e, stored.data(), block.data(), n);
    if (fault != pbp::BlockFault::None) throw ToolError(name + " " + pbp::describe(fault) + "; 'verify' lists every fault");
    const uint32_t skip = first % pbp::kBlockSectors;
    const uint32_t take = std::min(count, pbp::kBlockSectors - skip);
    if (n < size_t(skip + take) * cdrom::kRawSector)
      throw ToolError(name + " holds only " + std::to_string(n) + " bytes");
    std::memcpy(out, &block[size_t(skip) * cdrom::kRawSector], size_t(take) * cdrom::kRawSector);
    out += size_t(take) * cdrom::kRawSector;
    first += take;
    count -= take;
  }
}

} // namespace kivo::ps1

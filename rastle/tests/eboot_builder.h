// Builds EBOOT containers and raw disc images in memory for the tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace rastle_test {

using Bytes = std::vector<uint8_t>;

/// Raw deflate (no zlib header or check value), as the container stores its blocks.
Bytes deflateRaw(const Bytes& data, int level = 6);

/// Bytes that do not compress.
Bytes noise(size_t n, uint32_t seed);

class EbootBuilder {
public:
  explicit EbootBuilder(uint32_t psar = 0x28) : psar_(psar) {}

  /// Appends bytes to the data area and returns their block offset.
  uint32_t addData(const Bytes& bytes);
  /// An index entry with the given fields; the tail is the 24 bytes the reader ignores.
  void addEntry(uint32_t offset, uint32_t length, const std::array<uint8_t, 24>& tail = {});
  void addEmpty() { addEntry(0, 0); }
  /// A block of exactly 37632 bytes, stored plain.
  void addStored(const Bytes& content);
  /// A block stored as a raw deflate stream of content.
  void addCompressed(const Bytes& content, int level = 6);

  /// Header, index region and data area. The index region is always written whole.
  Bytes build() const;
  uint32_t psar() const { return psar_; }
  size_t entries() const { return index_.size() / 32; }

private:
  uint32_t psar_;
  Bytes index_;
  Bytes data_;
};

/// A raw CD-ROM XA Mode 2 image of the given number of 2352-byte sectors, whose sector 16 is an
/// ISO 9660 primary volume descriptor giving that number as the volume space size.
Bytes rawMode2Disc(uint32_t sectors);

/// Packs a raw disc image into an EBOOT the way a maker does: 16 sectors per block, the last
/// block padded with zeros; a block that does not shrink is stored plain.
Bytes packDisc(const Bytes& disc);

void putLe32(uint8_t* p, uint32_t v);

} // namespace rastle_test

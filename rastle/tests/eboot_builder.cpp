#include "eboot_builder.h"

#include "container.h"

#include <cstring>
#include <random>
#include <stdexcept>
#include <zlib.h>

namespace rastle_test {

void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (8 * i));
}

Bytes deflateRaw(const Bytes& data, int level) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  Bytes out(deflateBound(&zs, uLong(data.size())));
  zs.next_in = const_cast<uint8_t*>(data.data());
  zs.avail_in = uInt(data.size());
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  if (deflate(&zs, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

Bytes noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out)
    b = uint8_t(rng());
  return out;
}

uint32_t EbootBuilder::addData(const Bytes& bytes) {
  uint32_t at = uint32_t(data_.size());
  data_.insert(data_.end(), bytes.begin(), bytes.end());
  return at;
}

void EbootBuilder::addEntry(uint32_t offset, uint32_t length, const std::array<uint8_t, 24>& tail) {
  size_t at = index_.size();
  index_.resize(at + 32);
  putLe32(&index_[at], offset);
  putLe32(&index_[at + 4], length);
  std::memcpy(&index_[at + 8], tail.data(), 24);
}

void EbootBuilder::addStored(const Bytes& content) {
  if (content.size() != rastle::kBlockSize) throw std::invalid_argument("stored block size");
  addEntry(addData(content), uint32_t(content.size()));
}

void EbootBuilder::addCompressed(const Bytes& content, int level) {
  Bytes packed = deflateRaw(content, level);
  addEntry(addData(packed), uint32_t(packed.size()));
}

Bytes EbootBuilder::build() const {
  if (index_.size() > rastle::kDataStart - rastle::kIndexStart) throw std::length_error("index");
  Bytes out(size_t(psar_) + rastle::kDataStart, 0);
  std::memcpy(out.data(), "\0PBP", 4);
  putLe32(&out[36], psar_);
  if (!index_.empty()) std::memcpy(&out[psar_ + rastle::kIndexStart], index_.data(), index_.size());
  out.insert(out.end(), data_.begin(), data_.end());
  return out;
}

namespace {
uint8_t bcd(unsigned v) {
  return uint8_t((v / 10) << 4 | (v % 10));
}
} // namespace

Bytes rawMode2Disc(uint32_t sectors) {
  Bytes disc(size_t(sectors) * rastle::kSectorSize);
  std::mt19937 rng(sectors);
  for (uint32_t s = 0; s < sectors; ++s) {
    uint8_t* sec = &disc[size_t(s) * rastle::kSectorSize];
    std::memset(sec + 1, 0xFF, 10); // sync: 00 FF*10 00
    unsigned lba = s + 150;
    sec[12] = bcd(lba / 4500);
    sec[13] = bcd(lba / 75 % 60);
    sec[14] = bcd(lba % 75);
    sec[15] = 2;              // mode 2
    sec[18] = sec[22] = 0x08; // subheader: Form 1 data
    uint8_t* user = sec + 24;
    if (s == 16) {
      user[0] = 1;
      std::memcpy(user + 1, "CD001", 5);
      user[6] = 1;
      std::memcpy(user + 8, "PLAYSTATION                     ", 32);
      std::memcpy(user + 40, "TESTDISC                        ", 32);
      putLe32(user + 80, sectors);
      for (int i = 0; i < 4; ++i)
        user[84 + i] = uint8_t(sectors >> (24 - 8 * i));
    } else if (s == 17) {
      user[0] = 255;
      std::memcpy(user + 1, "CD001", 5);
      user[6] = 1;
    } else if (s % 5 == 3 || (s >= 32 && s < 48)) {
      for (int i = 0; i < 2048; ++i)
        user[i] = uint8_t(rng()); // video-like: does not shrink
    } else if (s > 17) {
      for (int i = 0; i < 2048; ++i)
        user[i] = uint8_t("SLUS_000.00;1 BOOT=cdrom:"[i % 25] + s);
    }
    for (int i = 2072; i < 2352; ++i)
      sec[i] = uint8_t(rng()); // EDC/ECC stand-in
  }
  return disc;
}

Bytes packDisc(const Bytes& disc) {
  EbootBuilder eb;
  for (size_t at = 0; at < disc.size(); at += rastle::kBlockSize) {
    Bytes block(rastle::kBlockSize, 0);
    std::memcpy(block.data(), &disc[at], std::min(rastle::kBlockSize, disc.size() - at));
    Bytes packed = deflateRaw(block, 9);
    if (packed.size() >= rastle::kBlockSize)
      eb.addStored(block);
    else
      eb.addEntry(eb.addData(packed), uint32_t(packed.size()));
  }
  return eb.build();
}

} // namespace rastle_test

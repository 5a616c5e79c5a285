// SHA-1, for the block checksums of the PS1 EBOOT index and the checksums of CHD files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kivo {

std::array<uint8_t, 20> sha1(const uint8_t* data, size_t size);

/// SHA-1 of data given in pieces.
class Sha1 {
public:
  Sha1();
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;
  void update(const uint8_t* data, size_t size);
  std::array<uint8_t, 20> finish();

private:
  void* ctx_;
};

} // namespace kivo

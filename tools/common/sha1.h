// SHA-1, for the block checksums of the PS1 EBOOT index.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kivo {

std::array<uint8_t, 20> sha1(const uint8_t* data, size_t size);

} // namespace kivo

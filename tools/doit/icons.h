// The six pictures of the PSP's top menu: 64 x 64 bitmaps of 256 colours, one per category.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::topmenu {

/// The categories, slot 1 to 6.
inline const char* const kSlotNames[6] = {"Settings", "Photo", "Music", "Video", "Game", "Network"};

/// Why the bytes are no picture the top menu takes ("is 32 x 32 pixels; ..."); empty when they are.
std::string iconProblem(const std::vector<uint8_t>& bytes);

/// Whether the bytes are a bitmap of 64 x 64 pixels, whatever its depth (how the top menu's
/// own pictures are recognised in the PSP's file).
bool isIconSized(const std::vector<uint8_t>& bytes);

} // namespace kivo::topmenu

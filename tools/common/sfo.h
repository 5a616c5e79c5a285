// PARAM.SFO: the key/value table a PSP reads a game's title, ID and needs from. A header, one
// 16-byte index entry per key (sorted by key), a table of the keys and a table of the values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kivo::sfo {

struct Entry {
  std::string key;
  bool number = false;
  std::string text;   ///< cut to room - 1 bytes: the terminating zero always stays
  uint32_t value = 0;
  uint32_t room = 4;  ///< bytes the value may take; at least 4 for a number
};

/// Writes the table, its keys sorted as readers expect.
std::vector<uint8_t> build(std::vector<Entry> entries);

struct Fields {
  std::map<std::string, std::string> strings;
  std::map<std::string, uint32_t> numbers;
  /// The text of key, or empty when it is missing or a number.
  std::string text(const std::string& key) const;
};

/// Reads every entry; throws ToolError ("damaged PARAM.SFO: ...") for tables outside the file,
/// keys or values that run into each other, a key given twice, or a value larger than its room.
Fields parse(const uint8_t* data, size_t size);

} // namespace kivo::sfo

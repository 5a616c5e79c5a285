#include "sfo.h"

#include "io.h"

#include <algorithm>
#include <cstring>

namespace kivo::sfo {

namespace {

constexpr uint32_t kHeader = 20, kIndexEntry = 16;
constexpr uint16_t kTextRaw = 0x0004, kText = 0x0204, kNumber = 0x0404;

uint32_t alignUp4(size_t v) {
  return uint32_t((v + 3) & ~size_t(3));
}

} // namespace

std::vector<uint8_t> build(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
  std::string keys;
  uint32_t dataSize = 0;
  for (const Entry& e : entries) {
    keys += e.key;
    keys += '\0';
    dataSize += e.number ? std::max<uint32_t>(e.room, 4) : std::max<uint32_t>(e.room, 1);
  }
  keys.resize(alignUp4(keys.size()), '\0');
  const uint32_t count = uint32_t(entries.size());
  const uint32_t keyStart = kHeader + kIndexEntry * count, dataStart = keyStart + uint32_t(keys.size());
  std::vector<uint8_t> sfo(dataStart + dataSize);
  std::memcpy(sfo.data(), "\0PSF", 4);
  putLe32(&sfo[4], 0x0101);
  putLe32(&sfo[8], keyStart);
  putLe32(&sfo[12], dataStart);
  putLe32(&sfo[16], count);
  std::memcpy(&sfo[keyStart], keys.data(), keys.size());
  uint32_t keyAt = 0, dataAt = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const Entry& e = entries[i];
    uint8_t* ix = &sfo[kHeader + kIndexEntry * i];
    uint8_t* d = &sfo[dataStart + dataAt];
    const uint32_t room = e.number ? std::max<uint32_t>(e.room, 4) : std::max<uint32_t>(e.room, 1);
    putLe16(ix, uint16_t(keyAt));
    if (e.number) {
      putLe16(ix + 2, kNumber);
      putLe32(ix + 4, 4);
      putLe32(d, e.value);
    } else {
      const uint32_t n = uint32_t(std::min<size_t>(e.text.size(), room - 1));
      putLe16(ix + 2, kText);
      putLe32(ix + 4, n + 1);
      std::memcpy(d, e.text.data(), n);
    }
    putLe32(ix + 8, room);
    putLe32(ix + 12, dataAt);
    keyAt += uint32_t(e.key.size()) + 1;
    dataAt += room;
  }
  return sfo;
}

std::string Fields::text(const std::string& key) const {
  auto it = strings.find(key);
  return it == strings.end() ? std::string() : it->second;
}

Fields parse(const uint8_t* data, size_t size) {
  auto bad = [](const std::string& why) { return ToolError("damaged PARAM.SFO: " + why); };
  if (size < kHeader || std::memcmp(data, "\0PSF", 4) != 0) throw bad("no PSF signature");
  const uint64_t keyStart = getLe32(data + 8), dataStart = getLe32(data + 12), count = getLe32(data + 16);
  if (count > (size - kHeader) / kIndexEntry) throw bad("its index runs past the end of the file");
  if (kHeader + count * kIndexEntry > keyStart || keyStart > dataStart || dataStart > size)
    throw bad("its index, key and value tables are out of order or outside the file");

  struct Span {
    uint64_t begin, end;
    size_t entry;
  };
  std::vector<Span> keySpans, valueSpans;
  std::vector<std::string> names;
  Fields fields;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* ix = data + kHeader + i * kIndexEntry;
    const uint64_t keyAt = keyStart + getLe16(ix);
    const uint16_t format = getLe16(ix + 2);
    const uint32_t length = getLe32(ix + 4), room = getLe32(ix + 8);
    const uint64_t at = dataStart + getLe32(ix + 12);
    const std::string which = "entry " + std::to_string(i + 1);
    if (keyAt >= dataStart) throw bad("the key of " + which + " lies outside the key table");
    const void* end = std::memchr(data + keyAt, 0, size_t(dataStart - keyAt));
    if (!end) throw bad("the key of " + which + " runs into the value table");
    const std::string key(reinterpret_cast<const char*>(data + keyAt), static_cast<const uint8_t*>(end) - (data + keyAt));
    if (key.empty()) throw bad(which + " has no key");
    if (key.size() > 64 || !std::all_of(key.begin(), key.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
      throw bad("the key of " + which + " is not a name");
    if (length > room) throw bad("the value of " + key + " is longer than its room");
    if (at > size || room > size - at) throw bad("the value of " + key + " lies past the end of the file");
    keySpans.push_back({keyAt, keyAt + key.size() + 1, i});
    if (room) valueSpans.push_back({at, at + room, i});
    names.push_back(key);
    if (format == kNumber) {
      if (length != 4) throw bad("the number " + key + " is not 4 bytes long");
      fields.numbers[key] = getLe32(data + at);
    } else if (format == kText || format == kTextRaw) {
      std::string text(reinterpret_cast<const char*>(data + at), length);
      text.resize(std::strlen(text.c_str()));
      fields.strings[key] = text;
    }
  }
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end()) throw bad("the key " + *twice + " appears twice");
  // Two entries sharing bytes would let one key's value change another's.
  for (auto* spans : {&keySpans, &valueSpans}) {
    std::sort(spans->begin(), spans->end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (size_t k = 1; k < spans->size(); ++k) {
      const Span &a = (*spans)[k - 1], &b = (*spans)[k];
      if (b.begin < a.end) {
        const std::string what = spans == &keySpans ? "keys" : "values";
        throw bad("the " + what + " of " + names[a.entry] + " and " + names[b.entry] + " overlap");
      }
    }
  }
  return fields;
}

} // namespace kivo::sfo

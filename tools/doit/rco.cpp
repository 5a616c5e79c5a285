#include "rco.h"

#include "io.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace kivo::rco {

namespace {

// Header fields.
constexpr size_t kVersion = 0x04, kFlags = 0x0C, kImageTable = 0x24, kTextData = 0x38, kLabels = 0x40,
                 kLabelsLength = 0x44, kImagePointers = 0x58, kImagePointersLength = 0x5C, kImageData = 0x80,
                 kImageDataLength = 0x84, kSoundData = 0x88, kModelData = 0x90;
// Offsets into the table of contents (the same address space as the entries).
constexpr size_t kTocPointers[] = {0x10, 0x14, 0x18, 0x1C, 0x20, 0x24, 0x28, 0x2C, 0x30, 0x34, 0x40,
                                   0x48, 0x50, 0x58, 0x60, 0x68, 0x70, 0x78};
// Offsets into the file: the data sections, which follow a compressed table of contents.
constexpr size_t kDataPointers[] = {kTextData, kImageData, kSoundData, kModelData};
constexpr uint8_t kImageId = 4;
constexpr size_t kMaxPictures = 4096;

uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return getLe32(&b[at]); }

size_t pictureFieldsSize(uint16_t compression) { return compression == Stored ? 12 : 16; }

} // namespace

std::vector<uint8_t> zlibPack(const std::vector<uint8_t>& bytes) {
  uLongf size = compressBound(uLong(bytes.size()));
  std::vector<uint8_t> out(size);
  if (compress2(out.data(), &size, bytes.data(), uLong(bytes.size()), Z_BEST_COMPRESSION) != Z_OK)
    throw ToolError("zlib could not pack a picture");
  out.resize(size);
  return out;
}

std::vector<uint8_t> zlibUnpack(const uint8_t* data, size_t size, size_t expected) {
  if (expected > kMaxPictureBytes) throw ToolError("a packed part claims " + std::to_string(expected) + " bytes unpacked");
  std::vector<uint8_t> out(expected);
  uLongf got = uLongf(expected);
  // uncompress() wants room for all of it: a stream that unpacks to more is damaged.
  if (uncompress(out.data(), &got, data, uLong(size)) != Z_OK || got != expected)
    throw ToolError("a packed part of the file is damaged");
  return out;
}

Resource::Resource(std::vector<uint8_t> file) : file_(std::move(file)) {
  if (file_.size() < kHeaderSize || std::memcmp(file_.data(), "\0PRF", 4) != 0)
    throw ToolError("not a PSP resource container (no PRF header)");
  if (file_.size() > kMaxFileBytes) throw ToolError("too large for a PSP resource container");
  const uint32_t flags = header(kFlags);
  tocCompression_ = int(flags >> 4 & 0xF);
  if (tocCompression_ == Stored) {
    toc_ = file_;
    tocEnd_ = kHeaderSize;
  } else if (tocCompression_ == Zlib) {
    if (file_.size() < kHeaderSize + 12) throw ToolError("the compressed table of contents is cut short");
    const uint32_t packed = le32(file_, kHeaderSize), unpacked = le32(file_, kHeaderSize + 4);
    if (packed > file_.size() - kHeaderSize - 12) throw ToolError("the compressed table of contents is cut short");
    toc_.assign(file_.begin(), file_.begin() + kHeaderSize);
    const std::vector<uint8_t> body = zlibUnpack(&file_[kHeaderSize + 12], packed, unpacked);
    toc_.insert(toc_.end(), body.begin(), body.end());
    tocEnd_ = kHeaderSize + 12 + packed;
  } else if (tocCompression_ == Rlz) {
    throw ToolError("its table of contents is packed with RLZ (firmware 2.70 and later), which doit cannot unpack");
  } else {
    throw ToolError("its table of contents is packed in an unknown way (" + std::to_string(tocCompression_) + ")");
  }
  for (size_t field : kDataPointers) {
    const uint32_t at = header(field), length = header(field + 4);
    if (at != kNone && length > 0 && (at > file_.size() || length > file_.size() - at))
      throw ToolError("a data section lies outside the file (it is cut short or damaged)");
  }
  pictureStart_ = header(kImageData);
  pictureLength_ = header(kImageDataLength);
  if (pictureStart_ == kNone || pictureLength_ == 0) {
    pictureStart_ = uint32_t(file_.size());
    pictureLength_ = 0;
  }
  if (pictureStart_ > file_.size() || pictureLength_ > file_.size() - pictureStart_)
    throw ToolError("its picture section lies outside the file");
  if (pictureStart_ < tocEnd_) throw ToolError("its picture section overlaps the table of contents");
  // Unpacked, the table of contents shares the file's offsets: it must lie before the pictures,
  // which may move.
  if (tocCompression_ == Stored)
    for (size_t field : kTocPointers)
      if (header(field) != kNone && header(field) >= pictureStart_)
        throw ToolError("its table of contents lies after its pictures, which doit does not rearrange");
  readPictures();
}

uint32_t Resource::header(size_t at) const { return le32(file_, at); }

uint32_t Resource::version() const { return header(kVersion); }

void Resource::readPictures() {
  // The picture list gives every picture entry; without one, the picture table's entries follow it.
  std::vector<uint32_t> entries;
  const uint32_t list = header(kImagePointers), listLength = header(kImagePointersLength);
  if (list != kNone && listLength > 0) {
    if (list > toc_.size() || listLength > toc_.size() - list || listLength % 4)
      throw ToolError("its picture list lies outside the table of contents");
    if (listLength / 4 > kMaxPictures) throw ToolError("it lists too many pictures");
    for (uint32_t i = 0; i < listLength; i += 4) entries.push_back(le32(toc_, list + i));
  } else if (header(kImageTable) != kNone) {
    const uint32_t table = header(kImageTable);
    if (table > toc_.size() || toc_.size() - table < kEntrySize || toc_[table + 1] != kImageId)
      throw ToolError("its picture table lies outside the table of contents");
    const uint32_t count = le32(toc_, table + 16);
    if (count > kMaxPictures) throw ToolError("it lists too many pictures");
    uint64_t at = table + kEntrySize;
    for (uint32_t i = 0; i < count; ++i) {
      if (at + kEntrySize + 4 > toc_.size()) throw ToolError("its picture table is cut short");
      entries.push_back(uint32_t(at));
      const uint32_t next = le32(toc_, size_t(at) + 20);
      at = next ? at + next : at + kEntrySize + pictureFieldsSize(getLe16(&toc_[size_t(at) + kEntrySize + 2]));
    }
  }
  const uint32_t labels = header(kLabels), labelsLength = header(kLabelsLength);
  const bool haveLabels = labels != kNone && labels <= toc_.size() && labelsLength <= toc_.size() - labels;
  for (uint32_t entry : entries) {
    if (entry > toc_.size() || toc_.size() - entry < kEntrySize + 12)
      throw ToolError("a picture entry lies outside the table of contents");
    if (toc_[entry + 1] != kImageId || toc_[entry] != 1)
      throw ToolError("its picture list names an entry that is not a picture");
    Picture p;
    p.entry = entry;
    const size_t f = entry + kEntrySize;
    p.format = getLe16(&toc_[f]);
    p.compression = getLe16(&toc_[f + 2]);
    if (tocCompression_ == Stored && f + pictureFieldsSize(p.compression) > pictureStart_)
      throw ToolError("a picture entry lies among the pictures");
    p.packed = le32(toc_, f + 4);
    p.offset = le32(toc_, f + 8);
    if (p.compression != Stored) {
      if (toc_.size() - f < 16) throw ToolError("a picture entry is cut short");
      p.unpacked = le32(toc_, f + 12);
    } else {
      p.unpacked = p.packed;
    }
    if (p.offset > pictureLength_ || p.packed > pictureLength_ - p.offset)
      throw ToolError("a picture lies outside the picture section");
    const uint32_t label = le32(toc_, entry + 4);
    if (haveLabels && label != kNone && label < labelsLength) {
      const char* s = reinterpret_cast<const char*>(&toc_[labels + label]);
      p.label.assign(s, strnlen(s, labelsLength - label));
    }
    pictures_.push_back(p);
  }
}

std::vector<uint8_t> Resource::pictureData(const Picture& p) const {
  const uint8_t* at = &file_[pictureStart_ + p.offset];
  switch (p.compression) {
  case Stored: return std::vector<uint8_t>(at, at + p.packed);
  case Zlib: return zlibUnpack(at, p.packed, p.unpacked);
  case Rlz: throw ToolError("the picture '" + p.label + "' is packed with RLZ, which doit cannot unpack");
  default: throw ToolError("the picture '" + p.label + "' is packed in an unknown way");
  }
}

std::vector<uint8_t> Resource::withPictures(const std::map<size_t, std::vector<uint8_t>>& replacements) const {
  std::vector<uint8_t> toc = toc_;
  // The new picture section: each picture in its old order; pictures that shared bytes still do.
  std::vector<size_t> order(pictures_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return pictures_[a].offset < pictures_[b].offset; });
  std::vector<uint8_t> section;
  std::map<std::pair<uint32_t, uint32_t>, uint32_t> moved; // old (offset, size) -> new offset
  for (size_t i : order) {
    const Picture& p = pictures_[i];
    uint16_t compression = p.compression;
    uint32_t unpacked = p.unpacked;
    std::vector<uint8_t> stored;
    uint32_t at = 0;
    auto found = replacements.find(i);
    if (found != replacements.end()) {
      if (found->second.size() > kMaxPictureBytes) throw ToolError("a new picture is too large");
      unpacked = uint32_t(found->second.size());
      if (compression == Stored) {
        stored = found->second;
      } else {
        compression = Zlib; // also for an RLZ one: the entry keeps its size
        stored = zlibPack(found->second);
      }
      at = uint32_t(section.size());
      section.insert(section.end(), stored.begin(), stored.end());
    } else {
      auto key = std::make_pair(p.offset, p.packed);
      auto seen = moved.find(key);
      if (seen != moved.end()) {
        at = seen->second;
      } else {
        at = uint32_t(section.size());
        moved[key] = at;
        section.insert(section.end(), file_.begin() + pictureStart_ + p.offset,
                       file_.begin() + pictureStart_ + p.offset + p.packed);
      }
    }
    while (section.size() % 4) section.push_back(0);
    const size_t f = p.entry + kEntrySize;
    putLe16(&toc[f + 2], compression);
    putLe32(&toc[f + 4], found != replacements.end() ? uint32_t(stored.size()) : p.packed);
    putLe32(&toc[f + 8], at);
    if (compression != Stored) putLe32(&toc[f + 12], unpacked);
  }
  if (section.size() > kMaxFileBytes) throw ToolError("the new pictures are too large");

  // Lay the file out again: header, table of contents, the data before the pictures, the new
  // picture section, the rest; data offsets past a part that changed size move with it.
  const size_t oldPictureEnd = size_t(pictureStart_) + pictureLength_;
  std::vector<uint8_t> out;
  size_t tocGrowth = 0; // bytes the packed table of contents grew by (modulo 2^64)
  if (tocCompression_ == Stored) {
    out.assign(toc.begin(), toc.begin() + pictureStart_);
  } else {
    const std::vector<uint8_t> body(toc.begin() + kHeaderSize, toc.end());
    const std::vector<uint8_t> packed = zlibPack(body);
    out.assign(toc.begin(), toc.begin() + kHeaderSize);
    uint8_t info[12];
    putLe32(info, uint32_t(packed.size()));
    putLe32(info + 4, uint32_t(body.size()));
    std::memcpy(info + 8, &file_[kHeaderSize + 8], 4);
    out.insert(out.end(), info, info + 12);
    out.insert(out.end(), packed.begin(), packed.end());
    while ((out.size() - tocEnd_) % 4) out.push_back(0); // data sections stay on their word boundaries
    tocGrowth = out.size() - tocEnd_;
    out.insert(out.end(), file_.begin() + tocEnd_, file_.begin() + pictureStart_);
  }
  out.insert(out.end(), section.begin(), section.end());
  out.insert(out.end(), file_.begin() + oldPictureEnd, file_.end());
  const size_t pictureGrowth = section.size() - pictureLength_;

  auto move = [&](size_t field, bool fileOffset) {
    const uint32_t v = le32(file_, field);
    if (v == kNone) return;
    size_t moved = v;
    if (fileOffset && tocCompression_ != Stored && v >= tocEnd_) moved += tocGrowth;
    if (v >= oldPictureEnd && (fileOffset || tocCompression_ == Stored)) moved += pictureGrowth;
    putLe32(&out[field], uint32_t(moved));
  };
  for (size_t field : kDataPointers) move(field, true);
  if (tocCompression_ == Stored)
    for (size_t field : kTocPointers) move(field, false);
  if (pictureLength_ == 0 && header(kImageData) == kNone) {
    putLe32(&out[kImageData], kNone);
  } else {
    putLe32(&out[kImageData], uint32_t(pictureStart_ + tocGrowth));
    putLe32(&out[kImageDataLength], uint32_t(section.size()));
  }
  return out;
}

} // namespace kivo::rco

#include "dax.h"

#include "codec.h"

#include <algorithm>
#include <string>

namespace kivo::dax {

void compress(const ByteSource& src, ByteSink& out, Effort effort, unsigned threads, const Progress& progress) {
  const uint64_t total = src.size();
  if (total > 0xFFFFFFFFu) throw ToolError("the image is too large for a DAX (4 GiB at most)");
  const uint64_t frames = (total + kFrameSize - 1) / kFrameSize;
  const uint64_t base = out.position();
  uint8_t header[kHeaderSize] = {};
  putLe32(header, kMagic);
  putLe32(header + 4, uint32_t(total));
  putLe32(header + 8, 1);  // version
  putLe32(header + 12, 0); // no plain areas
  out.write(header, sizeof header);
  std::vector<uint8_t> offsets(size_t(frames) * 4), lengths(size_t(frames) * 2);
  out.write(offsets.data(), offsets.size()); // both tables are filled in at the end
  out.write(lengths.data(), lengths.size());

  uint64_t pos = out.position() - base;
  size_t frame = 0;
  BlockStream s;
  // The last frame is padded with zeros to a whole one, as other converters write it.
  s.totalBytes = frames * kFrameSize;
  s.blockSize = kFrameSize;
  s.read = [&src, total](uint64_t off, uint8_t* buf, size_t n) { readPadded(src, total, off, buf, n); };
  s.makeEncoder = [effort] { return std::make_unique<SmallestEncoder>(effort, SmallestEncoder::ZlibOnly); };
  s.sink = [&](const uint8_t* data, size_t n, bool stored) {
    if (stored || n > 0xFFFF) throw ToolError("internal error: DAX frame not compressed");
    if (pos + n > 0xFFFFFFFFu) throw ToolError("the image is too large for a DAX (4 GiB at most)");
    putLe32(&offsets[frame * 4], uint32_t(pos));
    putLe16(&lengths[frame * 2], uint16_t(n));
    ++frame;
    out.write(data, n);
    pos += n;
  };
  s.progress = [&progress, total](uint64_t done) {
    if (progress) progress(std::min(done, total));
  };
  encodeBlocks(s, threads);
  out.writeAt(base + kHeaderSize, offsets.data(), offsets.size());
  out.writeAt(base + kHeaderSize + offsets.size(), lengths.data(), lengths.size());
}

void compress(const ByteSource& src, ByteSink& out, int level, unsigned threads, const Progress& progress) {
  Effort effort;
  effort.level = level;
  compress(src, out, effort, threads, progress);
}

Reader::Reader(const ByteSource& src) : BlockImage(src) {
  blockSize_ = kFrameSize;
  auto corrupt = [](const std::string& why) { return ToolError("not a valid DAX file: " + why); };
  const uint64_t fileSize = src.size();
  if (fileSize < kHeaderSize) throw corrupt("shorter than its header");
  uint8_t h[kHeaderSize];
  src.readAt(0, h, sizeof h);
  if (getLe32(h) != kMagic) throw corrupt("no DAX signature");
  imageSize_ = getLe32(h + 4);
  const uint32_t version = getLe32(h + 8);
  if (version > 1) throw ToolError("DAX version " + std::to_string(version) + " is not supported");
  const uint64_t areas = version >= 1 ? getLe32(h + 12) : 0;
  const uint64_t frames = (imageSize_ + kFrameSize - 1) / kFrameSize;
  const uint64_t tables = frames * 6 + areas * 8;
  if (tables > fileSize - kHeaderSize) throw corrupt("the frame tables run past the end of the file");

  std::vector<uint8_t> raw(static_cast<size_t>(tables));
  src.readAt(kHeaderSize, raw.data(), raw.size());
  offsets_.resize(size_t(frames));
  lengths_.resize(size_t(frames));
  plain_.assign(size_t(frames), false);
  for (size_t i = 0; i < frames; ++i) {
    offsets_[i] = getLe32(&raw[i * 4]);
    lengths_[i] = getLe16(&raw[frames * 4 + i * 2]);
  }
  // Areas may overlap; counting starts and ends keeps this linear whatever they claim.
  std::vector<int64_t> edges(size_t(frames) + 1);
  for (uint64_t a = 0; a < areas; ++a) {
    const uint8_t* p = &raw[size_t(frames * 6 + a * 8)];
    uint64_t first = getLe32(p), count = getLe32(p + 4);
    if (first + count > frames) throw corrupt("a plain area lies outside the image");
    ++edges[size_t(first)];
    --edges[size_t(first + count)];
  }
  int64_t depth = 0;
  for (size_t i = 0; i < frames; ++i)
    plain_[i] = (depth += edges[i]) > 0;
  for (size_t i = 0; i < frames; ++i) {
    uint64_t need =
        plain_[i] ? plainSize(i) : lengths_[i];
    if (offsets_[i] + need > fileSize)
      throw corrupt("frame " + std::to_string(i) + " lies past the end of the file");
  }
}

BlockImage::Block Reader::block(uint64_t i) const {
  if (plain_[size_t(i)]) return {offsets_[size_t(i)], plainSize(i), Codec::Plain, true};
  return {offsets_[size_t(i)], lengths_[size_t(i)], Codec::Zlib, true};
}

ToolError Reader::damaged(uint64_t i) const {
  return ToolError("corrupt DAX: frame " + std::to_string(i) + " does not inflate");
}

} // namespace kivo::dax

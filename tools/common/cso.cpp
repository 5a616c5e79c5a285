#include "cso.h"

#include "codec.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kivo::cso {

void write(const ByteSource& src, ByteSink& out, const WriteOptions& options, const Progress& progress) {
  const uint32_t blockSize = options.blockSize;
  if (blockSize < kBlockSize || blockSize > kMaxBlockSize || (blockSize & (blockSize - 1)))
    throw ToolError("invalid block size " + std::to_string(blockSize));
  const Format format = options.format;
  if (format != Format::Cso1 && format != Format::Cso2 && format != Format::Zso)
    throw ToolError("internal error: not a CSO format");
  const uint64_t total = src.size();
  const uint64_t blocks = (total + blockSize - 1) / blockSize;
  // Index entries hold 31-bit offsets; without an index shift the file must stay below 2 GiB.
  const uint64_t dataStart = kHeaderSize + (blocks + 1) * 4;
  auto tooBig = [] { return ToolError("the image is too large for a CSO (it would pass 2 GiB)"); };
  if (dataStart > kPlainFlag - 1) throw tooBig();

  uint8_t header[kHeaderSize] = {'C', 'I', 'S', 'O'};
  if (format == Format::Zso) std::memcpy(header, "ZISO", 4);
  putLe32(header + 4, kHeaderSize);
  putLe64(header + 8, total);
  putLe32(header + 16, blockSize);
  header[20] = format == Format::Cso2 ? 2 : 1; // version
  header[21] = 0;                              // index shift
  const uint64_t base = out.position();
  out.write(header, sizeof header);
  std::vector<uint8_t> index(size_t(blocks + 1) * 4);
  out.write(index.data(), index.size()); // filled in once the block sizes are known

  uint64_t pos = dataStart;
  size_t at = 0;
  BlockStream s;
  // The last block is padded with zeros to a whole one: players that take every block to decode
  // to the block size read it as well as those that cut the image at its size.
  s.totalBytes = blocks * blockSize;
  s.blockSize = blockSize;
  s.read = [&src, total](uint64_t off, uint8_t* buf, size_t n) { readPadded(src, total, off, buf, n); };
  const auto allowed = format == Format::Cso1   ? SmallestEncoder::DeflateOnly
                       : format == Format::Zso ? SmallestEncoder::Lz4Only
                                               : SmallestEncoder::DeflateOrLz4;
  const Effort effort = options.effort;
  s.makeEncoder = [effort, allowed] { return std::make_unique<SmallestEncoder>(effort, allowed); };
  s.put = [&](const uint8_t* data, size_t n, Codec codec) {
    // Version 1 and ZSO flag stored blocks; version 2 flags LZ4 blocks and tells stored ones by
    // their length, a whole block's worth.
    const bool flag = format == Format::Cso2 ? codec == Codec::Lz4 : codec == Codec::Plain;
    putLe32(&index[at], uint32_t(pos) | (flag ? kPlainFlag : 0));
    at += 4;
    out.write(data, n);
    pos += n;
    if (pos > kPlainFlag - 1) throw tooBig();
  };
  s.progress = [&progress, total](uint64_t done) {
    if (progress) progress(std::min(done, total));
  };
  encodeBlocks(s, options.threads);
  putLe32(&index[at], uint32_t(pos));
  out.writeAt(base + kHeaderSize, index.data(), index.size());
}

void compress(const ByteSource& src, ByteSink& out, int level, unsigned threads, const Progress& progress) {
  WriteOptions options;
  options.effort.level = level;
  options.threads = threads;
  write(src, out, options, progress);
}

Reader::Reader(const ByteSource& src) : BlockImage(src) {
  auto corrupt = [](const std::string& why) { return ToolError("not a valid CSO file: " + why); };
  const uint64_t fileSize = src.size();
  if (fileSize < kHeaderSize) throw corrupt("shorter than its header");
  uint8_t h[kHeaderSize];
  src.readAt(0, h, sizeof h);
  const bool zso = std::memcmp(h, "ZISO", 4) == 0;
  if (!zso && std::memcmp(h, "CISO", 4) != 0) throw corrupt("no CISO signature");
  imageSize_ = getLe64(h + 8);
  blockSize_ = getLe32(h + 16);
  const unsigned version = h[20];
  align_ = h[21];
  if (zso)
    format_ = Format::Zso;
  else if (version == 2)
    format_ = Format::Cso2;
  else if (version > 2)
    throw ToolError("CSO version " + std::to_string(version) + " is not supported");
  if (blockSize_ < 512 || blockSize_ > (1u << 20) || (blockSize_ & (blockSize_ - 1)))
    throw corrupt("block size " + std::to_string(blockSize_));
  if (align_ > 31) throw corrupt("index shift " + std::to_string(align_));

  const uint64_t blocks = blockCount();
  // Every block needs an index entry in the file, which bounds what the header may claim.
  if (blocks >= (fileSize - kHeaderSize) / 4) throw corrupt("the index runs past the end of the file");
  index_.resize(size_t(blocks + 1));
  std::vector<uint8_t> raw(index_.size() * 4);
  src.readAt(kHeaderSize, raw.data(), raw.size());
  const uint64_t dataStart = kHeaderSize + raw.size();
  uint64_t prev = dataStart;
  for (size_t i = 0; i < index_.size(); ++i) {
    index_[i] = getLe32(&raw[i * 4]);
    uint64_t off = offsetOf(i);
    if (off < prev || off > fileSize)
      throw corrupt("index entry " + std::to_string(i) + " points " +
                    (off > fileSize ? "past the end of the file" : "backwards"));
    prev = off;
  }
}

BlockImage::Block Reader::block(uint64_t i) const {
  const uint64_t offset = offsetOf(i), avail = offsetOf(i + 1) - offset;
  const uint32_t size = plainSize(i);
  const bool flag = index_[size_t(i)] & kPlainFlag;
  // Version 2 marks LZ4 blocks with the flag and tells stored blocks by their length: a whole
  // block's worth, or a short last block stored at its own size by a writer that did not pad it.
  const bool plain = format_ == Format::Cso2 ? avail >= blockSize_ || (size < blockSize_ && avail == size) : flag;
  if (plain) {
    if (avail < size) throw ToolError("corrupt CSO: stored block " + std::to_string(i) + " is cut short");
    return {offset, size, Codec::Plain, true};
  }
  const Codec codec = format_ == Format::Zso || (format_ == Format::Cso2 && flag) ? Codec::Lz4 : Codec::Deflate;
  // A compressed block never needs much more room than its plain size; anything beyond is
  // padding from an index shift, and is not read.
  const uint64_t most = uint64_t(blockSize_) * 2 + 1024;
  const uint32_t length = uint32_t(std::min(avail, most));
  return {offset, length, codec, align_ == 0 && avail <= most};
}

ToolError Reader::damaged(uint64_t i) const {
  return ToolError(std::string("corrupt ") + (format_ == Format::Zso ? "ZSO" : "CSO") + ": block " +
                   std::to_string(i) + " does not " + (block(i).codec == Codec::Lz4 ? "decompress" : "inflate"));
}

} // namespace kivo::cso

#include "image.h"

#include "chd.h"
#include "codec.h"
#include "cso.h"
#include "dax.h"
#include "pipeline.h"

#include <algorithm>
#include <cstring>

namespace kivo {

namespace {

// A plain image: the file's own bytes.
class PlainImage : public ImageSource {
public:
  explicit PlainImage(const ByteSource& file) : file_(file) {}
  Format format() const override { return Format::Iso; }
  uint64_t size() const override { return file_.size(); }
  void readAt(uint64_t off, void* buf, size_t n) const override { file_.readAt(off, buf, n); }

private:
  const ByteSource& file_;
};

// Stores every block as it is: copying through the block pipeline reads on several threads.
struct StoreEncoder : BlockEncoder {
  size_t encode(const uint8_t*, size_t, uint8_t*, size_t) override { return 0; }
  size_t bound(size_t) override { return 0; }
};

} // namespace

const char* formatName(Format format) {
  switch (format) {
  case Format::Iso: return "ISO";
  case Format::Cso1: return "CSO v1";
  case Format::Cso2: return "CSO v2";
  case Format::Zso: return "ZSO";
  case Format::Dax: return "DAX";
  case Format::Chd: return "CHD";
  }
  return "?";
}

uint32_t BlockImage::plainSize(uint64_t i) const {
  return uint32_t(std::min<uint64_t>(blockSize_, imageSize_ - i * blockSize_));
}

bool BlockImage::decodeStored(uint64_t i, const Block& b, const uint8_t* in, uint8_t* out) const {
  // Other converters pad the last block to a whole one; what lies past the image is dropped.
  const uint32_t size = plainSize(i);
  return decodeBlock(b.codec, in, b.length, out, size, b.exact, size < blockSize_ ? blockSize_ : size);
}

void BlockImage::readAt(uint64_t off, void* buf, size_t n) const {
  if (off > imageSize_ || n > imageSize_ - off) throw ToolError("read past the end of the image");
  if (n == 0) return;
  auto* dst = static_cast<uint8_t*>(buf);
  thread_local std::vector<uint8_t> partial;
  thread_local std::vector<Block> blocks;
  const uint64_t first = off / blockSize_, end = (off + n - 1) / blockSize_ + 1;
  blocks.clear();
  for (uint64_t i = first; i < end; ++i)
    blocks.push_back(block(i));
  readBlocks(
      file_, first, end, [&](uint64_t i) { return BlockSpan{blocks[i - first].offset, blocks[i - first].length}; },
      [&](uint64_t i, const uint8_t* in) {
        const Block& b = blocks[i - first];
        const uint64_t at = i * blockSize_;
        const uint32_t size = plainSize(i);
        // Whole blocks decode straight into the caller's buffer; the ends of the range, and a
        // short last block that may decode to a padded whole one, go through a block of their own.
        const bool whole = at >= off && at + size <= off + n && size == blockSize_;
        if (!whole) partial.resize(blockSize_);
        uint8_t* out = whole ? dst + (at - off) : partial.data();
        if (!decodeStored(i, b, in, out)) throw damaged(i);
        if (!whole) {
          const uint64_t from = std::max(at, off), to = std::min<uint64_t>(at + size, off + n);
          std::memcpy(dst + (from - off), partial.data() + (from - at), size_t(to - from));
        }
      });
}

void BlockImage::decompress(ByteSink& out, const Progress& progress, unsigned threads) const {
  copyImage(*this, out, threads, progress);
}

std::unique_ptr<ImageSource> openImage(const ByteSource& file) {
  uint8_t magic[4] = {};
  if (file.size() >= 4) file.readAt(0, magic, 4);
  if (std::memcmp(magic, "CISO", 4) == 0 || std::memcmp(magic, "ZISO", 4) == 0)
    return std::make_unique<cso::Reader>(file);
  if (getLe32(magic) == dax::kMagic) return std::make_unique<dax::Reader>(file);
  if (chd::isChd(file)) {
    auto chd = std::make_unique<chd::Reader>(file);
    if (chd->isCd())
      throw ToolError("this CHD file holds a CD (a PS1 disc?), not a UMD image: psx makes an EBOOT of it");
    return chd;
  }
  return std::make_unique<PlainImage>(file);
}

void readPadded(const ByteSource& src, uint64_t size, uint64_t off, uint8_t* buf, size_t n) {
  const size_t have = off < size ? size_t(std::min<uint64_t>(n, size - off)) : 0;
  if (have) src.readAt(off, buf, have);
  std::memset(buf + have, 0, n - have);
}

void copyImage(const ByteSource& src, ByteSink& out, unsigned threads, const Progress& progress) {
  BlockStream s;
  s.totalBytes = src.size();
  s.blockSize = 256 * 1024;
  s.read = [&src](uint64_t off, uint8_t* buf, size_t n) { src.readAt(off, buf, n); };
  s.makeEncoder = [] { return std::make_unique<StoreEncoder>(); };
  s.sink = [&out](const uint8_t* data, size_t n, bool) { out.write(data, n); };
  s.progress = progress;
  encodeBlocks(s, threads);
}

void compareImages(const ByteSource& written, const ByteSource& original, const std::string& what,
                   unsigned threads, const Progress& progress) {
  auto differs = [&](uint64_t at) {
    return ToolError("verification failed: " + what + " differs from the input at byte " + std::to_string(at));
  };
  if (written.size() != original.size())
    throw ToolError("verification failed: " + what + " holds " + std::to_string(written.size()) +
                    " bytes instead of " + std::to_string(original.size()));
  BlockStream s;
  s.totalBytes = original.size();
  s.blockSize = 256 * 1024;
  s.read = [&](uint64_t off, uint8_t* buf, size_t n) {
    thread_local std::vector<uint8_t> theirs;
    theirs.resize(n);
    written.readAt(off, buf, n);
    original.readAt(off, theirs.data(), n);
    if (std::memcmp(buf, theirs.data(), n) != 0) {
      size_t i = 0;
      while (buf[i] == theirs[i])
        ++i;
      throw differs(off + i);
    }
  };
  s.makeEncoder = [] { return std::make_unique<StoreEncoder>(); };
  s.sink = [](const uint8_t*, size_t, bool) {};
  s.progress = progress;
  encodeBlocks(s, threads);
}

} // namespace kivo

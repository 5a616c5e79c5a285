#include "pspcheck.h"

#include "cso.h"
#include "dax.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kivo {

namespace {

constexpr uint64_t kChunk = 1 << 20;

// The deflate stream inside a zlib frame: after its two-byte header, with no preset dictionary.
bool zlibBody(const uint8_t* frame, size_t n, const uint8_t*& body, size_t& len) {
  if (n < 6 || (frame[0] & 0x0F) != 8 || (frame[0] * 256u + frame[1]) % 31 != 0 || (frame[1] & 0x20)) return false;
  body = frame + 2;
  len = n - 2;
  return true;
}

std::string plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Copies len bytes of src at off to out in pieces, whatever their size.
void copyRange(const ByteSource& src, uint64_t off, uint64_t len, ByteSink& out) {
  std::vector<uint8_t> buf(size_t(std::min(len, kChunk)));
  while (len > 0) {
    const size_t n = size_t(std::min<uint64_t>(len, buf.size()));
    src.readAt(off, buf.data(), n);
    out.write(buf.data(), n);
    off += n;
    len -= n;
  }
}

// Reads block i's stored bytes (never more than the codec can use) into buf.
const uint8_t* readStored(const ByteSource& file, const BlockImage::Block& b, std::vector<uint8_t>& buf) {
  buf.resize(b.length);
  file.readAt(b.offset, buf.data(), b.length);
  return buf.data();
}

} // namespace

void StreamCounts::add(const DeflateShape& shape) {
  ++streams;
  if (shape.zlibShaped()) return;
  ++misshapen;
  crossing += shape.crossingRuns > 0;
  thin += shape.thinCodes > 0;
  incomplete += shape.incompleteCodes > 0;
}

std::string StreamCounts::describe() const {
  std::string text = std::to_string(misshapen) + " of " + plural(streams, "deflate stream", "deflate streams") +
                     (streams == 1 ? " is" : " are") + " not in zlib's shape";
  std::vector<std::string> kinds;
  if (crossing) kinds.push_back(std::to_string(crossing) + " with a code-length run across the two tables");
  if (thin) kinds.push_back(std::to_string(thin) + " with a code of fewer than two symbols");
  if (incomplete) kinds.push_back(std::to_string(incomplete) + " with an incomplete code");
  const uint64_t other = misshapen - std::min(misshapen, crossing + thin + incomplete);
  if (other && kinds.empty()) kinds.push_back("that zlib would not read");
  for (size_t k = 0; k < kinds.size(); ++k)
    text += (k == 0 ? " (" : ", ") + kinds[k];
  return text + (kinds.empty() ? "" : ")");
}

std::string PspCheck::what() const {
  return std::string(formatName(format)) + ", " + plural(blocks, "block", "blocks") + " of " +
         std::to_string(blockSize) + " bytes";
}

PspCheck checkForPsp(const ByteSource& file, const Progress& progress) {
  std::unique_ptr<ImageSource> opened = openImage(file);
  auto* image = dynamic_cast<BlockImage*>(opened.get());
  if (!image) throw ToolError("not a CSO, ZSO or DAX file");
  PspCheck check;
  check.format = image->format();
  check.blockSize = image->blockSize();
  check.blocks = image->blockCount();
  // What the common custom firmware read: CSO version 1 in 2048-byte blocks, and DAX.
  if (check.format == Format::Cso2 || check.format == Format::Zso)
    check.notes.push_back(std::string(formatName(check.format)) +
                          ": the common custom firmware read CSO version 1 only");
  if (check.format != Format::Dax && check.blockSize != cso::kBlockSize)
    check.notes.push_back("blocks of " + std::to_string(check.blockSize) +
                          " bytes: the common custom firmware read 2048-byte blocks only");
  std::vector<uint8_t> plain(image->blockSize());
  const uint64_t blocks = check.blocks;
  readBlocks(
      file, blocks, [&](uint64_t i) { auto b = image->storedBlock(i); return BlockSpan{b.offset, b.length}; },
      [&](uint64_t i, const uint8_t* data) {
        const BlockImage::Block b = image->storedBlock(i);
        const uint8_t* body = data;
        size_t len = b.length;
        if (b.codec == Codec::Deflate || (b.codec == Codec::Zlib && zlibBody(data, b.length, body, len)))
          check.counts.add(inspectDeflate(body, len));
        else if (b.codec == Codec::Zlib)
          check.counts.add(DeflateShape{});
        if (!image->decodeStored(i, b, data, plain.data()) && check.damaged++ == 0) check.firstDamaged = i;
        if (progress && (i % 256 == 255 || i + 1 == blocks)) progress(b.offset + b.length);
      });
  return check;
}

namespace {

// The new bytes of a stored deflate stream in zlib's shape, or empty when it has it already.
// Throws for a stream that cannot be read.
std::vector<uint8_t> reshaped(const uint8_t* body, size_t len, uint64_t i, const BlockImage& image,
                              uint64_t& rewritten) {
  if (inspectDeflate(body, len).zlibShaped()) return {};
  std::vector<uint8_t> out(len + 1024);
  const size_t got = reshapeDeflate(body, len, out.data(), out.size());
  if (!got) throw image.damaged(i);
  out.resize(got);
  ++rewritten;
  return out;
}

uint64_t repairCso(const ByteSource& file, const cso::Reader& image, ByteSink& out, const Progress& progress) {
  const uint64_t blocks = image.blockCount();
  const uint32_t blockSize = image.blockSize();
  const unsigned shift = image.indexShift();
  const uint64_t unit = uint64_t(1) << shift;
  const Format format = image.format();
  uint8_t header[cso::kHeaderSize];
  file.readAt(0, header, sizeof header);
  const uint64_t base = out.position();
  out.write(header, sizeof header);
  std::vector<uint8_t> index(size_t(blocks + 1) * 4);
  out.write(index.data(), index.size());
  uint64_t pos = sizeof header + index.size();
  const std::vector<uint8_t> zeros(size_t(std::min<uint64_t>(unit, kChunk)));
  auto align = [&] {
    uint64_t gap = (unit - pos % unit) % unit;
    while (gap > 0) {
      const size_t n = size_t(std::min<uint64_t>(gap, zeros.size()));
      out.write(zeros.data(), n);
      pos += n;
      gap -= n;
    }
  };
  auto tooBig = [] { return ToolError("the repaired file would pass what a CSO index can address"); };
  uint64_t rewritten = 0;
  std::vector<uint8_t> buf, plain(blockSize);
  for (uint64_t i = 0; i < blocks; ++i) {
    align();
    if ((pos >> shift) > cso::kPlainFlag - 1) throw tooBig();
    const BlockImage::Block b = image.storedBlock(i);
    const uint8_t* data = readStored(file, b, buf);
    if (!image.decodeStored(i, b, data, plain.data())) throw image.damaged(i);
    uint32_t entry = uint32_t(pos >> shift);
    std::vector<uint8_t> fresh = b.codec == Codec::Deflate ? reshaped(data, b.length, i, image, rewritten)
                                                           : std::vector<uint8_t>();
    const bool flagged = image.flagged(i);
    if (fresh.empty()) {
      copyRange(file, b.offset, image.storedLength(i), out);
      pos += image.storedLength(i);
      entry |= flagged ? cso::kPlainFlag : 0;
    } else if (format == Format::Cso2 && fresh.size() >= blockSize) {
      // Version 2 tells a stored block by its length: the block goes in plain, padded to a whole one.
      std::fill(plain.begin() + image.plainSize(i), plain.end(), 0);
      out.write(plain.data(), plain.size());
      pos += plain.size();
    } else {
      out.write(fresh.data(), fresh.size());
      pos += fresh.size();
      entry |= flagged ? cso::kPlainFlag : 0;
    }
    putLe32(&index[size_t(i) * 4], entry);
    if (progress) progress(b.offset + image.storedLength(i));
  }
  align();
  if ((pos >> shift) > cso::kPlainFlag - 1) throw tooBig();
  putLe32(&index[size_t(blocks) * 4], uint32_t(pos >> shift));
  out.writeAt(base + sizeof header, index.data(), index.size());
  return rewritten;
}

uint64_t repairDax(const ByteSource& file, const dax::Reader& image, ByteSink& out, const Progress& progress) {
  const uint64_t frames = image.blockCount();
  uint8_t header[dax::kHeaderSize];
  file.readAt(0, header, sizeof header);
  const uint64_t areas = getLe32(header + 8) >= 1 ? getLe32(header + 12) : 0;
  std::vector<uint8_t> offsets(size_t(frames) * 4), lengths(size_t(frames) * 2), areaTable(size_t(areas) * 8);
  file.readAt(dax::kHeaderSize + frames * 6, areaTable.data(), areaTable.size());
  const uint64_t base = out.position();
  out.write(header, sizeof header);
  out.write(offsets.data(), offsets.size());
  out.write(lengths.data(), lengths.size());
  out.write(areaTable.data(), areaTable.size());
  uint64_t pos = out.position() - base, rewritten = 0;
  std::vector<uint8_t> buf, plain(dax::kFrameSize);
  for (uint64_t i = 0; i < frames; ++i) {
    const BlockImage::Block b = image.storedBlock(i);
    const uint8_t* data = readStored(file, b, buf);
    if (!image.decodeStored(i, b, data, plain.data())) throw image.damaged(i);
    std::vector<uint8_t> frame(data, data + b.length);
    const uint8_t* body;
    size_t len;
    if (b.codec == Codec::Zlib && zlibBody(data, b.length, body, len)) {
      std::vector<uint8_t> fresh = reshaped(body, len, i, image, rewritten);
      if (!fresh.empty()) {
        // The Adler-32 of the frame's bytes follows the stream, which now ends elsewhere.
        const DeflateShape old = inspectDeflate(body, len, true);
        if (!old.valid || old.bytes + 4 > len) throw image.damaged(i);
        frame.assign(data, data + 2);
        frame.insert(frame.end(), fresh.begin(), fresh.end());
        frame.insert(frame.end(), body + old.bytes, body + old.bytes + 4);
        if (frame.size() > 0xFFFF) throw image.damaged(i);
      }
    }
    if (pos > 0xFFFFFFFFu) throw ToolError("the repaired file would pass 4 GiB");
    putLe32(&offsets[size_t(i) * 4], uint32_t(pos));
    putLe16(&lengths[size_t(i) * 2], b.codec == Codec::Plain ? 0 : uint16_t(frame.size()));
    out.write(frame.data(), frame.size());
    pos += frame.size();
    if (progress) progress(b.offset + b.length);
  }
  // Lengths of frames in plain areas are not used; the file's own stay where a reader sees them.
  std::vector<uint8_t> oldLengths(lengths.size());
  file.readAt(dax::kHeaderSize + frames * 4, oldLengths.data(), oldLengths.size());
  for (uint64_t i = 0; i < frames; ++i)
    if (image.storedBlock(i).codec == Codec::Plain) std::memcpy(&lengths[size_t(i) * 2], &oldLengths[size_t(i) * 2], 2);
  out.writeAt(base + dax::kHeaderSize, offsets.data(), offsets.size());
  out.writeAt(base + dax::kHeaderSize + offsets.size(), lengths.data(), lengths.size());
  return rewritten;
}

} // namespace

uint64_t repairForPsp(const ByteSource& file, ByteSink& out, const Progress& progress) {
  std::unique_ptr<ImageSource> opened = openImage(file);
  if (auto* c = dynamic_cast<const cso::Reader*>(opened.get())) return repairCso(file, *c, out, progress);
  if (auto* d = dynamic_cast<const dax::Reader*>(opened.get())) return repairDax(file, *d, out, progress);
  throw ToolError("not a CSO, ZSO or DAX file");
}

} // namespace kivo

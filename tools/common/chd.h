// CHD version 5 (compressed hunks of data): a disc cut into hunks of one size, each compressed
// with one of up to four codecs named in the header, or stored, or a copy of an earlier hunk;
// a map says where each lies, and tagged metadata says what the data is (a DVD, a CD's tracks).
// docs/chd-format.md describes the layout.
#pragma once

#include "chdcodec.h"
#include "image.h"
#include "io.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace kivo::chd {

constexpr uint32_t kHeaderSize = 124;
constexpr uint32_t kVersion = 5;
/// Larger hunks than any writer makes (MAME's limit is 512 KiB); refused so that a damaged
/// header cannot ask for huge buffers.
constexpr uint32_t kMaxHunkBytes = 4 << 20;

constexpr uint32_t kMetaDvd = fourcc("DVD ");
constexpr uint32_t kMetaCdTracks = fourcc("CHT2");
constexpr uint32_t kMetaCdTracksOld = fourcc("CHTR");
constexpr uint32_t kMetaCdBinary = fourcc("CHCD");
constexpr uint32_t kMetaGdTracks = fourcc("CHGD");
constexpr uint8_t kMetaChecksummed = 1;

/// The codecs chdman writes for DVDs (createdvd) and for CDs (createcd).
const std::vector<uint32_t>& dvdCodecs();
const std::vector<uint32_t>& cdCodecs();

struct Header {
  uint32_t codecs[4] = {};
  uint64_t logicalBytes = 0, mapOffset = 0, metaOffset = 0;
  uint32_t hunkBytes = 0, unitBytes = 0;
  std::array<uint8_t, 20> rawSha1{}, sha1{}, parentSha1{};
  uint64_t hunkCount() const { return hunkBytes ? (logicalBytes + hunkBytes - 1) / hunkBytes : 0; }
};

struct Metadata {
  uint32_t tag = 0;
  uint8_t flags = kMetaChecksummed;
  std::vector<uint8_t> data;
  /// The data as text, without the terminating zero that text entries carry.
  std::string text() const;
  static Metadata ofText(uint32_t tag, const std::string& text);
};

/// How one hunk is stored, as the map says.
enum HunkType : uint8_t { kCodec0 = 0, kCodec3 = 3, kStored = 4, kSelf = 5, kParent = 6 };

struct MapEntry {
  uint8_t type = kStored;
  uint32_t length = 0; ///< bytes in the file
  uint64_t offset = 0; ///< in the file; for a copy, the hunk copied
  uint16_t crc = 0;    ///< CRC-16 of the hunk's bytes
};

/// CRC-16 as the map uses it (polynomial 0x1021, starting at 0xFFFF).
uint16_t crc16(const uint8_t* data, size_t n, uint16_t crc = 0xFFFF);

/// The compressed map: a 16-byte header and a bit stream. firstOffset is where the first stored
/// hunk lies; stored hunks follow each other in hunk order.
std::vector<uint8_t> encodeMap(const std::vector<MapEntry>& entries, uint64_t firstOffset, uint32_t hunkBytes);
/// Throws ToolError for a map that does not decode, refers to a parent or to a later hunk, or
/// fails its CRC.
std::vector<MapEntry> decodeMap(const uint8_t* data, size_t size, uint64_t hunkCount, uint32_t hunkBytes);

/// The header fields as stored.
std::array<uint8_t, kHeaderSize> encodeHeader(const Header& h);
/// The overall checksum: the data's, then each checksummed metadata entry's, in sorted order.
std::array<uint8_t, 20> overallSha1(const std::array<uint8_t, 20>& rawSha1, const std::vector<Metadata>& metadata);

/// True when the source starts like a CHD file.
bool isChd(const ByteSource& file);

/// A CHD file's data: the disc it holds, decoded hunk by hunk on demand.
class Reader : public ImageSource {
public:
  /// Checks the header, the metadata and the map against the file; throws ToolError for a file
  /// Kivo cannot read (another version, a parent needed, an unknown codec, damage).
  explicit Reader(const ByteSource& file);
  Format format() const override { return Format::Chd; }
  uint64_t size() const override { return header_.logicalBytes; }
  void readAt(uint64_t off, void* buf, size_t n) const override;

  const Header& header() const { return header_; }
  const std::vector<Metadata>& metadata() const { return metadata_; }
  const std::vector<MapEntry>& map() const { return map_; }
  bool hasMetadata(uint32_t tag) const;
  /// CD track metadata: a CD (or GD-ROM) rather than a plain disc image.
  bool isCd() const;
  /// Decodes hunk i whole (hunkBytes at out). Thread-safe.
  void readHunk(uint64_t i, uint8_t* out) const;
  /// "zlib, lzma, ...": the codecs the header names.
  std::string codecList() const;

private:
  const ByteSource& file_;
  Header header_;
  std::vector<Metadata> metadata_;
  std::vector<MapEntry> map_;
  bool checked_ = true; // the map holds CRCs
};

struct WriteOptions {
  std::vector<uint32_t> codecs; ///< at most 4; empty: the default set
  uint32_t hunkBytes = 2048;
  int level = 9;        ///< 1..9: how hard each codec tries
  unsigned threads = 0; ///< 0: every usable core
};

/// What a CHD holds, for the writer: the data by offset (read from several threads at once),
/// its size, the unit and the metadata.
struct Content {
  uint64_t bytes = 0;
  uint32_t unitBytes = 2048;
  std::vector<Metadata> metadata;
  std::function<void(uint64_t off, uint8_t* buf, size_t n)> read;
};

/// Writes a CHD: the header, the metadata, each hunk compressed with the codec that makes it
/// smallest (a hunk seen before becomes a copy of it), then the map. The file does not depend on
/// the number of threads.
void write(const Content& content, ByteSink& out, const WriteOptions& options, const Progress& progress = {});

/// A DVD CHD of a disc image (a UMD image): 2048-byte units and a "DVD " metadata entry.
void writeDvd(const ByteSource& image, ByteSink& out, const WriteOptions& options, const Progress& progress = {});

} // namespace kivo::chd

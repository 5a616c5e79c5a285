// The PSP's resource container (.rco): a header, a tree of entries (its table of contents,
// optionally zlib-compressed) and data sections for text, pictures, sounds and models.
// Only what replacing pictures needs is interpreted; every other byte is carried over as it is.
// docs/rco-format.md describes the layout and what is assumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kivo::rco {

constexpr size_t kHeaderSize = 0xA4;
constexpr size_t kEntrySize = 40;
constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint64_t kMaxFileBytes = 64ull << 20;
constexpr uint32_t kMaxPictureBytes = 16u << 20;

enum Compression : uint16_t { Stored = 0, Zlib = 1, Rlz = 2 };
enum PictureFormat : uint16_t { Png = 0, Jpeg = 1, Tiff = 2, Gif = 3, Bmp = 4, Gim = 5 };

struct Picture {
  uint32_t entry = 0;       ///< where its entry starts in the table of contents
  std::string label;        ///< its name in the label table ("" when it has none)
  uint16_t format = 0, compression = 0;
  uint32_t packed = 0;      ///< bytes stored in the picture section
  uint32_t offset = 0;      ///< from the start of the picture section
  uint32_t unpacked = 0;
};

class Resource {
public:
  /// Reads the file's structure; throws ToolError when it is no resource container, is damaged,
  /// or is compressed in a way this reader does not know.
  explicit Resource(std::vector<uint8_t> file);

  const std::vector<Picture>& pictures() const { return pictures_; }
  /// A picture's bytes, unpacked. Throws ToolError.
  std::vector<uint8_t> pictureData(const Picture& p) const;
  /// How the table of contents is stored (Stored or Zlib).
  int tableCompression() const { return tocCompression_; }
  uint32_t version() const;

  /// The file with the pictures of the given indexes (into pictures()) replaced by new bytes,
  /// each packed as its old one was (zlib for an RLZ one). Everything else is kept.
  std::vector<uint8_t> withPictures(const std::map<size_t, std::vector<uint8_t>>& replacements) const;

private:
  uint32_t header(size_t at) const;
  void readPictures();
  std::vector<uint8_t> file_;
  std::vector<uint8_t> toc_; // addressed as the entries address each other (header included)
  int tocCompression_ = Stored;
  size_t tocEnd_ = 0;        // where the file's data sections may begin
  uint32_t pictureStart_ = 0, pictureLength_ = 0;
  std::vector<Picture> pictures_;
};

/// Packs and unpacks zlib streams as the PSP's containers hold them.
std::vector<uint8_t> zlibPack(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> zlibUnpack(const uint8_t* data, size_t size, size_t expected);

} // namespace kivo::rco

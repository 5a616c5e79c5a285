// PS1 EBOOT.PBP: a PBP container whose DATA.PSAR holds a disc image as 16-sector blocks, each
// raw-deflated or stored, behind an index at +0x4000, with the blocks from +1 MiB; a game of
// several discs holds one such image per disc behind a table of their offsets.
#pragma once

#include "codec.h"
#include "disc.h"
#include "io.h"
#include "libcrypt.h"
#include "sfo.h"

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kivo::pbp {

constexpr uint32_t kHeaderSize = 40;
constexpr uint32_t kBlockSectors = 16;
constexpr uint32_t kBlockBytes = kBlockSectors * 2352; // 37632
constexpr uint32_t kIndexOffset = 0x4000;
constexpr uint32_t kDataOffset = 0x100000;
constexpr uint32_t kIndexEntry = 32;
constexpr uint32_t kMaxBlocks = (kDataOffset - kIndexOffset) / kIndexEntry; // 32256
constexpr uint32_t kTocOffset = 0x800;
constexpr uint32_t kTocRoom = (3 + 99) * 10; // A0, A1, A2 and up to 99 tracks
/// A multi-disc DATA.PSAR: this magic, then the offsets of up to five disc images at +0x200.
constexpr uint32_t kMaxDiscs = 5;
constexpr uint32_t kDiscTable = 0x200;
constexpr uint32_t kFirstDisc = 0x100000;
constexpr uint32_t kDiscAlign = 0x8000;
/// Where a multi-disc DATA.PSAR names the game, in the "_SCUS_94163" form of its first disc.
constexpr uint32_t kTitleGameId = 0x264;
/// Boot code and boot picture beyond this are no boot code a base EBOOT holds.
constexpr uint32_t kMaxBootPart = 32u << 20;

enum Section { Sfo, Icon0, Icon1, Pic0, Pic1, Snd0, DataPsp, DataPsar, kSections };
extern const char* const kSectionNames[kSections];

using Progress = std::function<void(uint64_t done)>;

/// A disc image file as raw 2352-byte sectors: a raw image as it is, a 2048-byte ISO wrapped
/// into Mode 2 Form 1 sectors.
class DiscImage : public DiscSource {
public:
  /// Throws ToolError when the source is neither kind of image.
  explicit DiscImage(const ByteSource& src);
  bool isRaw() const { return raw_; }
  uint32_t sectors() const override { return sectors_; }
  void readRaw(uint32_t first, uint32_t count, uint8_t* out) const override;

private:
  const ByteSource& src_;
  bool raw_ = false;
  uint32_t sectors_ = 0;
};

struct Artwork {
  std::vector<uint8_t> icon0, icon1, pic0, pic1, snd0;
};

std::vector<uint8_t> buildSfo(const std::string& title, const std::string& discId);

using SfoFields = sfo::Fields;
/// Throws ToolError for a damaged PARAM.SFO.
inline SfoFields parseSfo(const uint8_t* data, size_t size) { return sfo::parse(data, size); }

struct DiscToWrite {
  const DiscSource* disc;
  std::string id; ///< "SCUS94163"
  /// LibCrypt data, in sector order: its table follows the disc's blocks, its summary word goes
  /// into the header. Without it the disc image is as it always was.
  std::vector<libcrypt::Record> protection = {};
};

/// What a PS1 EBOOT the user owns gives an EBOOT for the PSP to start it: its boot code, DATA.PSP,
/// signed and not ours to ship, and the boot picture section (STARTDAT) behind its first disc
/// image, where it has one. Both are carried byte for byte.
struct BootCode {
  std::vector<uint8_t> dataPsp;
  std::vector<uint8_t> startDat; ///< empty when the base has none
};

/// What DATA.PSP holds: "an encrypted PSP module", "an ELF module", or empty for no boot code.
std::string describeBootModule(const uint8_t* head, size_t n);

/// Takes the boot code of the PS1 EBOOT in base; throws ToolError saying why when base is not a
/// PS1 EBOOT or holds no boot module. `name` names the file in the messages.
BootCode readBootCode(const ByteSource& base, const std::string& name);

/// Writes the whole EBOOT.PBP: one disc image, or a multi-disc image for several discs (at most
/// kMaxDiscs); level 0 stores every block. PARAM.SFO takes the first disc's ID. With boot code,
/// DATA.PSP is the base's and its boot picture section follows the first disc's blocks.
void write(const std::vector<DiscToWrite>& discs, const std::string& title, const Artwork& art, int level,
           ByteSink& out, unsigned threads = 0, const Progress& progress = {}, const BootCode* boot = nullptr);
inline void write(const DiscImage& image, const std::string& title, const std::string& discId, const Artwork& art,
                  int level, ByteSink& out, unsigned threads = 0, const Progress& progress = {},
                  const BootCode* boot = nullptr) {
  write({{&image, discId}}, title, art, level, out, threads, progress, boot);
}

/// One track as the table of contents lists it.
struct TocTrack {
  unsigned number = 0;
  bool audio = false;
  uint32_t start = 0; ///< sector address (LBA) of its INDEX 01
};

struct Toc {
  unsigned first = 0, last = 0;
  bool xa = false;      ///< the disc type the A0 entry records
  uint32_t leadOut = 0; ///< sector address where the lead-out starts: the disc's size
  std::vector<TocTrack> tracks;
};

/// The table of contents at +0x800 of a disc image, in the lead-in's Q-channel form.
void buildToc(const std::vector<DiscTrack>& tracks, uint32_t sectors, uint8_t* area);
/// False, with the reason, when the table is missing or does not hold together.
bool parseToc(const uint8_t* area, size_t size, Toc& toc, std::string& problem);

/// One entry of a disc image's block index.
struct IndexEntry {
  uint32_t offset = 0; ///< from the disc image's block data
  uint32_t length = 0; ///< stored bytes; exactly kBlockBytes means stored plain
  std::array<uint8_t, 16> hash{}; ///< the start of the SHA-1 of the block's sectors; zero when absent
  bool hashed() const;
};

/// One disc image of DATA.PSAR.
struct PsarDisc {
  uint64_t base = 0;    ///< file offset of its PSISOIMG0000 header
  std::string id;       ///< as stored at +0x400, "_SCUS_94163"
  uint32_t dataEnd = 0; ///< the end of its block data that +0x0C records
  bool tocValid = false;
  Toc toc;
  std::string tocProblem;
  std::vector<IndexEntry> blocks; ///< the index's entries that are not empty, in order
  /// LibCrypt data: the summary word, and the table's offset from base and its count of records
  /// (0 when the disc carries none).
  uint16_t protectionWord = 0;
  uint32_t protectionOffset = 0, protectionCount = 0;
  uint64_t dataStart() const { return base + kDataOffset; }
};

/// "_SCUS_94163" back to "SCUS94163".
std::string plainDiscId(const std::string& stored);

enum class BlockFault { None, PastEnd, Inflate, Checksum };
const char* describe(BlockFault fault);

/// Decodes one block whose stored bytes are at stored into out (kBlockBytes of room);
/// n is how many bytes came out.
BlockFault decodeBlock(Inflater& inflater, const IndexEntry& entry, const uint8_t* stored, uint8_t* out, size_t& n);

class Reader {
public:
  /// Checks the PBP header; throws ToolError.
  explicit Reader(const ByteSource& src);
  uint64_t sectionOffset(Section s) const { return offsets_[s]; }
  uint64_t sectionSize(Section s) const;
  std::vector<uint8_t> section(Section s) const;
  bool multiDisc() const;
  /// The disc images of DATA.PSAR with their tables; throws ToolError when DATA.PSAR holds no
  /// PS1 image or an image's header or index lies outside the file.
  std::vector<PsarDisc> discs() const;
  /// Writes the first disc image, cut to the volume size that its sector 16 records; throws
  /// ToolError for a damaged image.
  void extractImage(ByteSink& out) const;

private:
  const ByteSource& src_;
  std::array<uint64_t, kSections + 1> offsets_{};
};

} // namespace kivo::pbp

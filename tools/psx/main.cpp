// psx [--base BASE] [--sbi FILE]... "TITLE" "ID" "LEVEL" "IMAGE": makes EBOOT.PBP in the current
// folder from a PS1 disc image, a CUE or CloneCD sheet, a CD CHD or a playlist of discs, and the
// artwork staged beside it (ICON0.PNG, ICON1.PMF, PIC0.PNG, PIC1.PNG, SND0.AT3), with each disc's
// LibCrypt data and the boot code of a base EBOOT the user owns (BASE, else BASE.PBP beside the
// artwork) so that the PSP starts it.
#include "ccd.h"
#include "chddisc.h"
#include "cli.h"
#include "cue.h"
#include "identity.h"
#include "libcrypt.h"
#include "pbp.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <strings.h>

using namespace kivo;
namespace fs = std::filesystem;

static const char kUsage[] =
    "usage: psx [--base BASE] [--sbi FILE]... TITLE ID LEVEL IMAGE\n"
    "  writes EBOOT.PBP into the current folder from the PS1 disc IMAGE, with TITLE and the disc ID,\n"
    "  compressed at LEVEL 0-9 (0: stored); ICON0.PNG, ICON1.PMF, PIC0.PNG, PIC1.PNG and SND0.AT3 in\n"
    "  the current folder go in as well. IMAGE is one of:\n"
    "    a 2048-byte-sector ISO or a raw 2352-byte-sector image;\n"
    "    a CUE sheet (.cue) with its BIN files: data and audio tracks, one file or one per track;\n"
    "    a CD CHD file (.chd), its tracks from its metadata;\n"
    "    a CloneCD sheet (.ccd) with its .img;\n"
    "    an .m3u playlist of up to 5 discs, each an image, a sheet or a CHD, for one multi-disc EBOOT.\n"
    "  The later discs' IDs come from their SYSTEM.CNF, else from ID with its number counted on.\n"
    "  The PSP starts the EBOOT with the boot code of a PS1 EBOOT you own: BASE, or else BASE.PBP in\n"
    "  the current folder; without one the EBOOT is for PS1 emulators only.\n"
    "  An empty ID (or \"-\") is the first disc's serial from its SYSTEM.CNF; an empty TITLE (or \"-\")\n"
    "  is the first disc's volume name, else its ID.\n"
    "  A disc's LibCrypt data goes in with it: the .sbi file named by --sbi (one for each disc, in\n"
    "  order), else on the playlist's line after the disc, else the .sbi of the disc's name beside\n"
    "  it, else the Q subchannel of a CloneCD sheet's .sub.\n"
    "  Options are read only while more than four words remain: four words are always\n"
    "  TITLE ID LEVEL IMAGE, whatever they start with.\n"
    "       psx --info [--json] IMAGE...\n"
    "  shows each disc's serial, volume name and date, and tracks; a playlist shows each of its discs.";

namespace {

constexpr uintmax_t kMaxArtwork = 32u << 20;

// Staged files are written under these names, but a copy made under another letter case
// should still be found.
fs::path findStaged(const char* name) {
  std::error_code ec;
  if (fs::is_regular_file(name, ec)) return name;
  for (fs::directory_iterator it(".", ec), end; !ec && it != end; it.increment(ec)) {
    if (strcasecmp(it->path().filename().c_str(), name) == 0 && it->is_regular_file(ec)) return it->path();
  }
  return {};
}

std::vector<uint8_t> loadStaged(const char* name, std::string& found) {
  fs::path path = findStaged(name);
  if (path.empty()) return {};
  InputFile in(path.string());
  if (in.size() > kMaxArtwork)
    throw ToolError(std::string(name) + " is too large (" + describeSize(in.size()) + ")");
  std::vector<uint8_t> bytes(size_t(in.size()));
  in.readAt(0, bytes.data(), bytes.size());
  found += found.empty() ? name : std::string(", ") + name;
  return bytes;
}

// Cuts text to at most max bytes without splitting a UTF-8 character.
std::string fit(const std::string& text, size_t max, const char* what) {
  if (text.size() <= max) return text;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
    --n;
  std::fprintf(stderr, "psx: warning: the %s is longer than %zu bytes and was shortened\n", what, max);
  return text.substr(0, n);
}

bool hasExtension(const std::string& path, const char* ext) {
  const size_t n = std::strlen(ext);
  return path.size() > n && strcasecmp(path.c_str() + path.size() - n, ext) == 0;
}

struct Disc {
  std::string path;
  std::unique_ptr<InputFile> file; // an image; a sheet's disc opens its own files
  std::unique_ptr<DiscSource> source;
  std::string id;
  bool numbered = false;
  std::string sbi;                             // named on the command line or in the playlist
  std::string protectionFrom;                  // the .sbi or .sub read
  std::vector<libcrypt::Record> protection;
};

Disc openDisc(const std::string& path) {
  Disc d;
  d.path = path;
  if (hasExtension(path, ".m3u") || hasExtension(path, ".m3u8"))
    throw ToolError("'" + path + "': a playlist cannot name another playlist");
  if (hasExtension(path, ".cue")) {
    d.source = std::make_unique<CueDisc>(path);
  } else if (hasExtension(path, ".ccd")) {
    d.source = std::make_unique<CcdDisc>(path);
  } else {
    d.file = std::make_unique<InputFile>(path);
    if (chd::isChd(*d.file)) {
      try {
        d.source = std::make_unique<chd::ChdDisc>(*d.file);
      } catch (const ToolError& e) {
        throw ToolError("'" + path + "': " + e.what());
      }
    } else {
      d.source = std::make_unique<pbp::DiscImage>(*d.file);
    }
  }
  return d;
}

std::vector<Disc> openDiscs(const std::string& path) {
  std::vector<Disc> discs;
  if (!hasExtension(path, ".m3u") && !hasExtension(path, ".m3u8")) {
    discs.push_back(openDisc(path));
    return discs;
  }
  std::vector<std::string> entries;
  try {
    entries = parsePlaylist(readTextFile(path));
  } catch (const ToolError& e) {
    throw ToolError("'" + path + "': " + e.what());
  }
  const fs::path folder = fs::path(path).parent_path();
  for (const std::string& entry : entries) {
    // An .sbi line gives the disc on the line before its LibCrypt data.
    if (hasExtension(entry, ".sbi")) {
      if (discs.empty()) throw ToolError("'" + path + "' names '" + entry + "' before any disc");
      if (!discs.back().sbi.empty())
        throw ToolError("'" + path + "' names two .sbi files for '" + discs.back().path + "'");
      discs.back().sbi = findBeside(folder, entry);
      continue;
    }
    discs.push_back(openDisc(findBeside(folder, entry)));
  }
  if (discs.empty()) throw ToolError("'" + path + "' names no disc");
  if (discs.size() > pbp::kMaxDiscs)
    throw ToolError("'" + path + "' names " + std::to_string(discs.size()) + " discs; an EBOOT holds at most " +
                    std::to_string(pbp::kMaxDiscs));
  return discs;
}

// Reads the disc's LibCrypt data: the .sbi named for it, else NAME.sbi beside it, else a CloneCD
// sheet's .sub. Says where it came from, or warns when a disc known to need it has none.
void readProtection(Disc& d, size_t k, size_t discs) {
  const libcrypt::DiscShape shape{d.source->sectors(), d.source->tracks()};
  const std::string which = discs > 1 ? "disc " + std::to_string(k + 1) : "the disc";
  std::string sbi = d.sbi.empty() ? siblingFile(d.path, ".sbi") : d.sbi;
  if (!sbi.empty()) {
    d.protection = libcrypt::readSbiFile(sbi, shape);
    d.protectionFrom = sbi;
  } else if (auto* ccd = dynamic_cast<const CcdDisc*>(d.source.get()); ccd && !ccd->subPath().empty()) {
    auto sub = openRegularFile(ccd->subPath());
    d.protection = libcrypt::readSub(*sub, ccd->subPath(), shape);
    d.protectionFrom = ccd->subPath();
  }
  if (!d.protectionFrom.empty() && d.protection.empty())
    std::fprintf(stderr, "psx: warning: '%s' holds no LibCrypt record; %s goes in without protection data\n",
                 d.protectionFrom.c_str(), which.c_str());
  libcrypt::Record first;
  if (size_t n = libcrypt::uncarried(d.protection, shape, &first))
    std::fprintf(stderr,
                 "psx: warning: '%s': %zu %s (the first at %s) a control or zero byte of its own, which an EBOOT "
                 "does not carry; they go in with the disc's own\n",
                 d.protectionFrom.c_str(), n, n == 1 ? "record has" : "records have",
                 libcrypt::sectorText(first.lba).c_str());
  if (d.protectionFrom.empty()) {
    const std::string serial = readDiscId(*d.source);
    if (libcrypt::knownProtected(serial))
      std::fprintf(stderr,
                   "psx: warning: %s (%s) is known to check LibCrypt protection, and no .sbi came with it: the "
                   "game may hang on the PSP. Put %s beside it, or name one with --sbi\n",
                   which.c_str(), serial.c_str(), (fs::path(d.path).stem().string() + ".sbi").c_str());
  }
}

// The ID of disc n (from 1) when the disc does not name its own: the number part counted on
// (SCUS94163, SCUS94164, ...), as the discs of one game are usually numbered.
std::string numberedId(const std::string& id, size_t n) {
  size_t digits = id.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(id[digits - 1])))
    --digits;
  if (digits == id.size() || id.size() - digits > 18) return id + std::to_string(n);
  const unsigned long long value = std::stoull(id.substr(digits)) + (n - 1);
  std::string number = std::to_string(value);
  const size_t width = id.size() - digits;
  if (number.size() < width) number.insert(0, width - number.size(), '0');
  return id.substr(0, digits) + number;
}

std::string describeDisc(const Disc& d) {
  const std::vector<DiscTrack> tracks = d.source->tracks();
  std::string what = std::to_string(d.source->sectors()) + " sectors, ";
  if (auto* image = dynamic_cast<const pbp::DiscImage*>(d.source.get())) {
    what += image->isRaw() ? "raw image" : "ISO wrapped into raw sectors";
  } else {
    const size_t audio = size_t(std::count_if(tracks.begin(), tracks.end(),
                                               [](const DiscTrack& t) { return t.mode == TrackMode::Audio; }));
    what += std::to_string(tracks.size()) + (tracks.size() == 1 ? " track" : " tracks") + ": " +
            std::to_string(tracks.size() - audio) + " data, " + std::to_string(audio) + " audio";
  }
  return what;
}

bool isLevel(const char* text) {
  return text[0] >= '0' && text[0] <= '9' && text[1] == '\0';
}

// psx --info [--json] IMAGE...: playlists stand for their discs.
int info(const std::vector<std::string>& args) {
  bool json = false, info = false;
  std::vector<std::string> files;
  for (const std::string& a : args) {
    if (a == "--info") {
      info = true;
    } else if (a == "--json") {
      json = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError{"unknown option '" + a + "'\n" + kUsage};
    } else if (hasExtension(a, ".m3u") || hasExtension(a, ".m3u8")) {
      std::vector<std::string> entries;
      try {
        entries = parsePlaylist(readTextFile(a));
      } catch (const ToolError& e) {
        throw ToolError("'" + a + "': " + e.what());
      }
      for (const std::string& entry : entries)
        if (!hasExtension(entry, ".sbi")) files.push_back(findBeside(fs::path(a).parent_path(), entry));
    } else {
      files.push_back(a);
    }
  }
  if (!info) throw UsageError{std::string("--json goes with --info\n") + kUsage};
  if (files.empty()) throw UsageError{std::string("--info needs an image to describe\n") + kUsage};
  return printIdentities("psx", files, json);
}

} // namespace

int main(int argc, char** argv) {
  if (const int answered = answerHelpOrVersion("psx", argc, argv, kUsage); answered >= 0) return answered;
  return runTool("psx", [&] {
    // --base BASE and --sbi FILE go before the four words of the described form, and are read
    // only while more than four words remain: the four words are never options, whatever the
    // title typed on the Convert page starts with.
    std::string basePath;
    std::vector<std::string> sbis;
    while (argc > 5 && (std::strcmp(argv[1], "--base") == 0 || std::strcmp(argv[1], "--sbi") == 0)) {
      const bool base = std::strcmp(argv[1], "--base") == 0;
      if (argv[2][0] == '\0') throw UsageError{std::string(base ? "--base" : "--sbi") + " needs a file\n" + kUsage};
      if (base && !basePath.empty()) throw UsageError{std::string("--base is given twice\n") + kUsage};
      (base ? basePath : sbis.emplace_back()) = argv[2];
      argv += 2;
      argc -= 2;
    }
    // Other options (--info) take any other count of words; four words are --info only when
    // they cannot be the described form, their LEVEL being none.
    const bool options = basePath.empty() && sbis.empty() && argc > 1 && std::strncmp(argv[1], "--", 2) == 0;
    if (options && (argc != 5 || (std::strcmp(argv[1], "--info") == 0 && !isLevel(argv[3]))))
      return info(std::vector<std::string>(argv + 1, argv + argc));
    if (argc != 5) throw UsageError{std::string("expected 4 arguments\n") + kUsage};
    const int level = parseLevel(argv[3], 0, 9, kUsage);
    std::string title = fit(argv[1], 127, "title"), id = fit(argv[2], 15, "disc ID");
    const std::string imagePath = argv[4];
    if (basePath.empty()) basePath = findStaged("BASE.PBP").string();
    std::unique_ptr<pbp::BootCode> boot;
    if (!basePath.empty()) {
      InputFile base(basePath);
      boot = std::make_unique<pbp::BootCode>(pbp::readBootCode(base, basePath));
    }
    if (level == 0)
      std::fprintf(stderr, "psx: warning: level 0 stores every block, and EBOOTs with stored blocks are reported "
                           "not to start on the PSP; level 1 or more makes one that does\n");
    std::vector<Disc> discs = openDiscs(imagePath);
    if (sbis.size() > discs.size())
      throw UsageError{"--sbi names " + std::to_string(sbis.size()) + " files for " + std::to_string(discs.size()) +
                       (discs.size() == 1 ? " disc\n" : " discs\n") + kUsage};
    for (size_t k = 0; k < sbis.size(); ++k)
      discs[k].sbi = sbis[k];
    for (size_t k = 0; k < discs.size(); ++k)
      readProtection(discs[k], k, discs.size());
    // What the first disc says of itself stands in for what the user left out.
    std::string named;
    if (id.empty() || id == "-") {
      id = fit(readDiscId(*discs.front().source), 15, "disc ID");
      named += id.empty() ? "Game ID: none given, and the first disc's SYSTEM.CNF names none\n"
                          : "Game ID: " + id + ", read from the first disc's SYSTEM.CNF\n";
    }
    if (title.empty() || title == "-") {
      const std::string volume = readVolumeName(*discs.front().source);
      title = fit(volume.empty() ? id : volume, 127, "title");
      named += "Title: \"" + title + "\", " + (volume.empty() ? "the game ID" : "the first disc's volume name") + "\n";
    }
    for (size_t k = 0; k < discs.size(); ++k) {
      Disc& d = discs[k];
      if (k == 0) {
        d.id = id;
      } else {
        d.id = readDiscId(*d.source);
        d.numbered = d.id.empty();
        if (d.numbered) d.id = fit(numberedId(id, k + 1), 15, "disc ID");
      }
    }
    // Single-image readers such as rastle size the image by the volume of the first disc.
    const DiscSource& first = *discs.front().source;
    const uint32_t volume = first.volumeSectors(), dataEnd = first.tracks().front().end;
    if (volume == 0)
      std::fprintf(stderr, "psx: warning: sector 16 holds no ISO 9660 volume descriptor; extractors "
                           "will not know the size of this image\n");
    else if (volume != dataEnd)
      std::fprintf(stderr,
                   "psx: warning: the data track has %u sectors but its volume records %u; an extracted "
                   "image will have %u\n",
                   dataEnd, volume, volume);

    pbp::Artwork art;
    std::string found;
    art.icon0 = loadStaged("ICON0.PNG", found);
    art.icon1 = loadStaged("ICON1.PMF", found);
    art.pic0 = loadStaged("PIC0.PNG", found);
    art.pic1 = loadStaged("PIC1.PNG", found);
    art.snd0 = loadStaged("SND0.AT3", found);

    std::vector<pbp::DiscToWrite> parts;
    uint64_t total = 0;
    for (Disc& d : discs) {
      parts.push_back({d.source.get(), d.id, std::move(d.protection)});
      total += uint64_t((d.source->sectors() + pbp::kBlockSectors - 1) / pbp::kBlockSectors) * pbp::kBlockBytes;
    }
    // Never written over one of the files it reads, whatever name reaches it.
    std::vector<std::string> read{imagePath};
    if (boot) read.push_back(basePath);
    for (const Disc& d : discs) {
      read.push_back(d.path);
      if (auto* cue = dynamic_cast<const CueDisc*>(d.source.get()))
        read.insert(read.end(), cue->filePaths().begin(), cue->filePaths().end());
      if (auto* ccd = dynamic_cast<const CcdDisc*>(d.source.get())) read.push_back(ccd->imagePath());
      if (!d.protectionFrom.empty()) read.push_back(d.protectionFrom);
    }
    OutputFile out("EBOOT.PBP", read);
    ProgressLine progress("Compressing", total);
    pbp::write(parts, title, art, level, out, 0, std::ref(progress), boot.get());
    uint64_t size = out.position();
    out.commit();
    progress.finish();
    std::fputs(named.c_str(), stdout);
    if (discs.size() == 1) {
      std::printf("Wrote EBOOT.PBP (%s) for \"%s\" [%s] from %s (%s)\n", describeSize(size).c_str(), title.c_str(),
                  id.c_str(), imagePath.c_str(), describeDisc(discs.front()).c_str());
    } else {
      std::printf("Wrote EBOOT.PBP (%s) for \"%s\" with %zu discs from %s:\n", describeSize(size).c_str(),
                  title.c_str(), discs.size(), imagePath.c_str());
      for (size_t k = 0; k < discs.size(); ++k)
        std::printf("  Disc %zu [%s%s]: %s (%s)\n", k + 1, discs[k].id.c_str(),
                    discs[k].numbered ? ", counted on from the game ID" : "", discs[k].path.c_str(),
                    describeDisc(discs[k]).c_str());
    }
    if (first.tracks().size() > 1)
      std::printf("The first disc has audio tracks: rastle extracts its data track only; psxdisc extract\n"
                  "gives back every track as BIN/CUE.\n");
    for (size_t k = 0; k < discs.size(); ++k) {
      const std::vector<libcrypt::Record>& records = parts[k].protection;
      if (discs[k].protectionFrom.empty() || records.empty()) continue;
      std::printf("LibCrypt data%s: %zu %s from %s, summary word 0x%04X\n",
                  discs.size() > 1 ? (" of disc " + std::to_string(k + 1)).c_str() : "", records.size(),
                  records.size() == 1 ? "sector" : "sectors", discs[k].protectionFrom.c_str(),
                  unsigned(libcrypt::summaryWord(records)));
    }
    std::printf("Artwork: %s\n", found.empty() ? "none" : found.c_str());
    if (boot) {
      std::printf("Boot code: DATA.PSP (%s) from %s%s; custom firmware starts this EBOOT on the PSP.\n",
                  describeSize(boot->dataPsp.size()).c_str(), basePath.c_str(),
                  boot->startDat.empty() ? "" : ", with its boot picture");
    } else {
      std::printf("Note: this EBOOT.PBP holds the game but no PSP boot code. PS1 emulators that load PBP\n"
                  "files can run it as it is; for the PSP to start it, make it again with the boot code of\n"
                  "a PS1 EBOOT you own (psx --base, or BASE.PBP in this folder), or process it with your\n"
                  "own signed tool.\n");
    }
    return 0;
  });
}

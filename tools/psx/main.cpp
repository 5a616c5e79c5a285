// psx "TITLE" "ID" "LEVEL" "IMAGE": makes EBOOT.PBP in the current folder from a PS1 disc image
// and the artwork staged beside it (ICON0.PNG, ICON1.PMF, PIC0.PNG, PIC1.PNG, SND0.AT3).
#include "cli.h"
#include "pbp.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <strings.h>

using namespace kivo;
namespace fs = std::filesystem;

static const char kUsage[] =
    "usage: psx TITLE ID LEVEL IMAGE\n"
    "  writes EBOOT.PBP into the current folder from the PS1 disc IMAGE (a 2048-byte-sector ISO or a\n"
    "  raw 2352-byte-sector image), with TITLE and the disc ID, compressed at LEVEL 0-9 (0: stored);\n"
    "  ICON0.PNG, ICON1.PMF, PIC0.PNG, PIC1.PNG and SND0.AT3 in the current folder go in as well";

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

} // namespace

int main(int argc, char** argv) {
  return runTool("psx", [&] {
    if (argc != 5) throw UsageError{std::string("expected 4 arguments\n") + kUsage};
    const int level = parseLevel(argv[3], 0, 9, kUsage);
    const std::string title = fit(argv[1], 127, "title"), id = fit(argv[2], 15, "disc ID");
    const std::string imagePath = argv[4];
    InputFile in(imagePath);
    pbp::DiscImage disc(in);
    if (disc.volumeSectors() == 0)
      std::fprintf(stderr, "psx: warning: sector 16 holds no ISO 9660 volume descriptor; extractors "
                           "will not know the size of this image\n");
    else if (disc.volumeSectors() != disc.sectors())
      std::fprintf(stderr,
                   "psx: warning: the image has %u sectors but its volume records %u; an extracted "
                   "image will have %u\n",
                   disc.sectors(), disc.volumeSectors(), disc.volumeSectors());

    pbp::Artwork art;
    std::string found;
    art.icon0 = loadStaged("ICON0.PNG", found);
    art.icon1 = loadStaged("ICON1.PMF", found);
    art.pic0 = loadStaged("PIC0.PNG", found);
    art.pic1 = loadStaged("PIC1.PNG", found);
    art.snd0 = loadStaged("SND0.AT3", found);

    OutputFile out("EBOOT.PBP");
    ProgressLine progress("Compressing", uint64_t(disc.sectors()) * 2352);
    pbp::write(disc, title, id, art, level, out, 0, std::ref(progress));
    uint64_t size = out.position();
    out.commit();
    progress.finish();
    std::printf("Wrote EBOOT.PBP (%s) for \"%s\" [%s] from %s (%u sectors, %s)\n", describeSize(size).c_str(),
                title.c_str(), id.c_str(), imagePath.c_str(), disc.sectors(),
                disc.isRaw() ? "raw image" : "ISO wrapped into raw sectors");
    std::printf("Artwork: %s\n", found.empty() ? "none" : found.c_str());
    std::printf("Note: this EBOOT.PBP holds the game but no PSP boot code. PS1 emulators that load PBP\n"
                "files can run it as it is; to make it bootable on a PSP, process it with your own\n"
                "signed tool.\n");
    return 0;
  });
}

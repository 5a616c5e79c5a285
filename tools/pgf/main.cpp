// pgf FONT OUT turns a TrueType or OpenType font into a PSP font file (.pgf) that takes the
// place of the PSP's Latin font; pgf --info FILE.pgf tells what a PSP font holds.
#include "cli.h"
#include "disc.h"
#include "io.h"
#include "pgffile.h"
#include "render.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace kivo;
namespace fs = std::filesystem;

static const char kUsage[] =
    "usage: pgf [-s PIXELS] [-r RANGES] FONT OUT\n"
    "       pgf --info FILE.pgf\n"
    "  FONT  a TrueType or OpenType font (.ttf, .otf)\n"
    "  OUT   the PSP font to write, for example ltn0.pgf\n"
    "  -s, --size PIXELS   height of the capital letters, 6 to 48 (default 17, as the PSP's Latin font)\n"
    "  -r, --range RANGES  the characters, as hexadecimal code points: 20-7E,A0-FF,20AC\n"
    "                      (default: ASCII, Latin-1, Latin Extended-A and Western punctuation)\n"
    "  --info              show what a PSP font holds\n"
    "  --help, --version";

namespace {

struct Options {
  std::string font, output, info;
  pgf::RenderOptions render;
};

int parseSize(const std::string& text) {
  int v = 0;
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos ||
      (v = std::stoi(text)) < pgf::kMinCapHeight || v > pgf::kMaxCapHeight)
    throw UsageError{"invalid size '" + text + "' (expected a number of pixels from " +
                     std::to_string(pgf::kMinCapHeight) + " to " + std::to_string(pgf::kMaxCapHeight) + ")\n" + kUsage};
  return v;
}

Options parseArgs(int argc, char** argv) {
  Options o;
  std::vector<std::string> words;
  bool onlyFiles = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string value;
    const bool hasValue = !onlyFiles && a.rfind("--", 0) == 0 && a.find('=') != std::string::npos;
    if (hasValue) {
      value = a.substr(a.find('=') + 1);
      a = a.substr(0, a.find('='));
    }
    auto take = [&]() -> std::string {
      if (hasValue) return value;
      if (i + 1 >= argc) throw UsageError{a + " needs a value\n" + kUsage};
      return argv[++i];
    };
    if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
      words.push_back(a);
    } else if (a == "--") {
      onlyFiles = true;
    } else if (a == "-s" || a == "--size") {
      o.render.capHeight = parseSize(take());
    } else if (a == "-r" || a == "--range") {
      try {
        o.render.ranges = pgf::parseRanges(take());
      } catch (const UsageError& e) {
        throw UsageError{e.message + "\n" + kUsage};
      }
    } else if (a == "--info") {
      o.info = take();
    } else {
      throw UsageError{"unknown option '" + a + "'\n" + kUsage};
    }
  }
  if (!o.info.empty()) {
    if (!words.empty()) throw UsageError{std::string("--info takes one PSP font and nothing else\n") + kUsage};
    return o;
  }
  if (words.size() != 2) throw UsageError{std::string("expected a font and an output file\n") + kUsage};
  o.font = words[0];
  o.output = words[1];
  if (o.font.empty()) throw UsageError{std::string("no font was given\n") + kUsage};
  if (o.output.empty()) throw UsageError{std::string("no output file was given\n") + kUsage};
  return o;
}

std::vector<uint8_t> readWhole(const std::string& path, uint64_t limit, const char* what) {
  auto in = openRegularFile(path);
  if (in->size() > limit)
    throw ToolError("'" + path + "' is " + describeSize(in->size()) + ", too large for " + what);
  std::vector<uint8_t> bytes(size_t(in->size()));
  if (!bytes.empty()) in->readAt(0, bytes.data(), bytes.size());
  return bytes;
}

std::string rangesOf(const pgf::Font& font) {
  std::string out;
  for (size_t i = 0; i < font.glyphs.size();) {
    size_t j = i;
    while (j + 1 < font.glyphs.size() && font.glyphs[j + 1].code == font.glyphs[j].code + 1) ++j;
    char buf[32];
    if (i == j)
      std::snprintf(buf, sizeof buf, "%s%04X", out.empty() ? "" : ",", font.glyphs[i].code);
    else
      std::snprintf(buf, sizeof buf, "%s%04X-%04X", out.empty() ? "" : ",", font.glyphs[i].code, font.glyphs[j].code);
    out += buf;
    i = j + 1;
  }
  return out;
}

int info(const std::string& path) {
  const std::vector<uint8_t> bytes = readWhole(path, pgf::kMaxFontBytes, "a PSP font");
  const pgf::Font font = pgf::read(bytes.data(), bytes.size());
  size_t shadows = 0;
  for (const pgf::Glyph& g : font.glyphs) shadows += g.shadow.width > 0;
  std::printf("Name: %s\nStyle: %s\nEm: %d pixels\nCharacters: %zu\nWith a shadow: %zu\nCodes: %s\n",
              font.name.c_str(), font.style.c_str(), font.emPixels, font.glyphs.size(), shadows,
              rangesOf(font).c_str());
  return 0;
}

// The glyphs read back from the written file must be those meant: a shared or merged entry may
// differ only where write() said it gave something up.
void verifyWritten(const std::string& path, const pgf::Font& meant, const pgf::WriteReport& report) {
  const std::vector<uint8_t> bytes = readWhole(path, ~0ull, "a PSP font");
  const pgf::Font back = pgf::read(bytes.data(), bytes.size());
  if (back.glyphs.size() != meant.glyphs.size()) throw ToolError("the written font does not read back whole");
  for (size_t i = 0; i < back.glyphs.size(); ++i) {
    const pgf::Glyph &a = back.glyphs[i], &b = meant.glyphs[i];
    const bool metricsOk = report.mergedAdvances ? a.metrics.dimension == b.metrics.dimension : a.metrics == b.metrics;
    const bool shadowOk = report.sharedShadows || a.shadow == b.shadow;
    if (a.code != b.code || !(a.picture == b.picture) || !metricsOk || !shadowOk)
      throw ToolError("the written font does not read back as written");
  }
}

int convert(const Options& o) {
  const std::vector<uint8_t> fontFile = readWhole(o.font, pgf::kMaxFontBytes, "a font");
  ProgressLine progress("Converting", fontFile.size());
  progress(0);
  pgf::Font font;
  try {
    font = pgf::renderFont(fontFile, o.render, [&](size_t done, size_t total) {
      progress(total ? uint64_t(double(done) / double(total) * double(fontFile.size()) * 0.95) : 0);
    });
  } catch (const ToolError& e) {
    throw ToolError("'" + o.font + "': " + e.what());
  }
  if (font.name.empty()) {
    // A font whose names cannot be read still needs one: the PSP's library shows it.
    font.name = fs::path(o.font).stem().string().substr(0, 63);
    std::fprintf(stderr, "pgf: note: the font's names cannot be read; it is called '%s'\n", font.name.c_str());
  }
  pgf::WriteReport report;
  const std::vector<uint8_t> bytes = pgf::write(font, &report);
  OutputFile out(o.output, {o.font});
  out.write(bytes.data(), bytes.size());
  out.finishWriting();
  verifyWritten(out.writtenPath(), font, report);
  out.commit();
  progress(fontFile.size());
  progress.finish();
  if (report.mergedAdvances)
    std::fprintf(stderr, "pgf: note: %zu advance widths were merged into their nearest of 255\n", report.mergedAdvances);
  if (report.sharedShadows)
    std::fprintf(stderr, "pgf: note: %zu characters share the shadow nearest in size (a PSP font names at most 511)\n",
                 report.sharedShadows);
  std::printf("%s %s: %zu characters at %d pixels (capitals %d), %s written to %s\n", font.name.c_str(),
              font.style.c_str(), font.glyphs.size(), font.emPixels, o.render.capHeight,
              describeSize(bytes.size()).c_str(), o.output.c_str());
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (const int answered = answerHelpOrVersionAnywhere("pgf", argc, argv, kUsage); answered >= 0) return answered;
  return runTool("pgf", [&] {
    const Options o = parseArgs(argc, argv);
    return o.info.empty() ? convert(o) : info(o.info);
  });
}

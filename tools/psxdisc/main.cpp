// psxdisc info|extract|verify EBOOT.PBP: everything about the discs of a PS1 EBOOT that rastle
// does not do: every disc and track back as BIN/CUE, and a check of every block and sector.
#include "cdrom.h"
#include "chddisc.h"
#include "cli.h"
#include "disc.h"
#include "ebootdisc.h"
#include "ps1image.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace kivo;
namespace fs = std::filesystem;

static const char kUsage[] =
    "usage: psxdisc info EBOOT.PBP\n"
    "       psxdisc extract [-d DISC] [-o NAME] [--split | -f chd] EBOOT.PBP\n"
    "       psxdisc verify EBOOT.PBP\n"
    "  info     shows the title, the disc IDs, each disc's tracks, sizes and compression\n"
    "  extract  writes every disc (or disc DISC, from 1) as BIN/CUE with the tracks of its table of\n"
    "           contents, and an .m3u playlist when there are several; NAME is the output path\n"
    "           without extension (default: the title, beside the EBOOT); --split writes one BIN\n"
    "           per track; -f chd writes each disc as a CD CHD file instead; a disc's LibCrypt\n"
    "           data goes beside its sheet or CHD as an .sbi file\n"
    "  verify   checks that every block decodes and matches its checksum, that the data sectors'\n"
    "           EDC/ECC are right, that the sizes agree with the table of contents, that every\n"
    "           deflated block has zlib's shape, the only one the PSP is known to read, and that\n"
    "           LibCrypt data is well formed";

namespace {

struct Options {
  std::string command, input, name;
  int disc = 0;
  bool split = false, chd = false;
};

Options parseArgs(int argc, char** argv) {
  Options o;
  if (argc < 2) throw UsageError{std::string("expected a command\n") + kUsage};
  o.command = argv[1];
  if (o.command != "info" && o.command != "extract" && o.command != "verify")
    throw UsageError{"unknown command '" + o.command + "'\n" + kUsage};
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (o.command == "extract" && (a == "-f" || a == "--format")) {
      if (i + 1 >= argc) throw UsageError{a + " needs a value\n" + kUsage};
      const std::string v = argv[++i];
      if (v != "chd" && v != "bin")
        throw UsageError{"unknown format '" + v + "' (bin for BIN/CUE, chd for a CD CHD)\n" + kUsage};
      o.chd = v == "chd";
    } else if (o.command == "extract" && (a == "-d" || a == "-o")) {
      if (i + 1 >= argc) throw UsageError{a + " needs a value\n" + kUsage};
      const std::string v = argv[++i];
      if (a == "-o") {
        if (v.empty()) throw UsageError{std::string("-o needs a name\n") + kUsage};
        o.name = v;
      } else if (v.size() == 1 && v[0] >= '1' && v[0] <= '0' + int(pbp::kMaxDiscs)) {
        o.disc = v[0] - '0';
      } else {
        throw UsageError{"invalid disc number '" + v + "' (1 to " + std::to_string(pbp::kMaxDiscs) + ")\n" + kUsage};
      }
    } else if (o.command == "extract" && a == "--split") {
      o.split = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError{"unknown option '" + a + "'\n" + kUsage};
    } else if (!o.input.empty()) {
      throw UsageError{std::string("expected one EBOOT.PBP\n") + kUsage};
    } else {
      o.input = a;
    }
  }
  if (o.input.empty()) throw UsageError{std::string("expected an EBOOT.PBP\n") + kUsage};
  if (o.split && o.chd) throw UsageError{std::string("--split writes BIN files; a CHD holds every track\n") + kUsage};
  return o;
}

std::string titleOf(const pbp::Reader& reader, const std::vector<pbp::PsarDisc>& discs) {
  try {
    const std::vector<uint8_t> sfo = reader.section(pbp::Sfo);
    std::string title = ps1::safeFileName(pbp::parseSfo(sfo.data(), sfo.size()).strings["TITLE"]);
    if (!title.empty()) return title;
  } catch (const ToolError&) {
  }
  std::string id = ps1::safeFileName(pbp::plainDiscId(discs.front().id));
  return id.empty() ? "disc" : id;
}

// The names go into the sheets and the playlist: a CUE sheet quotes its file names, so a double
// quote or a line break cannot stand in one, and a playlist holds one name a line.
void checkName(const std::string& base) {
  const std::string leaf = fs::path(base).filename().string();
  for (unsigned char c : leaf)
    if (c == '"' || c < 0x20 || c == 0x7F)
      throw ToolError("cannot name the files '" + base +
                      "': a CUE sheet cannot hold a double quote or a control character such as a line break "
                      "in a file name; choose another name with -o");
}

// A playlist entry as it must be written to be read back: one that would read as a comment or
// lose its leading blanks is written as a path from the playlist's folder.
std::string playlistEntry(const std::string& name) {
  return name.empty() || name[0] == '#' || name[0] == ' ' || name[0] == '\t' ? "./" + name : name;
}

// The disc's LibCrypt data as STEM.sbi, where an emulator looks for it; what the report adds.
template <class Create>
std::string writeProtection(const ByteSource& in, const pbp::PsarDisc& disc, const ps1::DiscPlan& plan, size_t d,
                            const std::string& stem, Create& create) {
  std::vector<std::string> problems;
  const std::vector<libcrypt::Record> records = ps1::readProtection(in, disc, plan, problems);
  if (!problems.empty())
    std::fprintf(stderr, "psxdisc: warning: disc %zu: the LibCrypt table is not well formed (%s%s); 'verify' lists "
                         "every fault\n",
                 d + 1, problems.front().c_str(), problems.size() > 1 ? ", ..." : "");
  if (records.empty()) return {};
  const std::vector<uint8_t> sbi = libcrypt::formatSbi(records);
  create(stem + ".sbi")->write(sbi.data(), sbi.size());
  return ", LibCrypt data of " + std::to_string(records.size()) + (records.size() == 1 ? " sector in " : " sectors in ") +
         fs::path(stem + ".sbi").filename().string();
}

int extract(const Options& o) {
  auto in = openRegularFile(o.input);
  pbp::Reader reader(*in);
  const std::vector<pbp::PsarDisc> discs = reader.discs();
  if (o.disc > int(discs.size()))
    throw ToolError("'" + o.input + "' holds " + std::to_string(discs.size()) + (discs.size() == 1 ? " disc" : " discs"));
  std::string base = o.name;
  if (base.empty()) {
    base = (fs::path(o.input).parent_path() / titleOf(reader, discs)).string();
  } else {
    for (const char* ext : {".cue", ".m3u", ".bin", ".chd"})
      if (base.size() > 4 && base.compare(base.size() - 4, 4, ext) == 0) base.resize(base.size() - 4);
    checkName(base);
  }
  const bool several = discs.size() > 1;
  std::vector<size_t> chosen;
  for (size_t d = 0; d < discs.size(); ++d)
    if (o.disc == 0 || size_t(o.disc) == d + 1) chosen.push_back(d);

  // A CHD is counted in the bytes it holds, BIN/CUE in the bytes read from the EBOOT.
  std::vector<ps1::DiscPlan> plans(discs.size());
  uint64_t total = 0;
  for (size_t d : chosen) {
    plans[d] = ps1::planDisc(*in, discs[d]);
    total += o.chd ? chd::cdFrames(plans[d].tracks) * chd::kCdFrame : ps1::storedBytes(discs[d]);
  }
  ProgressLine progress("Extracting", total);
  uint64_t before = 0;
  // Every file is written beside its name and renamed only when all of them are complete.
  std::vector<std::unique_ptr<OutputFile>> outputs;
  std::vector<std::string> cues, report;
  auto create = [&](const std::string& path) {
    std::error_code ec;
    if (fs::equivalent(path, o.input, ec))
      throw ToolError("'" + path + "' is the EBOOT being read; choose another name with -o");
    outputs.push_back(std::make_unique<OutputFile>(path));
    return outputs.back().get();
  };
  for (size_t d : chosen) {
    const std::string stem = several ? base + " (Disc " + std::to_string(d + 1) + ")" : base;
    ps1::DiscPlan& plan = plans[d];
    if (o.chd) {
      const ps1::EbootDisc disc(*in, discs[d], plan);
      chd::WriteOptions options;
      chd::writeCd(disc, *create(stem + ".chd"), options, [&](uint64_t done) { progress(before + done); });
      before += chd::cdFrames(plan.tracks) * chd::kCdFrame;
      cues.push_back(fs::path(stem + ".chd").filename().string());
      report.push_back("Disc " + std::to_string(d + 1) + " [" + pbp::plainDiscId(discs[d].id) + "]: " + stem +
                       ".chd, " + std::to_string(plan.tracks.size()) +
                       (plan.tracks.size() == 1 ? " track, " : " tracks, ") + std::to_string(plan.sectors) +
                       " sectors" + writeProtection(*in, discs[d], plan, d, stem, create));
      continue;
    }
    std::vector<std::string> bins;
    std::vector<ByteSink*> sinks;
    const size_t files = o.split ? plan.tracks.size() : 1;
    for (size_t k = 0; k < files; ++k) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, " (Track %02u)", plan.tracks[k].number);
      const std::string path = stem + (o.split && plan.tracks.size() > 1 ? suffix : "") + ".bin";
      sinks.push_back(create(path));
      bins.push_back(fs::path(path).filename().string());
    }
    ps1::extractDisc(*in, discs[d], plan, sinks, [&](uint64_t done) { progress(before + done); });
    before += ps1::storedBytes(discs[d]);
    const std::string cue = formatCue(ps1::cueSheetFor(plan, bins));
    create(stem + ".cue")->write(cue.data(), cue.size());
    cues.push_back(fs::path(stem + ".cue").filename().string());
    report.push_back("Disc " + std::to_string(d + 1) + " [" + pbp::plainDiscId(discs[d].id) + "]: " + stem + ".cue, " +
                     std::to_string(plan.tracks.size()) + (plan.tracks.size() == 1 ? " track, " : " tracks, ") +
                     std::to_string(plan.sectors) + " sectors" + writeProtection(*in, discs[d], plan, d, stem, create));
  }
  std::string playlist;
  if (several && o.disc == 0) {
    std::string text;
    for (const std::string& c : cues)
      text += playlistEntry(c) + "\n";
    playlist = base + ".m3u";
    create(playlist)->write(text.data(), text.size());
  }
  // All of them at once: a full disk or a failed rename leaves every old file and no new one.
  std::vector<OutputFile*> files;
  for (auto& f : outputs)
    files.push_back(f.get());
  OutputFile::commitAll(files);
  progress.finish();
  for (const std::string& line : report)
    std::printf("%s\n", line.c_str());
  if (!playlist.empty()) std::printf("Playlist: %s\n", playlist.c_str());
  return 0;
}

int verify(const Options& o) {
  auto in = openRegularFile(o.input);
  pbp::Reader reader(*in);
  const std::vector<pbp::PsarDisc> discs = reader.discs();
  uint64_t total = 0;
  for (const pbp::PsarDisc& d : discs)
    total += ps1::storedBytes(d);
  ProgressLine progress("Verifying", total);
  uint64_t before = 0;
  size_t faults = 0;
  std::vector<std::string> lines;
  for (size_t d = 0; d < discs.size(); ++d) {
    constexpr size_t kShown = 50; // the first ones locate the damage; the count tells its extent
    size_t shown = 0;
    const size_t found = ps1::verifyDisc(
        *in, discs[d],
        [&](const std::string& what) {
          if (shown++ < kShown) lines.push_back("Disc " + std::to_string(d + 1) + ": " + what);
        },
        [&](uint64_t done) { progress(before + done); });
    before += ps1::storedBytes(discs[d]);
    if (found > kShown)
      lines.push_back("Disc " + std::to_string(d + 1) + ": ... and " + std::to_string(found - kShown) + " more faults");
    lines.push_back("Disc " + std::to_string(d + 1) + " [" + pbp::plainDiscId(discs[d].id) + "]: " +
                    (found ? std::to_string(found) + (found == 1 ? " fault" : " faults") : std::string("sound")));
    faults += found;
  }
  progress.finish();
  for (const std::string& line : lines)
    std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (faults) throw ToolError("'" + o.input + "' is damaged: " + std::to_string(faults) + (faults == 1 ? " fault" : " faults"));
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (const int answered = answerHelpOrVersion("psxdisc", argc, argv, kUsage); answered >= 0) return answered;
  return runTool("psxdisc", [&] {
    const Options o = parseArgs(argc, argv);
    if (o.command == "extract") return extract(o);
    if (o.command == "verify") return verify(o);
    auto in = openRegularFile(o.input);
    std::fputs(ps1::describeEboot(*in).c_str(), stdout);
    return 0;
  });
}

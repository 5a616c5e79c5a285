// doit [FOLDER] builds the PSP's top-menu plug-in from 1.bmp to 6.bmp of FOLDER (the current
// folder by default): the six category pictures of the user's own copy of the firmware's
// topmenu_plugin.rco, kept in the same folder, are replaced, and the result is written as
// topmenu_plugin.rco in the folder above. doit --list FILE.rco shows the pictures of a file.
#include "cli.h"
#include "disc.h"
#include "icons.h"
#include "io.h"
#include "rco.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace kivo;
namespace fs = std::filesystem;

static const char kUsage[] =
    "usage: doit [--base FILE] [-o FILE] [--labels L1,...,L6] [FOLDER]\n"
    "       doit --list FILE.rco\n"
    "  FOLDER        holds 1.bmp to 6.bmp (64 x 64, 256 colours: Settings, Photo, Music, Video,\n"
    "                Game, Network) and your PSP's own topmenu_plugin.rco; default: the current folder\n"
    "  --base FILE   the PSP's topmenu_plugin.rco to build on (default: the one in FOLDER)\n"
    "  -o FILE       where to write the result (default: topmenu_plugin.rco in the folder above FOLDER)\n"
    "  --labels ...  the labels of the six pictures to replace (default: its first six 64 x 64 bitmaps)\n"
    "  --list FILE   show the pictures of a resource file\n"
    "  --help, --version";

static const char kBaseName[] = "topmenu_plugin.rco";
static const char kWhereOnPsp[] = "flash0:/vsh/resource/topmenu_plugin.rco";

namespace {

struct Options {
  std::string folder = ".", base, output, list;
  std::vector<std::string> labels;
};

Options parseArgs(int argc, char** argv) {
  Options o;
  std::vector<std::string> words;
  bool onlyFiles = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i], value;
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
    } else if (a == "--base") {
      o.base = take();
    } else if (a == "-o" || a == "--output") {
      o.output = take();
    } else if (a == "--list") {
      o.list = take();
    } else if (a == "--labels") {
      const std::string text = take();
      o.labels.clear();
      size_t start = 0;
      while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        o.labels.push_back(text.substr(start, comma - start));
        start = comma + 1;
      }
      if (o.labels.size() != 6) throw UsageError{std::string("--labels needs six labels, one per slot\n") + kUsage};
    } else {
      throw UsageError{"unknown option '" + a + "'\n" + kUsage};
    }
  }
  if (words.size() > 1) throw UsageError{std::string("expected at most one folder\n") + kUsage};
  if (!words.empty()) o.folder = words[0];
  if (o.folder.empty() || (!o.list.empty() && !words.empty()))
    throw UsageError{std::string("expected a folder, or --list and a file\n") + kUsage};
  return o;
}

std::vector<uint8_t> readWhole(const std::string& path, uint64_t limit) {
  auto in = openRegularFile(path);
  if (in->size() > limit) throw ToolError("'" + path + "' is " + describeSize(in->size()) + ", too large");
  std::vector<uint8_t> bytes(size_t(in->size()));
  if (!bytes.empty()) in->readAt(0, bytes.data(), bytes.size());
  return bytes;
}

/// The base in the folder, however its name is spelt (a PSP's FAT stick may give it in capitals).
std::string findBase(const std::string& folder) {
  std::error_code ec;
  const fs::path exact = fs::path(folder) / kBaseName;
  if (fs::is_regular_file(exact, ec)) return exact.string();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (name == kBaseName && it->is_regular_file(ec)) return it->path().string();
  }
  return {};
}

std::string describe(const rco::Picture& p, const std::vector<uint8_t>& data) {
  static const char* formats[] = {"PNG", "JPEG", "TIFF", "GIF", "BMP", "GIM"};
  std::string text = (p.format < 6 ? formats[p.format] : "format " + std::to_string(p.format));
  if (data.size() >= 26 && data[0] == 'B' && data[1] == 'M')
    text += " " + std::to_string(int32_t(getLe32(&data[18]))) + " x " + std::to_string(std::abs(int32_t(getLe32(&data[22])))) +
            ", " + std::to_string(getLe16(&data[28])) + " bits";
  static const char* packing[] = {"stored", "zlib", "RLZ"};
  text += p.compression < 3 ? std::string(", ") + packing[p.compression] : ", packed " + std::to_string(p.compression);
  return text + ", " + std::to_string(p.unpacked) + " bytes";
}

int list(const std::string& path) {
  const rco::Resource resource(readWhole(path, rco::kMaxFileBytes));
  std::printf("Version: 0x%X\nTable of contents: %s\nPictures: %zu\n", resource.version(),
              resource.tableCompression() == rco::Zlib ? "zlib" : "stored", resource.pictures().size());
  size_t n = 0;
  for (const rco::Picture& p : resource.pictures()) {
    std::vector<uint8_t> data;
    try {
      data = resource.pictureData(p);
    } catch (const ToolError&) {
    }
    std::printf("%4zu  %-32s %s\n", ++n, p.label.empty() ? "(no label)" : p.label.c_str(), describe(p, data).c_str());
  }
  return 0;
}

/// The six pictures to replace: those labelled so, or the first six 64 x 64 bitmaps.
std::vector<size_t> chooseSlots(const rco::Resource& resource, const Options& o, const std::string& base) {
  const auto& pictures = resource.pictures();
  std::vector<size_t> slots;
  if (!o.labels.empty()) {
    for (const std::string& label : o.labels) {
      auto it = std::find_if(pictures.begin(), pictures.end(), [&](const rco::Picture& p) { return p.label == label; });
      if (it == pictures.end()) throw ToolError("'" + base + "' has no picture labelled '" + label + "'");
      slots.push_back(size_t(it - pictures.begin()));
    }
    return slots;
  }
  for (size_t i = 0; i < pictures.size() && slots.size() < 6; ++i) {
    if (pictures[i].format != rco::Bmp && pictures[i].format != rco::Png) continue;
    std::vector<uint8_t> data;
    try {
      data = resource.pictureData(pictures[i]);
    } catch (const ToolError&) {
      continue;
    }
    if (topmenu::isIconSized(data)) slots.push_back(i);
  }
  if (slots.size() < 6)
    throw ToolError("'" + base + "' holds " + std::to_string(slots.size()) +
                    " pictures of 64 x 64 pixels, not the top menu's six: is it the PSP's own topmenu_plugin.rco? "
                    "(doit --list shows its pictures; --labels names the six)");
  return slots;
}

int build(const Options& o) {
  // Every problem is told, the bitmaps' first: a user who fixes one finds the next at once.
  std::vector<std::string> problems;
  std::vector<std::vector<uint8_t>> icons(6);
  std::vector<std::string> reads;
  for (int n = 1; n <= 6; ++n) {
    const std::string name = std::to_string(n) + ".bmp";
    const fs::path path = fs::path(o.folder) / name;
    const std::string slot = "slot " + std::to_string(n) + " (" + topmenu::kSlotNames[n - 1] + "): " + name + " ";
    std::error_code ec;
    if (!fs::exists(path, ec)) {
      problems.push_back(slot + "is missing");
      continue;
    }
    try {
      icons[size_t(n - 1)] = readWhole(path.string(), 1 << 20);
    } catch (const ToolError& e) {
      problems.push_back(slot + "cannot be read: " + e.what());
      continue;
    }
    const std::string why = topmenu::iconProblem(icons[size_t(n - 1)]);
    if (!why.empty()) problems.push_back(slot + why);
    reads.push_back(path.string());
  }
  std::string base = o.base;
  if (base.empty()) base = findBase(o.folder);
  if (base.empty() || !fs::exists(base)) {
    std::error_code ec;
    std::string where =
        fs::absolute(o.base.empty() ? fs::path(o.folder) : fs::path(o.base).parent_path(), ec).lexically_normal().string();
    while (where.size() > 1 && where.back() == '/') where.pop_back();
    problems.push_back("the PSP's own topmenu_plugin.rco is missing: the top menu is built on it, and Kivo ships "
                       "none. Copy " + std::string(kWhereOnPsp) + " from your PSP into " +
                       where + "/");
  }
  if (!problems.empty()) {
    for (size_t i = 0; i + 1 < problems.size(); ++i) std::fprintf(stderr, "doit: error: %s\n", problems[i].c_str());
    throw ToolError(problems.back());
  }

  std::vector<uint8_t> baseBytes = readWhole(base, rco::kMaxFileBytes);
  ProgressLine progress("Building", baseBytes.size());
  progress(0);
  std::unique_ptr<rco::Resource> resource;
  try {
    resource = std::make_unique<rco::Resource>(std::move(baseBytes));
  } catch (const ToolError& e) {
    throw ToolError("'" + base + "': " + e.what());
  }
  const std::vector<size_t> slots = chooseSlots(*resource, o, base);
  std::map<size_t, std::vector<uint8_t>> replacements;
  for (size_t n = 0; n < 6; ++n) replacements[slots[n]] = icons[n];
  const std::vector<uint8_t> built = resource->withPictures(replacements);

  const std::string output = o.output.empty() ? (fs::path(o.folder) / ".." / kBaseName).lexically_normal().string()
                                              : o.output;
  reads.push_back(base);
  OutputFile out(output, reads);
  out.write(built.data(), built.size());
  out.finishWriting();
  // What was written reads back with the new pictures in their places.
  const rco::Resource back(readWhole(out.writtenPath(), rco::kMaxFileBytes));
  for (size_t n = 0; n < 6; ++n)
    if (back.pictures().size() != resource->pictures().size() || back.pictureData(back.pictures()[slots[n]]) != icons[n])
      throw ToolError("the new top menu does not read back as written");
  out.commit();
  progress.finish();
  std::string labels;
  for (size_t n = 0; n < 6; ++n) {
    const std::string& l = resource->pictures()[slots[n]].label;
    labels += (n ? ", " : "") + (l.empty() ? "#" + std::to_string(slots[n] + 1) : l);
  }
  std::printf("Top menu written to %s (%s): pictures %s replaced\n", output.c_str(), describeSize(built.size()).c_str(),
              labels.c_str());
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (const int answered = answerHelpOrVersionAnywhere("doit", argc, argv, kUsage); answered >= 0) return answered;
  return runTool("doit", [&] {
    const Options o = parseArgs(argc, argv);
    return o.list.empty() ? build(o) : list(o.list);
  });
}

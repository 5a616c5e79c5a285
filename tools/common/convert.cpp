#include "convert.h"

#include "chd.h"
#include "cli.h"
#include "cso.h"
#include "dax.h"
#include "pspcheck.h"
#include "identity.h"

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <memory>

namespace kivo {

namespace {

const char kCisoUsage[] = "usage: ciso LEVEL IN OUT\n"
                          "  LEVEL 0     decompress the CSO file IN into the ISO image OUT\n"
                          "  LEVEL 1-9   compress the ISO image IN into the CSO file OUT (9: smallest)";

const char kDaxUsage[] =
    "usage: dax -lLEVEL IN OUT   compress the ISO image IN into the DAX file OUT (LEVEL 0-9, 9: smallest)\n"
    "       dax -d IN OUT        decompress the DAX file IN into the ISO image OUT";

const char kMoreCiso[] = "       ciso [OPTIONS] LEVEL IN OUT\n"
                         "       ciso [OPTIONS] LEVEL IN... -O FOLDER\n"
                         "       ciso --info [--json] IN...\n"
                         "       ciso --check FILE...\n"
                         "       ciso --repair FILE...";
const char kMoreDax[] = "       dax [OPTIONS] -lLEVEL|-d IN OUT\n"
                        "       dax [OPTIONS] -lLEVEL|-d IN... -O FOLDER\n"
                        "       dax --info [--json] IN...";

const char kOptions[] =
    "\n"
    "IN may be an ISO image or a CSO (version 1 or 2), ZSO, DAX or CHD file: its header tells which;\n"
    "--info also reads raw 2352-byte images and CUE sheets.\n"
    "\n"
    "options:\n"
    "  -f, --format FORMAT    write FORMAT: cso (CSO version 1), cso2 (CSO version 2, deflate or\n"
    "                         LZ4 blocks), zso (LZ4 blocks), dax, chd (a DVD CHD, as emulators\n"
    "                         read them), or iso (decompress)\n"
    "  -t, --threads N        use N threads (default: every core this process may use)\n"
    "  -b, --block-size SIZE  block size of a CSO or ZSO, hunk size of a CHD: a power of two from\n"
    "                         2048 to 1048576 bytes (524288 for a CHD), or with a k suffix\n"
    "                         (default 2048, what a PSP and PPSSPP read best)\n"
    "      --slowest          also try zopfli on every block: the smallest deflate file, many\n"
    "                         times slower than level 9\n"
    "      --verify           read the written file back and compare it with IN before it\n"
    "                         replaces OUT\n"
    "      --check FILE...    (ciso) report what a PSP would not read in each CSO, ZSO or DAX\n"
    "                         file: deflate streams not in zlib's shape, damaged blocks, a block\n"
    "                         size or format the common custom firmware do not read; status 1\n"
    "                         when anything is found\n"
    "      --repair FILE...   (ciso) rewrite only the deflate streams not in zlib's shape, keep\n"
    "                         every other block as it is, and replace each file safely\n"
    "  -O, --output-dir DIR   convert each IN into DIR, named after it with the format's extension\n"
    "      --info             convert nothing: show each IN's format, sizes and the game it\n"
    "                         holds (PARAM.SFO's DISC_ID, TITLE, PSP_SYSTEM_VER, REGION, artwork)\n"
    "      --json             with --info: one JSON array, an object per IN\n"
    "  -h, --help             show this text\n"
    "      --version          show the version\n"
    "\n"
    "Levels 8 and 9 keep, block by block, the smallest of several deflate encoders' results. A CHD\n"
    "keeps, hunk by hunk, the smallest of lzma, zlib, huff and flac, as chdman createdvd does.";

const char* usageOf(Tool tool) {
  return tool == Tool::Ciso ? kCisoUsage : kDaxUsage;
}

const char* toolName(Tool tool) {
  return tool == Tool::Ciso ? "ciso" : "dax";
}

Format parseFormat(const std::string& text) {
  if (text == "cso" || text == "cso1") return Format::Cso1;
  if (text == "cso2") return Format::Cso2;
  if (text == "zso") return Format::Zso;
  if (text == "dax") return Format::Dax;
  if (text == "iso") return Format::Iso;
  if (text == "chd") return Format::Chd;
  throw UsageError{"unknown format '" + text + "' (cso, cso2, zso, dax, chd or iso)"};
}

unsigned long parseNumber(const std::string& text, const char* what) {
  char* end = nullptr;
  unsigned long n = text.empty() || text[0] == '-' ? 0 : std::strtoul(text.c_str(), &end, 10);
  if (end && (*end == 'k' || *end == 'K') && end[1] == '\0' && n < (1ul << 22)) {
    n *= 1024;
    ++end;
  }
  if (!end || *end || n == 0) throw UsageError{"invalid " + std::string(what) + " '" + text + "'"};
  return n;
}

std::string outputInFolder(const std::string& folder, const std::string& input, Format format) {
  std::string name = input.substr(input.rfind('/') == std::string::npos ? 0 : input.rfind('/') + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return (folder.empty() || folder.back() == '/' ? folder : folder + "/") + name + extensionOf(format);
}

bool isCompressed(Format f) {
  return f != Format::Iso;
}

} // namespace

const char* extensionOf(Format format) {
  switch (format) {
  case Format::Iso: return ".iso";
  case Format::Cso1:
  case Format::Cso2: return ".cso";
  case Format::Zso: return ".zso";
  case Format::Dax: return ".dax";
  case Format::Chd: return ".chd";
  }
  return "";
}

CommandLine parseCommandLine(Tool tool, const std::vector<std::string>& args) {
  const std::string usage = usageOf(tool);
  CommandLine cl;
  // The described forms come first: exactly three words, taken as they are.
  if (args.size() == 3 && args[0].compare(0, 2, "--") != 0) {
    if (tool == Tool::Ciso) {
      const int level = parseLevel(args[0], 0, 9, usageOf(tool));
      cl.options.format = level == 0 ? Format::Iso : Format::Cso1;
      cl.options.effort.level = level;
    } else if (args[0] == "-d") {
      cl.options.format = Format::Iso;
    } else {
      if (args[0].compare(0, 2, "-l") != 0) throw UsageError{"unknown option '" + args[0] + "'\n" + usage};
      cl.options.format = Format::Dax;
      cl.options.effort.level = parseLevel(args[0].substr(2), 0, 9, usageOf(tool));
    }
    cl.jobs.emplace_back(args[1], args[2]);
    return cl;
  }

  std::vector<std::string> words;
  std::string folder, formatText;
  bool folderGiven = false, blockGiven = false, decompress = false, compress = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      words.insert(words.end(), args.begin() + long(i) + 1, args.end());
      break;
    }
    if (a.size() < 2 || a[0] != '-') {
      words.push_back(a);
      continue;
    }
    // "--name=value", "--name value" and "-x value" all give a value.
    std::string name = a, value;
    bool inlineValue = false;
    if (a.compare(0, 2, "--") == 0 && a.find('=') != std::string::npos) {
      name = a.substr(0, a.find('='));
      value = a.substr(a.find('=') + 1);
      inlineValue = true;
    }
    auto take = [&]() -> std::string {
      if (inlineValue) return value;
      if (i + 1 >= args.size()) throw UsageError{"option " + name + " needs a value\n" + usage};
      return args[++i];
    };
    if (name == "-h" || name == "--help") {
      cl.help = true;
    } else if (name == "--version") {
      cl.version = true;
    } else if (name == "-f" || name == "--format") {
      formatText = take();
    } else if (name == "-t" || name == "--threads") {
      unsigned long n = parseNumber(take(), "thread count");
      if (n > 256) throw UsageError{"at most 256 threads"};
      cl.options.threads = unsigned(n);
    } else if (name == "-b" || name == "--block-size") {
      unsigned long n = parseNumber(take(), "block size");
      if (n < cso::kBlockSize || n > cso::kMaxBlockSize || (n & (n - 1)))
        throw UsageError{"invalid block size " + std::to_string(n) + " (a power of two from 2048 to 1048576)"};
      cl.options.blockSize = uint32_t(n);
      blockGiven = true;
    } else if (name == "--slowest") {
      cl.options.effort.slowest = true;
    } else if (name == "--info") {
      cl.info = true;
    } else if (name == "--json") {
      cl.json = true;
    } else if (name == "--verify") {
      cl.options.verify = true;
    } else if (tool == Tool::Ciso && (name == "--check" || name == "--repair") && !inlineValue) {
      const auto mode = name == "--check" ? CommandLine::Mode::Check : CommandLine::Mode::Repair;
      if (cl.mode != CommandLine::Mode::Convert && cl.mode != mode)
        throw UsageError{"--check and --repair together\n" + usage};
      cl.mode = mode;
    } else if (name == "-O" || name == "--output-dir") {
      folder = take();
      folderGiven = true;
      if (folder.empty()) throw UsageError{"an empty folder name for -O"};
      cl.folder = folder;
    } else if (tool == Tool::Dax && name == "-d") {
      decompress = true;
    } else if (tool == Tool::Dax && name.compare(0, 2, "-l") == 0 && !inlineValue) {
      cl.options.effort.level = parseLevel(name.substr(2), 0, 9, usageOf(tool));
      compress = true;
    } else {
      throw UsageError{"unknown option '" + a + "'\n" + usage};
    }
  }
  if (cl.help || cl.version) return cl;
  if (cl.json && !cl.info) throw UsageError{"--json goes with --info\n" + usage};
  if (cl.info && cl.mode != CommandLine::Mode::Convert)
    throw UsageError{"--info does not go with --check or --repair\n" + usage};
  if (cl.info) {
    if (words.empty()) throw UsageError{"--info needs a file to describe\n" + usage};
    for (const std::string& in : words)
      cl.jobs.emplace_back(in, std::string());
    return cl;
  }

  if (cl.mode != CommandLine::Mode::Convert) {
    const char* option = cl.mode == CommandLine::Mode::Check ? "--check" : "--repair";
    if (!formatText.empty() || blockGiven || folderGiven || cl.options.effort.slowest || cl.options.verify)
      throw UsageError{std::string(option) + " takes files only (and -t)\n" + usage};
    if (words.empty()) throw UsageError{std::string("missing FILE for ") + option + "\n" + usage};
    cl.files = words;
    return cl;
  }

  if (tool == Tool::Ciso) {
    if (words.empty()) throw UsageError{"missing LEVEL IN OUT\n" + usage};
    cl.options.effort.level = parseLevel(words[0], 0, 9, usageOf(tool));
    decompress = cl.options.effort.level == 0;
    words.erase(words.begin());
  } else if (decompress == compress) {
    throw UsageError{std::string(decompress ? "-d and -l together" : "missing -lLEVEL or -d") + "\n" + usage};
  }
  const Format natural = decompress ? Format::Iso : tool == Tool::Ciso ? Format::Cso1 : Format::Dax;
  cl.options.format = formatText.empty() ? natural : parseFormat(formatText);
  if (decompress && cl.options.format != Format::Iso)
    throw UsageError{std::string(tool == Tool::Ciso ? "level 0" : "-d") +
                     " decompresses; give a level from 1 to 9 to write " + formatName(cl.options.format)};
  if (blockGiven && cl.options.format != Format::Cso1 && cl.options.format != Format::Cso2 &&
      cl.options.format != Format::Zso && cl.options.format != Format::Chd)
    throw UsageError{std::string("--block-size applies to CSO, ZSO and CHD files only") +
                     (cl.options.format == Format::Dax ? " (DAX frames are always 8192 bytes)" : "")};
  if (cl.options.format == Format::Chd && cl.options.blockSize > 512 * 1024)
    throw UsageError{"a CHD hunk is at most 524288 bytes"};
  if (cl.options.effort.level == 0 && isCompressed(cl.options.format) && cl.options.format != Format::Dax)
    throw UsageError{std::string("level 0 cannot write ") + formatName(cl.options.format)};

  if (folderGiven) {
    if (words.empty()) throw UsageError{"missing IN\n" + usage};
    for (const std::string& in : words)
      cl.jobs.emplace_back(in, outputInFolder(folder, in, cl.options.format));
  } else {
    if (words.size() < 2) throw UsageError{"missing IN OUT\n" + usage};
    if (words.size() > 2) throw UsageError{"several inputs need -O FOLDER for their outputs\n" + usage};
    cl.jobs.emplace_back(words[0], words[1]);
  }
  return cl;
}

namespace {

// The volume descriptor's "CD001" where a 2048-byte image, or a raw Mode 1 or Mode 2 one, has it.
bool looksLikeDiscImage(const ImageSource& image) {
  for (uint64_t at : {uint64_t(16) * 2048 + 1, uint64_t(16) * 2352 + 16 + 1, uint64_t(16) * 2352 + 24 + 1}) {
    char id[5];
    if (image.size() < at + sizeof id) continue;
    image.readAt(at, id, sizeof id);
    if (std::memcmp(id, "CD001", sizeof id) == 0) return true;
  }
  return false;
}

} // namespace

void convertFile(const std::string& inPath, const std::string& outPath, const ConvertOptions& options) {
  InputFile in(inPath);
  OutputFile out(outPath, {inPath});
  std::unique_ptr<ImageSource> image = openImage(in);
  const uint64_t size = image->size();
  const bool packing = isCompressed(options.format);
  // A file of no known container is read as an image only when it holds a disc's volume.
  if (image->format() == Format::Iso && !looksLikeDiscImage(*image))
    throw ToolError("'" + inPath + "' is not a CSO, ZSO, DAX or CHD file, nor a disc image");
  if (!packing && image->format() == Format::Iso)
    std::fprintf(stderr, "note: '%s' is not a compressed image; it is copied as it is\n", inPath.c_str());
  ProgressLine progress(packing ? "Compressing" : "Decompressing", options.verify ? 2 * size : size);
  switch (options.format) {
  case Format::Iso:
    copyImage(*image, out, options.threads, std::ref(progress));
    break;
  case Format::Dax:
    dax::compress(*image, out, options.effort, options.threads, std::ref(progress));
    break;
  case Format::Chd: {
    chd::WriteOptions w;
    w.hunkBytes = options.blockSize;
    w.level = options.effort.level;
    w.threads = options.threads;
    chd::writeDvd(*image, out, w, std::ref(progress));
    break;
  }
  default: {
    cso::WriteOptions w;
    w.format = options.format;
    w.effort = options.effort;
    w.blockSize = options.blockSize;
    w.threads = options.threads;
    cso::write(*image, out, w, std::ref(progress));
  }
  }
  const uint64_t written = out.position();
  if (options.verify) {
    out.finishWriting();
    InputFile back(out.writtenPath());
    // An image is compared as it is, even one that happens to start like a container.
    std::unique_ptr<ImageSource> copy = packing ? openImage(back) : nullptr;
    if (copy && copy->format() != options.format)
      throw ToolError("verification failed: '" + outPath + "' does not read back as " + formatName(options.format));
    compareImages(copy ? *copy : static_cast<const ByteSource&>(back), *image, "'" + outPath + "'",
                  options.threads, [&](uint64_t done) { progress(size + done); });
  }
  out.commit();
  progress.finish();
  if (packing)
    std::printf("Compressed %s (%s) into %s (%s, %.1f%%)\n", inPath.c_str(), describeSize(size).c_str(),
                outPath.c_str(), describeSize(written).c_str(), size ? 100.0 * written / size : 100.0);
  else
    std::printf("Decompressed %s into %s (%s)\n", inPath.c_str(), outPath.c_str(), describeSize(size).c_str());
  if (options.verify) std::printf("Verified %s: it reads back identical to %s\n", outPath.c_str(), inPath.c_str());
}

namespace {

void printReport(const std::string& path, const PspCheck& c) {
  const char* name = path.c_str();
  if (c.safe()) {
    std::printf("%s: PSP-safe: %s, %s\n", name, c.what().c_str(),
                c.counts.streams ? (std::to_string(c.counts.streams) + " deflate streams, all in zlib's shape").c_str()
                                 : "no deflate streams");
    return;
  }
  std::printf("%s: %s\n", name, c.what().c_str());
  if (c.counts.misshapen) std::printf("%s: %s\n", name, c.counts.describe().c_str());
  if (c.damaged)
    std::printf("%s: %s not decode (the first: block %llu)\n", name,
                (std::to_string(c.damaged) + (c.damaged == 1 ? " block does" : " blocks do")).c_str(),
                static_cast<unsigned long long>(c.firstDamaged));
  for (const std::string& note : c.notes)
    std::printf("%s: %s\n", name, note.c_str());
}

PspCheck checkWithProgress(const ByteSource& file, const std::string& path, const char* verb) {
  ProgressLine progress(verb, file.size());
  try {
    PspCheck c = checkForPsp(file, std::ref(progress));
    progress.finish();
    return c;
  } catch (const ToolError& e) {
    // With several files, the message must say which one.
    throw ToolError("'" + path + "': " + e.what());
  }
}

} // namespace

bool checkFile(const std::string& path) {
  InputFile in(path);
  const PspCheck c = checkWithProgress(in, path, "Checking");
  printReport(path, c);
  if (c.counts.misshapen && !c.damaged)
    std::printf("%s: 'ciso --repair' rewrites those streams and keeps everything else\n", path.c_str());
  return c.safe();
}

bool repairFile(const std::string& path) {
  InputFile in(path);
  const PspCheck before = checkWithProgress(in, path, "Checking");
  if (before.damaged)
    throw ToolError("'" + path + "' is damaged: " + std::to_string(before.damaged) +
                    (before.damaged == 1 ? " block does" : " blocks do") + " not decode; nothing was changed");
  if (!before.counts.misshapen) {
    std::printf("%s: nothing to repair: %s\n", path.c_str(),
                before.counts.streams ? "every deflate stream is in zlib's shape" : "it holds no deflate stream");
  } else {
    OutputFile out(path);
    ProgressLine progress("Repairing", 2 * in.size());
    const uint64_t rewritten = repairForPsp(in, out, std::ref(progress));
    out.finishWriting();
    // The new file must give the same image and hold no stream of another shape before it replaces the old.
    InputFile back(out.writtenPath());
    const PspCheck after = checkForPsp(back);
    if (after.counts.misshapen || after.damaged)
      throw ToolError("the repaired file still holds streams a PSP may not read; nothing was changed");
    std::unique_ptr<ImageSource> a = openImage(back), b = openImage(in);
    const uint64_t image = std::max<uint64_t>(1, b->size());
    compareImages(*a, *b, "the repaired file", 0, [&](uint64_t done) { progress(in.size() + done * in.size() / image); });
    out.commit();
    progress.finish();
    std::printf("%s: rewrote %s in zlib's shape; the image and every other block are as they were\n", path.c_str(),
                (std::to_string(rewritten) + (rewritten == 1 ? " deflate stream" : " deflate streams")).c_str());
  }
  for (const std::string& note : before.notes)
    std::printf("%s: %s (convert the file to change that)\n", path.c_str(), note.c_str());
  return before.notes.empty();
}

int runConverter(Tool tool, int argc, char** argv) {
  const char* name = toolName(tool);
  return runTool(name, [&] {
    const CommandLine cl = parseCommandLine(tool, std::vector<std::string>(argv + 1, argv + argc));
    if (cl.help) {
      std::printf("%s\n%s\n%s\n", usageOf(tool), tool == Tool::Ciso ? kMoreCiso : kMoreDax, kOptions);
      return 0;
    }
    if (cl.version) {
      std::printf("%s (Kivo Workbench) %s\n", name, KIVO_VERSION);
      return 0;
    }
    if (cl.mode != CommandLine::Mode::Convert) {
      // Each file on its own: 1 when something was found in one, 2 when one could not be read.
      int status = 0;
      for (const std::string& file : cl.files) {
        try {
          const bool safe = cl.mode == CommandLine::Mode::Check ? checkFile(file) : repairFile(file);
          if (!safe && status == 0) status = 1;
        } catch (...) {
          status = reportFailure(name);
        }
      }
      return status;
    }
    if (cl.info) {
      std::vector<std::string> files;
      for (const auto& job : cl.jobs)
        files.push_back(job.first);
      return printIdentities(name, files, cl.json);
    }
    if (cl.jobs.size() > 1) {
      std::set<std::string> outputs;
      for (const auto& job : cl.jobs)
        if (!outputs.insert(job.second).second)
          throw UsageError{"two inputs would both be written to '" + job.second + "'"};
    }
    if (cl.folder.size()) {
      std::error_code ec;
      std::filesystem::create_directories(cl.folder, ec);
      if (ec) throw ToolError("cannot make the folder '" + cl.folder + "': " + ec.message());
    }
    if (cl.jobs.size() == 1) {
      convertFile(cl.jobs[0].first, cl.jobs[0].second, cl.options);
      return 0;
    }
    // Each input on its own: one that fails does not stop the others.
    int status = 0;
    for (const auto& job : cl.jobs) {
      try {
        convertFile(job.first, job.second, cl.options);
      } catch (...) {
        status = reportFailure(name);
      }
    }
    return status;
  });
}

} // namespace kivo

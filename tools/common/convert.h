// What ciso and dax share: any image in (ISO, CSO, ZSO, DAX, told apart by their headers), any
// format out, and the command line beyond the three-argument forms Kivo starts them with.
#pragma once

#include "codec.h"
#include "image.h"

#include <string>
#include <vector>

namespace kivo {

struct ConvertOptions {
  Format format = Format::Cso1; // of the output
  Effort effort;
  uint32_t blockSize = 2048; // CSO and ZSO only
  unsigned threads = 0;      // 0: every usable core
  bool verify = false;       // read the written file back before it replaces anything
};

/// Converts the image in `in` into `out`, with a progress report, and prints the closing line on
/// standard output. Throws ToolError; `out` is then left as it was.
void convertFile(const std::string& in, const std::string& out, const ConvertOptions& options);

/// The file name extension of a format: ".iso", ".cso", ".zso" or ".dax".
const char* extensionOf(Format format);

/// The two tools: ciso takes the level as its first word, dax a mode option (-d, -lLEVEL).
enum class Tool { Ciso, Dax };

/// A parsed command line: one job per input.
struct CommandLine {
  bool help = false, version = false;
  /// ciso --check / --repair FILE...: what a PSP would not read in each file, or its repair.
  enum class Mode { Convert, Check, Repair } mode = Mode::Convert;
  std::vector<std::string> files;
  bool info = false, json = false; // describe the inputs (jobs' outputs are empty)
  ConvertOptions options;
  std::vector<std::pair<std::string, std::string>> jobs; // input, output
  std::string folder;                                     // -O, made when missing
};

/// Parses argv (without the program name); throws UsageError. Exactly three arguments that do
/// not start with "--" are the described form and are taken as they are, whatever they hold.
CommandLine parseCommandLine(Tool tool, const std::vector<std::string>& args);

/// ciso --check: reports on one file; true when it is PSP-safe. Throws ToolError when it cannot
/// be read as a CSO, ZSO or DAX file.
bool checkFile(const std::string& path);
/// ciso --repair: rewrites the file's misshapen deflate streams, replacing it safely; true when it
/// is PSP-safe afterwards.
bool repairFile(const std::string& path);

/// main() of ciso and dax.
int runConverter(Tool tool, int argc, char** argv);

} // namespace kivo

#include "cli.h"

#include "extract.h"
#include "files.h"
#include "progress.h"

#include <cerrno>
#include <fcntl.h>
#include <glob.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace rastle {

namespace {
std::vector<Argument> typed(const std::vector<std::string>& args) {
  std::vector<Argument> result;
  for (const std::string& a : args)
    result.push_back({a, false});
  return result;
}
} // namespace

Invocation parseArgs(const std::vector<std::string>& args) { return parseArgs(typed(args)); }

Invocation parseArgs(const std::vector<Argument>& args) {
  Invocation inv;
  if (args.empty()) {
    inv.usage = true;
    return inv;
  }
  for (size_t i = 0; i < args.size(); ++i) {
    // A file named "-o" that a wildcard matched is a file like any other.
    if (args[i].text == "-o" && !args[i].expanded) {
      if (i + 1 == args.size()) {
        inv.usage = true;
        return inv;
      }
      inv.output = args[++i].text;
    } else {
      inv.input = args[i].text;
    }
  }
  if (inv.input.empty()) {
    inv.usage = true;
    return inv;
  }
  if (inv.output.empty()) inv.output = defaultOutputPath(inv.input);
  return inv;
}

std::string defaultOutputPath(const std::string& input) {
  if (input.size() < 4) return input + ".iso";
  return input.substr(0, input.size() - 4) + ".iso";
}

std::vector<Argument> expandWildcards(const std::vector<std::string>& args) {
  std::vector<Argument> result;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // The output path is used as written: a pattern there could name a file the user keeps.
    if (arg == "-o" && i + 1 < args.size()) {
      result.push_back({arg, false});
      result.push_back({args[++i], false});
      continue;
    }
    // So is a name that exists as written ("Who wants to be a Millionaire?.pbp").
    struct stat st {};
    if (arg.find_first_of("*?") == std::string::npos || lstat(arg.c_str(), &st) == 0) {
      result.push_back({arg, false});
      continue;
    }
    // Only '*' and '?' are wildcards here; brackets and backslashes stand for themselves.
    std::string pattern;
    for (char c : arg) {
      if (c == '[' || c == ']' || c == '\\') pattern += '\\';
      pattern += c;
    }
    glob_t g{};
    if (glob(pattern.c_str(), 0, nullptr, &g) == 0 && g.gl_pathc > 0) {
      for (size_t k = 0; k < g.gl_pathc; ++k)
        result.push_back({g.gl_pathv[k], true});
    } else {
      result.push_back({arg, false});
    }
    globfree(&g);
  }
  return result;
}

namespace {

// Reads from any thread; a read error stops only the read that met it.
class FileSource : public CheckedSource {
public:
  explicit FileSource(int fd) : fd_(fd) {}
  size_t readAtChecked(uint64_t pos, uint8_t* dst, size_t n, bool* failed) override {
    *failed = false;
    size_t done = 0;
    while (done < n) {
      if (pos + done > uint64_t(INT64_MAX)) break;
      ssize_t got = pread(fd_, dst + done, n - done, off_t(pos + done));
      if (got > 0) {
        done += size_t(got);
      } else if (got == 0) {
        break;
      } else if (errno != EINTR) {
        *failed = true;
        break;
      }
    }
    return done;
  }

private:
  int fd_;
};

class FileSink : public ByteSink {
public:
  explicit FileSink(OutputFile& file) : file_(file) {}
  bool write(const uint8_t* data, size_t n) override { return file_.write(data, n); }
  bool writePieces(const Piece* pieces, size_t count) override {
    return file_.writePieces(pieces, count);
  }

private:
  OutputFile& file_;
};

// Messages on standard output, as they always were; progress on standard error, for Kivo or for
// a user at a terminal.
class MessageListener : public ExtractListener {
public:
  MessageListener(std::FILE* out, const Invocation& inv, kivo::ProgressReport::Mode mode)
      : out_(out), inv_(inv), mode_(mode) {}
  void extracting(int32_t imageSize) override {
    std::fprintf(out_, "Extracting iso (%i bytes) from '%s' to '%s'...\n", imageSize, inv_.input.c_str(),
                 inv_.output.c_str());
    std::fflush(out_);
    announced_ = true;
  }
  void indexProblem(BlockIndex::Status status) override {
    if (status == BlockIndex::Status::OutOfReach)
      warn("WARNING: the block index of '%s' lies beyond 2 GiB\n", inv_.input.c_str());
    else if (status == BlockIndex::Status::EndsBefore)
      warn("WARNING: '%s' ends before the block index\n", inv_.input.c_str());
    else
      warn("WARNING: '%s' ends inside the block index\n", inv_.input.c_str());
  }
  void blockProblem(size_t k, BlockStatus status) override {
    if (status == BlockStatus::OutOfReach)
      warn("WARNING: block %zu of '%s' lies beyond 2 GiB\n", k, inv_.input.c_str());
    else
      warn("WARNING: '%s' ends inside block %zu\n", inv_.input.c_str(), k);
  }
  void progress(uint64_t done, uint64_t total) override {
    // A bar on the terminal starts below the one line of standard output, never across it.
    if (!report_ && mode_ != kivo::ProgressReport::Mode::Off &&
        (mode_ == kivo::ProgressReport::Mode::Lines || (announced_ && !warned_)))
      report_ = std::make_unique<kivo::ProgressReport>(total, "Extracting", mode_);
    if (report_) report_->update(done);
  }
  void finish() {
    if (report_) report_->finish();
  }
  /// Ends the bar's line so a message printed next stands on its own.
  void interrupt() {
    if (report_) report_->abandon();
  }

private:
  // One warning says the image is incomplete; more would only repeat it.
  template <typename... Args> void warn(const char* format, Args... args) {
    if (warned_) return;
    warned_ = true;
    if (mode_ == kivo::ProgressReport::Mode::Bar && report_) {
      report_->abandon();
      report_.reset();
    }
    std::fprintf(out_, format, args...);
    std::fflush(out_);
  }

  std::FILE* out_;
  const Invocation& inv_;
  kivo::ProgressReport::Mode mode_;
  std::unique_ptr<kivo::ProgressReport> report_;
  bool announced_ = false;
  bool warned_ = false;
};

// A failure's message goes to standard output as it always did; when Kivo follows the run through
// standard error, it goes there as well, as the last line before the exit.
int fail(std::FILE* out, const char* format, const std::string& arg, const char* reason = "") {
  std::string line = format;
  line.insert(line.size() - 1, reason);
  std::fprintf(out, line.c_str(), arg.c_str());
  std::fflush(out);
  if (kivo::ProgressReport::modeFromEnvironment() == kivo::ProgressReport::Mode::Lines) {
    std::fprintf(stderr, line.c_str(), arg.c_str());
    std::fflush(stderr);
  }
  return -1;
}

const char* reasonFor(OpenProblem problem) {
  switch (problem) {
  case OpenProblem::Folder: return ": it is a folder";
  case OpenProblem::NotAFile: return ": it is not a file";
  case OpenProblem::IsInput: return ": it is the input file";
  case OpenProblem::IsTool: return ": it is a program of the tool folder";
  default: return "";
  }
}

} // namespace

int run(const std::vector<std::string>& argv, std::FILE* out) {
  // A program started with an empty argument vector still gets a usable name.
  std::vector<std::string> args(argv.empty() ? argv.begin() : argv.begin() + 1, argv.end());
  return run(argv.empty() ? "rastle" : argv[0], typed(args), out);
}

int run(const std::string& self, const std::vector<Argument>& args, std::FILE* out) {
  Invocation inv = parseArgs(args);
  if (inv.usage) return fail(out, "USAGE: %s [-o output.iso] EBOOT.PBP\n", self);

  struct stat inStat {};
  OpenProblem problem;
  int in = openInput(inv.input, &inStat, &problem);
  if (in < 0) return fail(out, "ERROR: Couldn't open '%s' for reading\n", inv.input, reasonFor(problem));

  OutputFile file;
  problem = file.open(inv.output, inStat);
  if (problem != OpenProblem::None) {
    close(in);
    return fail(out, "ERROR: Couldn't open '%s' for writing\n", inv.output, reasonFor(problem));
  }

  uint64_t inputSize = uint64_t(inStat.st_size);
  if (S_ISBLK(inStat.st_mode)) {
    off_t end = lseek(in, 0, SEEK_END);
    inputSize = end > 0 ? uint64_t(end) : 0;
  }
  FileSource source(in);
  FileSink sink(file);
  MessageListener listener(out, inv, kivo::ProgressReport::modeFromEnvironment());
  ExtractOptions options;
  options.inputSize = inputSize;
  ExtractResult result = extract(source, sink, listener, options);
  close(in);
  if (result.readFailed || result.writeFailed || !file.commit()) {
    file.discard();
    listener.interrupt();
    if (result.readFailed) return fail(out, "ERROR: Couldn't read from '%s'\n", inv.input);
    return fail(out, "ERROR: Couldn't write to '%s'\n", inv.output);
  }
  listener.finish();
  return 0;
}

} // namespace rastle

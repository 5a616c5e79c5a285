#include "cli.h"

#include "extract.h"

#include <cerrno>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rastle {

Invocation parseArgs(const std::vector<std::string>& args) {
  Invocation inv;
  if (args.empty()) {
    inv.usage = true;
    return inv;
  }
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (i + 1 == args.size()) {
        inv.usage = true;
        return inv;
      }
      inv.output = args[++i];
    } else {
      inv.input = args[i];
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

std::vector<std::string> expandWildcards(const std::vector<std::string>& args) {
  std::vector<std::string> result;
  for (const std::string& arg : args) {
    if (arg.find_first_of("*?") == std::string::npos) {
      result.push_back(arg);
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
      for (size_t i = 0; i < g.gl_pathc; ++i)
        result.emplace_back(g.gl_pathv[i]);
    } else {
      result.push_back(arg);
    }
    globfree(&g);
  }
  return result;
}

namespace {

class FileSource : public CheckedSource {
public:
  explicit FileSource(int fd) : fd_(fd) {}
  size_t readAt(uint64_t pos, uint8_t* dst, size_t n) override {
    size_t done = 0;
    while (done < n && !failed_) {
      if (pos + done > uint64_t(INT64_MAX)) break;
      ssize_t got = pread(fd_, dst + done, n - done, off_t(pos + done));
      if (got > 0) {
        done += size_t(got);
      } else if (got == 0) {
        break;
      } else if (errno != EINTR) {
        failed_ = true;
      }
    }
    return done;
  }
  bool failed() const override { return failed_; }

private:
  int fd_;
  bool failed_ = false;
};

class FileSink : public ByteSink {
public:
  explicit FileSink(int fd) : fd_(fd) {}
  bool write(const uint8_t* data, size_t n) override {
    while (n > 0) {
      ssize_t put = ::write(fd_, data, n);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      data += put;
      n -= size_t(put);
    }
    return true;
  }

private:
  int fd_;
};

class MessageListener : public ExtractListener {
public:
  MessageListener(std::FILE* out, const Invocation& inv) : out_(out), inv_(inv) {}
  void extracting(int32_t imageSize) override {
    std::fprintf(out_, "Extracting iso (%i bytes) from '%s' to '%s'...\n", imageSize, inv_.input.c_str(),
                 inv_.output.c_str());
    std::fflush(out_);
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

private:
  // One warning says the image is incomplete; more would only repeat it.
  template <typename... Args> void warn(const char* format, Args... args) {
    if (warned_) return;
    warned_ = true;
    std::fprintf(out_, format, args...);
    std::fflush(out_);
  }

  std::FILE* out_;
  const Invocation& inv_;
  bool warned_ = false;
};

int fail(std::FILE* out, const char* format, const std::string& arg) {
  std::fprintf(out, format, arg.c_str());
  std::fflush(out);
  return -1;
}

} // namespace

int run(const std::vector<std::string>& argv, std::FILE* out) {
  // A program started with an empty argument vector still gets a usable name.
  std::string self = argv.empty() ? "rastle" : argv[0];
  std::vector<std::string> args(argv.empty() ? argv.begin() : argv.begin() + 1, argv.end());
  Invocation inv = parseArgs(args);
  if (inv.usage) return fail(out, "USAGE: %s [-o output.iso] EBOOT.PBP\n", self);

  int in = open(inv.input.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat inStat {};
  if (in >= 0 && (fstat(in, &inStat) != 0 || S_ISDIR(inStat.st_mode))) {
    close(in);
    in = -1;
  }
  if (in < 0) return fail(out, "ERROR: Couldn't open '%s' for reading\n", inv.input);

  // Truncating only after the check keeps "-o EBOOT.PBP EBOOT.PBP" from wiping the input.
  int dst = open(inv.output.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  struct stat outStat {};
  if (dst >= 0 && fstat(dst, &outStat) == 0 && outStat.st_dev == inStat.st_dev &&
      outStat.st_ino == inStat.st_ino) {
    close(dst);
    close(in);
    return fail(out, "ERROR: Couldn't open '%s' for writing: it is the input file\n", inv.output);
  }
  if (dst >= 0 && S_ISREG(outStat.st_mode) && ftruncate(dst, 0) != 0) {
    close(dst);
    dst = -1;
  }
  if (dst < 0) {
    close(in);
    return fail(out, "ERROR: Couldn't open '%s' for writing\n", inv.output);
  }

  FileSource source(in);
  FileSink sink(dst);
  MessageListener listener(out, inv);
  ExtractResult result = extract(source, sink, listener);
  bool closed = close(dst) == 0;
  close(in);
  if (result.readFailed) return fail(out, "ERROR: Couldn't read from '%s'\n", inv.input);
  if (result.writeFailed || !closed) return fail(out, "ERROR: Couldn't write to '%s'\n", inv.output);
  return 0;
}

} // namespace rastle

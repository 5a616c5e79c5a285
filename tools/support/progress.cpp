#include "progress.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace kivo {

ProgressReport::Mode ProgressReport::modeFromEnvironment() {
  const char* env = std::getenv(kProgressEnv);
  if (env && *env && std::strcmp(env, "0") != 0) return Mode::Lines;
  return isatty(STDERR_FILENO) ? Mode::Bar : Mode::Off;
}

ProgressReport::ProgressReport(uint64_t total, std::string label, Mode mode, std::FILE* out)
    : label_(std::move(label)), mode_(mode), out_(out), total_(total), start_(std::chrono::steady_clock::now()), last_(start_) {
  if (mode_ != Mode::Off) emit(0, false); // a bar from the first moment, even for a short job
}

ProgressReport::~ProgressReport() { abandon(); }

void ProgressReport::update(uint64_t done) {
  done_ = done;
  if (mode_ == Mode::Off || finished_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  emit(done, false);
}

void ProgressReport::finish() {
  if (mode_ == Mode::Off || finished_) return;
  if (total_ == 0) total_ = done_;
  emit(total_, true);
  finished_ = true;
  open_ = false;
}

void ProgressReport::abandon() {
  if (open_) std::fputc('\n', out_);
  open_ = false;
  finished_ = true;
  std::fflush(out_);
}

void ProgressReport::emit(uint64_t done, bool last) {
  if (mode_ == Mode::Lines) {
    std::fprintf(out_, "%s %" PRIu64 " %" PRIu64 "\n", kProgressTag, done, total_);
  } else if (mode_ == Mode::Bar) {
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::string prefix = label_.empty() ? std::string() : label_ + " ";
    std::fprintf(out_, "\r%s%s\033[K", prefix.c_str(), formatBar(done, total_, secs).c_str());
    if (last) std::fputc('\n', out_);
    open_ = !last;
  }
  std::fflush(out_);
}

namespace {

std::string clockText(double secs) {
  const auto s = static_cast<uint64_t>(secs + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%" PRIu64 ":%02u:%02u", s / 3600, unsigned(s / 60 % 60), unsigned(s % 60));
  else
    std::snprintf(buf, sizeof buf, "%u:%02u", unsigned(s / 60), unsigned(s % 60));
  return buf;
}

} // namespace

std::string formatBar(uint64_t done, uint64_t total, double seconds, int width) {
  if (width < 1) width = 1;
  std::string bar = "[";
  const double frac = total ? std::min(1.0, double(done) / double(total)) : 0.0;
  const int filled = total ? int(frac * width) : 0;
  bar.append(size_t(filled), '#');
  bar.append(size_t(width - filled), '.');
  bar += ']';
  char buf[96];
  const double rate = seconds > 0 ? double(done) / seconds : 0.0;
  if (total) {
    std::snprintf(buf, sizeof buf, " %3d%%", int(frac * 100));
    bar += buf;
  }
  if (rate > 0) {
    std::snprintf(buf, sizeof buf, "  %.1f MB/s", rate / 1e6);
    bar += buf;
  }
  if (total && done >= total) {
    bar += "  " + clockText(seconds) + " total";
  } else if (total && rate > 0) {
    bar += "  " + clockText(double(total - done) / rate) + " left";
  } else {
    bar += "  " + clockText(seconds);
  }
  return bar;
}

bool parseProgressLine(const std::string& line, uint64_t& done, uint64_t& total) {
  const size_t tagLen = std::strlen(kProgressTag);
  if (line.compare(0, tagLen, kProgressTag) != 0 || line.size() <= tagLen || line[tagLen] != ' ') return false;
  const char* p = line.c_str() + tagLen + 1;
  char* end = nullptr;
  auto digit = [](const char* c) { return *c >= '0' && *c <= '9'; };
  if (!digit(p)) return false;
  errno = 0;
  const unsigned long long d = std::strtoull(p, &end, 10);
  if (end == p || *end != ' ' || errno) return false;
  p = end + 1;
  if (!digit(p)) return false;
  const unsigned long long t = std::strtoull(p, &end, 10);
  if (end == p || errno) return false;
  while (*end == '\r' || *end == '\n') ++end;
  if (*end) return false;
  done = d;
  total = t;
  return true;
}

} // namespace kivo

// How a console tool tells how far it has come. Kivo starts its tools with KIVO_PROGRESS=1 and
// reads machine lines from their standard error; a user at a terminal sees a one-line bar.
// Anything else (a pipe, a log file) gets no progress at all, so scripts see only messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kivo {

/// The line prefix of a machine progress report: "KIVO-PROGRESS <done> <total>\n", both counts
/// in bytes of the input (total 0 when unknown). Every other line on standard error is a message.
inline constexpr const char* kProgressTag = "KIVO-PROGRESS";
/// The environment variable that asks for machine progress lines.
inline constexpr const char* kProgressEnv = "KIVO_PROGRESS";

class ProgressReport {
public:
  enum class Mode { Off, Lines, Bar };
  /// Lines when KIVO_PROGRESS is set to a non-empty value other than "0", Bar when standard
  /// error is a terminal, Off otherwise.
  static Mode modeFromEnvironment();

  /// label, when not empty, goes before the terminal bar ("Compressing [###...]").
  explicit ProgressReport(uint64_t total, std::string label = {}, Mode mode = modeFromEnvironment(),
                          std::FILE* out = stderr);
  ~ProgressReport();
  ProgressReport(const ProgressReport&) = delete;
  ProgressReport& operator=(const ProgressReport&) = delete;

  /// Call from one thread; reports at most ten times a second.
  void update(uint64_t done);
  /// Reports the end: the last line (done == total) or the full bar and a newline.
  void finish();
  /// Ends a bar's line without completing it, so an error message starts on a line of its own.
  /// The destructor does this too.
  void abandon();
  void setTotal(uint64_t total) { total_ = total; }
  Mode mode() const { return mode_; }

private:
  void emit(uint64_t done, bool last);
  std::string label_;
  Mode mode_;
  std::FILE* out_;
  uint64_t total_;
  uint64_t done_ = 0;
  bool open_ = false; // a bar is on screen without its newline
  bool finished_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

/// The terminal bar: "[#########.........]  45%  12.3 MB/s  0:05 left" (pure, for tests).
std::string formatBar(uint64_t done, uint64_t total, double seconds, int width = 30);

/// Parses a machine progress line; false for any other line.
bool parseProgressLine(const std::string& line, uint64_t& done, uint64_t& total);

} // namespace kivo

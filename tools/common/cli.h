// What the three command-line tools share: error reporting, progress, level arguments.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kivo {

/// Runs body and turns every failure into a message on stderr and a non-zero status:
/// 1 for a usage error (UsageError), 2 for a failed conversion.
int runTool(const char* name, const std::function<int()>& body);

struct UsageError {
  std::string message;
};

/// A level given as one digit from lowest to highest; anything else (empty text included)
/// is a usage error.
int parseLevel(const std::string& text, int lowest, int highest);
/// The same, with the tool's usage text after the complaint.
int parseLevel(const std::string& text, int lowest, int highest, const char* usage);

/// Percentage on stderr while a terminal watches, nothing otherwise.
class ProgressLine {
public:
  ProgressLine(const char* verb, uint64_t total);
  ~ProgressLine();
  void operator()(uint64_t done);

private:
  const char* verb_;
  uint64_t total_;
  int shown_ = -1;
  bool tty_;
};

std::string describeSize(uint64_t bytes);

} // namespace kivo

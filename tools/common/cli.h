// What the three command-line tools share: error reporting, progress, level arguments.
#pragma once

#include "progress.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kivo {

/// Runs body and turns every failure into a message on stderr and a non-zero status:
/// 1 for a usage error (UsageError), 2 for a failed conversion.
int runTool(const char* name, const std::function<int()>& body);
/// The same inside a catch block: prints the failure being handled and returns its status.
int reportFailure(const char* name);

/// "--help" or "--version" as the only argument: prints the usage (or "NAME (Kivo Workbench)
/// VERSION") on standard output and returns 0. Otherwise -1: with other arguments such a word
/// keeps its place as a title or a path, which Kivo passes on as the user typed it.
int answerHelpOrVersion(const char* name, int argc, char** argv, const char* usage);
/// The same for tools whose words are never a title: "--help" or "--version" anywhere before a
/// "--" is answered.
int answerHelpOrVersionAnywhere(const char* name, int argc, char** argv, const char* usage);

struct UsageError {
  std::string message;
};

/// A level given as one digit from lowest to highest; anything else (empty text included)
/// is a usage error.
int parseLevel(const std::string& text, int lowest, int highest);
/// The same, with the tool's usage text after the complaint.
int parseLevel(const std::string& text, int lowest, int highest, const char* usage);

/// A job's progress as a callable for the converters: a bar at a terminal, machine lines for Kivo.
class ProgressLine {
public:
  ProgressLine(const char* verb, uint64_t total) : report_(total, verb) {}
  void operator()(uint64_t done) { report_.update(done); }
  /// The job is complete: the last report (a failed job just ends the bar's line).
  void finish() { report_.finish(); }

private:
  ProgressReport report_;
};

std::string describeSize(uint64_t bytes);

} // namespace kivo

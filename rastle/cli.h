// rastle's command line: argument scan, output naming, messages and exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace rastle {

/// An argument after the program name, and whether it is a name a wildcard was expanded to
/// (never an option, whatever it says).
struct Argument {
  std::string text;
  bool expanded = false;
  bool operator==(const Argument& o) const { return text == o.text && expanded == o.expanded; }
};

struct Invocation {
  bool usage = false; ///< print the usage line and fail
  std::string input;
  std::string output; ///< after defaulting
};

/// Scans the arguments that follow the program name.
Invocation parseArgs(const std::vector<Argument>& args);
/// The same for arguments as typed.
Invocation parseArgs(const std::vector<std::string>& args);

/// The input path with its last four characters replaced by ".iso", whatever they are.
std::string defaultOutputPath(const std::string& input);

/// Replaces each argument holding '*' or '?' by the sorted names of the files it matches,
/// the way a console program's start-up code does; one that matches nothing stays as it is.
std::vector<Argument> expandWildcards(const std::vector<std::string>& args);

/// Runs rastle on args, as invoked by the name self; messages go to out.
/// Returns the exit status: 0, or -1 on failure.
int run(const std::string& self, const std::vector<Argument>& args, std::FILE* out);
/// The same for argv as typed (argv[0] is the name it was invoked by).
int run(const std::vector<std::string>& argv, std::FILE* out);

} // namespace rastle

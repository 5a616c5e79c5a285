// rastle: writes the disc image held in a PS1 EBOOT.PBP to a file of its own.
#include "cli.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::vector<std::string> args;
  if (argc > 0 && argv[0]) args.emplace_back(argv[0]);
  std::vector<std::string> rest(argv + (argc > 0 ? 1 : 0), argv + argc);
  for (std::string& arg : rastle::expandWildcards(rest))
    args.push_back(std::move(arg));
  return rastle::run(args, stdout);
}

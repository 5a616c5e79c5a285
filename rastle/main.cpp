// rastle: writes the disc image held in a PS1 EBOOT.PBP to a file of its own.
#include "cli.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  // A program started with an empty argument vector still gets a usable name.
  const std::string self = argc > 0 && argv[0] ? argv[0] : "rastle";
  std::vector<std::string> rest(argv + (argc > 0 ? 1 : 0), argv + argc);
  return rastle::run(self, rastle::expandWildcards(rest), stdout);
}

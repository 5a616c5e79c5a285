// rastle: writes the disc image held in a PS1 EBOOT.PBP to a file of its own.
#include "cli.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// --help and --version as the only argument, as the other tools of the folder answer them. With
// other arguments, a path of that name is still a path: Kivo passes on whatever the user typed.
int answerInfo(int argc, char** argv) {
  if (argc != 2) return -1;
  const std::string arg = argv[1];
  if (arg == "--version") {
    std::printf("rastle (Kivo Workbench) %s\n", KIVO_VERSION);
    return 0;
  }
  if (arg == "--help") {
    std::printf("USAGE: rastle [-o output.iso] EBOOT.PBP\n"
                "Writes the disc image held in a PS1 EBOOT.PBP to output.iso (default: the input's name\n"
                "with its last four characters replaced by .iso). An existing output is replaced only\n"
                "once the new image is complete.\n"
                "  -o output.iso  the image to write\n"
                "  --help         shows this text\n"
                "  --version      shows the version\n"
                "psxdisc gives back every disc and audio track of a PS1 EBOOT as BIN/CUE.\n");
    return 0;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int answered = answerInfo(argc, argv); answered >= 0) return answered;
  // A program started with an empty argument vector still gets a usable name.
  const std::string self = argc > 0 && argv[0] ? argv[0] : "rastle";
  std::vector<std::string> rest(argv + (argc > 0 ? 1 : 0), argv + argc);
  return rastle::run(self, rastle::expandWildcards(rest), stdout);
}

// dax -lLEVEL IN OUT compresses an ISO into a DAX; dax -d IN OUT decompresses one.
#include "cli.h"
#include "dax.h"
#include "packjob.h"

#include <string>

using namespace kivo;

static const char kUsage[] =
    "usage: dax -lLEVEL IN OUT   compress the ISO image IN into the DAX file OUT (LEVEL 0-9, 9: smallest)\n"
    "       dax -d IN OUT        decompress the DAX file IN into the ISO image OUT";

int main(int argc, char** argv) {
  return runTool("dax", [&] {
    if (argc != 4) throw UsageError{std::string("expected 3 arguments\n") + kUsage};
    const std::string mode = argv[1];
    if (mode == "-d") {
      unpackImage<dax::Reader>(argv[2], argv[3]);
    } else {
      if (mode.compare(0, 2, "-l") != 0) throw UsageError{"unknown option '" + mode + "'\n" + kUsage};
      packImage(argv[2], argv[3], parseLevel(mode.substr(2), 0, 9, kUsage), dax::compress);
    }
    return 0;
  });
}

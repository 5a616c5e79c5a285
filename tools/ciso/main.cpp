// ciso LEVEL IN OUT: level 0 turns a CSO back into an ISO, 1 to 9 compress an ISO into a CSO.
#include "cli.h"
#include "cso.h"
#include "packjob.h"

#include <string>

using namespace kivo;

static const char kUsage[] = "usage: ciso LEVEL IN OUT\n"
                             "  LEVEL 0     decompress the CSO file IN into the ISO image OUT\n"
                             "  LEVEL 1-9   compress the ISO image IN into the CSO file OUT (9: smallest)";

int main(int argc, char** argv) {
  return runTool("ciso", [&] {
    if (argc != 4) throw UsageError{std::string("expected 3 arguments\n") + kUsage};
    const int level = parseLevel(argv[1], 0, 9, kUsage);
    if (level == 0)
      unpackImage<cso::Reader>(argv[2], argv[3]);
    else
      packImage(argv[2], argv[3], level, cso::compress);
    return 0;
  });
}

// ciso LEVEL IN OUT: level 0 turns a CSO back into an ISO, 1 to 9 compress an ISO into a CSO.
#include "cli.h"
#include "cso.h"

#include <cstdio>
#include <string>

using namespace kivo;

static const char kUsage[] = "usage: ciso LEVEL IN OUT\n"
                             "  LEVEL 0     decompress the CSO file IN into the ISO image OUT\n"
                             "  LEVEL 1-9   compress the ISO image IN into the CSO file OUT (9: smallest)";

int main(int argc, char** argv) {
  return runTool("ciso", [&] {
    if (argc != 4) throw UsageError{std::string("expected 3 arguments\n") + kUsage};
    int level;
    try {
      level = parseLevel(argv[1], 0, 9);
    } catch (UsageError& e) {
      throw UsageError{e.message + "\n" + kUsage};
    }
    const std::string inPath = argv[2], outPath = argv[3];
    InputFile in(inPath);
    OutputFile out(outPath);
    if (level == 0) {
      cso::Reader reader(in);
      ProgressLine progress("Decompressing", reader.imageSize());
      reader.decompress(out, std::ref(progress));
      out.commit();
      std::printf("Decompressed %s into %s (%s)\n", inPath.c_str(), outPath.c_str(),
                  describeSize(reader.imageSize()).c_str());
    } else {
      ProgressLine progress("Compressing", in.size());
      cso::compress(in, out, level, 0, std::ref(progress));
      uint64_t size = out.position();
      out.commit();
      std::printf("Compressed %s (%s) into %s (%s, %.1f%%)\n", inPath.c_str(),
                  describeSize(in.size()).c_str(), outPath.c_str(), describeSize(size).c_str(),
                  in.size() ? 100.0 * size / in.size() : 100.0);
    }
    return 0;
  });
}

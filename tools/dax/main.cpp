// dax -lLEVEL IN OUT compresses an ISO into a DAX; dax -d IN OUT decompresses one.
#include "cli.h"
#include "dax.h"

#include <cstdio>
#include <string>

using namespace kivo;

static const char kUsage[] =
    "usage: dax -lLEVEL IN OUT   compress the ISO image IN into the DAX file OUT (LEVEL 0-9, 9: smallest)\n"
    "       dax -d IN OUT        decompress the DAX file IN into the ISO image OUT";

int main(int argc, char** argv) {
  return runTool("dax", [&] {
    if (argc != 4) throw UsageError{std::string("expected 3 arguments\n") + kUsage};
    const std::string mode = argv[1], inPath = argv[2], outPath = argv[3];
    int level = -1;
    if (mode != "-d") {
      if (mode.compare(0, 2, "-l") != 0) throw UsageError{"unknown option '" + mode + "'\n" + kUsage};
      try {
        level = parseLevel(mode.substr(2), 0, 9);
      } catch (UsageError& e) {
        throw UsageError{e.message + "\n" + kUsage};
      }
    }
    InputFile in(inPath);
    OutputFile out(outPath);
    if (level < 0) {
      dax::Reader reader(in);
      ProgressLine progress("Decompressing", reader.imageSize());
      reader.decompress(out, std::ref(progress));
      out.commit();
      std::printf("Decompressed %s into %s (%s)\n", inPath.c_str(), outPath.c_str(),
                  describeSize(reader.imageSize()).c_str());
    } else {
      ProgressLine progress("Compressing", in.size());
      dax::compress(in, out, level, 0, std::ref(progress));
      uint64_t size = out.position();
      out.commit();
      std::printf("Compressed %s (%s) into %s (%s, %.1f%%)\n", inPath.c_str(),
                  describeSize(in.size()).c_str(), outPath.c_str(), describeSize(size).c_str(),
                  in.size() ? 100.0 * size / in.size() : 100.0);
    }
    return 0;
  });
}

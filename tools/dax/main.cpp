// dax -lLEVEL IN OUT compresses an ISO into a DAX; dax -d IN OUT decompresses one.
// Options (dax --help) pick other formats, threads, several inputs and a check.
#include "convert.h"

int main(int argc, char** argv) {
  return kivo::runConverter(kivo::Tool::Dax, argc, argv);
}

// ciso LEVEL IN OUT: level 0 turns a CSO back into an ISO, 1 to 9 compress an ISO into a CSO.
// Options (ciso --help) pick other formats, threads, block sizes, several inputs and a check.
#include "convert.h"

int main(int argc, char** argv) {
  return kivo::runConverter(kivo::Tool::Ciso, argc, argv);
}

// Feeds arbitrary bytes to the ZSO reader (LZ4 blocks): it must reject or decode them, never misbehave.
#include "seeds.h"

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::readContainer<cso::Reader>(data, size);
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  return fuzz::csoSeed(Format::Zso, out, capacity);
}

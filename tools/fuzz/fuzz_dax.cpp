// Feeds arbitrary bytes to the DAX reader: it must reject or decode them, never misbehave.
#include "seeds.h"

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::readContainer<dax::Reader>(data, size);
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  return fuzz::containerSeed([](const ByteSource& src, ByteSink& file) { dax::compress(src, file, 9, 1); }, out,
                             capacity);
}

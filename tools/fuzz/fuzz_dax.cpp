// Feeds arbitrary bytes to the DAX reader: it must reject or decode them, never misbehave.
#include "seeds.h"

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource src(data, size);
  try {
    dax::Reader reader(src);
    NullSink out;
    reader.decompress(out);
  } catch (const ToolError&) {
  }
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  auto image = fuzz::sampleImage(24);
  MemorySource src(image.data(), image.size());
  MemorySink file;
  dax::compress(src, file, 9, 1);
  return fuzz::copySeed(file.bytes, out, capacity);
}

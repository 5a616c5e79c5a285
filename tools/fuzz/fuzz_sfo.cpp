// Feeds arbitrary bytes to the PARAM.SFO reader: what it returns must stay inside the input.
#include "pbp.h"
#include "seeds.h"

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const sfo::Fields f = sfo::parse(data, size);
    size_t bytes = 0;
    for (const auto& [key, text] : f.strings)
      bytes += key.size() + text.size();
    if (bytes > 2 * size) std::abort();
  } catch (const ToolError&) {
  }
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  return fuzz::copySeed(pbp::buildSfo("Title", "SCUS00001"), out, capacity);
}

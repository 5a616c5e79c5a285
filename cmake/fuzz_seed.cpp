// Writes a fuzz target's built-in seed into a corpus folder, so libFuzzer starts from a
// well-formed input instead of from nothing. Usage: NAME_seed FOLDER
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" __attribute__((weak)) size_t KivoFuzzSeed(uint8_t* out, size_t capacity);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  if (!KivoFuzzSeed) return 0; // a target without a built-in seed relies on committed ones
  std::vector<uint8_t> seed(1 << 20);
  seed.resize(KivoFuzzSeed(seed.data(), seed.size()));
  if (seed.empty()) return 0;
  const std::string path = std::string(argv[1]) + "/generated";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
    return 1;
  }
  return 0;
}

// Stand-in driver for fuzz targets in ordinary builds: feeds the entry point a deterministic
// series of random and mutated inputs, so the parser meets hostile bytes in every test run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional seed provided by the target: a well-formed input to mutate.
extern "C" __attribute__((weak)) size_t KivoFuzzSeed(uint8_t* out, size_t capacity);

int main(int argc, char** argv) {
  std::vector<uint8_t> seed;
  if (KivoFuzzSeed) {
    seed.resize(1 << 20);
    seed.resize(KivoFuzzSeed(seed.data(), seed.size()));
  }
  // Replay the given files and the files of the given folders (seed corpora), like libFuzzer does.
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.emplace_back(argv[i]);
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> input;
    if (!seed.empty() && round % 4 != 0) {
      input = seed;
      int edits = 1 + rng() % 8;
      for (int e = 0; e < edits; ++e) {
        size_t at = rng() % input.size();
        switch (rng() % 3) {
        case 0: input[at] = static_cast<uint8_t>(rng()); break;
        case 1: input[at] = 0xFF; break;
        default: input.resize(at); break;  // truncation
        }
        if (input.empty()) break;
      }
    } else {
      input.resize(rng() % 512);
      for (auto& b : input) b = static_cast<uint8_t>(rng());
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::puts("fuzz replay finished");
  return 0;
}

// A folder for the hosts to serve while fuzzed, with a neighbour outside it that nothing may
// touch: after every input the neighbour is checked, and the served folder is laid anew.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace kivo::psplink::fuzz {

class Sandbox {
public:
  Sandbox() {
    char name[] = "/tmp/psplink-fuzz-XXXXXX";
    base_ = ::mkdtemp(name);
    std::filesystem::create_directories(base_ + "/outside");
    std::ofstream(base_ + "/outside/canary") << "canary";
    lay();
  }
  ~Sandbox() { std::filesystem::remove_all(base_); }
  std::string served() const { return base_ + "/served"; }

  /// Aborts when anything outside the served folder changed; then lays the folder anew.
  void check() {
    std::ifstream in(base_ + "/outside/canary");
    std::string text;
    in >> text;
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(base_ + "/outside")) entries += e.exists();
    int top = 0;
    for (const auto& e : std::filesystem::directory_iterator(base_)) top += e.exists() || e.is_symlink();
    if (text != "canary" || entries != 1 || top != 2) std::abort();
    lay();
  }

private:
  void lay() {
    std::error_code ignored;
    std::filesystem::remove_all(served(), ignored);
    std::filesystem::create_directories(served() + "/d");
    std::ofstream(served() + "/f") << "0123456789";
    std::filesystem::create_directory_symlink("../outside", served() + "/out", ignored);
    std::filesystem::create_directory_symlink("d", served() + "/in", ignored);
  }
  std::string base_;
};

}  // namespace kivo::psplink::fuzz

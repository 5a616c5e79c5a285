// A served folder with a neighbour outside it, and links of every kind between them.
#pragma once

#include "psp_sim.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace kivo::psplink::test {

struct FolderFixture {
  std::string base, served, outside;
  std::string big = pattern(150000, 7);  // more than two of the PSP's 64 KiB blocks

  FolderFixture() {
    char name[] = "/tmp/psplink-XXXXXX";
    base = ::mkdtemp(name);
    served = base + "/served";
    outside = base + "/outside";
    std::filesystem::create_directories(served + "/sub");
    std::filesystem::create_directories(outside);
    writeFile(served + "/readme.txt", "hello PSP");
    writeFile(served + "/big.bin", big);
    writeFile(served + "/sub/inner.txt", "inner");
    writeFile(outside + "/secret.txt", "secret");
    std::filesystem::create_directory_symlink("sub", served + "/linkin");
    std::filesystem::create_directory_symlink(served + "/sub", served + "/abslinkin");
    std::filesystem::create_directory_symlink("../outside", served + "/linkout");
    std::filesystem::create_symlink(outside + "/secret.txt", served + "/abslinkout");
    std::filesystem::create_symlink("nowhere", served + "/dangling");
  }
  ~FolderFixture() { std::filesystem::remove_all(base); }

  /// What lies outside is as it was: the secret and nothing new.
  bool outsideUntouched() const {
    int count = 0;
    for (const auto& e : std::filesystem::directory_iterator(base)) count += e.path().filename() != "served";
    int inside = 0;
    for (const auto& e : std::filesystem::directory_iterator(outside)) inside += bool(e.path().filename().string().size());
    return count == 1 && inside == 1 && readFile(outside + "/secret.txt") == "secret";
  }
};

/// The names a listing of the served folder's top gives: links that lead out are left out.
inline std::vector<std::string> topNames() { return {"abslinkin", "big.bin", "linkin", "readme.txt", "sub"}; }

/// Paths that would lead out of the served folder, in the forms a PSP could send.
inline std::vector<std::string> pathsOut() {
  return {"../outside/secret.txt",      "/../outside/secret.txt", "sub/../../outside/secret.txt",
          "\\..\\outside\\secret.txt", "linkout/secret.txt",     "/abslinkout",
          "sub/../linkout/secret.txt"};
}

}  // namespace kivo::psplink::test

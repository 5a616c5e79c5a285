// Where a program must never write: into a file it reads (under any name or link), nor over a
// program of the tool folder it was started from.
#pragma once

#include "input.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace kivo::filesafe {

/// The folders whose programs are guarded: the one this program was started from (as it was
/// named: an installed Kivo's per-user tool folder holds links to the installed tools) and the
/// one its file lies in. Canonical paths; computed once.
const std::vector<std::string>& toolFolders();
/// The folder this program's file lies in ("" when it cannot be told).
std::string ownFolder();

class Guard {
public:
  /// A file the run reads: never written, under any name.
  void addInput(const std::string& path);
  void addInput(const struct stat& info);
  /// Guards the programs of toolFolders() (the default), of the given folders, or nothing.
  void guardTools(std::vector<std::string> folders) { folders_ = std::move(folders); }

  /// Whether path may be written. existing: what stands at path (links followed), or null when
  /// nothing does. On a refusal, what() names the input or the program in the way.
  Refusal check(const std::string& path, const struct stat* existing) const;
  const std::string& what() const { return what_; }

private:
  std::vector<struct stat> inputs_;
  std::vector<std::string> inputNames_;
  std::vector<std::string> folders_ = toolFolders();
  mutable std::string what_;
};

} // namespace kivo::filesafe

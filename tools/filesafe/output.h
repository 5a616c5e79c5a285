// Writing an output safely: the new contents go to a temporary file beside the target, are
// synced, and only then renamed over it (and the folder synced), so that a failed, killed or
// interrupted run leaves the old file or the new one, never a part; a replaced file keeps its
// mode and, where allowed, its owner. Several outputs can be put in place as one.
#pragma once

#include "guard.h"
#include "input.h"

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kivo::filesafe {

/// How an output is treated where programs differ.
struct OutputRules {
  /// A device at the target is written in place (a file renamed over it would replace the node).
  bool devicesInPlace = false;
  /// A FIFO at the target is written in place too; opening it fails when no one reads it.
  bool fifosInPlace = false;
  /// A dangling link is followed: the file it names is created, the link stays.
  bool followDanglingLinks = false;
  /// An existing file is replaced only if the user may write to it.
  bool requireWritable = false;
  /// The target must not exist, at open and at the rename (which then never replaces).
  bool mustBeNew = false;
  /// Sync a new file that replaces nothing before its rename (a replaced one always is).
  bool syncNewFiles = true;
  /// The new file's mode; default: the replaced file's, or the usual one for a new file.
  std::optional<mode_t> mode;
  /// Inputs and programs the output must not reach; null: nothing is guarded.
  const Guard* guard = nullptr;
};

/// One output, step by step: open, write through fd(), then commit() (or finish() and install()).
/// Destroying it before it is installed removes the temporary file.
class Output {
public:
  Output() = default;
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  /// Checks the target and creates the temporary file (or opens a device in place). Leftovers
  /// of ended runs beside the target are removed first.
  Refusal open(const std::string& path, const OutputRules& rules = {});
  int fd() const { return fd_; }
  /// The errno of the last failure.
  int error() const { return error_; }
  /// What open() refused a guard for: the input or the program in the way.
  const std::string& guarded() const { return guarded_; }
  bool inPlace() const { return inPlace_; }
  /// A file stood at the target when it was opened.
  bool replacing() const { return replacing_; }
  /// The file that is replaced (a link's destination), absolute.
  const std::string& target() const { return target_; }
  /// The file being written: the temporary file, or the target written in place.
  const std::string& writtenPath() const { return inPlace_ ? target_ : temporary_; }

  /// Sets the mode, syncs and closes the file. Afterwards writtenPath() holds the whole output.
  bool finish();
  /// Renames the finished file over the target and syncs the folder; without replace (or with
  /// mustBeNew) a target that exists by then makes it fail instead.
  bool install(bool replace = true);
  /// finish() and install(); on failure the temporary file goes and the target stays.
  bool commit(bool replace = true);
  /// Removes the temporary file; the target stays as it was (a device keeps what it was given).
  void discard();
  /// Forgets the temporary file without removing it.
  void leave();

private:
  bool fail(int error);
  Refusal refuse(int error);

  OutputRules rules_;
  std::string target_, temporary_, guarded_;
  int fd_ = -1;
  int error_ = 0;
  bool inPlace_ = false, replacing_ = false, finished_ = false;
  struct stat old_ {};
};

/// Writes all n bytes, at the file position or at offset, retrying short and interrupted
/// writes; false with errno set (ENOSPC when the system took nothing).
bool writeAll(int fd, const void* data, size_t n);
bool writeAllAt(int fd, const void* data, size_t n, uint64_t offset);

/// Puts several outputs in place as one: all are finished before the first rename, and the old
/// file of each target is kept beside it until all are renamed; when one cannot be, those already
/// renamed are put back. SIGINT, SIGTERM, SIGHUP and SIGQUIT wait until it is over. beforeRenames,
/// when set, runs just before the first rename. On failure, failed is the output that failed (its
/// error() says why), or null when an old file could not be kept (errno says why).
bool installTogether(const std::vector<Output*>& outputs, Output** failed = nullptr,
                     const std::function<void()>& beforeRenames = {});

/// Finishes a joint replacement of these targets that a killed run left between its renames:
/// when outputs were still waiting to be renamed, the old files are put back; otherwise the new
/// ones stay. False when an old file could not be put back.
bool recoverTogether(const std::vector<std::string>& targets);

/// Points path at linkText: a link made beside it and renamed over it, so that a link being
/// replaced never goes missing, and two programs doing the same at once both succeed.
bool placeLink(const std::string& linkText, const std::string& path);

/// Follows path's links to the file that writing it replaces; with followDangling, through a
/// link that leads nowhere yet. Absolute.
std::string resolveTarget(const std::string& path, bool followDangling);

} // namespace kivo::filesafe

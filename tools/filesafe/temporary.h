// The temporary files every program writes beside its outputs: their names, the list of those
// in use (removed when the program is interrupted) and the sweep of what killed runs left.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kivo::filesafe {

/// The folder part of a path ("." for a bare name, "/" for a name in the root) and its last part.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);
/// The path made absolute against the current folder (no link is followed).
std::string absolutePath(const std::string& path);

/// The name of a temporary file for target: "<name>.part<pid>-<hash>-<n>" in target's folder.
/// Long names are cut (the hash of the whole name tells them apart), so that even a name of 255
/// bytes leaves room for the suffix.
std::string temporaryName(const std::string& target, long pid, unsigned n);

/// The names beside target that keep its old file while several outputs replace theirs as one:
/// "<name>.part-<hash>.old" (the old file) or ".none" (there was none).
std::string keptName(const std::string& target);
std::string noneName(const std::string& target);

/// What the name of a temporary file says; nothing for any other name.
struct TemporaryName {
  std::string prefix; ///< the (cut) name of its target
  uint32_t hash = 0;  ///< of its target's whole name
  long pid = 0;       ///< the process that writes it
};
std::optional<TemporaryName> parseTemporaryName(const std::string& entry);

/// Creates a new temporary file for target (absolute) with the given mode and registers it, so
/// that SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE remove it before the program ends; past a
/// file size limit writes fail (SIGXFSZ is ignored) instead of killing the program. Returns the
/// descriptor and its path, or -1 with errno set.
int createTemporary(const std::string& target, mode_t mode, std::string& path);
/// The same for a symbolic link to linkText, made to be renamed over target. Returns false with
/// errno set.
bool createTemporaryLink(const std::string& target, const std::string& linkText, std::string& path);
/// The temporary has been renamed or removed: no longer removed at a signal.
void forgetTemporary(const std::string& path);
/// Removes a temporary file and forgets it.
void removeTemporary(const std::string& path);

/// While one is held, SIGINT, SIGTERM, SIGHUP and SIGQUIT wait: the program ends (removing its
/// temporaries) once the last hold is released.
class SignalHold {
public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;
};

/// Removes the temporaries that ended runs left beside target: those of processes that are gone,
/// and this process's own that are no longer in use. Nothing is removed while target waits to be
/// put back after an interrupted joint replacement (its kept name exists).
void sweepLeftovers(const std::string& target);
/// Whether such leftovers lie beside target.
bool hasLeftovers(const std::string& target);
/// Removes every temporary file in folder that process pid wrote, once that process has ended.
/// Returns how many were removed.
int removeTemporariesOf(const std::string& folder, long pid);

} // namespace kivo::filesafe

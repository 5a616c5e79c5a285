#include "output.h"

#include "temporary.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#if __has_include(<linux/fs.h>)
#include <linux/fs.h> // RENAME_NOREPLACE
#endif

namespace kivo::filesafe {

namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The rename itself is made durable too, so that a power cut cannot bring the old file back.
void syncFolder(const std::string& path) {
  const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd); // some file systems cannot sync a folder; the rename has been made all the same
  ::close(fd);
}

// Renames without ever replacing what stands at to.
bool renameNew(const std::string& from, const std::string& to) {
#ifdef SYS_renameat2
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // Without a rename that refuses to replace, a hard link does; without links, a last look.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  if (exists(to)) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

// Opens a device or FIFO for writing in place; a FIFO that no one reads fails instead of waiting.
int openInPlace(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Keeps target's old file under its kept name, or marks that it had none. Where the file system
// has no links the old file is moved there, and moved says so.
bool keepOld(const std::string& target, bool& moved) {
  moved = false;
  if (!exists(target)) {
    const int fd = ::open(noneName(target).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    return ::close(fd) == 0 && ok;
  }
  const std::string kept = keptName(target);
  if (::link(target.c_str(), kept.c_str()) == 0) return true;
  return moved = ::rename(target.c_str(), kept.c_str()) == 0;
}

// Puts target back as it was before a joint replacement.
bool putBack(const std::string& target) {
  const std::string kept = keptName(target), none = noneName(target);
  if (exists(kept)) return ::rename(kept.c_str(), target.c_str()) == 0;
  if (exists(none)) return ::unlink(target.c_str()) == 0 || errno == ENOENT;
  return true;
}

void dropKept(const std::string& target) {
  ::unlink(keptName(target).c_str());
  ::unlink(noneName(target).c_str());
}

std::string realPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string s = real;
  std::free(real);
  return s;
}

} // namespace

std::string resolveTarget(const std::string& path, bool followDangling) {
  std::string at = absolutePath(path);
  struct stat st {};
  if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
  if (::stat(at.c_str(), &st) == 0) return realPath(at);
  if (!followDangling) return at;
  for (int hop = 0; hop < 40; ++hop) {
    char text[4096];
    const ssize_t n = ::readlink(at.c_str(), text, sizeof text - 1);
    if (n <= 0) return at;
    const std::string next(text, size_t(n));
    at = next[0] == '/' ? next : folderOf(at) + "/" + next;
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
  }
  return at;
}

Output::~Output() { discard(); }

bool Output::fail(int error) {
  error_ = error;
  return false;
}

Refusal Output::refuse(int error) {
  error_ = error;
  return Refusal::System;
}

Refusal Output::open(const std::string& path, const OutputRules& rules) {
  discard();
  rules_ = rules;
  rules_.guard = nullptr;  // asked here only; it need not outlive the open
  error_ = 0;
  guarded_.clear();
  inPlace_ = replacing_ = finished_ = false;
  old_ = {};
  if (path.empty()) return Refusal::NoName;
  const std::string absolute = absolutePath(path);
  struct stat st {};
  const bool present = ::stat(absolute.c_str(), &st) == 0;
  if (!present && errno != ENOENT) return refuse(errno);
  target_ = resolveTarget(absolute, rules.followDanglingLinks);
  if (rules.guard) {
    const Refusal refusal = rules.guard->check(present ? absolute : target_, present ? &st : nullptr);
    guarded_ = rules.guard->what();
    if (refusal != Refusal::None) return refusal;
  }
  if (present) {
    if (S_ISDIR(st.st_mode)) return Refusal::Folder;
    if (!S_ISREG(st.st_mode)) {
      const bool device = S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode);
      if (!(device && rules.devicesInPlace) && !(S_ISFIFO(st.st_mode) && rules.fifosInPlace)) return Refusal::NotAFile;
      // A file renamed over a device would replace the node: the device is written as it is.
      fd_ = openInPlace(absolute);
      if (fd_ < 0) return refuse(errno);
      target_ = absolute;
      inPlace_ = true;
      return Refusal::None;
    }
    if (rules.mustBeNew) {
      error_ = EEXIST;
      return Refusal::Exists;
    }
    if (rules.requireWritable && ::access(absolute.c_str(), W_OK) != 0) return refuse(errno);
    replacing_ = true;
    old_ = st;
  }
  sweepLeftovers(target_);
  // Private while it is written when it gets a mode of its own at the end: the contents may be
  // a private file's.
  fd_ = createTemporary(target_, replacing_ || rules.mode ? 0600 : 0666, temporary_);
  if (fd_ < 0) return refuse(errno);
  // Root replacing someone's file hands it back to them; a user may give it one of their groups.
  if (replacing_ && (old_.st_uid != ::geteuid() || old_.st_gid != ::getegid()))
    (void)!::fchown(fd_, old_.st_uid, old_.st_gid);
  return Refusal::None;
}

bool Output::finish() {
  if (finished_) return true;
  if (fd_ < 0) return fail(error_ ? error_ : EBADF);
  const int fd = fd_;
  fd_ = -1;
  if (inPlace_) {
    // A FIFO or a device such as /dev/null cannot be synced; only a real failure counts.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    const int error = errno;
    if (::close(fd) != 0 || !synced) return fail(synced ? errno : error);
    finished_ = true;
    return true;
  }
  if (replacing_ || rules_.mode) {
    // A memory stick's file system has no mode bits to set.
    (void)::fchmod(fd, rules_.mode ? *rules_.mode & 07777 : old_.st_mode & 07777);
  }
  // A file system that cannot sync (EINVAL) has nothing to wait for.
  const bool synced = !(replacing_ || rules_.syncNewFiles) || ::fsync(fd) == 0 || errno == EINVAL;
  const int error = errno;
  if (::close(fd) != 0 || !synced) {
    fail(synced ? errno : error);
    discard();
    return false;
  }
  finished_ = true;
  return true;
}

bool Output::install(bool replace) {
  if (!finish()) return false;
  if (inPlace_ || temporary_.empty()) return true;
  if (replace && !rules_.mustBeNew ? ::rename(temporary_.c_str(), target_.c_str()) != 0
                                   : !renameNew(temporary_, target_))
    return fail(errno);
  forgetTemporary(temporary_);
  temporary_.clear();
  if (replacing_ || rules_.syncNewFiles) syncFolder(target_);
  return true;
}

bool Output::commit(bool replace) {
  if (finish() && install(replace)) return true;
  const int error = error_;
  discard();
  error_ = error;
  return false;
}

void Output::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) removeTemporary(temporary_);
  temporary_.clear();
  finished_ = false;
}

void Output::leave() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) forgetTemporary(temporary_);
  temporary_.clear();
}

namespace {

// Calls put(data, n, done) until all n bytes went out, retrying short and interrupted writes.
template <class Put> bool putAll(const void* data, size_t n, Put&& put) {
  auto* p = static_cast<const uint8_t*>(data);
  for (size_t done = 0; done < n;) {
    const ssize_t wrote = put(p + done, n - done, done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = ENOSPC;
      return false;
    }
    done += size_t(wrote);
  }
  return true;
}

} // namespace

bool writeAll(int fd, const void* data, size_t n) {
  return putAll(data, n, [fd](const uint8_t* p, size_t left, size_t) { return ::write(fd, p, left); });
}

bool writeAllAt(int fd, const void* data, size_t n, uint64_t offset) {
  return putAll(data, n, [fd, offset](const uint8_t* p, size_t left, size_t done) {
    return ::pwrite(fd, p, left, off_t(offset + done));
  });
}

bool installTogether(const std::vector<Output*>& outputs, Output** failed, const std::function<void()>& beforeRenames) {
  if (failed) *failed = nullptr;
  std::vector<std::string> targets;
  for (Output* o : outputs) {
    if (!o->finish()) {
      if (failed) *failed = o;
      return false;
    }
    if (!o->inPlace()) targets.push_back(o->target());
  }
  const SignalHold hold;
  // An earlier run of the same outputs that was killed between its renames is set right first.
  if (!recoverTogether(targets)) return false;
  // Which targets no longer hold their old file: renamed over, or moved to their kept name.
  std::vector<bool> changed(targets.size(), false);
  auto undo = [&] {
    bool back = true;
    for (size_t i = 0; i < targets.size(); ++i)
      if (changed[i]) back = putBack(targets[i]) && back;
    if (back)
      for (const std::string& t : targets)
        dropKept(t);
    return back;
  };
  for (size_t i = 0; i < targets.size(); ++i) {
    bool moved = false;
    if (keepOld(targets[i], moved)) {
      changed[i] = moved;
      continue;
    }
    const int error = errno;
    undo();
    errno = error;
    return false;
  }
  for (const std::string& t : targets)
    syncFolder(t);
  if (beforeRenames) beforeRenames();
  size_t next = 0;
  for (Output* o : outputs) {
    if (o->inPlace()) continue;
    if (o->install()) {
      changed[next++] = true;
      continue;
    }
    if (failed) *failed = o;
    // Should an old file not go back, the kept names and the outputs still waiting stay, so
    // that the next recovery of these targets sees where this run stopped.
    if (!undo())
      for (Output* later : outputs)
        later->leave();
    return false;
  }
  for (const std::string& t : targets)
    dropKept(t);
  for (const std::string& t : targets)
    syncFolder(t);
  return true;
}

bool recoverTogether(const std::vector<std::string>& paths) {
  std::vector<std::string> targets;
  bool marked = false, waiting = false;
  for (const std::string& p : paths) {
    targets.push_back(resolveTarget(p, false));
    marked = marked || exists(keptName(targets.back())) || exists(noneName(targets.back()));
    waiting = waiting || hasLeftovers(targets.back());
  }
  bool ok = true;
  if (marked) {
    // Outputs still waiting beside their targets mean the run ended before its last rename:
    // the old files go back. Without them all were renamed, and the new files stay.
    if (waiting)
      for (const std::string& t : targets)
        ok = putBack(t) && ok;
    if (ok)
      for (const std::string& t : targets)
        dropKept(t);
  }
  for (const std::string& t : targets)
    sweepLeftovers(t);
  return ok;
}

bool placeLink(const std::string& linkText, const std::string& path) {
  const std::string target = absolutePath(path);
  std::string temporary;
  if (!createTemporaryLink(target, linkText, temporary)) return false;
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = errno;
    removeTemporary(temporary);
    errno = error;
    return false;
  }
  forgetTemporary(temporary);
  return true;
}

} // namespace kivo::filesafe

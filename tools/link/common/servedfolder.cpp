#include "servedfolder.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kivo::psplink {

namespace {

// The PSP's paths use slashes; a backslash is taken as one too, since no PSP name holds it.
void splitInto(const std::string& path, std::deque<std::string>& out, bool atFront) {
  std::deque<std::string> parts;
  std::string part;
  auto flush = [&] {
    if (!part.empty() && part != ".") parts.push_back(part);
    part.clear();
  };
  for (char c : path) {
    if (c == '/' || c == '\\') {
      flush();
    } else {
      part += c;
    }
  }
  flush();
  if (atFront) {
    out.insert(out.begin(), parts.begin(), parts.end());
  } else {
    out.insert(out.end(), parts.begin(), parts.end());
  }
}

int32_t lastError() { return pspError(errno); }

template <typename Table>
int32_t nextFree(int32_t& next, const Table& table) {
  for (;;) {
    const int32_t id = next;
    next = next == INT32_MAX ? 1 : next + 1;
    if (!table.count(id)) return id;
  }
}

}  // namespace

struct ServedFolder::Folder {
  DIR* dir = nullptr;
  std::vector<std::string> parts;
  int dots = 0;  // "." and ".." given so far
};

ServedFolder::ServedFolder(const std::string& root) {
  char* real = ::realpath(root.c_str(), nullptr);
  if (!real) throw Error{"cannot serve " + root + ": " + std::strerror(errno)};
  root_ = real;
  std::free(real);
  struct stat st;
  if (::stat(root_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw Error{"cannot serve " + root + ": not a folder"};
}

ServedFolder::~ServedFolder() { reset(); }

void ServedFolder::reset() {
  for (auto& [fid, fd] : files_) ::close(fd);
  files_.clear();
  for (auto& [did, folder] : folders_) {
    ::closedir(folder->dir);
    delete folder;
  }
  folders_.clear();
  for (auto& current : current_) current.clear();
}

std::string ServedFolder::hostPathOf(const std::vector<std::string>& parts) const {
  std::string path = root_;
  for (const std::string& part : parts) {
    if (path.back() != '/') path += '/';
    path += part;
  }
  return path;
}

int32_t ServedFolder::resolveParts(uint32_t unit, const std::string& path, bool followLast,
                                   std::vector<std::string>& parts) const {
  if (unit >= kUnits) return pspError(ENODEV);
  if (path.size() >= 4096) return pspError(ENAMETOOLONG);
  const bool fromRoot = !path.empty() && (path[0] == '/' || path[0] == '\\');
  parts = fromRoot ? std::vector<std::string>{} : current_[unit];
  std::deque<std::string> pending;
  splitInto(path, pending, false);
  int links = 0;
  bool missing = false;  // below a part that does not exist nothing is looked at any more
  while (!pending.empty()) {
    std::string part = std::move(pending.front());
    pending.pop_front();
    if (part == "..") {
      if (parts.empty()) return pspError(EACCES);
      parts.pop_back();
      continue;
    }
    if (part.size() >= kNameBytes) return pspError(ENAMETOOLONG);
    parts.push_back(std::move(part));
    if (missing || (pending.empty() && !followLast)) continue;

    const std::string host = hostPathOf(parts);
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) return lastError();
      missing = true;
      continue;
    }
    if (!S_ISLNK(st.st_mode)) continue;
    if (++links > 40) return pspError(ELOOP);
    char target[4096];
    const ssize_t n = ::readlink(host.c_str(), target, sizeof target);
    if (n < 0) return lastError();
    if (size_t(n) >= sizeof target) return pspError(ENAMETOOLONG);
    std::string to(target, size_t(n));
    parts.pop_back();
    if (!to.empty() && to[0] == '/') {
      // An absolute link is followed only when it names a place in the served folder.
      const bool inside = root_ == "/" || to == root_ || to.compare(0, root_.size() + 1, root_ + "/") == 0;
      if (!inside) return pspError(EACCES);
      parts.clear();
      to.erase(0, root_ == "/" ? 0 : root_.size());
    }
    splitInto(to, pending, true);
  }
  return 0;
}

int32_t ServedFolder::resolve(uint32_t unit, const std::string& path, bool followLast, std::string& hostPath) const {
  std::vector<std::string> parts;
  const int32_t r = resolveParts(unit, path, followLast, parts);
  if (r < 0) return r;
  hostPath = hostPathOf(parts);
  return 0;
}

int32_t ServedFolder::open(uint32_t unit, const std::string& path, uint32_t flags, uint32_t mode) {
  if (int(files_.size()) >= kMaxFiles) return pspError(EMFILE);
  std::string host;
  if (int32_t r = resolve(unit, path, true, host); r < 0) return r;
  int oflags = O_RDONLY;
  switch (flags & kPspAccessMask) {
  case kPspWrite: oflags = O_WRONLY; break;
  case kPspAccessMask: oflags = O_RDWR; break;
  default: break;
  }
  if (flags & kPspAppend) oflags |= O_APPEND;
  if (flags & kPspCreate) oflags |= O_CREAT;
  if (flags & kPspTruncate) oflags |= O_TRUNC;
  if (flags & kPspExclusive) oflags |= O_EXCL;
  // Not blocking while opening: a pipe or a device in the folder must not hang the host.
  const int fd = ::open(host.c_str(), oflags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode & 0777 ? mode & 0777 : 0666);
  if (fd < 0) return lastError();
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int why = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    ::close(fd);
    return pspError(why);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const int32_t fid = nextFree(nextFid_, files_);
  files_[fid] = fd;
  return fid;
}

int32_t ServedFolder::close(int32_t fid) {
  const auto it = files_.find(fid);
  if (it == files_.end()) return pspError(EBADF);
  const int r = ::close(it->second);
  files_.erase(it);
  return r == 0 ? 0 : lastError();
}

int32_t ServedFolder::read(int32_t fid, uint8_t* buffer, uint32_t length) {
  const auto it = files_.find(fid);
  if (it == files_.end()) return pspError(EBADF);
  if (length > uint32_t(INT32_MAX)) length = uint32_t(INT32_MAX);
  uint32_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(it->second, buffer + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done ? int32_t(done) : lastError();
    if (n == 0) break;
    done += uint32_t(n);
  }
  return int32_t(done);
}

int32_t ServedFolder::write(int32_t fid, const uint8_t* data, uint32_t length) {
  const auto it = files_.find(fid);
  if (it == files_.end()) return pspError(EBADF);
  if (length > uint32_t(INT32_MAX)) return pspError(EINVAL);
  uint32_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(it->second, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done ? int32_t(done) : lastError();
    done += uint32_t(n);
  }
  return int32_t(done);
}

int64_t ServedFolder::seek(int32_t fid, int64_t offset, int32_t whence) {
  const auto it = files_.find(fid);
  if (it == files_.end()) return pspError(EBADF);
  int how;
  switch (whence) {
  case 0: how = SEEK_SET; break;
  case 1: how = SEEK_CUR; break;
  case 2: how = SEEK_END; break;
  default: return pspError(EINVAL);
  }
  const off_t at = ::lseek(it->second, off_t(offset), how);
  return at < 0 ? lastError() : int64_t(at);
}

int32_t ServedFolder::remove(uint32_t unit, const std::string& path) {
  std::string host;
  if (int32_t r = resolve(unit, path, false, host); r < 0) return r;
  if (host == root_) return pspError(EBUSY);
  return ::unlink(host.c_str()) == 0 ? 0 : lastError();
}

int32_t ServedFolder::makeFolder(uint32_t unit, const std::string& path, uint32_t mode) {
  std::string host;
  if (int32_t r = resolve(unit, path, false, host); r < 0) return r;
  return ::mkdir(host.c_str(), mode & 0777 ? mode & 0777 : 0777) == 0 ? 0 : lastError();
}

int32_t ServedFolder::removeFolder(uint32_t unit, const std::string& path) {
  std::string host;
  if (int32_t r = resolve(unit, path, false, host); r < 0) return r;
  if (host == root_) return pspError(EBUSY);
  return ::rmdir(host.c_str()) == 0 ? 0 : lastError();
}

int32_t ServedFolder::rename(uint32_t unit, const std::string& from, const std::string& to) {
  std::string hostFrom, hostTo;
  if (int32_t r = resolve(unit, from, false, hostFrom); r < 0) return r;
  // A bare new name stays in the folder of the old one.
  std::string target = to;
  if (to.find_first_of("/\\") == std::string::npos) {
    const size_t slash = from.find_last_of("/\\");
    if (slash != std::string::npos) target = from.substr(0, slash + 1) + to;
  }
  if (int32_t r = resolve(unit, target, false, hostTo); r < 0) return r;
  if (hostFrom == root_ || hostTo == root_) return pspError(EBUSY);
  return ::rename(hostFrom.c_str(), hostTo.c_str()) == 0 ? 0 : lastError();
}

int32_t ServedFolder::changeFolder(uint32_t unit, const std::string& path) {
  std::vector<std::string> parts;
  if (int32_t r = resolveParts(unit, path, true, parts); r < 0) return r;
  struct stat st;
  if (::lstat(hostPathOf(parts).c_str(), &st) != 0) return lastError();
  if (!S_ISDIR(st.st_mode)) return pspError(ENOTDIR);
  current_[unit] = std::move(parts);
  return 0;
}

int32_t ServedFolder::openFolder(uint32_t unit, const std::string& path) {
  if (int(folders_.size()) >= kMaxDirs) return pspError(EMFILE);
  std::vector<std::string> parts;
  if (int32_t r = resolveParts(unit, path, true, parts); r < 0) return r;
  const int fd = ::open(hostPathOf(parts).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return lastError();
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    const int32_t r = lastError();
    ::close(fd);
    return r;
  }
  auto* folder = new Folder;
  folder->dir = dir;
  folder->parts = std::move(parts);
  // The served folder is the PSP's root: like a memory stick's root it has no "." and "..".
  if (folder->parts.empty()) folder->dots = 2;
  const int32_t did = nextFree(nextDid_, folders_);
  folders_[did] = folder;
  return did;
}

int32_t ServedFolder::readFolder(int32_t did, PspStat& stat, std::string& name) {
  const auto it = folders_.find(did);
  if (it == folders_.end()) return pspError(EBADF);
  Folder& folder = *it->second;
  struct stat st;
  while (folder.dots < 2) {
    std::vector<std::string> at = folder.parts;
    if (folder.dots++ == 1) at.pop_back();
    if (::stat(hostPathOf(at).c_str(), &st) != 0) continue;
    stat = pspStat(st);
    name = folder.dots == 1 ? "." : "..";
    return 1;
  }
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(folder.dir);
    if (!entry) return errno ? lastError() : 0;
    const std::string entryName = entry->d_name;
    if (entryName == "." || entryName == ".." || entryName.size() >= kNameBytes) continue;
    if (::fstatat(::dirfd(folder.dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      std::vector<std::string> parts = folder.parts;
      parts.push_back(entryName);
      std::string host;
      std::string relative;
      for (const std::string& p : parts) relative += "/" + p;
      if (resolve(0, relative, true, host) < 0 || ::lstat(host.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    }
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
    stat = pspStat(st);
    name = entryName;
    return 1;
  }
}

int32_t ServedFolder::closeFolder(int32_t did) {
  const auto it = folders_.find(did);
  if (it == folders_.end()) return pspError(EBADF);
  ::closedir(it->second->dir);
  delete it->second;
  folders_.erase(it);
  return 0;
}

int32_t ServedFolder::getStat(uint32_t unit, const std::string& path, PspStat& stat) {
  std::string host;
  if (int32_t r = resolve(unit, path, true, host); r < 0) return r;
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) return lastError();
  if (S_ISLNK(st.st_mode)) return pspError(EACCES);
  stat = pspStat(st);
  return 0;
}

int32_t ServedFolder::changeStat(uint32_t unit, const std::string& path, uint32_t bits, const PspStat& stat) {
  std::string host;
  if (int32_t r = resolve(unit, path, true, host); r < 0) return r;
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) return lastError();
  if (S_ISLNK(st.st_mode)) return pspError(EACCES);
  if ((bits & kChangeMode) && ::chmod(host.c_str(), stat.mode & 0777) != 0) return lastError();
  if (bits & kChangeSize) {
    if (!S_ISREG(st.st_mode) || stat.size < 0) return pspError(EINVAL);
    if (::truncate(host.c_str(), off_t(stat.size)) != 0) return lastError();
  }
  if (bits & (kChangeAccessTime | kChangeModifyTime)) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if (bits & kChangeAccessTime) {
      const time_t t = hostTime(stat.atime);
      if (t < 0) return pspError(EINVAL);
      times[0] = {t, 0};
    }
    if (bits & kChangeModifyTime) {
      const time_t t = hostTime(stat.mtime);
      if (t < 0) return pspError(EINVAL);
      times[1] = {t, 0};
    }
    if (::utimensat(AT_FDCWD, host.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return lastError();
  }
  return 0;
}

int32_t ServedFolder::space(uint64_t& total, uint64_t& free) {
  struct statvfs vfs;
  if (::statvfs(root_.c_str(), &vfs) != 0) return lastError();
  total = uint64_t(vfs.f_blocks) * vfs.f_frsize;
  free = uint64_t(vfs.f_bavail) * vfs.f_frsize;
  return 0;
}

}  // namespace kivo::psplink

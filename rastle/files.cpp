#include "files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace rastle {
namespace {

// The temporary file being written, for the signal handler: a user's Ctrl-C or Kivo's Cancel
// must not leave it behind.
char gTemp[PATH_MAX + 64];
volatile sig_atomic_t gHaveTemp = 0;

void removeTempAndDie(int sig) {
  if (gHaveTemp) unlink(gTemp);
  signal(sig, SIG_DFL);
  raise(sig);
}

void watchSignals() {
  static bool done = false;
  if (done) return;
  done = true;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) {
    struct sigaction old {};
    // A signal the parent chose to ignore stays ignored (nohup, a test's SIGXFSZ).
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = removeTempAndDie;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

void setSignalTemp(const std::string& path) {
  gHaveTemp = 0;
  if (path.size() >= sizeof gTemp) return;
  std::memcpy(gTemp, path.c_str(), path.size() + 1);
  gHaveTemp = 1;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string realPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string s = real;
  std::free(real);
  return s;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  if (a.st_dev == b.st_dev && a.st_ino == b.st_ino) return true;
  return S_ISBLK(a.st_mode) && S_ISBLK(b.st_mode) && a.st_rdev == b.st_rdev;
}

// What a run killed outright left beside this target: "<name>.part<pid>-<n>" of a process that
// no longer exists. Files of a live process, or of anyone else's naming, are left alone.
void removeLeftovers(const std::string& target) {
  const std::string prefix = baseOf(target) + ".part";
  DIR* dir = opendir(folderOf(target).c_str());
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    const char* name = e->d_name;
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) continue;
    const char* p = name + prefix.size();
    char* end = nullptr;
    errno = 0;
    long pid = std::strtol(p, &end, 10);
    if (end == p || *end != '-' || pid <= 0 || errno) continue;
    const char* q = end + 1;
    std::strtol(q, &end, 10);
    if (end == q || *end != '\0') continue;
    if (pid == long(getpid()) || kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    std::string path = folderOf(target) + "/" + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
  }
  closedir(dir);
}

bool isToolName(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  for (char& c : ext)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".exe" || ext == ".cmd" || ext == ".bat";
}

// A program of the tool folder: one Kivo would start, or rastle itself. Other files there (an
// image or an EBOOT a user keeps beside the tools) may be written when named.
bool isTool(const std::string& real, const struct stat* st, const std::string& toolFolder) {
  if (toolFolder.empty() || real.empty() || folderOf(real) != toolFolder) return false;
  if (st && S_ISREG(st->st_mode) && (st->st_mode & 0111)) return true;
  return isToolName(baseOf(real));
}

} // namespace

int openInput(const std::string& path, struct stat* st, OpenProblem* problem) {
  // Not blocking at open: a FIFO would wait there for a writer that may never come.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *problem = OpenProblem::Unopenable;
    return -1;
  }
  if (fstat(fd, st) != 0) {
    *problem = OpenProblem::Unopenable;
  } else if (S_ISDIR(st->st_mode)) {
    *problem = OpenProblem::Folder;
  } else if (!S_ISREG(st->st_mode) && !S_ISBLK(st->st_mode)) {
    *problem = OpenProblem::NotAFile;
  } else {
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1) {
      *problem = OpenProblem::None;
      return fd;
    }
    *problem = OpenProblem::Unopenable;
  }
  close(fd);
  return -1;
}

std::string programFolder() {
  std::string self = realPath("/proc/self/exe");
  return self.empty() ? std::string() : folderOf(self);
}

std::string OutputFile::temporaryName(const std::string& target, long pid, int attempt) {
  return target + ".part" + std::to_string(pid) + "-" + std::to_string(attempt);
}

OutputFile::~OutputFile() { discard(); }

OpenProblem OutputFile::open(const std::string& path, const struct stat& input, const std::string& toolFolder) {
  target_ = path;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (sameFile(st, input)) return OpenProblem::IsInput;
    if (S_ISDIR(st.st_mode)) return OpenProblem::Unopenable;
    std::string real = realPath(path);
    if (isTool(real, &st, toolFolder)) return OpenProblem::IsTool;
    if (S_ISREG(st.st_mode)) {
      // The user must be allowed to replace it, as when writing it in place.
      if (access(path.c_str(), W_OK) != 0) return OpenProblem::Unopenable;
      // Through a symbolic link the link stays and the file it names is replaced.
      if (!real.empty()) target_ = real;
      if (openTemporary(&st)) return OpenProblem::None;
      // A folder where nothing new can be made but the file may be written: in place, as before.
      if (errno != EACCES && errno != EPERM) return OpenProblem::Unopenable;
    }
    // A device or FIFO is written in place: renaming a file over it would replace the device.
    // Not blocking at open: a FIFO without a reader fails instead of waiting for one.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (S_ISREG(st.st_mode) ? O_TRUNC : 0));
    if (fd_ < 0) return OpenProblem::Unopenable;
    int flags = fcntl(fd_, F_GETFL);
    if (flags == -1 || fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) == -1) {
      close(fd_);
      fd_ = -1;
      return OpenProblem::Unopenable;
    }
    inPlace_ = true;
    seekable_ = S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
    return OpenProblem::None;
  }
  struct stat link {};
  if (lstat(path.c_str(), &link) == 0) {
    // A link to a file yet to be made: create that file through it, as opening it would.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ < 0) return OpenProblem::Unopenable;
    inPlace_ = seekable_ = true;
    return OpenProblem::None;
  }
  std::string folder = realPath(folderOf(path));
  if (isTool(folder.empty() ? std::string() : folder + "/" + baseOf(path), nullptr, toolFolder))
    return OpenProblem::IsTool;
  return openTemporary(nullptr) ? OpenProblem::None : OpenProblem::Unopenable;
}

bool OutputFile::openTemporary(const struct stat* old) {
  removeLeftovers(target_);
  watchSignals();
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = temporaryName(target_, long(getpid()), attempt);
    setSignalTemp(temp_);
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ >= 0) break;
    int err = errno;
    gHaveTemp = 0;
    errno = err;
    if (err != EEXIST) break;
  }
  if (fd_ < 0) {
    temp_.clear();
    return false;
  }
  replacing_ = old != nullptr;
  if (old) {
    // The replacement keeps the permissions (and, where allowed, the owner) of what it replaces.
    if (fchown(fd_, old->st_uid, old->st_gid) != 0) {
      // Only the superuser may give a file away; the user's own file stays the user's anyway.
    }
    fchmod(fd_, old->st_mode & 07777);
  }
  seekable_ = true;
  return true;
}

// Starts writing finished data to the disk while the run goes on, so the sync at the end has
// little left to wait for.
void OutputFile::startWriteback(uint64_t end) {
  constexpr uint64_t kStep = 8u << 20;
  if (!replacing_ || end < flushedTo_ + kStep) return;
  sync_file_range(fd_, off_t(flushedTo_), off_t(end - flushedTo_), SYNC_FILE_RANGE_WRITE);
  flushedTo_ = end;
}

bool OutputFile::writeAt(uint64_t pos, const uint8_t* data, size_t n) {
  while (n > 0) {
    ssize_t put = pwrite(fd_, data, n, off_t(pos));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    n -= size_t(put);
    pos += uint64_t(put);
  }
  return true;
}

bool OutputFile::write(const uint8_t* data, size_t n) {
  if (seekable_) {
    if (!writeAt(pos_, data, n)) return false;
    pos_ += n;
    startWriteback(pos_);
    return true;
  }
  while (n > 0) {
    ssize_t put = ::write(fd_, data, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    n -= size_t(put);
  }
  return true;
}

bool OutputFile::writePieces(const Piece* parts, size_t count) {
  constexpr size_t kMaxParts = 64;
  iovec iov[kMaxParts];
  while (count > 0) {
    size_t n = std::min(count, kMaxParts);
    size_t bytes = 0;
    for (size_t i = 0; i < n; ++i) {
      iov[i] = {const_cast<uint8_t*>(parts[i].data), parts[i].size};
      bytes += parts[i].size;
    }
    parts += n;
    count -= n;
    iovec* v = iov;
    while (bytes > 0) {
      ssize_t put = seekable_ ? pwritev(fd_, v, int(n), off_t(pos_)) : writev(fd_, v, int(n));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      bytes -= size_t(put);
      if (seekable_) pos_ += uint64_t(put);
      // Past what went out, for a short write.
      size_t skip = size_t(put);
      while (n > 0 && skip >= v->iov_len) {
        skip -= v->iov_len;
        ++v;
        --n;
      }
      if (n > 0) {
        v->iov_base = static_cast<uint8_t*>(v->iov_base) + skip;
        v->iov_len -= skip;
      }
    }
  }
  if (seekable_) startWriteback(pos_);
  return true;
}

bool OutputFile::commit() {
  if (fd_ < 0) return false;
  int fd = fd_;
  fd_ = -1;
  if (inPlace_) return close(fd) == 0;
  // Where an image is replaced, its data reaches the disk before the name does, so a crash cannot
  // swap the old image for an empty one. A new image has nothing to protect: the kernel writes it
  // out in its own time. A file system that cannot sync (EINVAL) has nothing to wait for.
  bool ok = !replacing_ || fsync(fd) == 0 || errno == EINVAL;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp_.c_str(), target_.c_str()) == 0) {
    gHaveTemp = 0;
    temp_.clear();
    return true;
  }
  discard();
  return false;
}

void OutputFile::discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) {
    unlink(temp_.c_str());
    gHaveTemp = 0;
    temp_.clear();
  }
}

} // namespace rastle

#include "io.h"

#include "outputguard.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

namespace {

std::string sysMessage(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

constexpr size_t kWriteBuffer = 1 << 20;

// Temporary files being written, so that an interrupted run (Ctrl+C, a closed console)
// removes them too. The handler may only use async-signal-safe calls. An extraction writes a BIN
// per track and a sheet per disc before it renames any of them.
constexpr int kSlots = 128;
std::atomic<const char*> g_temps[kSlots];

void removeTempsAndDie(int sig) {
  for (auto& slot : g_temps)
    if (const char* p = slot.load()) ::unlink(p);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void trackTemp(const char* path) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
      ::signal(sig, removeTempsAndDie);
    // Past a file size limit a write should fail with a message, not kill the tool midway.
    ::signal(SIGXFSZ, SIG_IGN);
  });
  for (auto& slot : g_temps) {
    const char* none = nullptr;
    if (slot.compare_exchange_strong(none, path)) return;
  }
}

void untrackTemp(const char* path) {
  for (auto& slot : g_temps) {
    const char* expected = path;
    slot.compare_exchange_strong(expected, nullptr);
  }
}

// "<target>.part<pid>-<n>": a name of our own, so leftovers of a killed run can be found.
constexpr const char* kTempMark = ".part";

// Removes what a run killed outright (SIGKILL, a crash, a power cut) left beside this target:
// temporaries whose process is gone.
void removeStaleTemps(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash ? slash : 1);
  const std::string prefix = target.substr(slash == std::string::npos ? 0 : slash + 1) + kTempMark;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    const std::string attempt = end ? std::string(end) : std::string();
    if (pid <= 0 || attempt.size() < 2 || attempt[0] != '-' ||
        !std::all_of(attempt.begin() + 1, attempt.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) ::unlink((folder + "/" + name).c_str());
  }
  ::closedir(dir);
}

// The rename itself is made durable too, so a power cut cannot bring the old file back.
void syncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

} // namespace

void MemorySource::readAt(uint64_t off, void* buf, size_t n) const {
  if (off > size_ || n > size_ - off) throw ToolError("unexpected end of data");
  if (n) std::memcpy(buf, data_ + off, n);
}

void MemorySink::write(const void* buf, size_t n) {
  auto p = static_cast<const uint8_t*>(buf);
  bytes.insert(bytes.end(), p, p + n);
}

void MemorySink::writeAt(uint64_t off, const void* buf, size_t n) {
  if (off > bytes.size() || n > bytes.size() - off) throw ToolError("patch outside written data");
  if (n) std::memcpy(bytes.data() + off, buf, n);
}

InputFile::InputFile(const std::string& path) : path_(path) {
  // Without O_NONBLOCK opening a pipe would wait for a writer that may never come.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw ToolError(sysMessage("cannot open", path));
  auto refuse = [this](const std::string& why) {
    ::close(fd_);
    fd_ = -1;
    return ToolError("cannot read '" + path_ + "': " + why);
  };
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    std::string msg = sysMessage("cannot read", path);
    ::close(fd_);
    throw ToolError(msg);
  }
  if (S_ISDIR(st.st_mode)) throw refuse("it is a folder");
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
    throw refuse(std::string("it is ") +
                 (S_ISFIFO(st.st_mode)   ? "a pipe"
                  : S_ISSOCK(st.st_mode) ? "a socket"
                  : S_ISCHR(st.st_mode)  ? "a character device"
                                         : "not a file") +
                 ", not a file or a disc drive");
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  if (S_ISREG(st.st_mode)) {
    size_ = uint64_t(st.st_size);
  } else { // a disc drive's block device has no st_size
    off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) throw refuse("not a file of known size");
    size_ = uint64_t(end);
  }
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

void InputFile::readAt(uint64_t off, void* buf, size_t n) const {
  auto p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    ssize_t got = ::pread(fd_, p, n, off_t(off));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ToolError(sysMessage("cannot read", path_));
    }
    if (got == 0) throw ToolError("'" + path_ + "' ends unexpectedly (truncated?)");
    p += got;
    n -= size_t(got);
    off += uint64_t(got);
  }
}

OutputFile::OutputFile(const std::string& path, const std::vector<std::string>& readFrom) : path_(path), target_(path) {
  const std::string hazard = outputHazard(path, readFrom);
  if (!hazard.empty()) throw ToolError("refusing to write: " + hazard);
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) throw ToolError("cannot write '" + path + "': it is a folder");
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
      throw ToolError("cannot write '" + path + "': it is a pipe or a socket, not a file");
    if (!S_ISREG(st.st_mode)) {
      // A device is written in place: a file renamed over it would replace the device.
      fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd_ < 0) throw ToolError(sysMessage("cannot write", path));
      direct_ = true;
      return;
    }
    // Through a symbolic link the link stays and the file it names is replaced.
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target_ = real;
      std::free(real);
    }
  }
  removeStaleTemps(target_);
  // The temporary sits in the target's folder so the final rename stays on one file system.
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temp_ = target_ + kTempMark + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) throw ToolError(sysMessage("cannot write", path));
  trackTemp(temp_.c_str());
  if (exists) {
    // The new file takes the place of the old one, with its owner where allowed and its mode.
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
      (void)!::fchown(fd_, st.st_uid, st.st_gid);
    ::fchmod(fd_, st.st_mode & 07777);
  }
  buf_.reserve(kWriteBuffer);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) {
    ::close(fd_);
    if (!direct_) ::unlink(temp_.c_str());
  }
  if (!direct_) untrackTemp(temp_.c_str());
}

void OutputFile::writeRaw(uint64_t at, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t put = ::pwrite(fd_, p, n, off_t(at));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw ToolError(sysMessage("cannot write", path_));
    }
    p += put;
    n -= size_t(put);
    at += uint64_t(put);
  }
}

void OutputFile::flush() {
  writeRaw(pos_ - buf_.size(), buf_.data(), buf_.size());
  buf_.clear();
}

void OutputFile::write(const void* buf, size_t n) {
  auto p = static_cast<const uint8_t*>(buf);
  if (buf_.size() + n > kWriteBuffer) flush();
  if (n >= kWriteBuffer) {
    writeRaw(pos_, p, n);
  } else {
    buf_.insert(buf_.end(), p, p + n);
  }
  pos_ += n;
}

void OutputFile::writeAt(uint64_t off, const void* buf, size_t n) {
  flush();
  if (off > pos_ || n > pos_ - off) throw ToolError("internal error: patch outside written data");
  writeRaw(off, static_cast<const uint8_t*>(buf), n);
}

void OutputFile::finishWriting() {
  if (synced_) return;
  flush();
  // A device such as /dev/null cannot be synced; only a real failure counts.
  if (::fsync(fd_) != 0 && !(direct_ && (errno == EINVAL || errno == EROFS)))
    throw ToolError(sysMessage("cannot write", path_));
  synced_ = true;
}

void OutputFile::commit() {
  finishWriting();
  int fd = fd_;
  fd_ = -1;
  if (direct_) {
    if (::close(fd) != 0) throw ToolError(sysMessage("cannot write", path_));
    return;
  }
  if (::close(fd) != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0) {
    std::string msg = sysMessage("cannot write", path_);
    ::unlink(temp_.c_str());
    untrackTemp(temp_.c_str());
    throw ToolError(msg);
  }
  untrackTemp(temp_.c_str());
  syncFolderOf(target_);
}

} // namespace kivo

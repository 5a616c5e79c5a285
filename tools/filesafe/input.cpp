#include "input.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kivo::filesafe {

Input::~Input() { close(); }

void Input::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int Input::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

Refusal Input::open(const std::string& path, bool allowBlockDevice) {
  close();
  error_ = 0;
  info_ = {};
  size_ = 0;
  if (path.empty()) return Refusal::NoName;
  // Not blocking at open: a FIFO would wait there for a writer that may never come.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error_ = errno;
    ::stat(path.c_str(), &info_); // a FIFO without a writer can still be named
    return Refusal::System;
  }
  Refusal refusal = Refusal::None;
  if (::fstat(fd, &info_) != 0) {
    error_ = errno;
    refusal = Refusal::System;
  } else if (S_ISDIR(info_.st_mode)) {
    refusal = Refusal::Folder;
  } else if (S_ISREG(info_.st_mode)) {
    size_ = uint64_t(info_.st_size);
  } else if (S_ISBLK(info_.st_mode) && allowBlockDevice) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
      error_ = errno;
      refusal = Refusal::System;
    }
    size_ = end < 0 ? 0 : uint64_t(end);
  } else {
    refusal = Refusal::NotAFile;
  }
  const int flags = refusal == Refusal::None ? ::fcntl(fd, F_GETFL) : -1;
  if (refusal == Refusal::None && (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1)) {
    error_ = errno;
    refusal = Refusal::System;
  }
  if (refusal != Refusal::None) {
    ::close(fd);
    return refusal;
  }
  fd_ = fd;
  return Refusal::None;
}

const char* kindOf(const struct stat& info) {
  if (S_ISFIFO(info.st_mode)) return "a pipe";
  if (S_ISSOCK(info.st_mode)) return "a socket";
  if (S_ISCHR(info.st_mode)) return "a character device";
  if (S_ISBLK(info.st_mode)) return "a block device";
  if (S_ISDIR(info.st_mode)) return "a folder";
  return "not a file";
}

bool readAllAt(int fd, void* data, size_t n, uint64_t offset) {
  auto* p = static_cast<uint8_t*>(data);
  while (n > 0) {
    const ssize_t got = ::pread(fd, p, n, off_t(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = 0;
      return false;
    }
    p += got;
    n -= size_t(got);
    offset += uint64_t(got);
  }
  return true;
}

long readSome(int fd, void* data, size_t n) {
  for (;;) {
    const ssize_t got = ::read(fd, data, n);
    if (got >= 0 || errno != EINTR) return long(got);
  }
}

} // namespace kivo::filesafe

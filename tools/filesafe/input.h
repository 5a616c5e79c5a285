// Opening a file that came from outside: only a regular file (or, where asked, a block device
// such as a disc drive) is taken, and anything else is refused at once, never waited on.
#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace kivo::filesafe {

/// Why a file was not opened; None when it was.
enum class Refusal {
  None,
  System,   ///< the system refused it; error() says why
  NoName,   ///< an empty path
  Folder,
  NotAFile, ///< a FIFO, a socket, a character device, or a block device where none is taken
  IsInput,  ///< an output that is one of the run's inputs, under any name
  IsTool,   ///< an output that is a program of the tool folder
  Exists,   ///< an output that must be new, and is not
};

/// An open input: a regular file, or a block device when allowed. Closed by its destructor.
class Input {
public:
  Input() = default;
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  /// Opens path for reading without blocking on it. On a refusal info() still describes what
  /// stands there (when anything does), so that callers can name it.
  Refusal open(const std::string& path, bool allowBlockDevice);
  int fd() const { return fd_; }
  /// The errno of a System refusal.
  int error() const { return error_; }
  const struct stat& info() const { return info_; }
  /// The file's length; a block device's is measured, as it has no size of its own.
  uint64_t size() const { return size_; }
  /// Hands the descriptor over to the caller, who closes it.
  int release();
  void close();

private:
  int fd_ = -1;
  int error_ = 0;
  struct stat info_ {};
  uint64_t size_ = 0;
};

/// "a pipe", "a socket", "a character device", "a block device", "a folder" or "not a file".
const char* kindOf(const struct stat& info);

/// Reads exactly n bytes at offset; false with errno set on an error, or with errno 0 at the end.
bool readAllAt(int fd, void* data, size_t n, uint64_t offset);
/// Reads up to n bytes, retrying when interrupted; the count, 0 at the end, -1 on an error.
long readSome(int fd, void* data, size_t n);

} // namespace kivo::filesafe

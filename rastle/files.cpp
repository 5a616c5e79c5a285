#include "files.h"

#include "filesafe/input.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace rastle {

namespace fs = kivo::filesafe;

int openInput(const std::string& path, struct stat* st, OpenProblem* problem) {
  fs::Input in;
  const fs::Refusal refusal = in.open(path, true);
  *st = in.info();
  switch (refusal) {
  case fs::Refusal::None: *problem = OpenProblem::None; return in.release();
  case fs::Refusal::Folder: *problem = OpenProblem::Folder; break;
  case fs::Refusal::NotAFile: *problem = OpenProblem::NotAFile; break;
  default: *problem = OpenProblem::Unopenable; break;
  }
  return -1;
}

std::string programFolder() { return fs::ownFolder(); }

OutputFile::~OutputFile() { discard(); }

OpenProblem OutputFile::open(const std::string& path, const struct stat& input, const std::string& toolFolder) {
  fs::Guard guard;
  guard.addInput(input);
  std::vector<std::string> folders = fs::toolFolders();
  if (!toolFolder.empty()) folders.push_back(toolFolder);
  guard.guardTools(folders);
  // As opening the path for writing would: a device or FIFO gets the image itself, a link that
  // leads nowhere yet gets its file made, and a file the user may not write is not replaced.
  fs::OutputRules rules;
  rules.devicesInPlace = rules.fifosInPlace = rules.followDanglingLinks = rules.requireWritable = true;
  // A new image has nothing to protect: the kernel writes it out in its own time.
  rules.syncNewFiles = false;
  rules.guard = &guard;
  pos_ = flushedTo_ = 0;
  switch (out_.open(path, rules)) {
  case fs::Refusal::None: break;
  case fs::Refusal::IsInput: return OpenProblem::IsInput;
  case fs::Refusal::IsTool: return OpenProblem::IsTool;
  case fs::Refusal::Folder: return OpenProblem::Folder;
  default: return OpenProblem::Unopenable;
  }
  fd_ = out_.fd();
  struct stat st {};
  seekable_ = ::fstat(fd_, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
  return OpenProblem::None;
}

// Starts writing finished data to the disk while the run goes on, so the sync at the end has
// little left to wait for.
void OutputFile::startWriteback(uint64_t end) {
  constexpr uint64_t kStep = 8u << 20;
  if (!out_.replacing() || end < flushedTo_ + kStep) return;
  sync_file_range(fd_, off_t(flushedTo_), off_t(end - flushedTo_), SYNC_FILE_RANGE_WRITE);
  flushedTo_ = end;
}

bool OutputFile::writeAt(uint64_t pos, const uint8_t* data, size_t n) { return fs::writeAllAt(fd_, data, n, pos); }

bool OutputFile::write(const uint8_t* data, size_t n) {
  if (!seekable_) return fs::writeAll(fd_, data, n);
  if (!writeAt(pos_, data, n)) return false;
  pos_ += n;
  startWriteback(pos_);
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
  fd_ = -1;
  return out_.commit();
}

void OutputFile::discard() {
  fd_ = -1;
  out_.discard();
}

} // namespace rastle

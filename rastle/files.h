// rastle's two files: an input that cannot block or be mistaken for the output, and an output
// that replaces its target only once it is complete.
#pragma once

#include "extract.h"

#include "filesafe/output.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace rastle {

/// Why a file was refused; None when it was opened.
enum class OpenProblem {
  None,
  Unopenable, ///< the system refused it
  Folder,
  NotAFile, ///< a FIFO, socket or character device, which could block or never end
  IsInput,
  IsTool, ///< rastle itself or a program beside it
};

/// Opens the input for reading. Only a regular file or a block device is taken; anything else
/// is refused without waiting on it. Returns the descriptor, or -1 with the problem set.
int openInput(const std::string& path, struct stat* st, OpenProblem* problem);

/// The folder holding the running program (its tool folder); empty when it cannot be told.
std::string programFolder();

/// The output image. A regular file is written beside its target under a temporary name and
/// renamed over it by commit(), so a failed or killed run leaves the target as it was and no
/// partial image where none stood; where no temporary can be made the output is refused, never
/// cut short in place. A device or FIFO is written in place. A file that replaces another is
/// synced before the rename, so even a crash leaves the old image or the new one.
class OutputFile {
public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Refuses the input file itself (input is its stat) and the programs of the tool folder it was
  /// started from, of the one it lies in, and of toolFolder when given.
  OpenProblem open(const std::string& path, const struct stat& input, const std::string& toolFolder = {});

  /// Sequential writes; false once any byte could not be written.
  bool write(const uint8_t* data, size_t n);
  /// Gathers pieces into one sequential write.
  bool writePieces(const Piece* pieces, size_t count);
  /// Writes at a position, from any thread; only for a seekable output.
  bool writeAt(uint64_t pos, const uint8_t* data, size_t n);
  bool seekable() const { return seekable_; }
  int fd() const { return fd_; }

  /// Flushes the data to the disk and puts the file in place of its target.
  bool commit();
  /// Removes what was written (a device keeps it: it cannot be taken back).
  void discard();

private:
  void startWriteback(uint64_t end);

  kivo::filesafe::Output out_;
  int fd_ = -1;
  bool seekable_ = false;
  uint64_t pos_ = 0;
  uint64_t flushedTo_ = 0;
};

} // namespace rastle

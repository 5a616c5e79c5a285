// File and buffer access shared by the converters. Every failure is a ToolError carrying a
// message meant for the user; the programs print it and exit non-zero.
#pragma once

#include "filesafe/output.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kivo {

struct ToolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Random-access bytes: a file, or a buffer in tests and fuzzing.
class ByteSource {
public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  /// Reads exactly n bytes at off; throws ToolError if they are not all there.
  virtual void readAt(uint64_t off, void* buf, size_t n) const = 0;
};

/// Sequential output with patching of already written bytes (tables written last).
class ByteSink {
public:
  virtual ~ByteSink() = default;
  virtual void write(const void* buf, size_t n) = 0;
  virtual void writeAt(uint64_t off, const void* buf, size_t n) = 0;
  virtual uint64_t position() const = 0;
};

class MemorySource : public ByteSource {
public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  void readAt(uint64_t off, void* buf, size_t n) const override;

private:
  const uint8_t* data_;
  size_t size_;
};

class MemorySink : public ByteSink {
public:
  void write(const void* buf, size_t n) override;
  void writeAt(uint64_t off, const void* buf, size_t n) override;
  uint64_t position() const override { return bytes.size(); }
  std::vector<uint8_t> bytes;
};

/// Counts what is written and drops it (fuzzing must not grow memory with the claimed size).
class NullSink : public ByteSink {
public:
  void write(const void*, size_t n) override { pos_ += n; }
  void writeAt(uint64_t, const void*, size_t) override {}
  uint64_t position() const override { return pos_; }

private:
  uint64_t pos_ = 0;
};

/// A disc image or container to read: a regular file or a block device (a disc drive). Anything
/// else (a folder, a pipe, a terminal) is refused at once rather than read or waited on.
class InputFile : public ByteSource {
public:
  /// Without allowBlockDevice only a regular file is taken (a sheet, a playlist, a track).
  explicit InputFile(const std::string& path, bool allowBlockDevice = true);
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  uint64_t size() const override { return size_; }
  void readAt(uint64_t off, void* buf, size_t n) const override;
  const std::string& path() const { return path_; }

private:
  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

/// Writes to a temporary file beside the target and renames it into place on commit(), so a
/// failed or interrupted run never leaves a half-written file under the output's name, and a
/// replaced file keeps its permission bits. Refuses a path that reaches one of the files the run
/// reads, or a program of the tool folder.
class OutputFile : public ByteSink {
public:
  /// readFrom: the paths of the files the run reads.
  explicit OutputFile(const std::string& path, const std::vector<std::string>& readFrom = {});
  ~OutputFile() override; // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(const void* buf, size_t n) override;
  void writeAt(uint64_t off, const void* buf, size_t n) override;
  uint64_t position() const override { return pos_; }
  /// Writes out what is buffered and syncs it to the disk; afterwards writtenPath() holds the
  /// complete output and may be read back. commit() does this itself when not done yet.
  void finishWriting();
  /// The file being written: the temporary file, or the device written in place.
  const std::string& writtenPath() const { return out_.writtenPath(); }
  void commit();
  /// Commits several outputs as one: all are written and synced before the first is renamed,
  /// and a failure leaves every old file in place and no new one.
  static void commitAll(const std::vector<OutputFile*>& files);

private:
  void flush();
  void writeRaw(uint64_t at, const uint8_t* p, size_t n);
  std::string path_;
  filesafe::Output out_;
  bool synced_ = false;
  uint64_t pos_ = 0;
  std::vector<uint8_t> buf_;
};

inline uint16_t getLe16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t getLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t getLe64(const uint8_t* p) {
  return getLe32(p) | uint64_t(getLe32(p + 4)) << 32;
}
inline void putLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (8 * i));
}
inline void putLe64(uint8_t* p, uint64_t v) {
  putLe32(p, uint32_t(v));
  putLe32(p + 4, uint32_t(v >> 32));
}

} // namespace kivo

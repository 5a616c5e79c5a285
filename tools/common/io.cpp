#include "io.h"

#include "filesafe/guard.h"

#include <cstring>
#include <unistd.h>

namespace kivo {

namespace {

std::string sysMessage(const std::string& what, const std::string& path, int error) {
  return what + " '" + path + "': " + std::strerror(error);
}

constexpr size_t kWriteBuffer = 1 << 20;

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

InputFile::InputFile(const std::string& path, bool allowBlockDevice) : path_(path) {
  filesafe::Input in;
  switch (in.open(path, allowBlockDevice)) {
  case filesafe::Refusal::None: break;
  case filesafe::Refusal::Folder:
  case filesafe::Refusal::NotAFile:
    if (!allowBlockDevice) throw ToolError("cannot read '" + path + "': it is not a regular file");
    if (S_ISDIR(in.info().st_mode)) throw ToolError("cannot read '" + path + "': it is a folder");
    throw ToolError("cannot read '" + path + "': it is " + filesafe::kindOf(in.info()) + ", not a file or a disc drive");
  default: throw ToolError(sysMessage("cannot open", path, in.error() ? in.error() : ENOENT));
  }
  size_ = in.size();
  fd_ = in.release();
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

void InputFile::readAt(uint64_t off, void* buf, size_t n) const {
  if (filesafe::readAllAt(fd_, buf, n, off)) return;
  if (errno) throw ToolError(sysMessage("cannot read", path_, errno));
  throw ToolError("'" + path_ + "' ends unexpectedly (truncated?)");
}

OutputFile::OutputFile(const std::string& path, const std::vector<std::string>& readFrom) : path_(path) {
  filesafe::Guard guard;
  for (const std::string& in : readFrom)
    guard.addInput(in);
  filesafe::OutputRules rules;
  rules.devicesInPlace = true;
  rules.guard = &guard;
  switch (out_.open(path, rules)) {
  case filesafe::Refusal::None: break;
  case filesafe::Refusal::IsInput:
    throw ToolError("refusing to write: the output '" + path + "' is the input file '" + out_.guarded() +
                    "' (under another name)");
  case filesafe::Refusal::IsTool:
    throw ToolError("refusing to write: the output '" + path + "' is the program '" + out_.guarded() +
                    "' of the tool folder");
  case filesafe::Refusal::Folder: throw ToolError("cannot write '" + path + "': it is a folder");
  case filesafe::Refusal::NotAFile: throw ToolError("cannot write '" + path + "': it is a pipe or a socket, not a file");
  default: throw ToolError(sysMessage("cannot write", path, out_.error() ? out_.error() : ENOENT));
  }
  buf_.reserve(kWriteBuffer);
}

OutputFile::~OutputFile() = default;

void OutputFile::writeRaw(uint64_t at, const uint8_t* p, size_t n) {
  if (!filesafe::writeAllAt(out_.fd(), p, n, at)) throw ToolError(sysMessage("cannot write", path_, errno));
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
  if (!out_.finish()) throw ToolError(sysMessage("cannot write", path_, out_.error()));
  synced_ = true;
}

void OutputFile::commit() {
  finishWriting();
  if (!out_.install()) throw ToolError(sysMessage("cannot write", path_, out_.error()));
}

void OutputFile::commitAll(const std::vector<OutputFile*>& files) {
  std::vector<filesafe::Output*> outputs;
  for (OutputFile* f : files) {
    f->finishWriting();
    outputs.push_back(&f->out_);
  }
  filesafe::Output* failed = nullptr;
  if (filesafe::installTogether(outputs, &failed)) return;
  for (OutputFile* f : files)
    if (&f->out_ == failed) throw ToolError(sysMessage("cannot write", f->path_, failed->error()));
  throw ToolError(sysMessage("cannot write", files.front()->path_, errno));
}

} // namespace kivo

#include "safefile.h"

#include "filesafe/input.h"
#include "filesafe/temporary.h"

#include <QFile>

#include <cerrno>
#include <cstring>

namespace kivo {

namespace {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

std::string encoded(const QString& path) { return QFile::encodeName(path).toStdString(); }

// A replaced symbolic link keeps pointing where it did: the file it leads to is replaced.
QString resolved(const QString& path) {
  const std::string given = encoded(path);
  const std::string real = filesafe::resolveTarget(given, false);
  return real == filesafe::absolutePath(given) ? path : QFile::decodeName(real.c_str());
}

// Opens a file from outside to read; the reason of a refusal goes to error.
bool openOutside(filesafe::Input& in, const QString& path, bool allowBlockDevice, QString* error) {
  QString why;
  switch (in.open(encoded(path), allowBlockDevice)) {
  case filesafe::Refusal::None: return true;
  case filesafe::Refusal::NoName: why = QStringLiteral("No file name given."); break;
  case filesafe::Refusal::Folder: why = QStringLiteral("It is a folder, not a file."); break;
  case filesafe::Refusal::NotAFile: why = QStringLiteral("It is not a plain file."); break;
  default: why = systemError(in.error()); break;
  }
  if (error) *error = why;
  return false;
}

// Copies everything from fd into the replacement; the reason of a failure goes to error.
bool pour(int fd, FileReplacement& into, QString* error) {
  static constexpr size_t kChunk = 1 << 16;
  QByteArray buffer(kChunk, Qt::Uninitialized);
  for (;;) {
    const long n = filesafe::readSome(fd, buffer.data(), kChunk);
    if (n < 0) {
      if (error) *error = QStringLiteral("Cannot read the file to copy: %1").arg(systemError(errno));
      return false;
    }
    if (n == 0) return true;
    if (!into.write(buffer.constData(), n)) {
      if (error) *error = into.errorString();
      return false;
    }
  }
}

// A plain file to copy from.
class Source {
public:
  Source(const QString& path, QString* error) {
    ok_ = openOutside(in_, path, false, error);
    if (!ok_ && error) *error = QStringLiteral("Cannot read \"%1\": %2").arg(path, *error);
  }
  bool ok() const { return ok_; }
  int fd() const { return in_.fd(); }
  mode_t mode() const { return in_.info().st_mode & 07777; }

private:
  filesafe::Input in_;
  bool ok_;
};

}  // namespace

FileReplacement::FileReplacement(const QString& target) : path_(target), target_(resolved(target)) {}

FileReplacement::~FileReplacement() { discard(); }

bool FileReplacement::fail(const QString& what, int error) {
  error_ = QStringLiteral("%1 \"%2\": %3").arg(what, target_, systemError(error));
  return false;
}

void FileReplacement::setMode(mode_t mode) { mode_ = mode & 07777; }

bool FileReplacement::open() {
  error_.clear();
  filesafe::OutputRules rules;
  rules.mode = mode_;
  switch (out_.open(encoded(path_), rules)) {
  case filesafe::Refusal::None: return true;
  case filesafe::Refusal::NoName: error_ = QStringLiteral("No file name given."); return false;
  case filesafe::Refusal::Folder:
  case filesafe::Refusal::NotAFile:
    error_ = QStringLiteral("Cannot write \"%1\": it is not a plain file.").arg(target_);
    return false;
  default: return fail(QStringLiteral("Cannot write"), out_.error());
  }
}

bool FileReplacement::write(const char* data, qint64 size) {
  if (out_.fd() < 0) {
    if (error_.isEmpty()) error_ = QStringLiteral("Cannot write \"%1\": the file is not open.").arg(target_);
    return false;
  }
  if (filesafe::writeAll(out_.fd(), data, size_t(size))) return true;
  fail(QStringLiteral("Cannot write"), errno);
  discard();
  return false;
}

bool FileReplacement::finish() {
  if (out_.finish()) return true;
  if (out_.error() == EBADF && error_.isEmpty())
    error_ = QStringLiteral("Cannot write \"%1\": the file is not open.").arg(target_);
  else if (out_.error() != EBADF)
    fail(QStringLiteral("Cannot write"), out_.error());
  return false;
}

bool FileReplacement::install(bool replace) {
  if (!finish()) return false;
  if (out_.install(replace)) return true;
  return fail(replace ? QStringLiteral("Cannot replace") : QStringLiteral("Cannot create"), out_.error());
}

bool FileReplacement::commit(bool replace) {
  if (finish() && install(replace)) return true;
  discard();
  return false;
}

void FileReplacement::discard() { out_.discard(); }

void FileReplacement::leave() { out_.leave(); }

bool replaceFile(const QString& path, const QByteArray& bytes, QString* error) {
  FileReplacement file(path);
  const bool ok = file.open() && file.write(bytes) && file.commit();
  if (!ok && error) *error = file.errorString();
  return ok;
}

bool copyFileSafely(const QString& from, const QString& to, bool replace, QString* error) {
  const Source source(from, error);
  if (!source.ok()) return false;
  struct stat st {};
  if (!replace && ::lstat(encoded(to).c_str(), &st) == 0) {
    if (error) *error = QStringLiteral("Cannot create \"%1\": %2").arg(to, systemError(EEXIST));
    return false;
  }
  FileReplacement target(to);
  target.setMode(source.mode());
  if (!target.open()) {
    if (error) *error = target.errorString();
    return false;
  }
  if (!pour(source.fd(), target, error)) return false;
  if (!target.commit(replace)) {
    if (error) *error = target.errorString();
    return false;
  }
  return true;
}

bool recoverPair(const QString& first, const QString& second) {
  return filesafe::recoverTogether({encoded(first), encoded(second)});
}

bool copyPairSafely(const QString& fromFirst, const QString& toFirst, const QString& fromSecond,
                    const QString& toSecond, QString* error, const std::function<void()>& beforeRenames) {
  auto failed = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  if (!recoverPair(toFirst, toSecond))
    return failed(QStringLiteral("An earlier copy to \"%1\" was interrupted and cannot be undone.").arg(toFirst));
  const Source sourceFirst(fromFirst, error);
  if (!sourceFirst.ok()) return false;
  const Source sourceSecond(fromSecond, error);
  if (!sourceSecond.ok()) return false;

  FileReplacement first(toFirst), second(toSecond);
  first.setMode(sourceFirst.mode());
  second.setMode(sourceSecond.mode());
  for (auto [from, to] : {std::pair<const Source*, FileReplacement*>{&sourceFirst, &first}, {&sourceSecond, &second}}) {
    if (!to->open()) return failed(to->errorString());
    if (!pour(from->fd(), *to, error)) return false;
    if (!to->finish()) return failed(to->errorString());
  }
  filesafe::Output* stopped = nullptr;
  if (filesafe::installTogether({&first.out_, &second.out_}, &stopped, beforeRenames)) return true;
  if (!stopped) return failed(QStringLiteral("Cannot write \"%1\": %2").arg(first.target(), systemError(errno)));
  FileReplacement& which = stopped == &first.out_ ? first : second;
  which.fail(QStringLiteral("Cannot replace"), stopped->error());
  return failed(which.errorString());
}

std::optional<QByteArray> readOutsideFile(const QString& path, qint64 maxBytes, QString* error) {
  filesafe::Input in;
  if (!openOutside(in, path, true, error)) return std::nullopt;
  const qint64 size = qint64(in.size());
  if (maxBytes >= 0 && size > maxBytes) {
    if (error) *error = QStringLiteral("The file is too large (%1 bytes, at most %2 expected).").arg(size).arg(maxBytes);
    return std::nullopt;
  }
  QByteArray bytes;
  bytes.reserve(size + 1);
  char chunk[1 << 16];
  std::optional<QString> problem;
  for (;;) {
    const long n = filesafe::readSome(in.fd(), chunk, sizeof chunk);
    if (n < 0) problem = systemError(errno);
    if (n <= 0) break;
    bytes.append(chunk, n);
    // The file may have grown since it was measured; never past the limit.
    if (maxBytes >= 0 && bytes.size() > maxBytes)
      problem = QStringLiteral("The file is too large (more than %1 bytes).").arg(maxBytes);
    if (problem) break;
  }
  if (problem) {
    if (error) *error = *problem;
    return std::nullopt;
  }
  return bytes;
}

}  // namespace kivo

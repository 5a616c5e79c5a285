#include "safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if __has_include(<linux/fs.h>)
#include <linux/fs.h>  // RENAME_NOREPLACE
#endif
#include <sys/syscall.h>

namespace kivo {

namespace {

constexpr char kTag[] = ".kivo-";
constexpr int kRandomChars = 6;
// The first file of a pair while both are renamed: its old contents, or a mark that it had none.
constexpr char kKeptOld[] = ".kivo-old";
constexpr char kKeptNone[] = ".kivo-none";

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

QByteArray folderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash < 0) return QByteArrayLiteral(".");
  return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray& path) { return path.mid(path.lastIndexOf('/') + 1); }

// A replaced symbolic link keeps pointing where it did: the file it leads to is replaced.
QString resolved(const QString& path) {
  const QFileInfo info(path);
  if (info.isSymLink() && info.exists()) return info.canonicalFilePath();
  return path;
}

bool isTemporaryOf(const char* entry, const QByteArray& name) {
  const size_t nameLength = size_t(name.size()), tagLength = sizeof kTag - 1;
  if (std::strlen(entry) != nameLength + tagLength + kRandomChars) return false;
  if (std::memcmp(entry, name.constData(), nameLength) != 0) return false;
  if (std::memcmp(entry + nameLength, kTag, tagLength) != 0) return false;
  for (const char* c = entry + nameLength + tagLength; *c; ++c)
    if (!((*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9'))) return false;
  return true;
}

// Calls found for every temporary file of path in its folder; false when the folder cannot be read.
template <class F> bool forEachTemporary(const QByteArray& path, F&& found) {
  DIR* dir = opendir(folderOf(path).constData());
  if (!dir) return false;
  const QByteArray name = nameOf(path);
  while (const dirent* entry = readdir(dir)) {
    if (!isTemporaryOf(entry->d_name, name)) continue;
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      found(dirfd(dir), entry->d_name);
  }
  closedir(dir);
  return true;
}

bool hasTemporary(const QByteArray& path) {
  bool any = false;
  forEachTemporary(path, [&](int, const char*) { any = true; });
  return any;
}

bool removeTemporaries(const QByteArray& path) {
  bool ok = true;
  forEachTemporary(path, [&](int dir, const char* entry) {
    if (unlinkat(dir, entry, 0) != 0 && errno != ENOENT) ok = false;
  });
  return ok;
}

void syncFolder(const QByteArray& path) {
  const int fd = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);  // some file systems cannot sync a folder; the rename itself has been made
  ::close(fd);
}

QByteArray randomSuffix() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  QByteArray suffix(kRandomChars, '\0');
  for (char& c : suffix) c = kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))];
  return suffix;
}

bool exists(const QByteArray& path) {
  struct stat st;
  return lstat(path.constData(), &st) == 0;
}

// Opens a file to read without ever blocking on it: a FIFO or a device that never ends is
// refused, as is anything larger than maxBytes (-1: no limit). The descriptor is blocking again.
int openOutside(const QString& path, qint64 maxBytes, bool allowBlockDevice, QString* error, struct stat* info,
                qint64* size) {
  auto refuse = [&](const QString& why) {
    if (error) *error = why;
    return -1;
  };
  if (path.isEmpty()) return refuse(QStringLiteral("No file name given."));
  const int fd = ::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return refuse(systemError(errno));
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    return refuse(systemError(e));
  }
  qint64 length = st.st_size;
  if (allowBlockDevice && S_ISBLK(st.st_mode)) {
    const off_t end = lseek(fd, 0, SEEK_END);
    length = end < 0 ? 0 : end;
    lseek(fd, 0, SEEK_SET);
  } else if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return refuse(S_ISDIR(st.st_mode) ? QStringLiteral("It is a folder, not a file.")
                                      : QStringLiteral("It is not a plain file."));
  }
  if (maxBytes >= 0 && length > maxBytes) {
    ::close(fd);
    return refuse(QStringLiteral("The file is too large (%1 bytes, at most %2 expected).").arg(length).arg(maxBytes));
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (info) *info = st;
  if (size) *size = length;
  return fd;
}

qint64 readSome(int fd, char* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// Copies everything from fd into the replacement; the reason of a failure goes to error.
bool pour(int fd, FileReplacement& into, QString* error) {
  static constexpr size_t kChunk = 1 << 16;
  QByteArray buffer(kChunk, Qt::Uninitialized);
  for (;;) {
    const qint64 n = readSome(fd, buffer.data(), kChunk);
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

class Source {
public:
  Source(const QString& path, QString* error) : fd_(openOutside(path, -1, false, error, &info_, nullptr)) {
    if (fd_ < 0 && error) *error = QStringLiteral("Cannot read \"%1\": %2").arg(path, *error);
  }
  ~Source() {
    if (fd_ >= 0) ::close(fd_);
  }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  mode_t mode() const { return info_.st_mode & 07777; }

private:
  struct stat info_ {};
  int fd_;
};

}  // namespace

FileReplacement::FileReplacement(const QString& target) : target_(resolved(target)) {}

FileReplacement::~FileReplacement() { discard(); }

bool FileReplacement::fail(const QString& what, int error) {
  error_ = QStringLiteral("%1 \"%2\": %3").arg(what, target_, systemError(error));
  return false;
}

void FileReplacement::setMode(mode_t mode) { mode_ = mode & 07777; }

bool FileReplacement::open() {
  discard();
  error_.clear();
  finished_ = false;
  const QByteArray target = encoded(target_);
  if (target.isEmpty()) {
    error_ = QStringLiteral("No file name given.");
    return false;
  }
  struct stat st;
  const bool replacing = stat(target.constData(), &st) == 0;
  if (!replacing && errno != ENOENT) return fail(QStringLiteral("Cannot write"), errno);
  if (replacing && !S_ISREG(st.st_mode)) {
    error_ = QStringLiteral("Cannot write \"%1\": it is not a plain file.").arg(target_);
    return false;
  }
  if (replacing && !mode_) mode_ = st.st_mode & 07777;
  removeTemporaries(target);
  // Private while it is written when the file gets a mode of its own at the end: the contents
  // may be a private file's.
  const mode_t initial = mode_ ? 0600 : 0666;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QByteArray name = target + kTag + randomSuffix();
    fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, initial);
    if (fd_ >= 0) {
      temporary_ = name;
      break;
    }
    if (errno != EEXIST) return fail(QStringLiteral("Cannot write"), errno);
  }
  if (fd_ < 0) return fail(QStringLiteral("Cannot write"), EEXIST);
  // Root replacing someone's file hands it back to its owner; nobody else can, nor needs to.
  if (replacing && geteuid() == 0 && fchown(fd_, st.st_uid, st.st_gid) != 0) {
    // not worth failing for: the contents are what matters
  }
  return true;
}

bool FileReplacement::write(const char* data, qint64 size) {
  if (fd_ < 0 || finished_) {
    if (error_.isEmpty()) error_ = QStringLiteral("Cannot write \"%1\": the file is not open.").arg(target_);
    return false;
  }
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size_t(size));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fail(QStringLiteral("Cannot write"), n < 0 ? errno : ENOSPC);
      discard();
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

bool FileReplacement::finish() {
  if (finished_) return true;
  if (fd_ < 0) {
    if (error_.isEmpty()) error_ = QStringLiteral("Cannot write \"%1\": the file is not open.").arg(target_);
    return false;
  }
  if (mode_ && fchmod(fd_, *mode_) != 0) {
    // a memory stick's file system has no mode bits to set
  }
  const int fd = fd_;
  fd_ = -1;
  const bool synced = fsync(fd) == 0;
  const int syncError = errno;
  if (::close(fd) != 0 || !synced) {
    fail(QStringLiteral("Cannot write"), synced ? errno : syncError);
    discard();
    return false;
  }
  finished_ = true;
  return true;
}

bool FileReplacement::install(bool replace) {
  if (!finish()) return false;
  const QByteArray target = encoded(target_);
  if (replace) {
    if (::rename(temporary_.constData(), target.constData()) != 0) return fail(QStringLiteral("Cannot replace"), errno);
  } else {
    bool done = false;
#ifdef SYS_renameat2
    if (syscall(SYS_renameat2, AT_FDCWD, temporary_.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
      done = true;
    else if (errno != EINVAL && errno != ENOSYS)
      return fail(QStringLiteral("Cannot create"), errno);
#endif
    // Without a rename that refuses to replace, a hard link does; without links, a last look.
    if (!done && ::link(temporary_.constData(), target.constData()) == 0) {
      ::unlink(temporary_.constData());
      done = true;
    } else if (!done && errno == EEXIST) {
      return fail(QStringLiteral("Cannot create"), EEXIST);
    }
    if (!done) {
      if (exists(target)) return fail(QStringLiteral("Cannot create"), EEXIST);
      if (::rename(temporary_.constData(), target.constData()) != 0) return fail(QStringLiteral("Cannot create"), errno);
    }
  }
  temporary_.clear();
  syncFolder(target);
  return true;
}

bool FileReplacement::commit(bool replace) {
  if (finish() && install(replace)) return true;
  discard();
  return false;
}

void FileReplacement::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.isEmpty()) ::unlink(temporary_.constData());
  temporary_.clear();
  finished_ = false;
}

void FileReplacement::leave() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  temporary_.clear();
}

bool replaceFile(const QString& path, const QByteArray& bytes, QString* error) {
  FileReplacement file(path);
  const bool ok = file.open() && file.write(bytes) && file.commit();
  if (!ok && error) *error = file.errorString();
  return ok;
}

bool copyFileSafely(const QString& from, const QString& to, bool replace, QString* error) {
  const Source source(from, error);
  if (!source.ok()) return false;
  if (!replace && exists(encoded(to))) {
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

namespace {

// Keeps the first file's old contents beside it under a second name (or, where the file system
// has no links, moves it there for the moment of the renames), or marks that there was none.
bool keepOld(const QByteArray& first, QString* error) {
  const QByteArray kept = first + kKeptOld, none = first + kKeptNone;
  struct stat st;
  bool ok;
  if (stat(first.constData(), &st) != 0) {
    const int fd = ::open(none.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    ok = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0 && ::close(fd) != 0) ok = false;
  } else {
    ok = ::link(first.constData(), kept.constData()) == 0 || ::rename(first.constData(), kept.constData()) == 0;
  }
  if (!ok) {
    if (error) *error = QStringLiteral("Cannot write \"%1\": %2").arg(QFile::decodeName(first), systemError(errno));
    return false;
  }
  syncFolder(first);
  return true;
}

void dropKept(const QByteArray& first) {
  ::unlink((first + kKeptOld).constData());
  ::unlink((first + kKeptNone).constData());
  syncFolder(first);
}

// Puts the first file back as it was before the pair was copied.
bool putBack(const QByteArray& first) {
  const QByteArray kept = first + kKeptOld, none = first + kKeptNone;
  if (exists(kept)) return ::rename(kept.constData(), first.constData()) == 0;
  if (exists(none)) return (::unlink(first.constData()) == 0 || errno == ENOENT) && ::unlink(none.constData()) == 0;
  return true;
}

}  // namespace

bool recoverPair(const QString& first, const QString& second) {
  const QByteArray a = encoded(resolved(first)), b = encoded(resolved(second));
  bool ok = true;
  if (exists(a + kKeptOld) || exists(a + kKeptNone)) {
    // The second file's new contents still waiting beside it mean the run ended between the two
    // renames (or before the first, which may then be away under its kept name): the first goes
    // back. Without them the pair is complete and new.
    if (hasTemporary(b) || !exists(a)) ok = putBack(a);
    if (ok) dropKept(a);
  }
  ok = removeTemporaries(a) && ok;
  ok = removeTemporaries(b) && ok;
  return ok;
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
  const QByteArray a = encoded(first.target());
  if (!keepOld(a, error)) return false;
  if (beforeRenames) beforeRenames();
  // Should the first file not go back, the second's new file stays, so that the next copy of
  // this pair still sees where this one stopped.
  const auto undo = [&](const QString& why) {
    if (putBack(a)) dropKept(a);
    else second.leave();
    return failed(why);
  };
  if (!first.install()) return undo(first.errorString());
  if (!second.install()) return undo(second.errorString());
  dropKept(a);
  return true;
}

std::optional<QByteArray> readOutsideFile(const QString& path, qint64 maxBytes, QString* error) {
  qint64 size = 0;
  const int fd = openOutside(path, maxBytes, true, error, nullptr, &size);
  if (fd < 0) return std::nullopt;
  QByteArray bytes;
  bytes.reserve(size + 1);
  char chunk[1 << 16];
  std::optional<QString> problem;
  for (;;) {
    const qint64 n = readSome(fd, chunk, sizeof chunk);
    if (n < 0) problem = systemError(errno);
    if (n <= 0) break;
    bytes.append(chunk, n);
    // The file may have grown since it was measured; never past the limit.
    if (maxBytes >= 0 && bytes.size() > maxBytes)
      problem = QStringLiteral("The file is too large (more than %1 bytes).").arg(maxBytes);
    if (problem) break;
  }
  ::close(fd);
  if (problem) {
    if (error) *error = *problem;
    return std::nullopt;
  }
  return bytes;
}

}  // namespace kivo

#pragma once
// A folder where writes fail for want of room, for the tests of every write path. Two kinds:
// a small tmpfs filled to its last byte (needs the right to mount, as root in CI), and a child
// process whose file size limit is already reached (SIGXFSZ ignored, so writes fail with EFBIG),
// which needs no privilege. Tests run their case under each kind that is available.

#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <vector>

namespace kivo::testing {

class FullDisk {
public:
  enum class Kind { Tmpfs, SizeLimit };
  /// Both kinds; set KIVO_TEST_NO_MOUNT=1 to try the unprivileged one alone.
  static std::vector<Kind> kinds();
  /// Runs body with a fresh disk of each kind that can be had here; says why one cannot.
  static void eachKind(const std::function<void(FullDisk&)>& body);

  /// An empty folder, on a fresh 64 KiB tmpfs for Kind::Tmpfs.
  explicit FullDisk(Kind kind);
  ~FullDisk();
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;

  /// False (with the reason in why()) when a tmpfs could not be mounted here.
  bool ready() const { return ready_; }
  const QString& why() const { return why_; }
  Kind kind() const { return kind_; }
  const char* name() const { return kind_ == Kind::Tmpfs ? "full tmpfs" : "file size limit"; }
  /// What a write that does not fit fails with here.
  QString reason() const { return kind_ == Kind::Tmpfs ? "No space left on device" : "File too large"; }
  QString path() const { return path_; }
  QString filePath(const QString& relative) const { return path_ + QLatin1Char('/') + relative; }

  /// Writes a file there (creating its folders) before the disk is filled.
  QString write(const QString& relative, const QByteArray& bytes) const;

  /// Runs act where no file can grow past limitBytes (a file size limit) or at all (the tmpfs,
  /// filled first). Under the size limit act runs in a child process, so only its result, the
  /// text the user saw, comes back; the files it left are checked afterwards by the caller.
  QString run(const std::function<QString()>& act, qint64 limitBytes = 16);

private:
  void fill();

  Kind kind_;
  QTemporaryDir dir_;
  QString path_;
  bool ready_ = true, mounted_ = false;
  QString why_;
};

/// A named pipe at path, made by the test; a loader given it must refuse it, not block on it.
bool makeFifo(const QString& path);

/// A file's bytes, or "<missing>".
QByteArray fileBytes(const QString& path);

}  // namespace kivo::testing

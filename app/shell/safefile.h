#pragma once
// The user's files, read with care and replaced safely, through the file-safety library every
// program shares (filesafe): a replacement writes the new contents to a temporary file beside the
// target, checks every write, syncs and closes it, keeps the replaced file's mode, and only then
// renames it over the target; on any failure the temporary goes and the target is untouched. A
// temporary that a killed run left behind is removed the next time the same file is written.
// Qt's QSaveFile is not used: opened buffered it reports success when its last bytes could not
// be written.

#include "filesafe/output.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <sys/types.h>

namespace kivo {

/// One replacement of one file, step by step: open, write, commit. Destroying it before the
/// commit removes the temporary file.
class FileReplacement {
public:
  explicit FileReplacement(const QString& target);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  /// Removes leftovers of earlier runs and creates the temporary file. Fails when the target
  /// is a folder or anything else that is not a plain file.
  bool open();
  bool write(const char* data, qint64 size);
  bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
  /// The mode the new file gets (default: the replaced file's, or the usual one for a new file).
  void setMode(mode_t mode);
  /// Syncs and closes the temporary file, then renames it over the target. Without replace an
  /// existing target is never replaced: the commit fails instead.
  bool commit(bool replace = true);
  /// The two steps of commit() one by one, for files that are replaced together. A failed
  /// install leaves the temporary file until discard() or the end of the replacement.
  bool finish();
  bool install(bool replace = true);
  /// Removes the temporary file; the target stays as it was.
  void discard();
  /// Forgets the temporary file without removing it.
  void leave();

  /// The file that is replaced (a symbolic link's destination), and why a step failed.
  const QString& target() const { return target_; }
  const QString& errorString() const { return error_; }

private:
  friend bool copyPairSafely(const QString&, const QString&, const QString&, const QString&, QString*,
                             const std::function<void()>&);
  bool fail(const QString& what, int error);

  QString path_, target_;
  QString error_;
  filesafe::Output out_;
  std::optional<mode_t> mode_;
};

/// Replaces path with bytes. On failure the reason goes to error, when given.
bool replaceFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

/// Copies a plain file to target. With replace, an existing target is replaced safely; without,
/// an existing target makes the copy fail, also when one appears while the copy runs. The copy
/// carries the source's mode bits.
bool copyFileSafely(const QString& from, const QString& to, bool replace, QString* error = nullptr);

/// Copies two files that belong together (a registry's two halves) so that the targets end as
/// the old pair or the new pair: both new files are written and synced before either is renamed
/// over its target, and when the second rename fails the first target is put back. A run that
/// was killed between the two renames is undone by the next copy of the same pair, or by
/// recoverPair() (Kivo calls it for its backups at start). beforeRenames, when set, runs once
/// both new files are synced.
bool copyPairSafely(const QString& fromFirst, const QString& toFirst, const QString& fromSecond,
                    const QString& toSecond, QString* error = nullptr,
                    const std::function<void()>& beforeRenames = {});

/// Puts a pair back in order after a run that was killed between its two renames, and removes
/// the temporary files of both targets. False when that could not be done.
bool recoverPair(const QString& first, const QString& second);

/// The largest picture the loaders decode, in pixels (larger than any screen), and the largest
/// file such a picture can take: a 32-bit bitmap of that many pixels and its headers. A larger
/// file is refused before any of it is read.
inline constexpr qint64 kMaxPicturePixels = 64LL << 20;
inline constexpr qint64 kMaxPictureFileBytes = kMaxPicturePixels * 4 + (1 << 20);

/// Reads a whole file that came from outside: refuses (with the reason in error) a name that
/// is not a plain file or block device, such as a FIFO or /dev/zero, without blocking on it,
/// and a file larger than maxBytes before reading any of it.
std::optional<QByteArray> readOutsideFile(const QString& path, qint64 maxBytes, QString* error = nullptr);

}  // namespace kivo

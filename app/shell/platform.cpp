#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#if __has_include(<linux/fs.h>)
#include <linux/fs.h>  // RENAME_NOREPLACE
#endif
#include <sys/syscall.h>

namespace kivo {

QString native(QString ownPath) {
  ownPath.replace(QLatin1Char('\\'), QDir::separator());
  return ownPath;
}

QString programFolder() {
  return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
}

QString toolFolder() { return programFolder() + QStringLiteral("/bin"); }

bool fileExists(const QString& path) {
  QFileInfo info(path);
  return info.exists() && !info.isDir();
}

bool folderExists(const QString& path) { return QFileInfo(path).isDir(); }

bool copyFile(const QString& from, const QString& to, bool replace) {
  QFile source(from);
  if (!QFileInfo(from).isFile() || !source.open(QIODevice::ReadOnly)) return false;
  if (QFileInfo::exists(to) && (!replace || QFileInfo(to).isDir())) return false;
  QSaveFile target(to);
  target.setDirectWriteFallback(false);
  if (!target.open(QIODevice::WriteOnly)) return false;
  char buffer[1 << 16];
  for (;;) {
    const qint64 n = source.read(buffer, sizeof buffer);
    if (n < 0) return false;  // QSaveFile discards its temporary file
    if (n == 0) break;
    if (target.write(buffer, n) != n) return false;
  }
  if (!target.commit()) return false;
  // Owner, group and other bits only: the "user" bits describe the caller's own access, which
  // for root would make every read-only copy writable.
  constexpr QFile::Permissions kModeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                           QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
  QFile::setPermissions(to, source.permissions() & kModeBits);
  return true;
}

bool moveFile(const QString& from, const QString& to) {
  const QByteArray src = QFile::encodeName(from), dst = QFile::encodeName(to);
#ifdef SYS_renameat2
  if (syscall(SYS_renameat2, AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EXDEV && errno != EINVAL && errno != ENOSYS) return false;
#endif
  // Another volume, or a file system without the no-replace rename: copy, then delete.
  if (QFileInfo::exists(to) || !QFileInfo(from).isFile()) return false;
  if (!copyFile(from, to, false)) return false;
  return QFile::remove(from);
}

bool deleteFile(const QString& path) { return QFileInfo(path).isFile() && QFile::remove(path); }

bool createFolder(const QString& path) {
  if (path.isEmpty() || QFileInfo::exists(path)) return false;
  return QDir().mkdir(path);
}

bool setCurrentFolder(const QString& path) { return !path.isEmpty() && QDir::setCurrent(path); }

QString currentFolder() { return QDir::currentPath(); }

QString findIgnoringCase(const QString& path) {
  if (path.isEmpty() || QFileInfo::exists(path)) return path;
  const QString clean = QDir::cleanPath(path);
  QStringList parts = clean.split(QLatin1Char('/'));
  QString built = clean.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
  for (const QString& part : parts) {
    if (part.isEmpty()) continue;
    const QString exact = built.isEmpty() ? part : QDir(built).filePath(part);
    if (QFileInfo::exists(exact)) {
      built = exact;
      continue;
    }
    const QDir dir(built.isEmpty() ? QStringLiteral(".") : built);
    QString match;
    for (const QString& entry : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
      if (entry.compare(part, Qt::CaseInsensitive) == 0) {
        match = entry;
        break;
      }
    }
    if (match.isEmpty()) return path;
    built = built.isEmpty() ? match : dir.filePath(match);
  }
  return built;
}

QStringList mountedVolumes() {
  QStringList volumes;
  const QString user = qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
  QStringList roots{QStringLiteral("/media/") + user, QStringLiteral("/run/media/") + user,
                    QStringLiteral("/mnt")};
  for (const QString& root : roots) {
    const QDir dir(root);
    for (const QString& entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
      volumes << dir.filePath(entry) + QLatin1Char('/');
  }
  return volumes;
}

QString systemDrive() {
  QString home = QDir::homePath();
  if (!home.endsWith(QLatin1Char('/'))) home += QLatin1Char('/');
  return home;
}

}  // namespace kivo

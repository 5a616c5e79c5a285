#include "platform.h"

#include "mounts.h"
#include "safefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
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

bool copyFile(const QString& from, const QString& to, bool replace) { return copyFileSafely(from, to, replace); }

bool moveFile(const QString& from, const QString& to) {
  const QByteArray src = QFile::encodeName(from), dst = QFile::encodeName(to);
#ifdef SYS_renameat2
  if (syscall(SYS_renameat2, AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EXDEV && errno != EINVAL && errno != ENOSYS) return false;
#endif
  // Another volume, or a file system without the no-replace rename: a complete, synced copy
  // first, and only then is the original removed.
  if (QFileInfo::exists(to) || !QFileInfo(from).isFile()) return false;
  if (!copyFileSafely(from, to, false)) return false;
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

QStringList mountedVolumes(bool withFlash) {
  // A PSP's volumes first, found wherever they are mounted, as a drive list offers the drives.
  QStringList volumes = pspVolumes(withFlash);
  const QString user = qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
  QStringList roots{QStringLiteral("/media/") + user, QStringLiteral("/run/media/") + user,
                    QStringLiteral("/mnt")};
  for (const QString& root : roots) {
    const QDir dir(root);
    for (const QString& entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
      const QString volume = dir.filePath(entry) + QLatin1Char('/');
      if (!volumes.contains(volume)) volumes << volume;
    }
  }
  return volumes;
}

QString systemDrive() {
  QString home = QDir::homePath();
  if (!home.endsWith(QLatin1Char('/'))) home += QLatin1Char('/');
  return home;
}

}  // namespace kivo

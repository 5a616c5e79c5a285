#include "userfolder.h"

#include "safefile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace kivo {

namespace {

constexpr QDir::Filters kEverything = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

// Every entry below root, relative to it, parents before their contents. Links are listed, never
// followed.
QStringList entriesBelow(const QString& root) {
  QStringList entries;
  const QDir base(root);
  QDirIterator it(root, kEverything, QDirIterator::Subdirectories);
  while (it.hasNext()) entries << base.relativeFilePath(it.next());
  std::sort(entries.begin(), entries.end());
  return entries;
}

// A link that stands on its own and points nowhere any more.
bool isDangling(const QFileInfo& link) { return link.isSymLink() && !link.exists(); }

// Points path at target: made beside it and renamed over it, so a dangling link being replaced
// never goes missing for a moment.
bool linkTo(const QString& target, const QString& path, QString* why) {
  const QString fresh = path + QStringLiteral(".kivo-new");
  QFile::remove(fresh);
  if (QFile::link(target, fresh) &&
      std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()) == 0)
    return true;
  *why = QStringLiteral("cannot link %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
  QFile::remove(fresh);
  return false;
}

// Files a user opens in an editor: each user gets a copy of their own, which a link to the
// installed (root's) file could never be.
bool isEditable(const QString& entry) {
  for (const char* name : kEditableFiles)
    if (entry == QLatin1String(name)) return true;
  return false;
}

// Puts a copy of the installed file at path: written beside it and renamed over whatever link
// stood there, so the path never goes missing.
bool copyTo(const QString& installed, const QString& path, QString* why) {
  const QString fresh = QStringLiteral("%1.kivo-copy-%2").arg(path).arg(::getpid());
  QFile::remove(fresh);
  QString error;
  if (copyFileSafely(installed, fresh, false, &error) &&
      std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()) == 0)
    return true;
  *why = error.isEmpty() ? QStringLiteral("cannot copy %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)))
                         : error;
  QFile::remove(fresh);
  return false;
}

}  // namespace

bool isSharedProgramFolder(const QString& programFolder) {
  return QFileInfo::exists(QDir(programFolder).filePath(QString::fromLatin1(kInstalledMark))) ||
         !QFileInfo(programFolder).isWritable();
}

QString mirrorProgramFolder(const QString& programFolder, const QString& dataHome, QString* why) {
  QString reason;
  if (!why) why = &reason;
  const QString source = QFileInfo(programFolder).canonicalFilePath();
  if (source.isEmpty()) {
    *why = QStringLiteral("%1 does not exist").arg(programFolder);
    return {};
  }
  const QString home = QFileInfo(dataHome).canonicalFilePath();
  const QString copy = QDir(home.isEmpty() ? QDir::cleanPath(QDir(dataHome).absolutePath()) : home)
                           .filePath(QStringLiteral("kivo"));
  if (copy == source || copy.startsWith(source + QLatin1Char('/')) || source.startsWith(copy + QLatin1Char('/'))) {
    *why = QStringLiteral("%1 lies inside %2").arg(copy, programFolder);
    return {};
  }
  if (!QDir().mkpath(copy)) {
    *why = QStringLiteral("cannot create %1").arg(copy);
    return {};
  }

  bool complete = true;
  const QDir from(source), to(copy);
  for (const QString& entry : entriesBelow(source)) {
    const QFileInfo installed(from.filePath(entry));
    const QString path = to.filePath(entry);
    const QFileInfo present(path);
    if (installed.isDir() && !installed.isSymLink()) {
      if (present.isDir()) continue;
      if (isDangling(present)) QFile::remove(path);
      if (!QDir().mkdir(path)) {
        *why = QStringLiteral("cannot create %1").arg(path);
        complete = false;
      }
      continue;
    }
    if (isEditable(entry)) {
      // A link left by an older Kivo points at an installed file, which the user cannot save.
      const QFileInfo linked(present.symLinkTarget());
      const bool unsaveable = present.isSymLink() && (linked.canonicalFilePath() == installed.canonicalFilePath() ||
                                                      !linked.isWritable());
      if (present.exists() && !present.isSymLink()) continue;
      if (present.isSymLink() && !unsaveable && !isDangling(present)) continue;
      if (!QFileInfo(present.absolutePath()).isDir()) continue;
      if (!copyTo(installed.absoluteFilePath(), path, why)) complete = false;
      continue;
    }
    // What the user put there (a real file, a link of their own) stays theirs.
    if ((present.exists() || present.isSymLink()) && !isDangling(present)) continue;
    if (!QFileInfo(present.absolutePath()).isDir()) continue;  // its folder failed above
    if (!linkTo(installed.absoluteFilePath(), path, why)) complete = false;
  }

  // Links to files an update of the installation took away would name tools or data that are gone.
  for (const QString& entry : entriesBelow(copy)) {
    const QFileInfo link(to.filePath(entry));
    if (isDangling(link) && link.symLinkTarget().startsWith(source + QLatin1Char('/')))
      QFile::remove(link.filePath());
  }
  return complete ? copy : QString();
}

QString workingProgramFolder(const QString& programFolder) {
  if (!isSharedProgramFolder(programFolder)) return programFolder;
  const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  QString why = QStringLiteral("no data folder");
  const QString copy = dataHome.isEmpty() ? QString() : mirrorProgramFolder(programFolder, dataHome, &why);
  if (!copy.isEmpty()) return copy;
  qWarning("Working from the installed program folder %s, so files Kivo writes there will fail: %s",
           qPrintable(programFolder), qPrintable(why));
  return programFolder;
}

}  // namespace kivo

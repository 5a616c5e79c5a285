#include "userfolder.h"

#include "filesafe/output.h"
#include "safefile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <map>
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

// Points path at target: made beside it under a name of this process's own and renamed over it,
// so a dangling link being replaced never goes missing for a moment, and two Kivo windows
// starting at once both succeed.
bool linkTo(const QString& target, const QString& path, QString* why) {
  if (filesafe::placeLink(QFile::encodeName(target).toStdString(), QFile::encodeName(path).toStdString())) return true;
  *why = QStringLiteral("cannot link %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
  return false;
}

// Whether path is, or leads to, source or a place inside it.
bool inside(const QString& path, const QString& source) {
  return path == source || path.startsWith(source + QLatin1Char('/'));
}

// A folder of the copy: a real one, made when missing (another Kivo starting at the same time may
// make it first), never a link that leads into the installation.
bool ensureFolder(const QString& path, const QString& source, QString* why) {
  const QFileInfo present(path);
  if (present.isSymLink() && (isDangling(present) || inside(present.canonicalFilePath(), source)))
    QFile::remove(path);
  else if (present.isDir())
    return true;  // a real folder, or the user's link to a folder of their own
  if (QDir().mkdir(path)) return true;
  const QFileInfo now(path);
  if (now.isDir() && !now.isSymLink()) return true;  // another Kivo made it meanwhile
  *why = QStringLiteral("cannot create %1").arg(path);
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
  // Where the copy really is: a per-user folder that is a link leading into the installation
  // would have Kivo write there.
  const QString real = QFileInfo(copy).exists() ? QFileInfo(copy).canonicalFilePath() : copy;
  for (const QString& where : {copy, real})
    if (inside(where, source) || source.startsWith(where + QLatin1Char('/'))) {
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
      if (!ensureFolder(path, source, why)) complete = false;
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

namespace {

// The lock file of the folder, open for as long as this process holds a claim in it. Each kind of
// staging is one byte of it, locked through the open file rather than the process (which a test
// can stand for a second Kivo with a second open file).
struct StagingLocks {
  int fd = -1;
  pid_t owner = 0;
  QString folder;
  bool held[3] = {false, false, false};
};
StagingLocks& locks() {
  static StagingLocks l;
  // A child process is another Kivo: its parent's claims are not its own.
  if (l.fd >= 0 && l.owner != ::getpid()) {
    ::close(l.fd);
    l = StagingLocks();
  }
  return l;
}

bool lockByte(int fd, Staging what, short type) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = off_t(what);
  range.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

}  // namespace

bool claimStaging(const QString& programFolder, Staging what) {
  StagingLocks& l = locks();
  const QString folder = QFileInfo(programFolder).absoluteFilePath();
  if (l.held[int(what)] && l.folder == folder) return true;
  if (l.fd >= 0 && l.folder != folder && std::none_of(std::begin(l.held), std::end(l.held), [](bool h) { return h; })) {
    ::close(l.fd);
    l.fd = -1;
  }
  if (l.fd < 0) {
    l.fd = ::open(QFile::encodeName(QDir(folder).filePath(QStringLiteral(".kivo-staging"))).constData(),
                  O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (l.fd < 0) return true;
    l.owner = ::getpid();
    l.folder = folder;
  }
  if (l.folder != folder) return true;  // a claim in another folder is still held: nothing shared
  if (!lockByte(l.fd, what, F_WRLCK)) return errno != EAGAIN && errno != EACCES;
  l.held[int(what)] = true;
  return true;
}

void releaseStaging(Staging what) {
  StagingLocks& l = locks();
  if (!l.held[int(what)] || l.fd < 0) return;
  lockByte(l.fd, what, F_UNLCK);
  l.held[int(what)] = false;
}

StagingClaim::StagingClaim(const QString& programFolder, Staging what) : what_(what) {
  const StagingLocks& l = locks();
  const bool before = l.held[int(what)];
  held_ = claimStaging(programFolder, what);
  mine_ = held_ && !before && locks().held[int(what)];
}

StagingClaim::~StagingClaim() {
  if (mine_) releaseStaging(what_);
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

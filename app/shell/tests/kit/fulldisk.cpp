#include "fulldisk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kivo::testing {

std::vector<FullDisk::Kind> FullDisk::kinds() {
  if (qEnvironmentVariableIsSet("KIVO_TEST_NO_MOUNT")) return {Kind::SizeLimit};
  return {Kind::Tmpfs, Kind::SizeLimit};
}

void FullDisk::eachKind(const std::function<void(FullDisk&)>& body) {
  for (Kind kind : kinds()) {
    FullDisk disk(kind);
    if (disk.ready()) body(disk);
    else qInfo("%s: %s", disk.name(), qPrintable(disk.why()));
  }
}

FullDisk::FullDisk(Kind kind) : kind_(kind), path_(dir_.filePath(QStringLiteral("disk"))) {
  QDir().mkpath(path_);
  if (kind_ != Kind::Tmpfs) return;
  const QByteArray where = QFile::encodeName(path_);
  if (mount("tmpfs", where.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
    ready_ = false;
    why_ = QStringLiteral("cannot mount a small tmpfs here (%1); the file size limit stands in for it")
               .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return;
  }
  mounted_ = true;
}

FullDisk::~FullDisk() {
  if (mounted_) umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
}

QString FullDisk::write(const QString& relative, const QByteArray& bytes) const {
  const QString full = filePath(relative);
  QDir().mkpath(QFileInfo(full).absolutePath());
  QFile file(full);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
    qFatal("cannot prepare %s", qPrintable(full));
  return full;
}

void FullDisk::fill() {
  const QByteArray filler = QFile::encodeName(filePath(QStringLiteral(".filler")));
  const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd < 0) qFatal("cannot fill the tmpfs");
  // Big pieces first, then single bytes, until not one more byte fits.
  static const char zeros[4096] = {};
  for (size_t piece : {sizeof zeros, size_t(1)})
    while (::write(fd, zeros, piece) > 0) {
    }
  ::fsync(fd);
  ::close(fd);
}

QString FullDisk::run(const std::function<QString()>& act, qint64 limitBytes) {
  if (kind_ == Kind::Tmpfs) {
    fill();
    return act();
  }
  int pipeFds[2];
  if (pipe(pipeFds) != 0) qFatal("pipe");
  const pid_t child = fork();
  if (child < 0) qFatal("fork");
  if (child == 0) {
    ::close(pipeFds[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(limitBytes);
    setrlimit(RLIMIT_FSIZE, &limit);
    const QByteArray seen = act().toUtf8();
    const ssize_t written = ::write(pipeFds[1], seen.constData(), size_t(seen.size()));
    _exit(written == seen.size() ? 0 : 1);
  }
  ::close(pipeFds[1]);
  QByteArray seen;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    seen.append(buffer, n);
  }
  ::close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return QStringLiteral("<the child process ended abnormally: status %1>").arg(status);
  return QString::fromUtf8(seen);
}

bool makeFifo(const QString& path) { return mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

QByteArray fileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

}  // namespace kivo::testing

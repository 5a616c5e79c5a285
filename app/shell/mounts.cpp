#include "mounts.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace kivo {

namespace {

constexpr int kMaxLines = 20000;
constexpr qsizetype kMaxLineBytes = 16384;

// The table writes blanks, tabs, newlines and backslashes in its fields as three octal digits.
QString unescape(const QByteArray& field) {
  QByteArray out;
  out.reserve(field.size());
  for (qsizetype i = 0; i < field.size(); ++i) {
    const char c = field[i];
    const auto digit = [](char d) { return d >= '0' && d <= '7'; };
    if (c == '\\' && i + 3 < field.size() && digit(field[i + 1]) && digit(field[i + 2]) && digit(field[i + 3])) {
      out += char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += c;
  }
  return QFile::decodeName(out);
}

QString& tablePath() {
  static QString path = QStringLiteral("/proc/self/mounts");
  return path;
}

}  // namespace

std::vector<MountPoint> parseMountTable(const QByteArray& table) {
  std::vector<MountPoint> mounts;
  qsizetype at = 0;
  for (int line = 0; line < kMaxLines && at < table.size(); ++line) {
    qsizetype end = table.indexOf('\n', at);
    if (end < 0) end = table.size();
    const QByteArray text = table.mid(at, std::min(end - at, kMaxLineBytes));
    at = end + 1;
    const QList<QByteArray> fields = text.simplified().split(' ');
    if (fields.size() < 3 || fields[1].isEmpty() || fields[2].isEmpty()) continue;
    MountPoint m{unescape(fields[1]), unescape(fields[2])};
    if (!m.path.startsWith(QLatin1Char('/'))) continue;
    mounts.push_back(std::move(m));
  }
  return mounts;
}

bool mayHoldPspFolders(const MountPoint& mount) {
  static const char* const kernelOrNetwork[] = {
      "proc",   "sysfs",      "devpts",   "devtmpfs",   "cgroup",    "cgroup2",  "mqueue",   "debugfs",
      "tracefs", "securityfs", "pstore",  "bpf",        "configfs",  "fusectl",  "hugetlbfs", "autofs",
      "binfmt_misc", "nsfs",  "efivarfs", "rpc_pipefs", "selinuxfs", "nfs",      "nfs4",     "cifs",
      "smb3",   "smbfs",      "ncpfs",    "afs",        "9p",        "ceph",     "glusterfs", "davfs",
      "fuse.sshfs", "fuse.gvfsd-fuse", "fuse.rclone", "fuse.portal", "fuse.s3fs", "fuse.curlftpfs"};
  for (const char* type : kernelOrNetwork)
    if (mount.type == QLatin1String(type)) return false;
  for (const char* root : {"/proc", "/sys", "/dev"})
    if (mount.path == QLatin1String(root) || mount.path.startsWith(QLatin1String(root) + QLatin1Char('/')))
      return false;
  return true;
}

QStringList volumesHolding(const std::vector<MountPoint>& mounts, const QStringList& folders) {
  QStringList volumes;
  for (const MountPoint& m : mounts) {
    if (!mayHoldPspFolders(m)) continue;
    const QString root = m.path.endsWith(QLatin1Char('/')) ? m.path : m.path + QLatin1Char('/');
    if (volumes.contains(root)) continue;
    const QStringList entries = QDir(m.path).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    const bool holds = std::any_of(entries.begin(), entries.end(), [&](const QString& e) {
      return folders.contains(e, Qt::CaseInsensitive);
    });
    if (holds) volumes << root;
  }
  return volumes;
}

QStringList pspVolumes(bool withFlash) {
  QFile table(tablePath());
  if (!table.open(QIODevice::ReadOnly)) return {};
  // The kernel's table is small; a bound still keeps a strange one from taking the memory.
  const QByteArray text = table.read(qint64(kMaxLines) * 256);
  QStringList folders{QStringLiteral("PSP"), QStringLiteral("seplugins")};
  if (withFlash) folders << QStringLiteral("registry");
  return volumesHolding(parseMountTable(text), folders);
}

void setMountTablePath(const QString& path) { tablePath() = path; }

}  // namespace kivo

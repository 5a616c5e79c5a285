#pragma once
// The mounted volumes where a PSP may be: the system's mount table (/proc/self/mounts), read
// with care, and the volumes in it that hold a memory stick's or a flash partition's folders.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace kivo {

struct MountPoint {
  QString path;  ///< where the volume is mounted
  QString type;  ///< its file system type ("vfat", "fuseblk", ...)
};

/// Reads mount table lines ("device path type options dump pass", with "\040"-style escapes in
/// the fields). Lines that do not have the fields are skipped; the table is read up to a bound
/// of lines and of bytes per line, so a table of any size and contents is safe to give.
std::vector<MountPoint> parseMountTable(const QByteArray& table);

/// False for the kernel's own file systems and for network ones, which a look inside could
/// hold up.
bool mayHoldPspFolders(const MountPoint& mount);

/// The mount points in the table whose top folder holds one of the named folders (compared
/// without regard to case, as FAT does), each with a trailing '/', in the table's order.
QStringList volumesHolding(const std::vector<MountPoint>& mounts, const QStringList& folders);

/// The PSP's volumes mounted now: memory sticks (PSP/ or seplugins/) and, with flash, also the
/// flash partition that holds registry/. Read from /proc/self/mounts, or for tests the table
/// named by setMountTablePath().
QStringList pspVolumes(bool withFlash = false);
void setMountTablePath(const QString& path);

}  // namespace kivo

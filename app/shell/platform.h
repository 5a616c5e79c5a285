#pragma once
// The small platform layer: the file and folder calls the pages use, with the meaning the
// pages expect of them (replace or never replace, one folder level, existence tests), and the
// Linux counterparts of drive letters.

#include <QString>
#include <QStringList>

namespace kivo {

/// The program's own relative paths are written with '\' as in "bin\ciso.exe"; this gives the
/// native form ("bin/ciso.exe" on Linux). Text the user typed is never passed through it.
QString native(QString ownPath);

/// The folder holding the kivo executable, and the tool folder inside it.
QString programFolder();
QString toolFolder();

bool fileExists(const QString& path);
bool folderExists(const QString& path);

/// Copies a plain file, carrying its mode bits. With replace, an existing target is replaced
/// safely (written beside it, synced, renamed over it); without, an existing target makes the
/// copy fail. A failed copy leaves the target as it was.
bool copyFile(const QString& from, const QString& to, bool replace);

/// Moves a file; never replaces an existing target (fails instead). Across volumes the
/// original is removed only once its copy is complete.
bool moveFile(const QString& from, const QString& to);

bool deleteFile(const QString& path);

/// Creates one folder level; fails when the parent is missing or the folder exists.
bool createFolder(const QString& path);

/// Makes the folder current; false when it does not exist.
bool setCurrentFolder(const QString& path);
QString currentFolder();

/// Finds a path by looking up each component without regard to case when the exact path does
/// not exist; returns the path as given when nothing matches.
QString findIgnoringCase(const QString& path);

/// The mounted volumes a memory stick may be on, each with a trailing '/': first those that hold
/// a memory stick's folders (PSP/ or seplugins/; with flash, also a flash partition's registry/),
/// then the other volumes under /media/<user>/, /run/media/<user>/ and /mnt/.
QStringList mountedVolumes(bool withFlash = false);

/// What stands for "C:\" here: the user's home folder, with a trailing '/'.
QString systemDrive();

}  // namespace kivo

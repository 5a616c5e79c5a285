#pragma once
// The memory stick's plug-in folder and its three lists, without widgets: where they are for a
// drive text, how a list file becomes box text and how an add rewrites it.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace kivo::stick {

/// The placeholder text of the PRX box before anything was chosen.
inline const QString kNoPrxYet = QStringLiteral("<No PRX selected yet>");
/// What every entry written by the page starts with.
inline const QString kEntryPrefix = QStringLiteral("ms0:/seplugins/");

enum class ListKind { Vsh, Game, Pops };

/// Everything on the stick, derived afresh from the drive text, which is used verbatim; only a
/// text without its closing separator ("/media/ana/PSP") whose plug-in folder is found once a
/// "/" is added names that folder.
struct StickPaths {
  explicit StickPaths(const QString& driveText);
  QString folder;  ///< drive text + "seplugins"
  QString list(ListKind kind) const;
  QString installed(const QString& prxName) const;
};

/// The file-name part of a path as typed: what follows the last '\', '/' or ':'.
QString prxFileName(const QString& path);

/// True when an add has a name worth writing (not empty, not the placeholder).
bool isRealPrxName(const QString& name);

/// A list file's bytes as box text: 8-bit text, every line break (CR LF, LF or CR) as '\n'.
/// Latin-1 keeps every byte, so lines the page did not write come back unchanged.
QString boxTextFromList(const QByteArray& bytes);

/// The characters of a box text that an 8-bit list cannot hold, each once; empty when it can
/// hold them all.
QString unstorableCharacters(const QString& text);

/// The bytes of a list rewritten from its box text plus the entry for prxName: line breaks as
/// CR LF, and the entry always on a line of its own.
QByteArray composeList(const QString& boxText, const QString& prxName);

/// Reads a list file; nothing when it is missing, unreadable or absurdly large for a list.
std::optional<QByteArray> readList(const QString& path);

/// Replaces a file safely: written beside it, synced and renamed over it. False on any failure
/// (the reason in error), with the old file untouched.
bool writeListSafely(const QString& path, const QByteArray& bytes, QString* error = nullptr);

/// The "*.prx" files of a folder, sorted by name, read without entering the folder; nothing
/// when the folder is missing.
std::optional<QStringList> listPrxFiles(const QString& folder);

/// What choosing a drive found: the PRX files and the three lists, loaded in the order VSH,
/// GAME, POPS until the first failure.
struct StickContents {
  std::optional<QStringList> prxFiles;
  std::optional<QString> vsh, game, pops;
  bool complete() const { return prxFiles && vsh && game && pops; }
};
StickContents loadStick(const QString& driveText);

}  // namespace kivo::stick

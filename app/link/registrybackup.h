#pragma once
// Backup and restore of the PSP's two registry files (flash1's registry/system.dreg and
// system.ireg) into dated sets under backup/registry/ in the program folder.

#include <QDate>
#include <QLocale>
#include <QString>

namespace kivo::registry {

/// The name of a day's backup set: the date in the locale's short form. "/" and "\" cannot
/// stand in a folder name, so both become "-" (12/8/26 gives 12-8-26). A short form that is not
/// all numbers gives the day as d-M-yyyy (8-12-2026), the form the date box's hint shows.
QString backupSetName(const QDate& day, const QLocale& locale);

/// The same rule for a date the user typed, so "12/8/26" finds the set 12-8-26.
QString setNameFromTyped(const QString& typed);

/// The backup set's folder, relative to the program folder.
QString backupSetFolder(const QString& setName);

/// The PSP's registry file: the drive text as typed, then registry/<name>.
QString pspFile(const QString& driveText, const QString& name);

/// Creates backup, backup/registry and the set as needed (Failure when one cannot be made) and
/// copies both files into it as a pair, replacing an earlier set of the day. False when the PSP's
/// files are not there to copy; Failure when the set cannot be written (the set keeps its
/// earlier pair).
bool backup(const QString& driveText, const QString& setName);

/// Sets right every backup set whose copy was killed between its two renames (the set ends with
/// its old pair, or the new one if both had arrived). Kivo does it at start, so that a set is
/// whole before anyone reads it, not only when the same day's backup runs again.
void recoverInterruptedBackups();

enum class RestoreResult { NoBackup, Done, CopyFailed };

/// Copies a set's two files back onto the PSP as a pair: flash1 ends with its old pair or the
/// set's, never with a cut-off file or one of each.
RestoreResult restore(const QString& setName, const QString& driveText);

}  // namespace kivo::registry

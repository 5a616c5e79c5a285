#pragma once
// Backup and restore of the PSP's two registry files (flash1's registry/system.dreg and
// system.ireg) into dated sets under backup/registry/ in the program folder.

#include <QDate>
#include <QLocale>
#include <QString>

namespace kivo::registry {

/// The name of a day's backup set: the date in the locale's short form. "/" and "\" cannot
/// stand in a folder name, so both become "-" (12/8/26 gives 12-8-26).
QString backupSetName(const QDate& day, const QLocale& locale);

/// The same rule for a date the user typed, so "12/8/26" finds the set 12-8-26.
QString setNameFromTyped(const QString& typed);

/// The backup set's folder, relative to the program folder.
QString backupSetFolder(const QString& setName);

/// The PSP's registry file: the drive text as typed, then registry/<name>.
QString pspFile(const QString& driveText, const QString& name);

/// Creates backup, backup/registry and the set as needed (Failure when one cannot be made),
/// copies both files into it, replacing, and says whether the set now holds either file.
bool backup(const QString& driveText, const QString& setName);

enum class RestoreResult { NoBackup, Done, CopyFailed };

/// Copies a set's two files back onto the PSP, each written beside its target and renamed
/// over it, so a failure never leaves a cut-off registry file behind.
RestoreResult restore(const QString& setName, const QString& driveText);

}  // namespace kivo::registry

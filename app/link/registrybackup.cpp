#include "registrybackup.h"

#include "shell/failure.h"
#include "shell/platform.h"

namespace kivo::registry {

namespace {

const QString kDreg = QStringLiteral("system.dreg");
const QString kIreg = QStringLiteral("system.ireg");

QString folderSafe(QString text) {
  text.replace(QLatin1Char('/'), QLatin1Char('-'));
  text.replace(QLatin1Char('\\'), QLatin1Char('-'));
  return text;
}

void ensureFolder(const QString& folder) {
  if (!folderExists(folder) && !createFolder(folder)) throw Failure(QStringLiteral("Cannot create ") + folder);
}

}  // namespace

QString backupSetName(const QDate& day, const QLocale& locale) {
  return folderSafe(locale.toString(day, QLocale::ShortFormat));
}

QString setNameFromTyped(const QString& typed) { return folderSafe(typed); }

QString backupSetFolder(const QString& setName) { return native(QStringLiteral("backup\\registry\\")) + setName; }

QString pspFile(const QString& driveText, const QString& name) {
  return driveText + native(QStringLiteral("registry\\")) + name;
}

bool backup(const QString& driveText, const QString& setName) {
  ensureFolder(QStringLiteral("backup"));
  ensureFolder(native(QStringLiteral("backup\\registry")));
  const QString set = backupSetFolder(setName);
  ensureFolder(set);
  const QString sep = native(QStringLiteral("\\"));
  // A copy that fails keeps whatever an earlier backup of the day left in the set.
  copyFile(pspFile(driveText, kDreg), set + sep + kDreg, true);
  copyFile(pspFile(driveText, kIreg), set + sep + kIreg, true);
  return fileExists(set + sep + kDreg) || fileExists(set + sep + kIreg);
}

RestoreResult restore(const QString& setName, const QString& driveText) {
  const QString set = backupSetFolder(setName) + QLatin1Char('/');
  if (!fileExists(set + kDreg) || !fileExists(set + kIreg)) return RestoreResult::NoBackup;
  const bool dreg = copyFile(set + kDreg, pspFile(driveText, kDreg), true);
  const bool ireg = copyFile(set + kIreg, pspFile(driveText, kIreg), true);
  // A copy that failed is an error even when an older file still stands on the PSP.
  if (dreg && ireg && fileExists(pspFile(driveText, kDreg)) && fileExists(pspFile(driveText, kIreg)))
    return RestoreResult::Done;
  return RestoreResult::CopyFailed;
}

}  // namespace kivo::registry

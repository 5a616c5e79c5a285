#include "registrybackup.h"

#include "shell/failure.h"
#include "shell/platform.h"
#include "shell/safefile.h"

#include <QDir>

#include <algorithm>

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
  const QString text = locale.toString(day, QLocale::ShortFormat);
  // A short form with names in it ("8 Dec 2026" in the C locale) cannot be typed the way the
  // date box's hint shows; such a day's set goes by the numbers the hint asks for.
  if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); }))
    return day.toString(QStringLiteral("d-M-yyyy"));
  return folderSafe(text);
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
  const QString dreg = pspFile(driveText, kDreg), ireg = pspFile(driveText, kIreg);
  // Nothing to read (flash1 not mounted, a wrong drive text) goes unremarked and leaves the set
  // as an earlier backup of the day left it.
  if (!fileExists(dreg) || !fileExists(ireg)) return false;
  QString error;
  if (!copyPairSafely(dreg, set + sep + kDreg, ireg, set + sep + kIreg, &error))
    throw Failure(QStringLiteral("The registry backup could not be written; the backup folder was left as it was. %1")
                      .arg(error));
  return true;
}

void recoverInterruptedBackups() {
  const QDir sets(native(QStringLiteral("backup\\registry")));
  for (const QString& set : sets.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
    recoverPair(sets.filePath(set + QLatin1Char('/') + kDreg), sets.filePath(set + QLatin1Char('/') + kIreg));
}

RestoreResult restore(const QString& setName, const QString& driveText) {
  const QString set = backupSetFolder(setName) + QLatin1Char('/');
  if (!fileExists(set + kDreg) || !fileExists(set + kIreg)) return RestoreResult::NoBackup;
  // Both files go on as a pair, so flash1 never holds one day's system.dreg beside another's
  // system.ireg. A copy that failed is an error even when the older files still stand.
  const QString dreg = pspFile(driveText, kDreg), ireg = pspFile(driveText, kIreg);
  if (copyPairSafely(set + kDreg, dreg, set + kIreg, ireg) && fileExists(dreg) && fileExists(ireg))
    return RestoreResult::Done;
  return RestoreResult::CopyFailed;
}

}  // namespace kivo::registry

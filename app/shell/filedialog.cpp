#include "filedialog.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace kivo {

namespace {
QString& startFolder() {
  static QString folder;
  return folder;
}
}  // namespace

void setDialogStartFolder(const QString& folder) { startFolder() = folder; }
QString dialogStartFolder() { return startFolder(); }

QString dialogStartFolder(const QString& programFolder, const QString& workingFolder) {
  if (QFileInfo(workingFolder).canonicalFilePath() == QFileInfo(programFolder).canonicalFilePath()) return {};
  return QDir::homePath();
}

FileDialog::FileDialog(DialogBackend& backend, DialogKind kind, QString title, QString filter,
                       QString defaultExt)
    : backend_(backend), kind_(kind), title_(std::move(title)), filter_(std::move(filter)),
      defaultExt_(std::move(defaultExt)) {}

bool FileDialog::execute() {
  FileRequest request;
  request.kind = kind_;
  request.title = title_;
  request.filter = filter_;
  request.fileName = fileName_;
  request.initialDir = !initialDir_.isEmpty() ? initialDir_ : !lastFolder_.isEmpty() ? lastFolder_ : startFolder();
  request.showHidden = showHidden_;
  std::optional<QString> chosen = backend_.chooseFile(request);
  if (!chosen || chosen->isEmpty()) return false;
  fileName_ = withDefaultExt(*chosen, defaultExt_);
  const QFileInfo chosenFile(QDir::current().absoluteFilePath(fileName_));
  if (chosenFile.dir().exists()) lastFolder_ = chosenFile.absolutePath();
  return true;
}

QString qtFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList entries;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // A name that already shows its patterns ("Plugin files (*.prx)") does not get them twice.
    const QString named = QStringLiteral("(%1)").arg(patterns);
    entries << (parts[i].endsWith(named) ? parts[i] : QStringLiteral("%1 %2").arg(parts[i], named));
  }
  return entries.join(QStringLiteral(";;"));
}

QString withDefaultExt(const QString& name, const QString& defaultExt) {
  if (defaultExt.isEmpty()) return name;
  const int slash = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
  const QString last = name.mid(slash + 1);
  if (last.isEmpty() || last.contains(QLatin1Char('.'))) return name;
  QString ext = defaultExt;
  if (!ext.startsWith(QLatin1Char('.'))) ext.prepend(QLatin1Char('.'));
  return name + ext;
}

}  // namespace kivo

#include "ebootmaker.h"

#include "shell/commandline.h"
#include "shell/failure.h"
#include "shell/folderguard.h"
#include "shell/platform.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace kivo {

namespace {
const QString kEboot = QStringLiteral("EBOOT.PBP");

/// What is known of a file before a tool may rewrite it.
struct Stamp {
  bool exists;
  QDateTime modified;
  qint64 size;
  explicit Stamp(const QString& path) {
    const QFileInfo info(path);
    exists = info.isFile();
    modified = exists ? info.lastModified() : QDateTime();
    size = exists ? info.size() : -1;
  }
  bool operator==(const Stamp& o) const { return exists == o.exists && modified == o.modified && size == o.size; }
};
}  // namespace

QString stagedName(Artwork artwork) {
  switch (artwork) {
  case Artwork::Icon0: return QStringLiteral("ICON0.PNG");
  case Artwork::Pic0: return QStringLiteral("PIC0.PNG");
  case Artwork::Pic1: return QStringLiteral("PIC1.PNG");
  case Artwork::Icon1: return QStringLiteral("ICON1.PMF");
  case Artwork::Snd0: return QStringLiteral("SND0.AT3");
  }
  return {};
}

bool stageArtwork(const QString& programFolder, Artwork artwork, const QString& file) {
  CurrentFolderGuard back;
  if (!setCurrentFolder(programFolder + native(QStringLiteral("\\bin\\")))) return false;
  return copyFile(file, stagedName(artwork), true);
}

QString psxCommandLine(const EbootRequest& r) {
  return QStringLiteral("psx.exe ") + commandArgument(r.title) + QLatin1Char(' ') +
         commandArgument(r.idPrefix + r.idNumber) + QLatin1Char(' ') + commandArgument(r.level) + QLatin1Char(' ') +
         commandArgument(r.image);
}

QString joinFolder(const QString& folder, const QString& name) {
  if (folder.endsWith(QDir::separator())) return folder + name;
  return folder + QDir::separator() + name;
}

void enterToolFolder() {
  if (!setCurrentFolder(QStringLiteral("bin"))) throw Failure(QStringLiteral("File not found"));
}

void makeEboot(ToolRunner& runner, const EbootRequest& request) {
  const QString line = psxCommandLine(request);  // a text it cannot carry starts nothing
  CurrentFolderGuard back;
  enterToolFolder();
  // An EBOOT.PBP that an earlier build could not move is still here; only a file this run of
  // psx wrote may go out under the new game's name.
  const Stamp before(kEboot);
  runner.runAndWait(line, SW_SHOWNORMAL);
  const Stamp after(kEboot);
  if (after.exists && !(after == before)) moveFile(kEboot, joinFolder(request.outputFolder, kEboot));
  // The key file comes from the user, spelt however they saved it.
  const QString keys = findIgnoringCase(QStringLiteral("keys.bin"));
  if (fileExists(keys)) copyFile(keys, joinFolder(request.outputFolder, QStringLiteral("KEYS.BIN")), true);
  for (Artwork a : {Artwork::Pic0, Artwork::Pic1, Artwork::Icon0, Artwork::Icon1, Artwork::Snd0})
    deleteFile(stagedName(a));
}

QString chosenFolderText(QString folder) {
  while (folder.size() > 1 && folder.endsWith(QDir::separator())) folder.chop(1);
  return folder;
}

}  // namespace kivo

#include "ebootmaker.h"

#include "shell/commandline.h"
#include "shell/failure.h"
#include "shell/folderguard.h"
#include "shell/platform.h"
#include "shell/toolactivity.h"
#include "shell/userfolder.h"

#include <QDir>
#include <QFileInfo>

namespace kivo {

namespace {
const QString kEboot = QStringLiteral("EBOOT.PBP");

// The staged artwork is this Kivo's from the first pick to the end of the build; another Kivo
// working from the same folder is told rather than given a mix of both.
void claimArtwork(const QString& programFolder) {
  if (!claimStaging(programFolder, Staging::Artwork))
    throw Failure(QStringLiteral("Another Kivo window is preparing an EBOOT.PBP in %1 with pictures of its own; "
                                 "make that EBOOT first, then try again.")
                      .arg(programFolder));
}
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
  claimArtwork(programFolder);
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
  claimArtwork(currentFolder());
  CurrentFolderGuard back;
  enterToolFolder();
  // An EBOOT.PBP that an earlier build could not move is still here; only a file this run of
  // psx wrote may go out under the new game's name.
  const FileStamp before = FileStamp::of(kEboot);
  runner.runAndWait(line, SW_SHOWNORMAL, {QStringLiteral("PS1 EBOOT.PBP"), {request.image}, kEboot});
  const FileStamp after = FileStamp::of(kEboot);
  if (after.exists && after != before) {
    const QString target = joinFolder(request.outputFolder, kEboot);
    if (moveFile(kEboot, target)) {
      runner.settleLastRun(target);
    } else {
      const QString left = QDir::current().absoluteFilePath(kEboot);
      runner.settleLastRun({}, fileExists(target)
                                   ? QStringLiteral("%1 already exists; the new EBOOT.PBP stays in the tool folder as %2.")
                                         .arg(target, left)
                                   : QStringLiteral("The new EBOOT.PBP could not be moved to %1; it stays in the tool "
                                                    "folder as %2.")
                                         .arg(target, left));
    }
  }
  // The key file comes from the user, spelt however they saved it.
  const QString keys = findIgnoringCase(QStringLiteral("keys.bin"));
  if (fileExists(keys)) copyFile(keys, joinFolder(request.outputFolder, QStringLiteral("KEYS.BIN")), true);
  for (Artwork a : {Artwork::Pic0, Artwork::Pic1, Artwork::Icon0, Artwork::Icon1, Artwork::Snd0})
    deleteFile(stagedName(a));
  releaseStaging(Staging::Artwork);
}

QString chosenFolderText(QString folder) {
  while (folder.size() > 1 && folder.endsWith(QDir::separator())) folder.chop(1);
  return folder;
}

}  // namespace kivo

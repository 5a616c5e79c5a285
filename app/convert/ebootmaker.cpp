#include "ebootmaker.h"

#include "shell/commandline.h"
#include "shell/failure.h"
#include "shell/folderguard.h"
#include "shell/platform.h"
#include "shell/safefile.h"
#include "shell/toolactivity.h"
#include "shell/userfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

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

QString makeEboot(ToolRunner& runner, const EbootRequest& request) {
  const QString line = psxCommandLine(request);  // a text it cannot carry starts nothing
  claimArtwork(currentFolder());
  CurrentFolderGuard back;
  enterToolFolder();
  // An EBOOT.PBP that an earlier build could not move is still here; only a file this run of
  // psx wrote may go out under the new game's name.
  const FileStamp before = FileStamp::of(kEboot);
  runner.runAndWait(line, SW_SHOWNORMAL, {QStringLiteral("PS1 EBOOT.PBP"), {request.image}, kEboot});
  const FileStamp after = FileStamp::of(kEboot);
  QString result = runner.lastRunCancelled() ? QStringLiteral("Cancelled: no EBOOT.PBP was made.")
                                             : QStringLiteral("No EBOOT.PBP was made: Tool activity says why.");
  if (after.exists && after != before) {
    const QString target = joinFolder(request.outputFolder, kEboot);
    if (moveFile(kEboot, target)) {
      runner.settleLastRun(target);
      result = QStringLiteral("Made %1").arg(QFileInfo(target).absoluteFilePath());
    } else {
      const QString left = QDir::current().absoluteFilePath(kEboot);
      result = fileExists(target)
                   ? QStringLiteral("%1 already exists; the new EBOOT.PBP stays in the tool folder as %2.").arg(target, left)
                   : QStringLiteral("The new EBOOT.PBP could not be moved to %1; it stays in the tool folder as %2.")
                         .arg(target, left);
      runner.settleLastRun({}, result);
    }
  }
  // The key file comes from the user, spelt however they saved it.
  const QString keys = findIgnoringCase(QStringLiteral("keys.bin"));
  if (fileExists(keys)) copyFile(keys, joinFolder(request.outputFolder, QStringLiteral("KEYS.BIN")), true);
  for (Artwork a : {Artwork::Pic0, Artwork::Pic1, Artwork::Icon0, Artwork::Icon1, Artwork::Snd0})
    deleteFile(stagedName(a));
  releaseStaging(Staging::Artwork);
  return result;
}

namespace {

constexpr qint64 kMaxBootCode = 32LL << 20;

bool readAt(QIODevice& file, qint64 at, char* buf, qint64 n) {
  return file.seek(at) && file.read(buf, n) == n;
}

}  // namespace

QString baseEbootProblem(QIODevice& file) {
  // The same checks psx makes before it takes the boot code, in the same words.
  const qint64 size = file.size();
  char header[40];
  if (size < qint64(sizeof header) || !readAt(file, 0, header, sizeof header))
    return QStringLiteral("not a PBP file: shorter than its header");
  if (std::memcmp(header, "\0PBP", 4) != 0) return QStringLiteral("not a PBP file: no PBP signature");
  qint64 offsets[9];
  for (int s = 0; s < 8; ++s) {
    const auto* p = reinterpret_cast<const uchar*>(header + 8 + 4 * s);
    offsets[s] = qint64(p[0]) | qint64(p[1]) << 8 | qint64(p[2]) << 16 | qint64(p[3]) << 24;
    if (offsets[s] < 40 || offsets[s] > size || (s > 0 && offsets[s] < offsets[s - 1]))
      return QStringLiteral("damaged PBP file: bad offset of %1")
          .arg(QStringList{"PARAM.SFO", "ICON0.PNG", "ICON1.PMF", "PIC0.PNG", "PIC1.PNG", "SND0.AT3", "DATA.PSP",
                           "DATA.PSAR"}[s]);
  }
  offsets[8] = size;
  char psar[16] = {};
  readAt(file, offsets[7], psar, std::min<qint64>(sizeof psar, size - offsets[7]));
  if (std::memcmp(psar, "PSTITLEIMG000000", 16) != 0 && std::memcmp(psar, "PSISOIMG0000", 12) != 0)
    return QStringLiteral("its DATA.PSAR holds no PS1 disc image");
  const qint64 boot = offsets[7] - offsets[6];
  if (boot > kMaxBootCode) return QStringLiteral("its DATA.PSP is larger than 32 MiB");
  char head[4] = {};
  if (boot >= 4 && !readAt(file, offsets[6], head, 4)) return QStringLiteral("its DATA.PSP cannot be read");
  if (boot >= 4 && (std::memcmp(head, "~PSP", 4) == 0 || std::memcmp(head, "\x7F" "ELF", 4) == 0)) return {};
  // An EBOOT made without a base has nothing there but the zeros that align DATA.PSAR.
  QByteArray rest(int(boot), 0);
  if (!readAt(file, offsets[6], rest.data(), boot)) return QStringLiteral("its DATA.PSP cannot be read");
  return rest.count('\0') == rest.size() ? QStringLiteral("it holds no boot code (its DATA.PSP is empty)")
                                         : QStringLiteral("its DATA.PSP is no PSP module");
}

BaseEboot findBaseEboot(const QString& toolFolder) {
  BaseEboot base;
  const QDir dir(toolFolder);
  QString path = dir.filePath(kBaseEboot);
  if (!QFileInfo(path).isFile()) {
    // psx finds one saved under another letter case too.
    path.clear();
    for (const QString& name : dir.entryList(QDir::Files))
      if (name.compare(kBaseEboot, Qt::CaseInsensitive) == 0) path = dir.filePath(name);
  }
  if (path.isEmpty()) return base;
  base.path = path;
  QFile file(path);
  base.problem = file.open(QIODevice::ReadOnly) ? baseEbootProblem(file) : file.errorString();
  return base;
}

void stageBaseEboot(const QString& programFolder, const QString& file) {
  QFile in(file);
  if (!QFileInfo(file).isFile() || !in.open(QIODevice::ReadOnly))
    throw Failure(QStringLiteral("Cannot open %1 for reading").arg(file));
  const QString problem = baseEbootProblem(in);
  in.close();
  if (!problem.isEmpty()) throw Failure(QStringLiteral("'%1' is not a PS1 EBOOT to take boot code from: %2").arg(file, problem));
  QString error;
  const QString target = programFolder + native(QStringLiteral("\\bin\\")) + kBaseEboot;
  if (!copyFileSafely(file, target, true, &error))
    throw Failure(QStringLiteral("%1 could not be copied to %2: %3").arg(file, target, error));
}

QString startsOnPspText(const BaseEboot& base, const QString& level) {
  if (level == QLatin1String("0")) return QStringLiteral("Level 0: reported not to start on a PSP");
  if (base.path.isEmpty()) return QStringLiteral("No base EBOOT: won't start on a PSP");
  if (!base.serves()) return QStringLiteral("%1 is unusable: psx will refuse it").arg(QFileInfo(base.path).fileName());
  return QStringLiteral("Starts on a PSP (boot code: %1)").arg(QFileInfo(base.path).fileName());
}

QString chosenFolderText(QString folder) {
  while (folder.size() > 1 && folder.endsWith(QDir::separator())) folder.chop(1);
  return folder;
}

}  // namespace kivo

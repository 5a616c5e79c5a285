#include "xmbbuild.h"

#include "ttfcomp.h"

#include "shell/commandline.h"
#include "shell/failure.h"
#include "shell/platform.h"
#include "shell/safefile.h"
#include "shell/userfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>

namespace kivo::stick {

namespace {

void enterToolFolder() {
  if (!setCurrentFolder(QStringLiteral("bin")))
    throw Failure(QStringLiteral("Cannot change to the folder \"%1\": it does not exist.").arg(QStringLiteral("bin")));
}

// Larger than any TrueType font in use; the whole file is read to register it.
constexpr qint64 kMaxFontBytes = 128 << 20;

bool sameFile(const QString& a, const QString& b) {
  const QFileInfo fa(a), fb(b);
  if (fa.absoluteFilePath() == fb.absoluteFilePath()) return true;
  return fa.exists() && fb.exists() && fa.canonicalFilePath() == fb.canonicalFilePath();
}

QString fromCodePage(const std::string& s) {
  QString out;
  out.reserve(int(s.size()));
  for (unsigned char c : s) out += QChar(char16_t(cp1252ToUnicode(c)));
  return out;
}

}  // namespace

QString missingBaseNote(const QString& toolFolder) {
  return QStringLiteral("The top menu is built on your PSP's own topmenu_plugin.rco, and there is none in the tool "
                        "folder.\n\nCopy topmenu_plugin.rco from the folder flash0:/vsh/resource/ of your PSP "
                        "(custom firmware can show flash0 over USB) into:\n%1\n\nThen click \"Build topmenu "
                        "plugin!\" again.")
      .arg(QDir::toNativeSeparators(toolFolder));
}

QString pgfCommandLine(const QString& fontPath, const QString& outputPath) {
  return QStringLiteral("pgf.exe ") + commandArgument(fontPath) + QLatin1Char(' ') + commandArgument(outputPath);
}

QString buildTopMenu(const std::array<XmbPicture, 6>& icons, const QString& programFolder, const QString& target,
                     ToolRunner& runner, QString* note) {
  // 1.bmp to 6.bmp and the result have fixed names: one build at a time per folder.
  const StagingClaim claim(programFolder, Staging::TopMenu);
  if (!claim.held())
    throw Failure(QStringLiteral("Another Kivo window is building a top menu in %1; try again when it has finished.")
                      .arg(programFolder));
  for (int n = 1; n <= 6; ++n)
    savePicture(icons[n - 1], programFolder + native(QStringLiteral("\\bin\\%1.bmp").arg(n)));
  enterToolFolder();
  QStringList bitmaps;
  for (int n = 1; n <= 6; ++n) bitmaps << QStringLiteral("%1.bmp").arg(n);
  runner.runAndWait(QStringLiteral("doit.cmd"), SW_SHOWMINIMIZED,
                    {QStringLiteral("Top-menu plugin"), bitmaps, QStringLiteral("../") + kTopMenuFile});
  setCurrentFolder(programFolder);

  // Choosing the result's own place as the target keeps it: no copy onto itself, no delete.
  const bool keepInPlace = sameFile(target, kTopMenuFile);
  const bool built = fileExists(kTopMenuFile);
  if (!built && note && !runner.lastRunCancelled() &&
      !fileExists(findIgnoringCase(native(QStringLiteral("bin\\")) + kTopMenuFile)))
    *note = missingBaseNote(QDir(programFolder).absoluteFilePath(QStringLiteral("bin")));
  // The label never calls a failed copy done (its text stays empty); the job says why.
  const bool saved = keepInPlace || !built || copyFile(kTopMenuFile, target, true);
  if (built && saved) runner.settleLastRun(keepInPlace ? kTopMenuFile : target);
  if (built && !saved) runner.settleLastRun({}, QStringLiteral("The top menu could not be copied to %1.").arg(target));
  if (!keepInPlace) deleteFile(kTopMenuFile);
  if (!saved) return {};
  return built ? kTopMenuDone : kTopMenuMissing;
}

void startFontBuild(const QString& fontPath, const QString& outputPath, const QString& programFolder,
                    ToolRunner& runner) {
  const QString line = pgfCommandLine(fontPath, outputPath);  // before leaving the program folder
  enterToolFolder();
  runner.startAndForget(line, SW_SHOWMINIMIZED, {QStringLiteral("Custom font"), {fontPath}, outputPath});
  setCurrentFolder(programFolder);
}

QString fontResult(const QString& outputPath) { return fileExists(outputPath) ? kFontDone : kFontMissing; }

std::optional<CaptionFace> chooseCaptionFace(const QString& fontFile, TTtfComp& ttf) {
  // Each file is registered once per run; clicking the same font again reuses it.
  static QHash<QString, int> registered;
  int id = -1;
  const QFileInfo info(fontFile);
  // A missing or unreadable font is quietly not used; a FIFO, a device or a file far too large
  // for a font would block or swamp the window and is refused with a word.
  if (!fontFile.isEmpty() && info.exists() && (!info.isFile() || info.size() > kMaxFontBytes))
    throw Failure(QStringLiteral("Cannot use \"%1\" as a font: %2").arg(fontFile,
        info.isFile() ? QStringLiteral("the file is too large.") : QStringLiteral("it is not a plain file.")));
  if (!fontFile.isEmpty()) {
    const QString key = info.absoluteFilePath();
    auto it = registered.find(key);
    if (it == registered.end() || QFontDatabase::applicationFontFamilies(*it).isEmpty()) {
      const std::optional<QByteArray> bytes = readOutsideFile(fontFile, kMaxFontBytes);
      it = registered.insert(key, bytes ? QFontDatabase::addApplicationFontFromData(*bytes) : -1);
    }
    id = *it;
  }
  ttf.ReadFontNames(std::string(QFile::encodeName(fontFile).constData()));
  const QString fullName = fromCodePage(ttf.FontFullName());
  if (fullName.isEmpty()) return std::nullopt;
  CaptionFace face;
  face.faceName = fullName.left(31);
  const QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
  face.family = families.isEmpty() ? face.faceName : families.first();
  face.styleName = fromCodePage(ttf.FontSubFamName());
  return face;
}

}  // namespace kivo::stick

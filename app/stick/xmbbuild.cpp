#include "xmbbuild.h"

#include "ttfcomp.h"

#include "shell/failure.h"
#include "shell/platform.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>

namespace kivo::stick {

namespace {

void enterToolFolder() {
  if (!setCurrentFolder(QStringLiteral("bin")))
    throw Failure(QStringLiteral("Cannot change to the folder \"%1\": it does not exist.").arg(QStringLiteral("bin")));
}

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

QString pgfCommandLine(const QString& fontPath, const QString& outputPath) {
  return QStringLiteral("pgf.exe \"%1\" \"%2\"").arg(fontPath, outputPath);
}

QString buildTopMenu(const std::array<XmbPicture, 6>& icons, const QString& programFolder, const QString& target,
                     ToolRunner& runner) {
  for (int n = 1; n <= 6; ++n)
    savePicture(icons[n - 1], programFolder + native(QStringLiteral("\\bin\\%1.bmp").arg(n)));
  enterToolFolder();
  runner.runAndWait(QStringLiteral("doit.cmd"), SW_SHOWMINIMIZED);
  setCurrentFolder(programFolder);

  // Choosing the result's own place as the target keeps it: no copy onto itself, no delete.
  const bool keepInPlace = sameFile(target, kTopMenuFile);
  if (!keepInPlace) copyFile(kTopMenuFile, target, true);
  const QString text = fileExists(kTopMenuFile) ? kTopMenuDone : kTopMenuMissing;
  if (!keepInPlace) deleteFile(kTopMenuFile);
  return text;
}

void startFontBuild(const QString& fontPath, const QString& outputPath, const QString& programFolder,
                    ToolRunner& runner) {
  enterToolFolder();
  runner.startAndForget(pgfCommandLine(fontPath, outputPath), SW_SHOWMINIMIZED);
  setCurrentFolder(programFolder);
}

QString fontResult(const QString& outputPath) { return fileExists(outputPath) ? kFontDone : kFontMissing; }

std::optional<CaptionFace> chooseCaptionFace(const QString& fontFile, TTtfComp& ttf) {
  // Each file is registered once per run; clicking the same font again reuses it.
  static QHash<QString, int> registered;
  int id = -1;
  if (!fontFile.isEmpty()) {
    const QString key = QFileInfo(fontFile).absoluteFilePath();
    auto it = registered.find(key);
    if (it == registered.end() || QFontDatabase::applicationFontFamilies(*it).isEmpty())
      it = registered.insert(key, QFontDatabase::addApplicationFont(fontFile));
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

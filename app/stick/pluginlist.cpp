#include "pluginlist.h"

#include "shell/safefile.h"

#include <QDir>
#include <QFileInfo>

namespace kivo::stick {

namespace {
// A plug-in list is a few lines; anything far larger is not one and is not loaded into a box.
constexpr qint64 kMaxListBytes = 4 << 20;
}  // namespace

StickPaths::StickPaths(const QString& driveText) : folder(driveText + QStringLiteral("seplugins")) {
  // A mount path typed or pasted without its closing separator names the same stick.
  if (driveText.isEmpty() || driveText.endsWith(QLatin1Char('/')) || driveText.endsWith(QLatin1Char('\\')) ||
      QFileInfo(folder).isDir())
    return;
  const QString withSlash = driveText + QLatin1Char('/') + QStringLiteral("seplugins");
  if (QFileInfo(withSlash).isDir()) folder = withSlash;
}

QString StickPaths::list(ListKind kind) const {
  switch (kind) {
  case ListKind::Vsh: return folder + QDir::separator() + QStringLiteral("vsh.txt");
  case ListKind::Game: return folder + QDir::separator() + QStringLiteral("game.txt");
  case ListKind::Pops: break;
  }
  return folder + QDir::separator() + QStringLiteral("pops.txt");
}

QString StickPaths::installed(const QString& prxName) const { return folder + QDir::separator() + prxName; }

QString prxFileName(const QString& path) {
  int cut = -1;
  for (QChar c : {QLatin1Char('\\'), QLatin1Char('/'), QLatin1Char(':')}) cut = std::max(cut, int(path.lastIndexOf(c)));
  return path.mid(cut + 1);
}

bool isRealPrxName(const QString& name) { return !name.trimmed().isEmpty() && name != kNoPrxYet; }

QString boxTextFromList(const QByteArray& bytes) {
  QString text;
  text.reserve(bytes.size());
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      text += QLatin1Char('\n');
    } else {
      text += QLatin1Char(c);
    }
  }
  return text;
}

QString unstorableCharacters(const QString& text) {
  QString found;
  for (const char32_t c : text.toUcs4()) {
    if (c < 0x100 || c == QChar::ParagraphSeparator || c == QChar::LineSeparator) continue;
    const QString one = QString::fromUcs4(&c, 1);
    if (!found.contains(one)) found += one;
  }
  return found;
}

QByteArray composeList(const QString& boxText, const QString& prxName) {
  QByteArray out;
  out.reserve(boxText.size() + prxName.size() + 32);
  for (qsizetype i = 0; i < boxText.size(); ++i) {
    const QChar c = boxText[i];
    if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::ParagraphSeparator ||
        c == QChar::LineSeparator) {
      if (c == QLatin1Char('\r') && i + 1 < boxText.size() && boxText[i + 1] == QLatin1Char('\n')) ++i;
      out += "\r\n";
    } else {
      out += c.unicode() < 0x100 ? static_cast<char>(c.unicode()) : '?';
    }
  }
  if (!out.isEmpty() && !out.endsWith("\r\n")) out += "\r\n";
  out += (kEntryPrefix + prxName).toLatin1();
  out += "\r\n";
  return out;
}

std::optional<QByteArray> readList(const QString& path) { return readOutsideFile(path, kMaxListBytes); }

bool writeListSafely(const QString& path, const QByteArray& bytes, QString* error) {
  return replaceFile(path, bytes, error);
}

std::optional<QStringList> listPrxFiles(const QString& folder) {
  const QDir dir(folder);
  if (folder.isEmpty() || !QFileInfo(folder).isDir() || !dir.isReadable()) return std::nullopt;
  // Matched and sorted without regard to case, as on the stick's own file system.
  return dir.entryList({QStringLiteral("*.prx")}, QDir::Files | QDir::Hidden | QDir::System,
                       QDir::Name | QDir::IgnoreCase);
}

StickContents loadStick(const QString& driveText) {
  const StickPaths paths(driveText);
  StickContents found;
  found.prxFiles = listPrxFiles(paths.folder);
  if (!found.prxFiles) return found;
  std::optional<QString>* boxes[] = {&found.vsh, &found.game, &found.pops};
  const ListKind kinds[] = {ListKind::Vsh, ListKind::Game, ListKind::Pops};
  for (int i = 0; i < 3; ++i) {
    const std::optional<QByteArray> bytes = readList(paths.list(kinds[i]));
    if (!bytes) break;
    *boxes[i] = boxTextFromList(*bytes);
  }
  return found;
}

}  // namespace kivo::stick

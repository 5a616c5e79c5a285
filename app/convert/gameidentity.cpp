#include "gameidentity.h"

#include "identity.h"

#include <QFile>
#include <QFileInfo>

namespace kivo {

namespace {
QString text(const std::string& s) { return QString::fromUtf8(s.data(), int(s.size())); }
}  // namespace

GameIdentity identifyGame(const QString& path) {
  GameIdentity game;
  // A path still being typed, a folder or a device is nothing to read.
  if (path.isEmpty() || !QFileInfo(path).isFile()) return game;
  try {
    const DiscIdentity id = identifyFile(QFile::encodeName(path).toStdString(), true);
    game.psp = id.psp;
    game.title = text(id.title()).simplified();
    game.id = text(id.discId()).simplified();
    game.volume = text(id.volume.name);
    if (!id.icon0Png.empty()) game.icon = QImage::fromData(id.icon0Png.data(), int(id.icon0Png.size()), "PNG");
    QStringList lines;
    if (!game.title.isEmpty()) lines << game.title;
    if (!game.id.isEmpty()) lines << QStringLiteral("Game ID: %1").arg(game.id);
    if (id.psp) {
      const QString firmware = text(id.sfo.text("PSP_SYSTEM_VER"));
      if (!firmware.isEmpty()) lines << QStringLiteral("Needs system software %1").arg(firmware);
    }
    lines << QStringLiteral("%1 image, volume %2").arg(text(id.format), game.volume.isEmpty() ? QStringLiteral("without a name") : game.volume);
    game.details = lines.join(QLatin1Char('\n'));
  } catch (const std::exception&) {
    return {};
  }
  return game;
}

QString gameName(const QString& title, const QString& id) {
  if (id.isEmpty()) return title;
  const QString bracketed = QLatin1Char('[') + id + QLatin1Char(']');
  return title.isEmpty() ? bracketed : title + QLatin1Char(' ') + bracketed;
}

std::pair<QString, QString> splitGameId(const QString& id) {
  int cut = 0;
  while (cut < id.size() && !id[cut].isDigit()) ++cut;
  return {id.left(cut), id.mid(cut)};
}

}  // namespace kivo

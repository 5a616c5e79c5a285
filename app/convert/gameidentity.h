#pragma once
// The game a disc image holds, as the Convert page shows it: read from the image itself (a UMD's
// PARAM.SFO and ICON0.PNG, a PS1 disc's SYSTEM.CNF) through any container the tools read.

#include <QImage>
#include <QString>

namespace kivo {

struct GameIdentity {
  QString title;    ///< PARAM.SFO's TITLE
  QString id;       ///< PARAM.SFO's DISC_ID, or a PS1 disc's serial
  QString volume;   ///< the volume name
  QImage icon;      ///< ICON0.PNG; null when the image has none
  QString details;  ///< a few lines for a tooltip
  bool psp = false;
  bool known() const { return !title.isEmpty() || !id.isEmpty(); }
};

/// Reads the image at path; an empty identity when there is no such file or it holds no game.
GameIdentity identifyGame(const QString& path);

/// How the activity view names a game: "<TITLE> [ULUS10041]", either part alone, or empty.
QString gameName(const QString& title, const QString& id);

/// A game ID cut where the page's two boxes cut it: "SLUS00594" gives "SLUS" and "00594".
std::pair<QString, QString> splitGameId(const QString& id);

}  // namespace kivo

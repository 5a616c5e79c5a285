#pragma once
// The fixed texts of the Home and About pages. Kept apart from the widgets so the exact
// wording (trailing blanks included) can be checked without building a page.

#include <QString>
#include <QStringList>

namespace kivo::info {

/// The About page's banner: the product's short name and version in large letters.
QStringList bannerLines();
/// The About page's text, one entry per memo line.
QStringList aboutLines();
/// The changelog panel's text, one entry per memo line.
QStringList changelogLines();
/// The credits line that scrolls across the foot of the About page.
QString creditsLine();

/// The easter egg's boxes, in the order they are shown.
QStringList eggBoxes();
inline const QString kEggMarker = QStringLiteral("cheater");
inline const QString kPunishFirst = QStringLiteral(
    "CHEATER! You didnt clicked but used enter or space! Now im gonna punish you, as promised!");
inline const QString kPunishSecond = QStringLiteral("Happy closing...");
/// Editors started by one punishment: enough for the joke, few enough to close by hand.
inline constexpr int kPunishEditors = 3;

} // namespace kivo::info

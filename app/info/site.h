#pragma once
// The author's web site. One address for the whole program; KIVO_SITE overrides it (tests point
// the pages at a local server with it).

#include <QString>
#include <QUrl>

namespace kivo::info {

inline constexpr char kSiteVariable[] = "KIVO_SITE";
inline const QString kSiteAddress = QStringLiteral("http://www.plovik.example");

/// The site's base address, without a trailing '/'; plain HTTP unless the override names a scheme.
QString siteAddress();
/// An address on the site: pathAndQuery starts with '/'.
QUrl siteUrl(const QString& pathAndQuery);

} // namespace kivo::info

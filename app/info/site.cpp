#include "site.h"

#include <QtGlobal>

namespace kivo::info {

QString siteAddress() {
  QString site = qEnvironmentVariable(kSiteVariable).trimmed();
  if (site.isEmpty()) site = kSiteAddress;
  if (!site.contains(QLatin1String("://"))) site.prepend(QLatin1String("http://"));
  while (site.endsWith(QLatin1Char('/')))
    site.chop(1);
  return site;
}

QUrl siteUrl(const QString& pathAndQuery) {
  return QUrl(siteAddress() + pathAndQuery);
}

} // namespace kivo::info

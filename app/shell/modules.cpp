#include "modules.h"

#include "platform.h"

#include <QDir>
#include <QPluginLoader>

namespace kivo {

QString moduleFolder() { return QDir(programFolder()).filePath(QStringLiteral("plugins")); }

QObject* loadModule(const QString& folder, const QString& name, QString* why) {
  QPluginLoader loader(QDir(folder).filePath(name));
  QObject* root = loader.instance();
  if (!root && why) *why = loader.errorString();
  return root;
}

}  // namespace kivo

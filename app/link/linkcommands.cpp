#include "linkcommands.h"

#include "shell/commandline.h"
#include "shell/platform.h"

namespace kivo::link {

QString usbHostCommand(const QString& path) {
  return native(QStringLiteral("bin\\usb.exe")) + QLatin1Char(' ') + commandArgument(path);
}

QString netHostCommand(const QString& port, const QString& password, const QString& path) {
  return native(QStringLiteral("bin\\net.exe")) + QStringLiteral(" -p ") + commandArgument(port, Quoting::AsNeeded) +
         QStringLiteral(" -l ") + commandArgument(password, Quoting::AsNeeded) + QLatin1Char(' ') +
         commandArgument(path);
}

QString usbKeyboardCommand() { return native(QStringLiteral("bin\\usbkey.exe")); }

QString netKeyboardCommand() { return native(QStringLiteral("bin\\netkey.exe")) + QStringLiteral(" -s"); }

QString editControlsCommand() { return QStringLiteral("notepad keyboardSetup.cfg"); }

}  // namespace kivo::link

#include "linkcommands.h"

#include "shell/platform.h"

namespace kivo::link {

namespace {
const QLatin1Char kQuote('"');
}

QString usbHostCommand(const QString& path) {
  return native(QStringLiteral("bin\\usb.exe")) + QLatin1Char(' ') + kQuote + path + kQuote;
}

QString netHostCommand(const QString& port, const QString& password, const QString& path) {
  return native(QStringLiteral("bin\\net.exe")) + QStringLiteral(" -p ") + port + QStringLiteral(" -l ") + password +
         QLatin1Char(' ') + kQuote + path + kQuote;
}

QString usbKeyboardCommand() { return native(QStringLiteral("bin\\usbkey.exe")); }

QString netKeyboardCommand() { return native(QStringLiteral("bin\\netkey.exe")) + QStringLiteral(" -s"); }

QString editControlsCommand() { return QStringLiteral("notepad keyboardSetup.cfg"); }

}  // namespace kivo::link

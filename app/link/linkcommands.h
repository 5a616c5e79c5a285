#pragma once
// The command lines of the PC - PSP link page. The program's own paths use the native
// separator; each text the user typed reaches the host as one argument, exactly as typed: the
// paths in double quotes, the port and the password bare when they can stand bare. A text that
// cannot be carried throws Failure.

#include <QString>

namespace kivo::link {

QString usbHostCommand(const QString& path);
QString netHostCommand(const QString& port, const QString& password, const QString& path);
QString usbKeyboardCommand();
QString netKeyboardCommand();
QString editControlsCommand();

}  // namespace kivo::link

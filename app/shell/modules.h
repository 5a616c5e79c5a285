#pragma once
// Program modules: parts that pull in large libraries (the web engine, the media system) are
// built as plug-ins beside the program and loaded on first use, so the window reaches the screen
// without them. A module that is missing or refuses to load leaves its feature out, with a reason.

#include <QString>

class QObject;

namespace kivo {

/// The folder the modules live in: plugins/ in the program folder.
QString moduleFolder();

/// Loads the module of that base name from the folder and returns its root object; nullptr with
/// the reason in *why when it cannot be loaded. A loaded module stays loaded.
QObject* loadModule(const QString& folder, const QString& name, QString* why);

}  // namespace kivo

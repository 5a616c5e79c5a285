#include "rastlejob.h"

#include "ebootmaker.h"
#include "shell/commandline.h"
#include "shell/folderguard.h"

namespace kivo {

QString rastleCommandLine(const QString& output, const QString& eboot) {
  return QStringLiteral("rastle.exe -o ") + commandArgument(output) + QLatin1Char(' ') + commandArgument(eboot);
}

void startRastle(ToolRunner& runner, const QString& output, const QString& eboot) {
  const QString line = rastleCommandLine(output, eboot);  // a name it cannot carry starts nothing
  CurrentFolderGuard back;
  enterToolFolder();
  runner.startAndForget(line, SW_SHOWMINIMIZED);
}

}  // namespace kivo

#include "rastlejob.h"

#include "ebootmaker.h"
#include "shell/folderguard.h"

namespace kivo {

QString rastleCommandLine(const QString& output, const QString& eboot) {
  return QStringLiteral("rastle.exe -o \"") + output + QStringLiteral("\" \"") + eboot + QLatin1Char('"');
}

void startRastle(ToolRunner& runner, const QString& output, const QString& eboot) {
  CurrentFolderGuard back;
  enterToolFolder();
  runner.startAndForget(rastleCommandLine(output, eboot), SW_SHOWMINIMIZED);
}

}  // namespace kivo

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
  // With no output named, rastle writes beside the input under its name ending in ".iso".
  const QString writes = !output.isEmpty() ? output
                         : eboot.isEmpty() ? QString()
                                           : eboot.left(eboot.size() < 4 ? eboot.size() : eboot.size() - 4) +
                                                 QStringLiteral(".iso");
  runner.startAndForget(line, SW_SHOWMINIMIZED, {QStringLiteral("EBOOT.PBP to ISO"), {eboot}, writes});
}

}  // namespace kivo

#include "shellintegration.h"

#include "copyfolder.h"
#include "shell/failure.h"
#include "shell/folderguard.h"
#include "shell/platform.h"

namespace kivo::shellintegration {

namespace {

void enter(const QString& folder) {
  if (!setCurrentFolder(folder)) throw Failure(QStringLiteral("Cannot enter the folder ") + folder);
}

void enterContconv() {
  enter(QStringLiteral("win"));
  enter(QStringLiteral("contconv"));
}

}  // namespace

bool install(Services& services) {
  CurrentFolderGuard guard;
  enterContconv();
  // Copy first, so the registration script is in place when the desktop is handed it.
  QStringList notCopied;
  CopyFolder(QStringLiteral("copy"), systemDrive(), QStringLiteral("*.*"), ReplaceAlways, true, true,
             services.messages, services.clock.locale(), &notCopied);
  services.runner.openWithShell(findIgnoringCase(systemDrive() + QStringLiteral("psp/iso_compress/do.reg")),
                                SW_SHOW);
  enter(QStringLiteral(".."));
  enter(QStringLiteral(".."));
  return notCopied.isEmpty();
}

void uninstall(Services& services) {
  CurrentFolderGuard guard;
  enterContconv();
  services.runner.openWithShell(QStringLiteral("un.reg"), SW_SHOW);
  setCurrentFolder(systemDrive() + QStringLiteral("PSP/"));
  services.runner.startAndForget(QStringLiteral("uniso.bat"), SW_SHOWNORMAL);
  services.runner.startAndForget(QStringLiteral("rmdir ISO_Compress"), SW_SHOWNORMAL);
}

}  // namespace kivo::shellintegration

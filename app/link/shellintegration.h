#pragma once
// The steps behind "Install" and "Uninstall" of the context-menu command. The installation's
// win/contconv holds the files: a tree "copy" that goes onto the home folder (our "C:\"), and
// the scripts that register and remove the file-manager actions.

#include "shell/services.h"

namespace kivo::shellintegration {

/// Enters win/contconv, copies its tree "copy" onto the home folder, hands the copied
/// PSP/ISO_Compress/do.reg to the desktop. Failure when a folder is missing or cannot be made;
/// false when a file of the tree could not be copied. Leaves the current folder where it found it.
bool install(Services& services);

/// Enters win/contconv, hands un.reg to the desktop, then starts uniso.bat and
/// "rmdir ISO_Compress" in PSP/ of the home folder (in win/contconv when that is missing).
/// Leaves the current folder where it found it.
void uninstall(Services& services);

}  // namespace kivo::shellintegration

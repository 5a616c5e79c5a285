#pragma once
// Starting rastle, the extractor that turns a PS1 EBOOT.PBP back into a disc image.

#include "shell/services.h"

namespace kivo {

/// rastle.exe -o "output" "eboot": each path one argument, exactly as typed; throws Failure
/// when one cannot be carried.
QString rastleCommandLine(const QString& output, const QString& eboot);

/// Starts rastle from the tool folder without waiting, minimised, and comes back to the
/// current folder; Failure("File not found") when there is no tool folder.
void startRastle(ToolRunner& runner, const QString& output, const QString& eboot);

}  // namespace kivo

#pragma once
// The real tool runner: splits the command line, finds the program, and starts it directly
// (never through a shell) in the current folder.

#include "services.h"

namespace kivo {

/// The program and arguments a command line resolves to.
struct ResolvedCommand {
  QString program;
  QStringList arguments;
  bool found = false;
};

/// Finds the program of a split command line: a name with a folder part is taken relative to
/// the current folder; a bare name is looked for beside the main program, then in the current
/// folder, then on PATH. "x.exe" falls back to "x"; ".cmd" and ".bat" files run under /bin/sh;
/// "notepad" is the desktop's text editor.
ResolvedCommand resolveCommand(const QString& commandLine);

class ProcessRunner : public ToolRunner {
public:
  uint32_t runAndWait(const QString& commandLine, int showState) override;
  void startAndForget(const QString& commandLine, int showState) override;
  void openWithShell(const QString& target, int showState) override;
};

}  // namespace kivo

#pragma once
// The real tool runner: splits the command line, finds the program, and starts it directly
// (never through a shell) in the current folder. Every tool it starts is watched: its progress
// and messages go to the tool activity, and so does how it ended.

#include "services.h"
#include "toolactivity.h"

#include <QObject>
#include <map>

class QProcess;

namespace kivo {

/// The program and arguments a command line resolves to.
struct ResolvedCommand {
  QString program;
  QStringList arguments;
  bool found = false;
  bool ownWindow = false;  ///< a program with a window of its own (the text editor)
};

/// Finds the program of a split command line: a name with a folder part is taken relative to
/// the current folder; a bare name is looked for beside the main program, then in the current
/// folder, then on PATH. "x.exe" falls back to "x"; ".cmd" and ".bat" files run under /bin/sh;
/// "notepad" is the desktop's text editor.
ResolvedCommand resolveCommand(const QString& commandLine);

/// Shows the job a handler waits for, and lets the user cancel it through the activity.
class WaitPresenter {
public:
  virtual ~WaitPresenter() = default;
  virtual void show(ToolActivity& activity, int id) = 0;
  virtual void hide() = 0;
};

class ProcessRunner : public QObject, public ToolRunner {
  Q_OBJECT
public:
  explicit ProcessRunner(QObject* parent = nullptr);
  /// Tools still running go on without Kivo, as they would from a console.
  ~ProcessRunner() override;

  uint32_t runAndWait(const QString& commandLine, int showState, const ToolJob& job = {}) override;
  void startAndForget(const QString& commandLine, int showState, const ToolJob& job = {}) override;
  void openWithShell(const QString& target, int showState) override;
  bool lastRunCancelled() const override { return lastCancelled_; }
  void settleLastRun(const QString& resultPath, const QString& failure = {}) override;

  ToolActivity& activity() { return activity_; }
  /// Without one, run-and-wait waits without showing anything (tests, a console).
  void setWaitPresenter(WaitPresenter* presenter) { presenter_ = presenter; }
  /// How long a cancelled tool has to end after it was asked to, before it is killed.
  int stopGraceMs = 3000;

private:
  int launch(const ResolvedCommand& command, const QString& commandLine, const ToolJob& job, bool waited);
  void stop(int id);

  ToolActivity activity_;
  std::map<int, QProcess*> processes_;
  WaitPresenter* presenter_ = nullptr;
  int lastRun_ = 0;
  bool lastCancelled_ = false;
};

}  // namespace kivo

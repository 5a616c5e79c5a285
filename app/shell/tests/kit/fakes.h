#pragma once
// Recording and scripted stand-ins for the services, so page tests can check the exact command
// lines, dialogs and message texts a handler produced.

#include "shell/services.h"
#include "shell/songplayer.h"
#include "shell/toolactivity.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <vector>

namespace kivo::testing {

struct StartRecord {
  enum Kind { RunAndWait, StartAndForget, OpenWithShell } kind;
  QString commandLine;
  int showState;
  QString currentFolder;  ///< the folder current when the start happened
  ToolJob job;
};

/// Records every start and plays each tool's end through a real tool activity, so a test sees
/// the entries, results and failures the user would see.
class RecordingRunner : public ToolRunner {
public:
  uint32_t runAndWait(const QString& commandLine, int showState, const ToolJob& job = {}) override;
  void startAndForget(const QString& commandLine, int showState, const ToolJob& job = {}) override;
  void openWithShell(const QString& target, int showState) override;
  bool lastRunCancelled() const override { return lastCancelled_; }
  void settleLastRun(const QString& resultPath, const QString& failure = {}) override;

  /// Called for every start, after it is recorded: lets a test play the tool (write its files).
  std::function<void(const StartRecord&)> onStart;
  uint32_t exitCode = 0;
  /// Lines each tool prints on its standard error before it ends.
  QStringList toolMessages;
  /// The user cancels the next this many tool starts while they run.
  int cancelStarts = 0;
  std::vector<StartRecord> starts;
  QStringList commandLines() const;
  ToolActivity activity;
  /// The entry of the last start.
  const JobEntry& lastEntry() const;
  /// The process every start is told it runs as: one that has ended, as a stopped tool's has.
  static qint64 toolPid();
  /// Where such a tool writes path (against the current folder) until it is complete: the
  /// temporary file a cancel removes.
  static QString unfinished(const QString& path);

private:
  int record(StartRecord::Kind kind, const QString& line, int show, const ToolJob& job);
  int lastId_ = 0;
  int lastRun_ = 0;
  bool lastCancelled_ = false;
};

class ScriptedDialogs : public DialogBackend {
public:
  std::optional<QString> chooseFile(const FileRequest& request) override;
  std::optional<QString> chooseFolder(const FolderRequest& request) override;

  /// Answers in order; std::nullopt is a cancel. With no answer left, the dialog is cancelled.
  std::deque<std::optional<QString>> answers;
  std::vector<FileRequest> fileRequests;
  std::vector<FolderRequest> folderRequests;
  /// The current folder seen while each dialog was open.
  QStringList foldersDuringDialogs;
  /// Like a platform dialog, move the current folder to the chosen file's folder.
  bool moveCurrentFolder = true;

private:
  std::optional<QString> next();
};

struct BoxRecord {
  enum Kind { Message, Error, Question } kind;
  QString caption;
  QString text;
};

class RecordingMessages : public MessageBoxes {
public:
  void showMessage(const QString& text) override;
  void showError(const QString& text) override;
  Answer ask(const QString& caption, const QString& text, Buttons buttons, BoxIcon icon) override;

  std::deque<Answer> answers;          ///< for ask(); with none left, defaultAnswer
  Answer defaultAnswer = Answer::Yes;
  std::vector<BoxRecord> boxes;
  /// Called while each box is "open" (e.g. to let timers fire inside it).
  std::function<void(const BoxRecord&)> whileOpen;
  QStringList texts() const;
  QStringList errors() const;
};

class FakeClock : public Clock {
public:
  QDate today() const override { return date; }
  QLocale locale() const override { return loc; }
  QDate date{2026, 12, 8};
  QLocale loc{QLocale::c()};
};

class FakePlayer : public SongPlayer {
public:
  QString open(const QString& path) override;
  void stop() override { commands << QStringLiteral("stop"); }
  void rewind() override { commands << QStringLiteral("rewind"); }
  void play() override { commands << QStringLiteral("play"); }
  void close() override { commands << QStringLiteral("close"); }
  QString refuseWith;  ///< when set, open() fails with this reason
  QStringList commands;
};

/// Names and typed texts that have broken command lines before: a quote, a quote that opens
/// new options, backslashes before a quote and at the end, shell syntax, a newline, blanks,
/// wildcards, non-ASCII. Each must reach its tool as one argument equal to itself.
QStringList hostileTexts();

/// The arguments a command line gives the program after the runner's split (the program's
/// own name left out).
QStringList splitArguments(const QString& commandLine);

/// All fakes, wired into one Services bundle.
struct FakeServices {
  RecordingRunner runner;
  ScriptedDialogs dialogs;
  RecordingMessages messages;
  FakeClock clock;
  Services services{runner, dialogs, messages, clock};
};

/// A temporary program folder (with bin/) made current for the test's lifetime.
/// Stands for a second Kivo at work beside the one under test: act runs in a child process,
/// which then holds on (whatever it claimed stays claimed) until release() or the end.
class OtherKivo {
public:
  explicit OtherKivo(const std::function<bool()>& act);
  ~OtherKivo();
  OtherKivo(const OtherKivo&) = delete;
  OtherKivo& operator=(const OtherKivo&) = delete;
  /// What act returned; false also when it threw.
  bool result() const { return result_; }
  void release();

private:
  int pid_ = -1, hold_ = -1;
  bool result_ = false;
};

class TempProgramFolder {
public:
  TempProgramFolder();
  ~TempProgramFolder();
  QString path() const { return dir_.path(); }
  QString filePath(const QString& relative) const { return dir_.filePath(relative); }
  /// Writes a file (creating its folders) and returns its full path.
  QString write(const QString& relative, const QByteArray& bytes = {}) const;
  QByteArray read(const QString& relative) const;

private:
  QTemporaryDir dir_;
  QString saved_;
};

}  // namespace kivo::testing

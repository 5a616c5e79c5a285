#include "fakes.h"

#include "shell/commandline.h"

#include "filesafe/temporary.h"

#include <QFile>
#include <QFileInfo>

#include <sys/wait.h>
#include <unistd.h>

namespace kivo::testing {

OtherKivo::OtherKivo(const std::function<bool()>& act) {
  int said[2], hold[2];
  if (pipe(said) != 0 || pipe(hold) != 0) qFatal("pipe");
  pid_ = fork();
  if (pid_ < 0) qFatal("fork");
  if (pid_ == 0) {
    close(said[0]);
    close(hold[1]);  // so that the parent's close ends the wait
    bool ok = false;
    try {
      ok = act();
    } catch (...) {
    }
    const char answer = ok ? '1' : '0';
    char go;
    if (write(said[1], &answer, 1) != 1 || read(hold[0], &go, 1) < 0) _exit(2);
    _exit(0);
  }
  close(said[1]);
  close(hold[0]);
  hold_ = hold[1];
  char answer = '0';
  if (read(said[0], &answer, 1) != 1) answer = '0';
  close(said[0]);
  result_ = answer == '1';
}

OtherKivo::~OtherKivo() { release(); }

void OtherKivo::release() {
  if (pid_ <= 0) return;
  close(hold_);  // the child's read ends: it exits, and what it held goes with it
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int RecordingRunner::record(StartRecord::Kind kind, const QString& line, int show, const ToolJob& job) {
  starts.push_back({kind, line, show, QDir::currentPath(), job});
  const bool tool = kind != StartRecord::OpenWithShell;
  const int id = tool ? activity.begin(job, line, kind == StartRecord::RunAndWait) : 0;
  if (tool) activity.started(id, toolPid());
  if (onStart) onStart(starts.back());
  if (!tool) return 0;
  lastId_ = id;
  for (const QString& message : toolMessages) activity.addOutput(id, message.toUtf8() + '\n', ToolActivity::Stream::Err);
  if (cancelStarts > 0) {
    --cancelStarts;
    activity.requestCancel(id);
    activity.finish(id, 0, true);
  } else {
    activity.finish(id, int(exitCode), false);
  }
  return id;
}

uint32_t RecordingRunner::runAndWait(const QString& commandLine, int showState, const ToolJob& job) {
  lastRun_ = record(StartRecord::RunAndWait, commandLine, showState, job);
  lastCancelled_ = activity.entry(lastRun_)->state == JobState::Cancelled;
  return lastCancelled_ ? 0 : exitCode;
}

void RecordingRunner::startAndForget(const QString& commandLine, int showState, const ToolJob& job) {
  record(StartRecord::StartAndForget, commandLine, showState, job);
}

void RecordingRunner::openWithShell(const QString& target, int showState) {
  record(StartRecord::OpenWithShell, target, showState, {});
}

void RecordingRunner::settleLastRun(const QString& resultPath, const QString& failure) {
  activity.settle(lastRun_, resultPath, failure);
}

const JobEntry& RecordingRunner::lastEntry() const { return *activity.entry(lastId_); }

qint64 RecordingRunner::toolPid() {
  static const qint64 pid = [] {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return qint64(child);
  }();
  return pid;
}

QString RecordingRunner::unfinished(const QString& path) {
  const std::string absolute = QFile::encodeName(QDir::current().absoluteFilePath(path)).toStdString();
  return QFile::decodeName(filesafe::temporaryName(absolute, long(toolPid()), 0).c_str());
}

QStringList RecordingRunner::commandLines() const {
  QStringList lines;
  for (const StartRecord& s : starts) lines << s.commandLine;
  return lines;
}

std::optional<QString> ScriptedDialogs::next() {
  foldersDuringDialogs << QDir::currentPath();
  if (answers.empty()) return std::nullopt;
  std::optional<QString> answer = answers.front();
  answers.pop_front();
  if (answer && moveCurrentFolder) {
    const QString folder = QFileInfo(*answer).absolutePath();
    if (QFileInfo(folder).isDir()) QDir::setCurrent(folder);
  }
  return answer;
}

std::optional<QString> ScriptedDialogs::chooseFile(const FileRequest& request) {
  fileRequests.push_back(request);
  return next();
}

std::optional<QString> ScriptedDialogs::chooseFolder(const FolderRequest& request) {
  folderRequests.push_back(request);
  return next();
}

void RecordingMessages::showMessage(const QString& text) {
  boxes.push_back({BoxRecord::Message, kAppTitle, text});
  if (whileOpen) whileOpen(boxes.back());
}

void RecordingMessages::showError(const QString& text) {
  boxes.push_back({BoxRecord::Error, kAppTitle, text});
  if (whileOpen) whileOpen(boxes.back());
}

Answer RecordingMessages::ask(const QString& caption, const QString& text, Buttons, BoxIcon) {
  boxes.push_back({BoxRecord::Question, caption.isEmpty() ? kAppTitle : caption, text});
  if (whileOpen) whileOpen(boxes.back());
  if (answers.empty()) return defaultAnswer;
  const Answer a = answers.front();
  answers.pop_front();
  return a;
}

QStringList RecordingMessages::texts() const {
  QStringList out;
  for (const BoxRecord& b : boxes) out << b.text;
  return out;
}

QStringList RecordingMessages::errors() const {
  QStringList out;
  for (const BoxRecord& b : boxes)
    if (b.kind == BoxRecord::Error) out << b.text;
  return out;
}

QString FakePlayer::open(const QString& path) {
  commands << QStringLiteral("open:") + path;
  return refuseWith;
}

TempProgramFolder::TempProgramFolder() : saved_(QDir::currentPath()) {
  QDir(dir_.path()).mkpath(QStringLiteral("bin"));
  QDir::setCurrent(dir_.path());
}

TempProgramFolder::~TempProgramFolder() { QDir::setCurrent(saved_); }

QString TempProgramFolder::write(const QString& relative, const QByteArray& bytes) const {
  const QString full = dir_.filePath(relative);
  QDir().mkpath(QFileInfo(full).absolutePath());
  QFile file(full);
  if (file.open(QIODevice::WriteOnly)) file.write(bytes);
  return full;
}

QByteArray TempProgramFolder::read(const QString& relative) const {
  QFile file(dir_.filePath(relative));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList hostileTexts() {
  return {
      QStringLiteral("FF7.PBP\" -o \"ciso"),
      QStringLiteral("a\"b"),
      QStringLiteral("\""),
      QStringLiteral("\\\""),
      QStringLiteral("C:\\Games\\"),
      QStringLiteral("dir\\\\"),
      QStringLiteral("a\\\\\"b c"),
      QStringLiteral("x; rm -rf ~"),
      QStringLiteral("$(touch pwned)"),
      QStringLiteral("`touch pwned`"),
      QStringLiteral("two\nlines.iso"),
      QStringLiteral("  blanks\tand  tabs  "),
      QStringLiteral("Who Wants to Be a Millionaire? *.iso"),
      QStringLiteral("-o"),
      QStringLiteral("Crash \u00e9t\u00e9 \u30b2\u30fc\u30e0 \U0001F3AE.pbp"),
      QString(),
  };
}

QStringList splitArguments(const QString& commandLine) {
  QStringList out;
  const std::vector<std::string> words = splitCommandLine(commandLine.toStdString());
  for (size_t i = 1; i < words.size(); ++i) out << QString::fromStdString(words[i]);
  return out;
}

}  // namespace kivo::testing

// Ahead of every Qt header: its ProgressReport::emit() would meet Qt's emit macro.
#include "progress.h"

#include "processrunner.h"

#include "commandline.h"
#include "platform.h"
#include "toolpurpose.h"

#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <csignal>
#include <unistd.h>
#include <vector>

namespace kivo {

namespace {

bool isRunnable(const QString& path) {
  QFileInfo info(path);
  return info.isFile();
}

// "x.exe" that does not exist but "x" does: run "x".
QString withExeFallback(const QString& path) {
  if (isRunnable(path)) return path;
  if (path.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) {
    const QString bare = path.left(path.size() - 4);
    if (isRunnable(bare)) return bare;
  }
  return {};
}

QString findProgramAsGiven(const QString& name) {
  if (name.contains(QLatin1Char('/'))) return withExeFallback(QDir::current().absoluteFilePath(name));
  for (const QString& dir : {programFolder(), QDir::currentPath()}) {
    const QString hit = withExeFallback(QDir(dir).absoluteFilePath(name));
    if (!hit.isEmpty()) return hit;
  }
  QString onPath = QStandardPaths::findExecutable(name);
  if (onPath.isEmpty() && name.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive))
    onPath = QStandardPaths::findExecutable(name.left(name.size() - 4));
  return onPath;
}

// A name written with Windows separators ("bin\ciso.exe") is tried as given first: on Linux a
// backslash may be part of a real file name.
QString findProgram(const QString& name) {
  const QString hit = findProgramAsGiven(name);
  if (!hit.isEmpty() || !name.contains(QLatin1Char('\\'))) return hit;
  return findProgramAsGiven(QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')));
}

QString textEditor() {
  for (const char* editor : {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "xed", "pluma",
                             "featherpad", "leafpad", "xedit"}) {
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(editor));
    if (!path.isEmpty()) return path;
  }
  return {};
}

/// A tool's process. Kivo's end must not end the tool: release() lets the object go while the
/// process runs on.
class ToolProcess : public QProcess {
public:
  using QProcess::QProcess;
  void release() { setProcessState(QProcess::NotRunning); }
};

// The folder a missing program was looked for in first: its own folder part, else the current
// folder (the tool folder, where the handlers start the tools they name bare).
QString lookedIn(QString program) {
  program.replace(QLatin1Char('\\'), QLatin1Char('/'));
  const qsizetype slash = program.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return QDir::currentPath();
  return QDir::current().absoluteFilePath(slash == 0 ? QStringLiteral("/") : program.left(slash));
}

}  // namespace

ResolvedCommand resolveCommand(const QString& commandLine) {
  ResolvedCommand result;
  const std::vector<std::string> words = splitCommandLine(commandLine.toStdString());
  if (words.empty()) return result;
  QString name = QString::fromStdString(words[0]);
  for (size_t i = 1; i < words.size(); ++i) result.arguments << QString::fromStdString(words[i]);

  if (name.compare(QStringLiteral("notepad"), Qt::CaseInsensitive) == 0 ||
      name.compare(QStringLiteral("notepad.exe"), Qt::CaseInsensitive) == 0) {
    const QString local = findProgram(name);  // a notepad of the user's own wins
    result.program = local.isEmpty() ? textEditor() : local;
    if (result.program.isEmpty() && !result.arguments.isEmpty()) {
      result.program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    }
    result.found = !result.program.isEmpty();
    result.ownWindow = true;
    return result;
  }

  const QString program = findProgram(name);
  if (program.isEmpty()) {
    result.program = name;
    return result;
  }
  if (program.endsWith(QStringLiteral(".cmd"), Qt::CaseInsensitive) ||
      program.endsWith(QStringLiteral(".bat"), Qt::CaseInsensitive)) {
    result.arguments.prepend(program);
    result.program = QStringLiteral("/bin/sh");
  } else {
    result.program = program;
  }
  result.found = true;
  return result;
}

ProcessRunner::ProcessRunner(QObject* parent) : QObject(parent) {
  connect(&activity_, &ToolActivity::cancelRequested, this, &ProcessRunner::stop);
}

ProcessRunner::~ProcessRunner() {
  for (auto& [id, process] : processes_) {
    process->disconnect();
    if (process->state() != QProcess::NotRunning) static_cast<ToolProcess*>(process)->release();
    delete process;
  }
}

int ProcessRunner::launch(const ResolvedCommand& command, const QString& commandLine, const ToolJob& job,
                          bool waited) {
  const int id = activity_.begin(job, commandLine, waited);
  if (!command.found) {
    activity_.failToStart(id, command.program.isEmpty() ? QStringLiteral("There is nothing to start.")
                                                        : missingToolMessage(command.program, lookedIn(command.program)));
    return id;
  }
  auto* process = new ToolProcess(this);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QString::fromLatin1(kProgressEnv), QStringLiteral("1"));
  process->setProcessEnvironment(environment);
  process->setWorkingDirectory(QDir::currentPath());
  process->setChildProcessModifier([] {
    // A group of its own, so a cancel reaches whatever the tool started; and a tool that
    // outlives Kivo must not die writing to the pipe Kivo no longer reads.
    ::setpgid(0, 0);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
  });
  // Its pid tells, at a cancel, which temporary files are the unfinished work of this very tool.
  connect(process, &QProcess::started, this, [this, id, process] { activity_.started(id, process->processId()); });
  connect(process, &QProcess::readyReadStandardOutput, this,
          [this, id, process] { activity_.addOutput(id, process->readAllStandardOutput(), ToolActivity::Stream::Out); });
  connect(process, &QProcess::readyReadStandardError, this,
          [this, id, process] { activity_.addOutput(id, process->readAllStandardError(), ToolActivity::Stream::Err); });
  const auto done = [this, id, process] {
    processes_.erase(id);
    process->disconnect(this);
    process->deleteLater();
  };
  connect(process, &QProcess::finished, this, [this, id, process, done](int exitCode, QProcess::ExitStatus status) {
    activity_.addOutput(id, process->readAllStandardOutput(), ToolActivity::Stream::Out);
    activity_.addOutput(id, process->readAllStandardError(), ToolActivity::Stream::Err);
    done();
    activity_.finish(id, exitCode, status == QProcess::CrashExit);
  });
  connect(process, &QProcess::errorOccurred, this, [this, id, process, done, command](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    const QString why = process->errorString();
    done();
    activity_.failToStart(id, QStringLiteral("Cannot start %1: %2").arg(command.program, why));
  });
  processes_[id] = process;
  process->start(command.program, command.arguments);
  return id;
}

void ProcessRunner::stop(int id) {
  const auto it = processes_.find(id);
  if (it == processes_.end()) return;
  QProcess* process = it->second;
  const pid_t pid = pid_t(process->processId());
  // Asked first, so a tool can tidy up; killed when it does not end in time.
  if (pid <= 0 || ::kill(-pid, SIGTERM) != 0) process->terminate();
  QTimer::singleShot(stopGraceMs, process, [process, pid] {
    if (process->state() == QProcess::NotRunning) return;
    if (pid <= 0 || ::kill(-pid, SIGKILL) != 0) process->kill();
  });
}

uint32_t ProcessRunner::runAndWait(const QString& commandLine, int, const ToolJob& job) {
  lastCancelled_ = false;
  const int id = launch(resolveCommand(commandLine), commandLine, job, true);
  lastRun_ = id;
  const JobEntry* entry = activity_.entry(id);
  if (entry && !entry->finished()) {
    // The handler waits here, as it would for a blocking call, while the window goes on painting.
    QEventLoop loop;
    const QMetaObject::Connection ended = connect(&activity_, &ToolActivity::finished, &loop, [&loop, id](int which) {
      if (which == id) loop.quit();
    });
    if (presenter_) presenter_->show(activity_, id);
    loop.exec();
    disconnect(ended);
    if (presenter_) presenter_->hide();
  }
  entry = activity_.entry(id);
  if (!entry) return 0;
  lastCancelled_ = entry->state == JobState::Cancelled;
  if (lastCancelled_ || entry->crashed) return 0;
  return uint32_t(entry->exitCode);
}

void ProcessRunner::startAndForget(const QString& commandLine, int, const ToolJob& job) {
  const ResolvedCommand command = resolveCommand(commandLine);
  if (command.ownWindow) {
    // The text editor shows itself; it has no console to stand in for.
    if (command.found) QProcess::startDetached(command.program, command.arguments, QDir::currentPath());
    return;
  }
  launch(command, commandLine, job, false);
}

void ProcessRunner::settleLastRun(const QString& resultPath, const QString& failure) {
  activity_.settle(lastRun_, resultPath, failure);
}

void ProcessRunner::openWithShell(const QString& target, int) {
  if (target.contains(QStringLiteral("://"))) {
    QDesktopServices::openUrl(QUrl(target));
    return;
  }
  QString path = QDir::current().absoluteFilePath(target);
  if (!QFileInfo::exists(path))
    path = QDir::current().absoluteFilePath(QString(target).replace(QLatin1Char('\\'), QLatin1Char('/')));
  // The integration's registry files are shell scripts here, watched like any tool.
  if (path.endsWith(QStringLiteral(".reg"), Qt::CaseInsensitive)) {
    ResolvedCommand command;
    command.program = QStringLiteral("/bin/sh");
    command.arguments = QStringList{path};
    command.found = QFileInfo(path).isFile();
    if (!command.found) command.program = path;
    launch(command, target, {QFileInfo(target).fileName(), {}, {}}, false);
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace kivo

#include "processrunner.h"

#include "commandline.h"
#include "platform.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

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
    return result;
  }

  const QString program = findProgram(name);
  if (program.isEmpty()) return result;
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

uint32_t ProcessRunner::runAndWait(const QString& commandLine, int) {
  const ResolvedCommand command = resolveCommand(commandLine);
  if (!command.found) return 0;
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.setInputChannelMode(QProcess::ForwardedInputChannel);
  process.setWorkingDirectory(QDir::currentPath());
  process.start(command.program, command.arguments);
  if (!process.waitForStarted(-1)) return 0;
  process.waitForFinished(-1);
  return process.exitStatus() == QProcess::NormalExit ? static_cast<uint32_t>(process.exitCode()) : 0u;
}

void ProcessRunner::startAndForget(const QString& commandLine, int) {
  const ResolvedCommand command = resolveCommand(commandLine);
  if (!command.found) return;
  QProcess::startDetached(command.program, command.arguments, QDir::currentPath());
}

void ProcessRunner::openWithShell(const QString& target, int) {
  if (target.contains(QStringLiteral("://"))) {
    QDesktopServices::openUrl(QUrl(target));
    return;
  }
  QString path = QDir::current().absoluteFilePath(target);
  if (!QFileInfo::exists(path))
    path = QDir::current().absoluteFilePath(QString(target).replace(QLatin1Char('\\'), QLatin1Char('/')));
  // The integration's registry files are shell scripts here.
  if (path.endsWith(QStringLiteral(".reg"), Qt::CaseInsensitive)) {
    if (QFileInfo(path).isFile())
      QProcess::startDetached(QStringLiteral("/bin/sh"), {path}, QDir::currentPath());
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace kivo

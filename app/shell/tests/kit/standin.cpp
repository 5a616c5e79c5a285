#include "standin.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace kivo::testing {

namespace {
QString unescaped(const QString& text) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
      ++i;
      out += text[i] == QLatin1Char('n') ? QLatin1Char('\n') : text[i];
    } else {
      out += text[i];
    }
  }
  return out;
}
}  // namespace

QString standinPath() { return QStringLiteral(KIVO_STANDIN_PATH); }

QString installStandin(const QString& path) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile::remove(path);
  QFile::copy(standinPath(), path);
  QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
  return path;
}

void setStandinLog(const QString& path) { qputenv("KIVO_STANDIN_LOG", QFile::encodeName(path)); }

QList<StandinRun> readStandinLog(const QString& path) {
  QList<StandinRun> runs;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return runs;
  StandinRun run;
  bool open = false;
  for (const QByteArray& raw : file.readAll().split('\n')) {
    const QString line = QString::fromUtf8(raw);
    const QString key = line.section(QLatin1Char(' '), 0, 0);
    const QString value = unescaped(line.section(QLatin1Char(' '), 1));
    if (key == QLatin1String("run")) {
      run = StandinRun{};
      open = true;
    } else if (key == QLatin1String("end") && open) {
      runs << run;
      open = false;
    } else if (key == QLatin1String("self")) {
      run.self = value;
    } else if (key == QLatin1String("program")) {
      run.program = value;
    } else if (key == QLatin1String("cwd")) {
      run.cwd = value;
    } else if (key == QLatin1String("arg")) {
      run.args << value;
    }
  }
  return runs;
}

bool waitForStandinRuns(const QString& path, int count, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (readStandinLog(path).size() < count) {
    if (deadline.hasExpired()) return false;
    QTest::qWait(20);
  }
  return true;
}

}  // namespace kivo::testing

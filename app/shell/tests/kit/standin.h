#pragma once
// The recording stand-in tool (kivo_standin): put copies of it where a page expects a tool,
// start the page's handler with the real runner, then read back what was started and where.

#include <QList>
#include <QString>
#include <QStringList>

namespace kivo::testing {

struct StandinRun {
  QString self;     ///< the file that really ran (symbolic links resolved)
  QString program;  ///< its first argument as the runner passed it
  QString cwd;      ///< its current folder
  QStringList args;
};

/// Where the built stand-in lies.
QString standinPath();

/// Copies the stand-in to path (creating its folders), executable; returns path.
QString installStandin(const QString& path);

/// Points every stand-in started from now on at this log file (KIVO_STANDIN_LOG).
void setStandinLog(const QString& path);

/// Reads the runs recorded in a log file, oldest first.
QList<StandinRun> readStandinLog(const QString& path);

/// Waits (processing events) until the log holds at least count runs; false on time-out.
bool waitForStandinRuns(const QString& path, int count, int timeoutMs = 5000);

}  // namespace kivo::testing

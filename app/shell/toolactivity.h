#pragma once
// What every started tool is doing: one entry per job with what it reads and writes, its
// progress and messages, and how it ended. The runner fills it in; the activity view, the wait
// dialog and the notifications show it. No widgets here.

#include "services.h"

#include <QObject>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace kivo {

/// A file as it was at one moment, to tell whether a tool has written it since.
struct FileStamp {
  bool exists = false;
  quint64 device = 0, inode = 0;
  qint64 size = -1, modifiedNs = 0, changedNs = 0;
  static FileStamp of(const QString& path);
  bool operator==(const FileStamp& o) const;
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

enum class JobState { Running, Succeeded, Failed, Cancelled };

struct JobEntry {
  int id = 0;
  QString title;
  QString commandLine;
  QString folder;      ///< the current folder at the start
  QStringList reads;   ///< absolute paths
  QString writes;      ///< absolute path; empty when the job leaves no file to check
  bool waited = false; ///< run-and-wait: the handler waits for it
  JobState state = JobState::Running;
  qint64 startedMs = 0;
  qint64 endedMs = -1;
  bool reportsProgress = false;
  quint64 done = 0, total = 0;
  double rate = 0;     ///< bytes a second, 0 while unknown
  QStringList lines;   ///< what the tool printed, oldest first (the last ones only)
  QString lastError;   ///< the last line on standard error
  QString status;      ///< what a long-running tool (a host) says it is doing now
  QString failure;     ///< why it failed, or what a cancel did
  QString warning;     ///< a success that deserves a look: the tool's warning, or an empty result
  QString result;      ///< the file a successful job left
  qint64 resultSize = -1;
  bool cancelRequested = false;
  qint64 pid = 0;      ///< the tool's process, once started
  int exitCode = 0;
  bool crashed = false;

  /// 0 to 100, or -1 while the tool has said nothing of its progress.
  int percent() const;
  /// Seconds left at the current rate, or -1 while unknown.
  double secondsLeft() const;
  bool finished() const { return state != JobState::Running; }

private:
  friend class ToolActivity;
  FileStamp before_;
  QByteArray pending_[2];
  bool skipping_[2] = {false, false};  ///< the rest of a line too long to keep
  std::deque<std::pair<qint64, quint64>> samples_;
};

class ToolActivity : public QObject {
  Q_OBJECT
public:
  enum class Stream { Out = 0, Err = 1 };

  explicit ToolActivity(QObject* parent = nullptr);

  /// A new running job. Relative paths of the job are taken against the current folder; the
  /// file it writes is stamped now, so that a tool that ends without writing it is told.
  int begin(const ToolJob& job, const QString& commandLine, bool waited);
  /// The job's tool runs as process pid.
  void started(int id, qint64 pid);
  /// Bytes the tool wrote on one of its streams; progress lines are taken out of the messages,
  /// and a line longer than kMaxLineBytes is cut (with a mark) rather than kept whole.
  void addOutput(int id, const QByteArray& bytes, Stream stream);
  /// The tool could not be started at all.
  void failToStart(int id, const QString& why);
  /// The tool ended: decides success, failure or cancel. A cancelled job's tool leaves its
  /// unfinished temporary files, which go; a finished file is never removed, whoever wrote it.
  void finish(int id, int exitCode, bool crashed);
  /// Asks the runner to end a running job (the runner listens to cancelRequested).
  void requestCancel(int id);
  /// The page's own steps after the tool decide the last word: the result now lies at
  /// resultPath, or the job failed with the given text.
  void settle(int id, const QString& resultPath, const QString& failure);
  /// Forgets a finished job.
  void dismiss(int id);
  void dismissFinished();

  const JobEntry* entry(int id) const;
  const std::vector<JobEntry>& entries() const { return entries_; }
  int runningCount() const;

  /// Milliseconds on the activity's clock; tests may set their own.
  qint64 now() const { return clock_(); }
  void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }

  static constexpr int kMaxLines = 400;
  static constexpr int kMaxLineBytes = 1024;
  static constexpr int kMaxEntries = 60;

signals:
  void added(int id);
  void changed(int id);
  /// The job ended, or its page settled it otherwise.
  void finished(int id);
  void cancelRequested(int id);
  void removed(int id);

private:
  JobEntry* find(int id);
  void takeLine(JobEntry& e, QString line, Stream stream);
  void flush(JobEntry& e);
  void end(JobEntry& e, JobState state, const QString& failure);
  void trim();

  std::vector<JobEntry> entries_;
  int nextId_ = 1;
  std::function<qint64()> clock_;
};

/// "12.3 MiB", "4.0 KiB", "512 bytes".
QString describeSize(qint64 bytes);
/// "0:05", "12:34", "1:02:03".
QString describeDuration(double seconds);

}  // namespace kivo

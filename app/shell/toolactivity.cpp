// Ahead of every Qt header: its ProgressReport::emit() would meet Qt's emit macro.
#include "progress.h"

#include "toolactivity.h"

#include "commandline.h"

#include "filesafe/output.h"
#include "filesafe/temporary.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <sys/stat.h>

namespace kivo {

namespace {

QString absolute(const QString& path) {
  return path.isEmpty() ? path : QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

// The rate is measured over the last few seconds, so a tool that slows down shows it.
constexpr qint64 kRateWindowMs = 5000;

}  // namespace

FileStamp FileStamp::of(const QString& path) {
  FileStamp s;
  struct stat st;
  if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return s;
  s.exists = true;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return s;
}

bool FileStamp::operator==(const FileStamp& o) const {
  return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
         modifiedNs == o.modifiedNs && changedNs == o.changedNs;
}

int JobEntry::percent() const {
  if (!reportsProgress || total == 0) return -1;
  // Wide enough that counts near 2^64 do not wrap.
  return int(std::min<unsigned __int128>(100, static_cast<unsigned __int128>(done) * 100 / total));
}

double JobEntry::secondsLeft() const {
  if (!reportsProgress || total == 0 || rate <= 0 || done >= total) return -1;
  return double(total - done) / rate;
}

ToolActivity::ToolActivity(QObject* parent) : QObject(parent) {
  auto timer = std::make_shared<QElapsedTimer>();
  timer->start();
  clock_ = [timer] { return timer->elapsed(); };
}

int ToolActivity::begin(const ToolJob& job, const QString& commandLine, bool waited) {
  JobEntry e;
  e.id = nextId_++;
  e.title = job.title;
  if (e.title.isEmpty()) {
    const std::vector<std::string> words = splitCommandLine(commandLine.toStdString());
    // The program's own name, also when the command line writes its folder the Windows way.
    QString program = words.empty() ? QString() : QString::fromStdString(words[0]);
    program.replace(QLatin1Char('\\'), QLatin1Char('/'));
    e.title = words.empty() ? commandLine : QFileInfo(program).fileName();
  }
  e.commandLine = commandLine;
  e.folder = QDir::currentPath();
  for (const QString& r : job.reads) e.reads << absolute(r);
  e.writes = absolute(job.writes);
  e.waited = waited;
  e.startedMs = now();
  e.before_ = FileStamp::of(e.writes);
  entries_.push_back(std::move(e));
  const int id = entries_.back().id;
  trim();
  emit added(id);
  return id;
}

void ToolActivity::started(int id, qint64 pid) {
  if (JobEntry* e = find(id)) e->pid = pid;
}

void ToolActivity::addOutput(int id, const QByteArray& bytes, Stream stream) {
  JobEntry* e = find(id);
  if (!e || bytes.isEmpty()) return;
  QByteArray& pending = e->pending_[int(stream)];
  bool& skipping = e->skipping_[int(stream)];
  // However much a tool writes without a line break, only the start of the line is kept: a line
  // longer than that is cut, with a mark, and the rest of it is passed over.
  for (qsizetype at = 0; at < bytes.size();) {
    const qsizetype nl = bytes.indexOf('\n', at), end = nl < 0 ? bytes.size() : nl;
    if (!skipping) {
      const qsizetype take = std::min(end - at, qsizetype(kMaxLineBytes) - pending.size());
      pending.append(bytes.constData() + at, take);
      at += take;
      // A bar redrawn with carriage returns needs only what it says last.
      const qsizetype cr = pending.size() >= 2 ? pending.lastIndexOf('\r', pending.size() - 2) : -1;
      if (cr >= 0) pending.remove(0, cr + 1);
      if (at < end && pending.size() >= kMaxLineBytes) {
        // Never inside a character: one that goes on past the cut goes as a whole.
        qsizetype cut = pending.size();
        if ((uchar(bytes[at]) & 0xC0) == 0x80) {
          while (cut > 0 && (uchar(pending[cut - 1]) & 0xC0) == 0x80) --cut;
          if (cut > 0) --cut;
        }
        takeLine(*e, QString::fromUtf8(pending.constData(), cut) + QChar(0x2026), stream);
        pending.clear();
        skipping = true;
      }
    }
    if (nl < 0) break;
    if (!skipping) takeLine(*e, QString::fromUtf8(pending), stream);
    pending.clear();
    skipping = false;
    at = nl + 1;
  }
  emit changed(id);
}

void ToolActivity::takeLine(JobEntry& e, QString line, Stream stream) {
  // A bar redrawn with carriage returns shows as what it says last.
  if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
  const qsizetype cr = line.lastIndexOf(QLatin1Char('\r'));
  if (cr >= 0) line = line.mid(cr + 1);

  uint64_t done = 0, total = 0;
  if (stream == Stream::Err && parseProgressLine(line.toStdString(), done, total)) {
    const qint64 t = now();
    if (!e.reportsProgress || done < e.done) e.samples_.clear();
    e.reportsProgress = true;
    e.done = done;
    e.total = total;
    e.samples_.emplace_back(t, done);
    while (e.samples_.size() > 2 && t - e.samples_.front().first > kRateWindowMs) e.samples_.pop_front();
    const auto& [t0, d0] = e.samples_.front();
    if (t - t0 >= 300 && done > d0) e.rate = double(done - d0) * 1000.0 / double(t - t0);
    return;
  }
  // A host's state replaces the one before instead of piling up as messages.
  static const QString statusTag = QStringLiteral("KIVO-STATUS ");
  if (stream == Stream::Err && line.startsWith(statusTag)) {
    e.status = line.mid(statusTag.size()).left(300);
    return;
  }
  if (line.trimmed().isEmpty()) return;
  if (stream == Stream::Err) e.lastError = line;
  e.lines << line;
  if (e.lines.size() > kMaxLines) e.lines.remove(0, e.lines.size() - kMaxLines);
}

void ToolActivity::flush(JobEntry& e) {
  for (int s = 0; s < 2; ++s) {
    if (!e.pending_[s].isEmpty()) takeLine(e, QString::fromUtf8(e.pending_[s]), Stream(s));
    e.pending_[s].clear();
  }
}

void ToolActivity::failToStart(int id, const QString& why) {
  JobEntry* e = find(id);
  if (!e || e->finished()) return;
  end(*e, JobState::Failed, why);
}

void ToolActivity::finish(int id, int exitCode, bool crashed) {
  JobEntry* e = find(id);
  if (!e || e->finished()) return;
  flush(*e);
  e->exitCode = exitCode;
  e->crashed = crashed;
  if (e->cancelRequested) {
    // Only what this run left unfinished goes: the temporary files its tool wrote beside the
    // output. A finished file stays, even one that changed meanwhile (another job may have
    // written it).
    QStringList folders;
    if (e->writes.isEmpty()) {
      folders << e->folder;
    } else {
      const std::string writes = QFile::encodeName(e->writes).toStdString();
      for (const std::string& f : {filesafe::folderOf(writes), filesafe::folderOf(filesafe::resolveTarget(writes, true))})
        if (!folders.contains(QFile::decodeName(f.c_str()))) folders << QFile::decodeName(f.c_str());
    }
    int removed = 0;
    for (const QString& f : folders) removed += filesafe::removeTemporariesOf(QFile::encodeName(f).toStdString(), e->pid);
    end(*e, JobState::Cancelled,
        removed ? QStringLiteral("Cancelled; the unfinished %1 was removed.").arg(e->writes.isEmpty() ? e->title : e->writes)
                : QStringLiteral("Cancelled."));
    return;
  }
  if (crashed) {
    end(*e, JobState::Failed,
        e->lastError.isEmpty() ? QStringLiteral("The tool stopped unexpectedly.") : e->lastError);
    return;
  }
  if (exitCode != 0) {
    QString why = e->lastError;
    if (why.isEmpty() && !e->lines.isEmpty()) why = e->lines.last();
    if (why.isEmpty()) why = QStringLiteral("The tool ended with status %1.").arg(exitCode);
    end(*e, JobState::Failed, why);
    return;
  }
  if (!e->writes.isEmpty()) {
    const FileStamp after = FileStamp::of(e->writes);
    if (!after.exists || after == e->before_) {
      end(*e, JobState::Failed, QStringLiteral("The tool ended without writing %1.").arg(e->writes));
      return;
    }
    e->result = e->writes;
    e->resultSize = after.size;
    if (after.size == 0) e->warning = QStringLiteral("The tool wrote an empty file.");
  }
  // A tool that went on past a problem says so in a warning of its own.
  for (const QString& line : std::as_const(e->lines))
    if (line.startsWith(QStringLiteral("WARNING"), Qt::CaseInsensitive)) {
      e->warning = line;
      break;
    }
  if (e->reportsProgress && e->total > 0) e->done = e->total;
  end(*e, JobState::Succeeded, {});
}

void ToolActivity::end(JobEntry& e, JobState state, const QString& failure) {
  e.state = state;
  e.failure = failure;
  e.endedMs = now();
  const int id = e.id;
  emit changed(id);
  emit finished(id);
}

void ToolActivity::requestCancel(int id) {
  JobEntry* e = find(id);
  if (!e || e->finished() || e->cancelRequested) return;
  e->cancelRequested = true;
  emit changed(id);
  emit cancelRequested(id);
}

void ToolActivity::settle(int id, const QString& resultPath, const QString& failure) {
  JobEntry* e = find(id);
  if (!e || !e->finished()) return;
  if (!failure.isEmpty()) {
    if (e->state == JobState::Failed && e->failure == failure) return;
    e->state = JobState::Failed;
    e->failure = failure;
    e->result.clear();
    e->resultSize = -1;
  } else if (e->state == JobState::Succeeded && !resultPath.isEmpty()) {
    e->result = absolute(resultPath);
    e->resultSize = QFileInfo(e->result).size();
  } else {
    return;
  }
  emit changed(id);
  emit finished(id);
}

void ToolActivity::dismiss(int id) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->id != id) continue;
    if (!it->finished()) return;
    entries_.erase(it);
    emit removed(id);
    return;
  }
}

void ToolActivity::dismissFinished() {
  std::vector<int> ids;
  for (const JobEntry& e : entries_)
    if (e.finished()) ids.push_back(e.id);
  for (int id : ids) dismiss(id);
}

void ToolActivity::trim() {
  // The oldest finished entries give way; running ones always stay.
  while (int(entries_.size()) > kMaxEntries) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [](const JobEntry& e) { return e.finished(); });
    if (it == entries_.end()) return;
    const int id = it->id;
    entries_.erase(it);
    emit removed(id);
  }
}

const JobEntry* ToolActivity::entry(int id) const {
  for (const JobEntry& e : entries_)
    if (e.id == id) return &e;
  return nullptr;
}

JobEntry* ToolActivity::find(int id) { return const_cast<JobEntry*>(std::as_const(*this).entry(id)); }

int ToolActivity::runningCount() const {
  return int(std::count_if(entries_.begin(), entries_.end(), [](const JobEntry& e) { return !e.finished(); }));
}

QString describeSize(qint64 bytes) {
  if (bytes < 1024) return QStringLiteral("%1 bytes").arg(bytes);
  return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat);
}

QString describeDuration(double seconds) {
  const qint64 s = qint64(seconds + 0.5);
  if (s >= 3600)
    return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
  return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace kivo

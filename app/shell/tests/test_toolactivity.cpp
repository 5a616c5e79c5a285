// The tool activity on its own: reading what tools print, deciding how a job ended, what a
// cancel removes, and which ends deserve a desktop notification.
#include "shell/activityhost.h"
#include "shell/activityview.h"
#include "shell/tests/kit/fakes.h"
#include "shell/toolactivity.h"

#include "filesafe/temporary.h"

#include <QFile>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace kivo;
using namespace kivo::testing;

namespace {
using Err = ToolActivity::Stream;

struct Clocked {
  TempProgramFolder program;
  ToolActivity activity;
  qint64 ms = 0;
  Clocked() { activity.setClock([this] { return ms; }); }
  int start(const ToolJob& job = {}) { return activity.begin(job, R"("bin/ciso.exe" 9 "a.iso" "a.cso")", false); }
  const JobEntry& e(int id) const { return *activity.entry(id); }
};

void touch(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}
}  // namespace

class ToolActivityTest : public QObject {
  Q_OBJECT
private slots:
  void progressLinesAreTakenOutOfTheMessages() {
    Clocked c;
    const int id = c.start();
    QCOMPARE(c.e(id).title, QString("ciso.exe"));  // no title given: the program's name
    QCOMPARE(c.e(id).percent(), -1);
    // Lines arrive in pieces, on two streams, with a bar's carriage returns.
    c.activity.addOutput(id, "KIVO-PROGRESS 0 1000\nCompress", Err::Err);
    c.activity.addOutput(id, "ing a.iso\r\n", Err::Err);
    c.activity.addOutput(id, "50 %\r75 %\rdone\n", Err::Out);
    QCOMPARE(c.e(id).lines, (QStringList{"Compressing a.iso", "done"}));
    QVERIFY(c.e(id).reportsProgress);
    QCOMPARE(c.e(id).percent(), 0);

    c.ms = 2000;
    c.activity.addOutput(id, "KIVO-PROGRESS 400 1000\n", Err::Err);
    QCOMPARE(c.e(id).percent(), 40);
    QCOMPARE(c.e(id).rate, 200.0);  // bytes a second
    QCOMPARE(c.e(id).secondsLeft(), 3.0);
    QCOMPARE(progressText(c.e(id), c.ms), QString("40 %   200 bytes/s   0:03 left"));
    // The rate follows the last seconds, not the whole run.
    c.ms = 12000;
    c.activity.addOutput(id, "KIVO-PROGRESS 900 1000\n", Err::Err);
    c.ms = 13000;
    c.activity.addOutput(id, "KIVO-PROGRESS 950 1000\n", Err::Err);
    QCOMPARE(c.e(id).rate, 50.0);

    // A progress line on standard output is only text; so is a malformed one.
    c.activity.addOutput(id, "KIVO-PROGRESS 1 2\nKIVO-PROGRESS x\n", Err::Out);
    c.activity.addOutput(id, "KIVO-PROGRESS 5\n", Err::Err);
    QCOMPARE(c.e(id).lines.mid(2), (QStringList{"KIVO-PROGRESS 1 2", "KIVO-PROGRESS x", "KIVO-PROGRESS 5"}));
    QCOMPARE(c.e(id).percent(), 95);

    // A line with no end still counts when the tool ends; lines are kept within bounds.
    for (int i = 0; i < ToolActivity::kMaxLines + 10; ++i) c.activity.addOutput(id, "x\n", Err::Out);
    c.activity.addOutput(id, "last words", Err::Err);
    c.activity.finish(id, 3, false);
    QCOMPARE(c.e(id).lines.size(), ToolActivity::kMaxLines);
    QCOMPARE(c.e(id).failure, QString("last words"));
  }

  void aToolThatSaysNothingShowsItsTime() {
    Clocked c;
    const int id = c.start({QStringLiteral("USB host"), {}, {}});
    c.ms = 75000;
    QCOMPARE(progressText(c.e(id), c.ms), QString("Running for 1:15"));

    // A host tells its state: each line replaces the last, and none is a message.
    c.activity.addOutput(id, "KIVO-STATUS Serving /srv/psp: waiting for the PSP, 0 requests\n", Err::Err);
    c.activity.addOutput(id, "PSP connected\nKIVO-STATUS Serving /srv/psp: PSP connected, 12 requests\n", Err::Err);
    c.activity.addOutput(id, "KIVO-STATUS not a state on standard output\n", Err::Out);
    QCOMPARE(progressText(c.e(id), c.ms), QString("Serving /srv/psp: PSP connected, 12 requests\nRunning for 1:15"));
    QCOMPARE(c.e(id).lines, (QStringList{"PSP connected", "KIVO-STATUS not a state on standard output"}));
    c.activity.finish(id, 0, false);
    QCOMPARE(progressText(c.e(id), c.ms), QString("Running for 1:15"));
    QCOMPARE(describeDuration(3725), QString("1:02:05"));
    QCOMPARE(describeSize(512), QString("512 bytes"));
    QCOMPARE(describeSize(50 * 1024 * 1024), QString("50.0 MiB"));
  }

  void howAJobEnded() {
    Clocked c;
    const QString out = c.program.filePath("a.cso");
    const auto job = [&] { return ToolJob{QStringLiteral("ISO to CSO"), {QStringLiteral("a.iso")}, QStringLiteral("a.cso")}; };

    int id = c.start(job());
    QCOMPARE(c.e(id).writes, out);  // relative paths against the start's folder
    QCOMPARE(c.e(id).reads, QStringList{c.program.filePath("a.iso")});
    touch(out, "12345");
    c.activity.addOutput(id, "KIVO-PROGRESS 10 20\n", Err::Err);
    c.activity.finish(id, 0, false);
    QCOMPARE(c.e(id).state, JobState::Succeeded);
    QCOMPARE(c.e(id).result, out);
    QCOMPARE(c.e(id).resultSize, 5);
    QCOMPARE(c.e(id).percent(), 100);

    // Status 0 but the file is not there, or is the one that was there before: a failure.
    QFile::remove(out);
    id = c.start(job());
    c.activity.finish(id, 0, false);
    QCOMPARE(c.e(id).state, JobState::Failed);
    QCOMPARE(c.e(id).failure, QString("The tool ended without writing %1.").arg(out));
    touch(out, "old");
    id = c.start(job());
    c.activity.finish(id, 0, false);
    QCOMPARE(c.e(id).state, JobState::Failed);

    // A non-zero status: the last message on standard error, else the last line, else the status.
    id = c.start(job());
    c.activity.addOutput(id, "ciso: cannot read a.iso\nwhat went before\n", Err::Err);
    c.activity.addOutput(id, "stdout chatter\n", Err::Out);
    c.activity.finish(id, 2, false);
    QCOMPARE(c.e(id).failure, QString("what went before"));
    id = c.start();
    c.activity.addOutput(id, "USAGE: rastle [-o output.iso] EBOOT.PBP\n", Err::Out);
    c.activity.finish(id, 1, false);
    QCOMPARE(c.e(id).failure, QString("USAGE: rastle [-o output.iso] EBOOT.PBP"));
    id = c.start();
    c.activity.finish(id, 7, false);
    QCOMPARE(c.e(id).failure, QString("The tool ended with status 7."));
    id = c.start();
    c.activity.finish(id, 0, true);
    QCOMPARE(c.e(id).failure, QString("The tool stopped unexpectedly."));
    id = c.start();
    c.activity.failToStart(id, QStringLiteral("Cannot start bin/ciso.exe: it was not found."));
    QCOMPARE(c.e(id).state, JobState::Failed);
    c.activity.finish(id, 0, false);  // a late end changes nothing
    QCOMPARE(c.e(id).state, JobState::Failed);
  }

  void aCancelRemovesOnlyWhatTheToolLeftUnfinished() {
    Clocked c;
    const QString out = c.program.filePath("a.cso");
    const ToolJob job{QStringLiteral("ISO to CSO"), {}, QStringLiteral("a.cso")};
    QSignalSpy asked(&c.activity, &ToolActivity::cancelRequested);

    // Another job finished a.cso while this one ran: its file is no unfinished work of this one.
    int id = c.start(job);
    touch(out, "written by another job");
    c.activity.requestCancel(id);
    c.activity.requestCancel(id);
    QCOMPARE(asked.size(), 1);
    c.activity.finish(id, 0, true);
    QCOMPARE(c.e(id).state, JobState::Cancelled);
    QCOMPARE(c.program.read("a.cso"), QByteArray("written by another job"));
    QCOMPARE(c.e(id).failure, QString("Cancelled."));

    // The tool's own temporary files go, beside the output and wherever a link leads it; those
    // of other programs, and the output itself, stay.
    const pid_t tool = fork();
    if (tool == 0) _exit(0);
    waitpid(tool, nullptr, 0);
    auto temporary = [](const QString& target, long pid) {
      return QFile::decodeName(filesafe::temporaryName(QFile::encodeName(target).toStdString(), pid, 0).c_str());
    };
    QDir().mkpath(c.program.filePath("images"));
    QVERIFY(QFile::link(c.program.filePath("images/b.cso"), c.program.filePath("b.cso")));
    for (const QString& t : {temporary(out, tool), temporary(c.program.filePath("images/b.cso"), tool),
                             temporary(out, 1)})
      touch(t, "half");
    for (const char* writes : {"a.cso", "b.cso"}) {
      id = c.start({QStringLiteral("ISO to CSO"), {}, QString::fromLatin1(writes)});
      c.activity.started(id, tool);
      c.activity.requestCancel(id);
      c.activity.finish(id, 143, false);
      QCOMPARE(c.e(id).failure, QString("Cancelled; the unfinished %1 was removed.").arg(c.program.filePath(writes)));
    }
    QVERIFY(!QFile::exists(temporary(out, tool)));
    QVERIFY(!QFile::exists(temporary(c.program.filePath("images/b.cso"), tool)));
    QVERIFY(QFile::exists(temporary(out, 1)));
    QCOMPARE(c.program.read("a.cso"), QByteArray("written by another job"));

    // A job that ended already cannot be cancelled.
    id = c.start(job);
    c.activity.finish(id, 1, false);
    c.activity.requestCancel(id);
    QCOMPARE(asked.size(), 3);
    QVERIFY(!c.e(id).cancelRequested);
  }

  void longOutputIsKeptShort() {
    Clocked c;
    const int id = c.start();
    // 100 MB without a line break, in the pieces a pipe delivers: the start of the line, cut.
    const QByteArray piece(64 * 1024, 'x');
    for (int i = 0; i < 1600; ++i) c.activity.addOutput(id, piece, Err::Out);
    c.activity.addOutput(id, "\nnext line\n", Err::Out);
    QCOMPARE(c.e(id).lines.size(), 2);
    QCOMPARE(c.e(id).lines[0], QString(ToolActivity::kMaxLineBytes, 'x') + QChar(0x2026));
    QCOMPARE(c.e(id).lines[1], QString("next line"));
    // A line that fits is whole; a character is never split at the cut.
    const QByteArray exact(ToolActivity::kMaxLineBytes, 'y');
    c.activity.addOutput(id, exact + "\n" + QByteArray(ToolActivity::kMaxLineBytes - 1, 'z') + "\xC3\xA9tail\n", Err::Out);
    QCOMPARE(c.e(id).lines[2], QString(exact));
    QCOMPARE(c.e(id).lines[3], QString(ToolActivity::kMaxLineBytes - 1, 'z') + QChar(0x2026));
    // A bar redrawn over and over without a line break shows what it says last.
    for (int i = 0; i <= 100000; ++i) c.activity.addOutput(id, QByteArray::number(i % 100) + " %\r", Err::Out);
    c.activity.addOutput(id, "done\n", Err::Out);
    QCOMPARE(c.e(id).lines.last(), QString("done"));
  }

  void aSuccessThatWarnsAndHugeCounts() {
    Clocked c;
    // rastle given a file that is no EBOOT: status 0, its warning, and an empty image.
    const ToolJob job{QStringLiteral("EBOOT.PBP to ISO"), {QStringLiteral("notes.txt")}, QStringLiteral("out.iso")};
    int id = c.start(job);
    c.activity.addOutput(id, "WARNING: 'notes.txt' ends before the block index\n", Err::Out);
    touch(c.program.filePath("out.iso"), "");
    c.activity.finish(id, 0, false);
    QCOMPARE(c.e(id).state, JobState::Succeeded);
    QCOMPARE(c.e(id).warning, QString("WARNING: 'notes.txt' ends before the block index"));
    id = c.start(job);
    QFile::remove(c.program.filePath("out.iso"));
    touch(c.program.filePath("out.iso"), "");
    c.activity.finish(id, 0, false);  // an empty result alone is worth a look as well
    QCOMPARE(c.e(id).state, JobState::Succeeded);
    QCOMPARE(c.e(id).warning, QString("The tool wrote an empty file."));
    id = c.start(job);
    touch(c.program.filePath("out.iso"), "image");
    c.activity.finish(id, 0, false);
    QCOMPARE(c.e(id).state, JobState::Succeeded);
    QVERIFY(c.e(id).warning.isEmpty());

    // Counts near 2^64 do not wrap around.
    id = c.start();
    c.activity.addOutput(id, "KIVO-PROGRESS 18446744073709551615 18446744073709551615\n", Err::Err);
    QCOMPARE(c.e(id).percent(), 100);
    c.activity.addOutput(id, "KIVO-PROGRESS 9223372036854775807 18446744073709551615\n", Err::Err);
    QCOMPARE(c.e(id).percent(), 49);
  }

  void thePageHasTheLastWord() {
    Clocked c;
    const ToolJob job{QStringLiteral("PS1 EBOOT.PBP"), {}, QStringLiteral("EBOOT.PBP")};
    QSignalSpy ends(&c.activity, &ToolActivity::finished);
    int id = c.start(job);
    touch(c.program.filePath("EBOOT.PBP"), "pbp");
    c.activity.finish(id, 0, false);
    QDir().mkpath(c.program.filePath("out"));
    QVERIFY(QFile::rename(c.program.filePath("EBOOT.PBP"), c.program.filePath("out/EBOOT.PBP")));
    c.activity.settle(id, QStringLiteral("out/EBOOT.PBP"), {});
    QCOMPARE(c.e(id).result, c.program.filePath("out/EBOOT.PBP"));
    QCOMPARE(c.e(id).resultSize, 3);
    c.activity.settle(id, {}, QStringLiteral("out/EBOOT.PBP already exists"));
    QCOMPARE(c.e(id).state, JobState::Failed);
    QVERIFY(c.e(id).result.isEmpty());
    QCOMPARE(ends.size(), 3);
    // A result cannot make a failed job a success.
    c.activity.settle(id, QStringLiteral("out/EBOOT.PBP"), {});
    QCOMPARE(c.e(id).state, JobState::Failed);
  }

  void oldEntriesGiveWayButRunningOnesStay() {
    Clocked c;
    const int running = c.start();
    for (int i = 0; i < ToolActivity::kMaxEntries + 5; ++i) c.activity.finish(c.start(), 0, false);
    QCOMPARE(int(c.activity.entries().size()), ToolActivity::kMaxEntries);
    QVERIFY(c.activity.entry(running));
    QCOMPARE(c.activity.runningCount(), 1);
    c.activity.dismiss(running);  // still running: stays
    c.activity.dismissFinished();
    QCOMPARE(int(c.activity.entries().size()), 1);
  }

  void whichEndsAreNotified_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("presence");
    QTest::addColumn<QString>("summary");
    const int ok = int(JobState::Succeeded), failed = int(JobState::Failed), cancelled = int(JobState::Cancelled);
    const int active = int(WindowPresence::Active), behind = int(WindowPresence::Behind),
              minimised = int(WindowPresence::Minimised), tray = int(WindowPresence::InTray);
    QTest::newRow("failed, user looking") << failed << 1 << active << "";
    QTest::newRow("failed, behind others") << failed << 1 << behind << "";  // the view beside it tells
    QTest::newRow("failed, minimised") << failed << 1 << minimised << "ISO to CSO failed";
    QTest::newRow("failed in the tray") << failed << 1 << tray << "ISO to CSO failed";
    QTest::newRow("long, minimised") << ok << 30 << minimised << "ISO to CSO is done";
    QTest::newRow("long, in the tray") << ok << 30 << tray << "ISO to CSO is done";
    QTest::newRow("short, minimised") << ok << 3 << minimised << "";
    QTest::newRow("long, in sight") << ok << 30 << behind << "";
    QTest::newRow("cancelled") << cancelled << 30 << tray << "";
  }
  void whichEndsAreNotified() {
    QFETCH(int, state);
    QFETCH(int, seconds);
    QFETCH(int, presence);
    QFETCH(QString, summary);
    JobEntry e;
    e.title = QStringLiteral("ISO to CSO");
    e.state = JobState(state);
    e.startedMs = 1000;
    e.endedMs = 1000 + seconds * 1000;
    e.failure = QStringLiteral("ciso: disk full");
    e.result = QStringLiteral("/g/a.cso");
    e.resultSize = 2048;
    const std::optional<Notice> n = noticeFor(e, WindowPresence(presence));
    QCOMPARE(n ? n->summary : QString(), summary);
    if (n) QCOMPARE(n->body, e.state == JobState::Failed ? QString("ciso: disk full") : QString("/g/a.cso, 2.0 KiB"));
  }
};

QTEST_GUILESS_MAIN(ToolActivityTest)
#include "test_toolactivity.moc"

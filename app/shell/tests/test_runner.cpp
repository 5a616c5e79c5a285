// The real runner with real processes: what is started, where, with which arguments, and what
// comes back. The stand-in tool records every start in a log file.
#include "filesafe/temporary.h"
#include "shell/failure.h"
#include "shell/folderguard.h"
#include "shell/processrunner.h"
#include "shell/tests/kit/fakes.h"
#include "shell/tests/kit/standin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QtTest>
#include <csignal>

using namespace kivo::testing;

class RunnerTest : public QObject {
  Q_OBJECT
  QTemporaryDir logDir;
  QString log;
  QByteArray savedPath;

  QList<StandinRun> runs() const { return readStandinLog(log); }

private slots:
  void initTestCase() { savedPath = qgetenv("PATH"); }
  void init() {
    log = logDir.filePath(QStringLiteral("%1.log").arg(QTest::currentTestFunction()));
    setStandinLog(log);
    for (const char* v : {"KIVO_STANDIN_EXIT", "KIVO_STANDIN_SLEEP_MS", "KIVO_STANDIN_OUTPUT", "KIVO_STANDIN_OUTPUT_ARG",
                          "KIVO_STANDIN_SAY", "KIVO_STANDIN_FINISHED"})
      qunsetenv(v);
  }
  void cleanup() { qputenv("PATH", savedPath); }

  void runAndWaitStartsInTheCurrentFolderWithSplitArguments() {
    TempProgramFolder folder;
    installStandin(folder.filePath("bin/ciso"));
    qputenv("KIVO_STANDIN_EXIT", "7");
    kivo::ProcessRunner runner;
    const uint32_t code = runner.runAndWait(R"("bin/ciso.exe" 9 "My Games/a b.iso" "" x\"y)", kivo::SW_SHOWNORMAL);
    QCOMPARE(code, 7u);
    QCOMPARE(runs().size(), 1);
    const StandinRun run = runs().first();
    QCOMPARE(run.self, QFileInfo(folder.filePath("bin/ciso")).canonicalFilePath());  // ".exe" dropped
    QCOMPARE(run.cwd, QDir(folder.path()).canonicalPath());
    QCOMPARE(run.args, (QStringList{"9", "My Games/a b.iso", "", "x\"y"}));
    QCOMPARE(QDir::currentPath(), folder.path());
    // Windows separators in the program's name still find it.
    runner.runAndWait(R"(bin\ciso.exe z)", 1);
    QCOMPARE(runs().size(), 2);
    QCOMPARE(runs().at(1).args, QStringList{"z"});
  }

  void theStandinLeavesTheFilesATestAsksFor() {
    TempProgramFolder folder;
    installStandin(folder.filePath("bin/ciso"));
    kivo::ProcessRunner runner;
    qputenv("KIVO_STANDIN_OUTPUT_ARG", "last");
    runner.runAndWait(R"("bin/ciso.exe" 9 "in.iso" "out.cso")", 1);
    qunsetenv("KIVO_STANDIN_OUTPUT_ARG");
    QVERIFY(QFile::exists(folder.filePath("out.cso")));
    QVERIFY(!QFile::exists(folder.filePath("in.iso")));
    QVERIFY(QDir::setCurrent(folder.filePath("bin")));
    qputenv("KIVO_STANDIN_OUTPUT", "topmenu_plugin.rco");
    runner.runAndWait("ciso", 1);
    qunsetenv("KIVO_STANDIN_OUTPUT");
    QVERIFY(QFile::exists(folder.filePath("bin/topmenu_plugin.rco")));  // beside its current folder
  }

  void aStartThatFailsGivesZero() {
    TempProgramFolder folder;
    kivo::ProcessRunner runner;
    QCOMPARE(runner.runAndWait(R"("bin/missing.exe" a)", 1), 0u);
    QCOMPARE(runner.runAndWait("", 1), 0u);
    folder.write("bin/notrunnable", "plain text, no execute permission");
    QCOMPARE(runner.runAndWait(R"("bin/notrunnable")", 1), 0u);
    runner.startAndForget(R"("bin/missing.exe" a)", 1);  // unnoticed, no crash
    QCOMPARE(QDir::currentPath(), folder.path());
  }

  void nothingGoesThroughAShell() {
    TempProgramFolder folder;
    installStandin(folder.filePath("bin/tool"));
    kivo::ProcessRunner runner;
    runner.runAndWait(R"("bin/tool" "a; touch pwned" $(touch pwned2) `touch pwned3` > out)", 1);
    QCOMPARE(runs().first().args, (QStringList{"a; touch pwned", "$(touch", "pwned2)", "`touch", "pwned3`", ">", "out"}));
    for (const char* name : {"pwned", "pwned2", "pwned3", "out"}) QVERIFY(!QFile::exists(folder.filePath(name)));
  }

  void aBareNameBesideTheMainProgramWinsOverTheToolFolder() {
    TempProgramFolder folder;
    const QString beside = QCoreApplication::applicationDirPath() + "/zz_lookup_tool";
    installStandin(beside);
    installStandin(folder.filePath("bin/zz_lookup_tool"));
    QVERIFY(QDir::setCurrent(folder.filePath("bin")));
    kivo::ProcessRunner runner;
    runner.runAndWait("zz_lookup_tool.exe first", 1);
    QFile::remove(beside);
    runner.runAndWait("zz_lookup_tool.exe second", 1);
    // Found on the search path last of all.
    QVERIFY(QDir::setCurrent(folder.path()));
    QTemporaryDir onPath;
    installStandin(onPath.filePath("zz_lookup_tool"));
    qputenv("PATH", QFile::encodeName(onPath.path()) + ":" + savedPath);
    runner.runAndWait("zz_lookup_tool third", 1);

    const QList<StandinRun> r = runs();
    QCOMPARE(r.size(), 3);
    QCOMPARE(r[0].self, QFileInfo(beside).absoluteFilePath());
    QCOMPARE(r[0].cwd, QDir(folder.filePath("bin")).canonicalPath());
    QCOMPARE(r[1].self, QFileInfo(folder.filePath("bin/zz_lookup_tool")).canonicalFilePath());
    QCOMPARE(r[2].self, QFileInfo(onPath.filePath("zz_lookup_tool")).canonicalFilePath());
    QCOMPARE(r[2].args, QStringList{"third"});
  }

  void scriptsRunUnderTheShellInterpreter() {
    TempProgramFolder folder;
    // Not executable on purpose: the runner hands it to /bin/sh, as the platform would.
    folder.write("bin/doit.cmd", "echo \"$# $1\" > doit.out\nexit 3\n");
    folder.write("bin/uniso.BAT", "echo bat > bat.out\n");
    QVERIFY(QDir::setCurrent(folder.filePath("bin")));
    kivo::ProcessRunner runner;
    QCOMPARE(runner.runAndWait("doit.cmd \"a b\"", kivo::SW_SHOWMINIMIZED), 3u);
    QCOMPARE(folder.read("bin/doit.out"), QByteArray("1 a b\n"));
    QCOMPARE(runner.runAndWait("uniso.BAT", 1), 0u);
    QCOMPARE(folder.read("bin/bat.out"), QByteArray("bat\n"));
  }

  void waitingBlocksAndForgettingDoesNot() {
    TempProgramFolder folder;
    installStandin(folder.filePath("bin/usb"));
    qputenv("KIVO_STANDIN_SLEEP_MS", "600");
    kivo::ProcessRunner runner;
    QElapsedTimer clock;
    clock.start();
    runner.runAndWait(R"(bin/usb.exe "one")", 1);
    QVERIFY(clock.elapsed() >= 600);
    clock.restart();
    runner.startAndForget(R"(bin/usb.exe "two")", 1);
    QVERIFY2(clock.elapsed() < 400, "start-and-forget waited for the tool");
    QVERIFY(waitForStandinRuns(log, 2));
    QCOMPARE(runs().at(1).args, QStringList{"two"});
    QCOMPARE(runs().at(1).cwd, QDir(folder.path()).canonicalPath());
  }

  void registryFilesAreMergedByTheShellInterpreter() {
    TempProgramFolder folder;
    folder.write("win/contconv/un.reg", "touch merged\n");
    QVERIFY(QDir::setCurrent(folder.filePath("win/contconv")));
    kivo::ProcessRunner runner;
    runner.openWithShell("un.reg", kivo::SW_SHOW);  // relative to the current folder
    QTRY_VERIFY(QFile::exists(folder.filePath("win/contconv/merged")));
    runner.openWithShell("missing.reg", kivo::SW_SHOW);
  }

  void theFolderGuardRestoresHoweverAHandlerEnds() {
    TempProgramFolder folder;
    folder.write("bin/x");
    FakeServices fakes;
    // A handler that enters the tool folder and then fails still ends in the program folder.
    kivo::guarded(fakes.services.messages, [] {
      kivo::CurrentFolderGuard guard;
      QVERIFY(guard.enter("bin"));
      QVERIFY(QFile::exists("x"));
      throw kivo::Failure("Cannot open file");
    });
    QCOMPARE(QDir::currentPath(), folder.path());
    QCOMPARE(fakes.messages.errors(), QStringList{"Cannot open file"});
    {
      kivo::CurrentFolderGuard guard;
      QVERIFY(!guard.enter("missing"));
      QVERIFY(!guard.enter(""));
      QCOMPARE(QDir::currentPath(), folder.path());
    }
  }

  void notepadIsTheDesktopsTextEditor() {
    TempProgramFolder folder;
    QTemporaryDir onPath;
    installStandin(onPath.filePath("mousepad"));
    qputenv("PATH", QFile::encodeName(onPath.path()));
    kivo::ProcessRunner runner;
    runner.startAndForget("notepad keyboardSetup.cfg", kivo::SW_SHOWNORMAL);
    QVERIFY(waitForStandinRuns(log, 1));
    QCOMPARE(runs().first().self, QFileInfo(onPath.filePath("mousepad")).canonicalFilePath());
    QCOMPARE(runs().first().args, QStringList{"keyboardSetup.cfg"});
    QCOMPARE(runs().first().cwd, QDir(folder.path()).canonicalPath());
  }

  void aToolsProgressAndLastMessageReachTheActivity() {
    TempProgramFolder folder;
    installStandin(folder.filePath("bin/ciso"));
    qputenv("KIVO_STANDIN_SLEEP_MS", "200");
    qputenv("KIVO_STANDIN_SAY", "ciso: no space left on the device");
    qputenv("KIVO_STANDIN_EXIT", "2");
    kivo::ProcessRunner runner;
    QList<int> seen;
    connect(&runner.activity(), &kivo::ToolActivity::changed, this, [&](int id) {
      seen << runner.activity().entry(id)->percent();
    });
    const uint32_t code =
        runner.runAndWait(R"("bin/ciso.exe" 9 "a.iso" "a.cso")", 1, {"ISO to CSO", {"a.iso"}, "a.cso"});
    QCOMPARE(code, 2u);
    QVERIFY(!runner.lastRunCancelled());
    const kivo::JobEntry& e = runner.activity().entries().back();
    QCOMPARE(e.title, QString("ISO to CSO"));
    QVERIFY(e.waited);
    QCOMPARE(e.state, kivo::JobState::Failed);
    QCOMPARE(e.failure, QString("ciso: no space left on the device"));
    // KIVO_PROGRESS was set for it: its reports arrived, rising.
    QVERIFY(e.reportsProgress);
    QCOMPARE(e.percent(), 75);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QCOMPARE(e.lines, QStringList{"ciso: no space left on the device"});
  }

  void aStartedAndForgottenToolIsWatchedToo() {
    TempProgramFolder folder;
    installStandin(folder.filePath("bin/dax"));
    kivo::ProcessRunner runner;
    qputenv("KIVO_STANDIN_OUTPUT_ARG", "last");
    runner.startAndForget(R"("bin/dax.exe" -l9 "a.iso" "a.dax")", 1, {"ISO to DAX", {"a.iso"}, "a.dax"});
    qunsetenv("KIVO_STANDIN_OUTPUT_ARG");
    runner.startAndForget(R"("bin/dax.exe" -d "a.dax" "b.iso")", 1, {"DAX to ISO", {"a.dax"}, "b.iso"});
    runner.startAndForget(R"("bin/missing.exe" a)", 1);
    const auto& entries = runner.activity().entries();
    QCOMPARE(entries.size(), size_t(3));
    QCOMPARE(entries[2].state, kivo::JobState::Failed);  // known at once
    QCOMPARE(entries[2].failure, QString("Kivo cannot start missing.exe: it is not in %1. Put the program there as "
                                         "missing (or missing.exe).").arg(QDir::current().filePath("bin")));
    QTRY_COMPARE(runner.activity().runningCount(), 0);
    QCOMPARE(entries[0].state, kivo::JobState::Succeeded);
    QCOMPARE(entries[0].result, folder.filePath("a.dax"));
    QCOMPARE(entries[1].state, kivo::JobState::Failed);
    QCOMPARE(entries[1].failure, QString("The tool ended without writing %1.").arg(folder.filePath("b.iso")));
  }

  void cancelEndsTheToolAndWhatItStartedAndRemovesWhatItLeftUnfinished() {
    TempProgramFolder folder;
    // A script that leaves half an output as the tools do, in a temporary file of its own beside
    // the old one, and starts a child of its own, then waits.
    const QString temporary =
        QString::fromStdString(kivo::filesafe::temporaryName("out.iso", 12345, 0)).replace("12345", "$$");
    folder.write("bin/out.iso", "the old image");
    folder.write("bin/doit.cmd", "echo half > \"" + temporary.toUtf8() + "\"\nsleep 30 &\necho $! > child.pid\nwait\n");
    QVERIFY(QDir::setCurrent(folder.filePath("bin")));
    kivo::ProcessRunner runner;
    QTimer::singleShot(300, &runner, [&] { runner.activity().requestCancel(runner.activity().entries().back().id); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(runner.runAndWait("doit.cmd", kivo::SW_SHOWMINIMIZED, {"Top-menu plugin", {}, "out.iso"}), 0u);
    QVERIFY2(clock.elapsed() < 2500, "the tool was not ended at once");
    QVERIFY(runner.lastRunCancelled());
    QCOMPARE(runner.activity().entries().back().state, kivo::JobState::Cancelled);
    QCOMPARE(folder.read("bin/out.iso"), QByteArray("the old image"));
    QCOMPARE(QDir(folder.filePath("bin")).entryList({"out.iso*"}), QStringList{"out.iso"});
    const int child = folder.read("bin/child.pid").trimmed().toInt();
    QVERIFY(child > 0);
    const auto gone = [child] {
      QFile stat(QString("/proc/%1/stat").arg(child));
      return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");  // ended, or a zombie
    };
    QTRY_VERIFY_WITH_TIMEOUT(gone(), 3000);
    // The next run starts afresh.
    folder.write("bin/quick.cmd", "exit 0\n");
    QCOMPARE(runner.runAndWait("quick.cmd", 1, {}), 0u);
    QVERIFY(!runner.lastRunCancelled());
  }

  void aToolOutlivesKivo() {
    TempProgramFolder folder;
    installStandin(folder.filePath("bin/usb"));
    qputenv("KIVO_STANDIN_SLEEP_MS", "800");
    qputenv("KIVO_STANDIN_FINISHED", QFile::encodeName(folder.filePath("finished")));
    {
      kivo::ProcessRunner runner;
      runner.startAndForget(R"(bin/usb.exe "/cygdrive/C/")", 1);
      QVERIFY(waitForStandinRuns(log, 1));
    }
    // It went on reporting progress into a pipe nobody reads, and ran to its end.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.filePath("finished")), 5000);
  }
};

QTEST_GUILESS_MAIN(RunnerTest)
#include "test_runner.moc"

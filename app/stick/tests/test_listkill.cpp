// A plug-in list rewrite killed at any moment leaves the old list or the new one, never a mix,
// and the next rewrite leaves nothing else beside it.
#include "pluginlist.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace kivo::stick;

namespace {

QByteArray slurp(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A long list, so that a rewrite takes long enough to be caught in the middle.
QByteArray longList(const QString& prefix, int lines, const QString& added) {
  QStringList text;
  for (int i = 0; i < lines; ++i) text << QStringLiteral("ms0:/seplugins/%1%2.prx 1").arg(prefix).arg(i);
  return composeList(text.join('\n'), added);
}

}  // namespace

class ListKillTest : public QObject {
  Q_OBJECT
private slots:
  void killedRewritesLeaveTheOldOrTheNewList() {
    QTemporaryDir stick;
    const QString vsh = stick.filePath("vsh.txt");
    const QByteArray before = longList("old", 4000, "a.prx"), after = longList("new", 6000, "b.prx");
    QVERIFY(writeListSafely(vsh, before));
    int strays = 0;
    for (int round = 0; round < 40; ++round) {
      const pid_t child = fork();
      QVERIFY(child >= 0);
      if (child == 0) {
        for (unsigned i = 0;; ++i) writeListSafely(vsh, i % 2 ? before : after);
      }
      usleep(useconds_t(QRandomGenerator::global()->bounded(500, 15000)));
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
      const QByteArray now = slurp(vsh);
      QVERIFY2(now == before || now == after, qPrintable(QString("round %1: %2 bytes").arg(round).arg(now.size())));
      strays += QDir(stick.path()).entryList(QDir::Files | QDir::Hidden).size() - 1;
    }
    qInfo("%d of 40 kills left a temporary file behind", strays);
    QVERIFY(writeListSafely(vsh, after));
    QCOMPARE(QDir(stick.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"vsh.txt"});
    QCOMPARE(slurp(vsh), after);
  }
};

QTEST_GUILESS_MAIN(ListKillTest)
#include "test_listkill.moc"

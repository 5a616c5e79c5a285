// A registry restore killed at any moment: each of flash1's two files is always whole, old or
// new, and the next copy of the pair puts it back to one day's pair with nothing left beside it.
#include "link/registrybackup.h"
#include "shell/safefile.h"
#include "shell/tests/kit/fakes.h"

#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace kivo::testing;

namespace {

QByteArray slurp(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray pattern(char c, int size) {
  QByteArray bytes(size, c);
  for (int i = 0; i < size; i += 97) bytes[i] = char('0' + i % 10);
  return bytes;
}

}  // namespace

class RegistryKillTest : public QObject {
  Q_OBJECT
private slots:
  void killedRestoresLeaveAPair() {
    TempProgramFolder program;
    // Two days' sets of different sizes, so a file cut short or mixed would show.
    const QByteArray d1 = pattern('a', 300000), i1 = pattern('b', 120000);
    const QByteArray d2 = pattern('c', 200000), i2 = pattern('d', 180000);
    program.write("backup/registry/1-12-2026/system.dreg", d1);
    program.write("backup/registry/1-12-2026/system.ireg", i1);
    program.write("backup/registry/2-12-2026/system.dreg", d2);
    program.write("backup/registry/2-12-2026/system.ireg", i2);
    const QString drive = program.filePath("flash1") + "/";
    program.write("flash1/registry/system.dreg", d1);
    program.write("flash1/registry/system.ireg", i1);
    const QString dreg = drive + "registry/system.dreg", ireg = drive + "registry/system.ireg";

    int caughtBetween = 0;
    for (int round = 0; round < 40; ++round) {
      const pid_t child = fork();
      QVERIFY(child >= 0);
      if (child == 0) {
        for (unsigned i = 0;; ++i)
          kivo::registry::restore(i % 2 ? QStringLiteral("1-12-2026") : QStringLiteral("2-12-2026"), drive);
      }
      usleep(useconds_t(QRandomGenerator::global()->bounded(1000, 20000)));
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);

      const QByteArray d = slurp(dreg), i = slurp(ireg);
      QVERIFY2(d == d1 || d == d2, qPrintable(QString("round %1: system.dreg is %2 bytes").arg(round).arg(d.size())));
      QVERIFY2(i == i1 || i == i2, qPrintable(QString("round %1: system.ireg is %2 bytes").arg(round).arg(i.size())));
      if ((d == d1) != (i == i1)) ++caughtBetween;
      // What the next copy of the pair does first.
      QVERIFY(kivo::recoverPair(dreg, ireg));
      const bool first = slurp(dreg) == d1;
      QCOMPARE(slurp(ireg), first ? i1 : i2);
      QCOMPARE(QDir(drive + "registry").entryList(QDir::Files | QDir::Hidden), (QStringList{"system.dreg", "system.ireg"}));
    }
    qInfo("%d of 40 kills fell between the two renames", caughtBetween);
    QCOMPARE(kivo::registry::restore(QStringLiteral("2-12-2026"), drive), kivo::registry::RestoreResult::Done);
    QCOMPARE(slurp(dreg) + slurp(ireg), d2 + i2);
  }
};

QTEST_GUILESS_MAIN(RegistryKillTest)
#include "test_registrykill.moc"

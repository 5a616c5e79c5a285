// Replacing a user's file: on a full disk nothing is cut short and nothing stray is left, the
// replaced file keeps its mode, leftovers of a killed run go at the next write, a pair ends old
// or new, and outside files that are not plain files are refused without blocking.
#include "filesafe/temporary.h"
#include "shell/platform.h"
#include "shell/safefile.h"
#include "shell/tests/kit/fulldisk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using kivo::testing::FullDisk;
using kivo::testing::fileBytes;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), bytes.size());
}

// Everything in a folder but the filler that used the disk up.
QStringList entries(const QString& folder) {
  QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  names.removeAll(QStringLiteral(".filler"));
  return names;
}

// The library's names beside a file, as QStrings.
QString temporaryOf(const QString& path, long pid) {
  return QFile::decodeName(kivo::filesafe::temporaryName(QFile::encodeName(path).toStdString(), pid, 0).c_str());
}
QString keptOf(const QString& path) {
  return QFile::decodeName(kivo::filesafe::keptName(QFile::encodeName(path).toStdString()).c_str());
}
QString noneOf(const QString& path) {
  return QFile::decodeName(kivo::filesafe::noneName(QFile::encodeName(path).toStdString()).c_str());
}

// A process that has ended, so that a temporary named after it is a leftover.
long endedPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

mode_t modeOf(const QString& path) {
  struct stat st {};
  stat(QFile::encodeName(path).constData(), &st);
  return st.st_mode & 07777;
}

}  // namespace

class SafeFileTest : public QObject {
  Q_OBJECT
private slots:
  void everyWriteFailsCleanlyOnAFullDisk() {
    const QByteArray old = "ms0:/seplugins/old.prx\r\n", larger(3000, 'n');
    FullDisk::eachKind([&](FullDisk& disk) {
      QTemporaryDir elsewhere;
      const QString source = elsewhere.filePath("new.bin"), second = elsewhere.filePath("second.bin");
      const QString moving = elsewhere.filePath("moving.bin");
      for (const QString& file : {source, second, moving}) writeFile(file, larger);
      // Only a tmpfs is another volume, where a move is a copy.
      const bool moveCopies = disk.kind() == FullDisk::Kind::Tmpfs;
      const QString list = disk.write("vsh.txt", old), a = disk.write("a.reg", old), b = disk.write("b.reg", old + old);
      const QString seen = disk.run([&] {
        QStringList outcome;
        QString error;
        outcome << QString::number(kivo::replaceFile(list, larger, &error)) << error;
        outcome << QString::number(kivo::copyFile(source, list, true));
        outcome << QString::number(kivo::copyFile(source, disk.filePath("fresh.bin"), false));
        outcome << QString::number(moveCopies && kivo::moveFile(moving, disk.filePath("moved.bin")));
        outcome << QString::number(kivo::copyPairSafely(source, a, second, b, &error)) << error;
        return outcome.join('|');
      });
      const QStringList outcome = seen.split('|');
      QCOMPARE(outcome.size(), 7);
      QCOMPARE(outcome[0], QString("0"));
      QVERIFY2(outcome[1].endsWith(disk.reason()), qPrintable(outcome[1]));
      QCOMPARE(outcome.mid(2, 4), (QStringList{"0", "0", "0", "0"}));
      QVERIFY2(outcome[6].startsWith("Cannot write"), qPrintable(outcome[6]));
      // Each target byte for byte as it was, the source of the failed move still there, and
      // not one temporary file left beside them.
      QCOMPARE(fileBytes(list), old);
      QCOMPARE(fileBytes(a), old);
      QCOMPARE(fileBytes(b), old + old);
      QCOMPARE(fileBytes(moving), larger);
      QCOMPARE(entries(disk.path()), (QStringList{"a.reg", "b.reg", "vsh.txt"}));
    });
  }

  void keepsTheModeAndFollowsLinks() {
    QTemporaryDir dir;
    const QString path = dir.filePath("vsh.txt");
    writeFile(path, "old");
    QVERIFY(chmod(QFile::encodeName(path).constData(), 0600) == 0);
    // The new contents are as private as the old ones, also while they are being written.
    kivo::FileReplacement replacement(path);
    QVERIFY(replacement.open() && replacement.write("new"));
    const QStringList writing = QDir(dir.path()).entryList({"vsh.txt.part*"});
    QCOMPARE(writing.size(), 1);
    QCOMPARE(modeOf(dir.filePath(writing[0])), mode_t(0600));
    QVERIFY(replacement.commit());
    QCOMPARE(fileBytes(path), QByteArray("new"));
    QCOMPARE(modeOf(path), mode_t(0600));
    // A list reached through a link stays a link; the file it leads to is replaced.
    const QString link = dir.filePath("link.txt");
    QVERIFY(QFile::link(path, link));
    QVERIFY(kivo::replaceFile(link, "through"));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(fileBytes(path), QByteArray("through"));
    // A folder or a FIFO where the file should be is not replaced by one.
    QDir(dir.path()).mkdir("folder");
    QVERIFY(kivo::testing::makeFifo(dir.filePath("fifo")));
    QString error;
    QVERIFY(!kivo::replaceFile(dir.filePath("folder"), "x", &error));
    QVERIFY(error.contains("not a plain file"));
    QVERIFY(!kivo::replaceFile(dir.filePath("fifo"), "x"));
    QVERIFY(QFileInfo(dir.filePath("folder")).isDir());
    QCOMPARE(entries(dir.path()), (QStringList{"fifo", "folder", "link.txt", "vsh.txt"}));
  }

  void leftoversGoAtTheNextWrite() {
    QTemporaryDir dir;
    const QString path = dir.filePath("vsh.txt");
    const long ended = endedPid();
    writeFile(path, "old");
    writeFile(temporaryOf(path, ended), "half");                   // a killed run's
    writeFile(temporaryOf(path, 1), "another Kivo's, still at work");  // a live process's
    writeFile(path + ".part-notours", "keep");                     // not a name we make
    writeFile(temporaryOf(dir.filePath("game.txt"), ended), "keep");  // another file's, left to its own next write
    QVERIFY(kivo::replaceFile(path, "new"));
    QCOMPARE(entries(dir.path()).size(), 4);
    QVERIFY(!QFileInfo::exists(temporaryOf(path, ended)));
    QVERIFY(QFileInfo::exists(temporaryOf(path, 1)));
  }

  void namesOfUpTo255BytesAreWritten() {
    QTemporaryDir dir;
    for (int length : {244, 250, 255}) {
      const QString path = dir.filePath(QString(length - 4, 'n') + ".txt");
      QString error;
      QVERIFY2(kivo::replaceFile(path, "first", &error), qPrintable(error));
      QVERIFY2(kivo::replaceFile(path, "second", &error), qPrintable(error));
      QVERIFY2(kivo::copyFile(path, path.left(path.size() - 4) + ".bak", false), qPrintable(path));
      QCOMPARE(fileBytes(path), QByteArray("second"));
    }
    QCOMPARE(entries(dir.path()).size(), 6);
  }

  void aPairIsReplacedWholeOrNotAtAll() {
    QTemporaryDir dir;
    const QString setD = dir.filePath("set.dreg"), setI = dir.filePath("set.ireg");
    const QString dreg = dir.filePath("system.dreg"), ireg = dir.filePath("system.ireg");
    writeFile(setD, "new dreg");
    writeFile(setI, "new ireg");
    writeFile(dreg, "old dreg");
    writeFile(ireg, "old ireg");
    // The second rename fails (a folder took the file's place): the first goes back.
    QString error;
    QVERIFY(!kivo::copyPairSafely(setD, dreg, setI, ireg, &error, [&] {
      QFile::remove(ireg);
      QDir().mkpath(ireg + "/inside");
    }));
    QVERIFY(error.contains("Cannot replace"));
    QCOMPARE(fileBytes(dreg), QByteArray("old dreg"));
    QDir(ireg).removeRecursively();
    // A first file that was not there before is not there after.
    QFile::remove(dreg);
    QVERIFY(!kivo::copyPairSafely(setD, dreg, setI, ireg, nullptr, [&] { QDir().mkpath(ireg + "/inside"); }));
    QVERIFY(!QFileInfo::exists(dreg));
    QDir(ireg).removeRecursively();
    QCOMPARE(entries(dir.path()), (QStringList{"set.dreg", "set.ireg"}));
    // And when nothing is in the way, both arrive.
    QVERIFY(kivo::copyPairSafely(setD, dreg, setI, ireg));
    QCOMPARE(fileBytes(dreg) + fileBytes(ireg), QByteArray("new dregnew ireg"));
    QCOMPARE(entries(dir.path()), (QStringList{"set.dreg", "set.ireg", "system.dreg", "system.ireg"}));
  }

  void recoveryAfterAKillBetweenTheRenames() {
    QTemporaryDir dir;
    const QString dreg = dir.filePath("system.dreg"), ireg = dir.filePath("system.ireg");
    const long killed = endedPid();
    // Killed with the first renamed and the second still waiting: the first goes back.
    writeFile(dreg, "new dreg");
    writeFile(keptOf(dreg), "old dreg");
    writeFile(ireg, "old ireg");
    writeFile(keptOf(ireg), "old ireg");
    writeFile(temporaryOf(ireg, killed), "new ireg");
    QVERIFY(kivo::recoverPair(dreg, ireg));
    QCOMPARE(fileBytes(dreg) + fileBytes(ireg), QByteArray("old dregold ireg"));
    QCOMPARE(entries(dir.path()), (QStringList{"system.dreg", "system.ireg"}));
    // Killed after both renames, before the kept old file was removed: the new pair stays.
    writeFile(dreg, "new dreg");
    writeFile(ireg, "new ireg");
    writeFile(keptOf(dreg), "old dreg");
    QVERIFY(kivo::recoverPair(dreg, ireg));
    QCOMPARE(fileBytes(dreg) + fileBytes(ireg), QByteArray("new dregnew ireg"));
    // A first file that did not exist before is removed again.
    QFile::remove(dreg);
    writeFile(dreg, "new dreg");
    writeFile(noneOf(dreg), "");
    writeFile(temporaryOf(ireg, killed), "newer ireg");
    QVERIFY(kivo::recoverPair(dreg, ireg));
    QVERIFY(!QFileInfo::exists(dreg));
    QCOMPARE(entries(dir.path()), QStringList{"system.ireg"});
  }

  void outsideFilesAreReadWithCare() {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("song.png");
    QVERIFY(kivo::testing::makeFifo(fifo));
    QElapsedTimer clock;
    clock.start();
    QString error;
    QVERIFY(!kivo::readOutsideFile(fifo, 1 << 20, &error));
    QVERIFY(error.contains("not a plain file"));
    QVERIFY(!kivo::readOutsideFile("/dev/zero", 1 << 20, &error));
    QVERIFY(!kivo::copyFile(fifo, dir.filePath("copy.png"), true));
    QVERIFY(clock.elapsed() < 2000);  // refused, not waited on
    // Too large is refused before reading: a sparse file of 1 GiB takes no time.
    const QString huge = dir.filePath("huge.bmp");
    writeFile(huge, "BM");
    QVERIFY(QFile::resize(huge, 1LL << 30));
    QVERIFY(!kivo::readOutsideFile(huge, kivo::kMaxPictureFileBytes, &error));
    QVERIFY(error.contains("too large"));
    QVERIFY(!kivo::readOutsideFile(dir.path(), 100, &error));
    QVERIFY(error.contains("folder"));
    QVERIFY(!kivo::readOutsideFile(dir.filePath("missing"), 100, &error));
    QVERIFY(error.contains("No such file"));
    writeFile(dir.filePath("ok.txt"), "just right");
    QCOMPARE(kivo::readOutsideFile(dir.filePath("ok.txt"), 10).value_or("<refused>"), QByteArray("just right"));
    QVERIFY(!kivo::readOutsideFile(dir.filePath("ok.txt"), 9));
  }
};

QTEST_GUILESS_MAIN(SafeFileTest)
#include "test_safefile.moc"

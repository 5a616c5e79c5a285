// The folder-tree copy on real folder trees: what is taken and skipped (linked folders included),
// the replace modes with the prompt, read-only clearing, the two ways the copy ends early, and a
// full disk.
#include "link/copyfolder.h"
#include "shell/failure.h"
#include "shell/folderguard.h"
#include "shell/tests/kit/fakes.h"
#include "shell/tests/kit/fulldisk.h"

#include <QtTest>

using namespace kivo::testing;

namespace {

QString put(const QString& path, const QByteArray& bytes = "x") {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(bytes);
  return path;
}

QByteArray slurp(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void setTime(const QString& path, const QDateTime& when) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadWrite));
  QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
}

// Every file below root, relative, sorted.
QStringList tree(const QString& root) {
  QStringList files;
  QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) files << QDir(root).relativeFilePath(it.next());
  files.sort();
  return files;
}

}  // namespace

class CopyFolderTest : public QObject {
  Q_OBJECT
private slots:
  void takesMatchingFilesAndEveryFolder() {
    QTemporaryDir dir;
    const QString src = dir.filePath("src"), dst = dir.filePath("out/deep");
    put(src + "/README");
    put(src + "/README.txt", "readme");
    put(src + "/.profile.txt");
    put(src + "/sub/inner.bin", "inner");
    put(src + "/sub/NODOT");
    QDir().mkpath(src + "/empty");
    put(src + "/Recycled/gone.txt");
    put(src + "/RECYCLED.txt");  // only the exact name is skipped
    put(src + "/.svn/entries.txt");
    QDir().mkpath(dir.filePath("out"));

    RecordingMessages boxes;
    kivo::CurrentFolderGuard back;
    // Relative source and a target without its trailing separator.
    QDir::setCurrent(dir.path());
    QVERIFY(kivo::CopyFolder("src", dst, "*.*", kivo::ReplaceAlways, true, true, boxes));
    QCOMPARE(tree(dst), (QStringList{"README.txt", "RECYCLED.txt", "empty", "sub", "sub/inner.bin"}));
    QCOMPARE(slurp(dst + "/sub/inner.bin"), QByteArray("inner"));
    QVERIFY(boxes.boxes.empty());

    // Without subfolders only the top level's files come along.
    const QString flat = dir.filePath("flat");
    QVERIFY(kivo::CopyFolder(src, flat, "*", kivo::ReplaceAlways, false, true, boxes));
    QCOMPARE(tree(flat), (QStringList{"README", "README.txt", "RECYCLED.txt"}));
  }

  void missingParentIsAnError() {
    QTemporaryDir dir;
    put(dir.filePath("src/a.txt"));
    RecordingMessages boxes;
    const QString target = dir.filePath("no/such");
    try {
      kivo::CopyFolder(dir.filePath("src"), target, "*.*", 1, true, true, boxes);
      QFAIL("no error");
    } catch (const kivo::Failure& f) {
      QCOMPARE(f.text(), "Cannot create " + target + "/");
    }
    // A sub level that cannot be made: a file stands where the folder should go.
    put(dir.filePath("src/sub/b.txt"));
    put(dir.filePath("dst/sub"));
    QVERIFY_THROWS_EXCEPTION(kivo::Failure,
                             kivo::CopyFolder(dir.filePath("src"), dir.filePath("dst"), "*.*", 1, true, true, boxes));
  }

  void invalidMaskStopsEveryLevel() {
    QTemporaryDir dir;
    put(dir.filePath("src/sub/a.txt"));
    put(dir.filePath("src/z.txt"));
    RecordingMessages boxes;
    QVERIFY(!kivo::CopyFolder(dir.filePath("src"), dir.filePath("dst"), "[a-", 1, true, true, boxes));
    QCOMPARE(boxes.texts(), QStringList{"Invalid mask \"[a-\" entered, see documentation"});
    QCOMPARE(boxes.boxes.front().kind, BoxRecord::Message);
    QVERIFY(!QFile::exists(dir.filePath("dst/z.txt")));
    QVERIFY(!QFile::exists(dir.filePath("dst/sub/a.txt")));

    // No file to match, no complaint: the mask is only looked at for files.
    RecordingMessages quiet;
    QDir().mkpath(dir.filePath("folders/only"));
    QVERIFY(kivo::CopyFolder(dir.filePath("folders"), dir.filePath("dst2"), "[", 1, true, true, quiet));
    QVERIFY(quiet.boxes.empty());
  }

  void replaceModes_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("targetOlder");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("1 replaces") << 1 << false << QByteArray("new");
    QTest::newRow("2 replaces older") << 2 << true << QByteArray("new");
    QTest::newRow("2 keeps newer") << 2 << false << QByteArray("old");
    QTest::newRow("0 keeps") << 0 << true << QByteArray("old");
    QTest::newRow("4 keeps") << 4 << true << QByteArray("old");
    QTest::newRow("-1 keeps") << -1 << true << QByteArray("old");
  }
  void replaceModes() {
    QFETCH(int, mode);
    QFETCH(bool, targetOlder);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString from = put(dir.filePath("src/f.txt"), "new"), to = put(dir.filePath("dst/f.txt"), "old");
    put(dir.filePath("src/fresh.txt"), "fresh");
    const QDateTime base(QDate(2026, 12, 1), QTime(9, 30));
    setTime(from, base);
    setTime(to, targetOlder ? base.addSecs(-3600) : base.addSecs(3600));
    RecordingMessages boxes;
    QVERIFY(kivo::CopyFolder(dir.filePath("src"), dir.filePath("dst"), "*", mode, true, true, boxes));
    QCOMPARE(slurp(to), expected);
    QCOMPARE(slurp(dir.filePath("dst/fresh.txt")), QByteArray("fresh"));  // new files always come
    QVERIFY(boxes.boxes.empty());
  }

  void askedReplaceFollowsTheAnswer() {
    QTemporaryDir dir;
    const QString src = dir.filePath("src"), dst = dir.filePath("dst");
    const QString from = put(src + "/a.txt", "new"), to = put(dst + "/a.txt", "old");
    const QDateTime targetTime(QDate(2026, 11, 30), QTime(8, 5)), sourceTime(QDate(2026, 12, 1), QTime(17, 45));
    setTime(to, targetTime);
    setTime(from, sourceTime);
    const QLocale us(QLocale::English, QLocale::UnitedStates);

    RecordingMessages boxes;
    boxes.answers = {kivo::Answer::No};
    QVERIFY(kivo::CopyFolder(src, dst, "*", kivo::ReplaceAsk, true, true, boxes, us));
    QCOMPARE(slurp(to), QByteArray("old"));
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QCOMPARE(boxes.boxes[0].kind, BoxRecord::Question);
    QCOMPARE(boxes.boxes[0].caption, "Confirm");
    const QString stamp = [&](const QDateTime& t) {
      return us.toString(t.date(), QLocale::ShortFormat) + " " + us.toString(t.time(), QLocale::ShortFormat);
    }(targetTime);
    QVERIFY(stamp.startsWith("11/30/26 8:05"));
    QCOMPARE(boxes.boxes[0].text, "Replace " + QFileInfo(to).absoluteFilePath() + " created " + stamp + "\r" +
                                      "with " + QFileInfo(from).absoluteFilePath() + " created " +
                                      us.toString(sourceTime.date(), QLocale::ShortFormat) + " " +
                                      us.toString(sourceTime.time(), QLocale::ShortFormat));

    boxes.answers = {kivo::Answer::Yes};
    QVERIFY(kivo::CopyFolder(src, dst, "*", kivo::ReplaceAsk, true, true, boxes, us));
    QCOMPARE(slurp(to), QByteArray("new"));
  }

  void cancelStopsTheOuterLevelsToo() {
    QTemporaryDir dir;
    const QString src = dir.filePath("src"), dst = dir.filePath("dst");
    put(src + "/a/b/deep.txt", "new");
    put(dst + "/a/b/deep.txt", "old");
    for (char c = 'c'; c <= 'k'; ++c) put(src + "/" + QChar(c) + ".txt");  // around the folder in any order
    RecordingMessages boxes;
    boxes.answers = {kivo::Answer::Cancel};
    QVERIFY(!kivo::CopyFolder(src, dst, "*", kivo::ReplaceAsk, true, true, boxes));
    QCOMPARE(slurp(dst + "/a/b/deep.txt"), QByteArray("old"));
    // Whatever was listed after the folder was not copied.
    const QStringList listed = QDir(src).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : listed.mid(listed.indexOf("a") + 1))
      QVERIFY2(!QFile::exists(dst + "/" + name), qPrintable(name));
  }

  void readOnlyCleared_data() {
    QTest::addColumn<bool>("clear");
    QTest::newRow("clear") << true;
    QTest::newRow("keep") << false;
  }
  void readOnlyCleared() {
    QFETCH(bool, clear);
    QTemporaryDir dir;
    const QString from = put(dir.filePath("src/tool.sh"));
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(from, readOnly));
    RecordingMessages boxes;
    QVERIFY(kivo::CopyFolder(dir.filePath("src"), dir.filePath("dst"), "*.*", 1, true, clear, boxes));
    const auto got = QFile::permissions(dir.filePath("dst/tool.sh")) &
                     (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                      QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    QCOMPARE(got, clear ? readOnly | QFileDevice::WriteOwner : readOnly);
  }

  void targetInsideSourceEnds() {
    QTemporaryDir dir;
    put(dir.filePath("src/a.txt"));
    put(dir.filePath("src/sub/b.txt"));
    RecordingMessages boxes;
    QVERIFY(kivo::CopyFolder(dir.filePath("src"), dir.filePath("src/out"), "*", 1, true, true, boxes));
    QCOMPARE(tree(dir.filePath("src/out")), (QStringList{"a.txt", "sub", "sub/b.txt"}));
  }

  void linkedFoldersAreEnteredUnlessTheyLeadBack() {
    QTemporaryDir dir;
    put(dir.filePath("src/a.txt"));
    put(dir.filePath("src/sub/b.txt"));
    put(dir.filePath("elsewhere/shared/s.txt"), "shared");
    QDir().mkpath(dir.filePath("dst"));
    const auto link = [&](const QString& to, const QString& at) { QVERIFY(QFile::link(dir.filePath(to), dir.filePath(at))); };
    link("elsewhere/shared", "src/linked");     // outside the tree: entered like any folder
    link("elsewhere", "elsewhere/shared/back");  // from there, back up to where it came from
    link("src", "src/sub/loop");                 // back to the top
    link("src/sub", "src/again");                // into the tree
    link(".", "src/parent");                     // to a folder holding the tree
    link("dst", "src/totarget");                 // into the target
    link("dst/nothing", "src/dangling");
    QVERIFY(kivo::testing::makeFifo(dir.filePath("src/pipe.txt")));
    RecordingMessages boxes;
    QStringList notCopied;
    QVERIFY(kivo::CopyFolder(dir.filePath("src"), dir.filePath("dst"), "*", 1, true, true, boxes, QLocale::c(),
                             &notCopied));
    QCOMPARE(tree(dir.filePath("dst")), (QStringList{"a.txt", "linked", "linked/s.txt", "sub", "sub/b.txt"}));
    QCOMPARE(slurp(dir.filePath("dst/linked/s.txt")), QByteArray("shared"));
    QVERIFY(QFileInfo(dir.filePath("dst/linked")).isDir() && !QFileInfo(dir.filePath("dst/linked")).isSymLink());
    QVERIFY(notCopied.isEmpty());
    QVERIFY(boxes.boxes.empty());
  }

  void aFullDiskLeavesEveryFileWhole() {
    FullDisk::eachKind([&](FullDisk& disk) {
      QTemporaryDir dir;
      put(dir.filePath("src/PSP/do.reg"), QByteArray(2000, 'r'));
      put(dir.filePath("src/PSP/sub/tool.sh"), QByteArray(3000, 't'));
      disk.write("PSP/do.reg", "old registration");
      const QString seen = disk.run([&] {
        RecordingMessages boxes;
        QStringList notCopied;
        const bool ran = kivo::CopyFolder(dir.filePath("src"), disk.path(), "*.*", 1, true, true, boxes, QLocale::c(),
                                          &notCopied);
        for (QString& file : notCopied) file = QDir(disk.path()).relativeFilePath(file);
        notCopied.sort();
        return QString::number(ran) + ' ' + notCopied.join(',');
      });
      // The copy runs to its end and names every file it could not copy; none is cut short.
      QCOMPARE(seen, QString("1 PSP/do.reg,PSP/sub/tool.sh"));
      QCOMPARE(slurp(disk.filePath("PSP/do.reg")), QByteArray("old registration"));
      QStringList left = tree(disk.path());
      left.removeAll(".filler");
      QCOMPARE(left, (QStringList{"PSP", "PSP/do.reg", "PSP/sub"}));
    });
  }
};

QTEST_GUILESS_MAIN(CopyFolderTest)
#include "test_copyfolder.moc"

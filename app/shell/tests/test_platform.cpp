// The file calls the pages rely on: replacing copies, moves that never replace, one-level
// folder creation and the case-insensitive look-up of files named in another case.
#include "shell/platform.h"
#include "shell/tests/kit/fakes.h"

#include <QFile>
#include <QtTest>

using namespace kivo::testing;

class PlatformTest : public QObject {
  Q_OBJECT
private slots:
  void copyReplacesOnlyWhenAskedAndNeverHalfWay() {
    TempProgramFolder f;
    f.write("a.bin", "new contents");
    f.write("b.bin", "old");
    QVERIFY(!kivo::copyFile("a.bin", "b.bin", false));
    QCOMPARE(f.read("b.bin"), QByteArray("old"));
    QVERIFY(kivo::copyFile("a.bin", "b.bin", true));
    QCOMPARE(f.read("b.bin"), QByteArray("new contents"));
    // A source that cannot be read leaves the target as it was.
    QVERIFY(!kivo::copyFile("missing.bin", "b.bin", true));
    QVERIFY(!kivo::copyFile(f.path(), "b.bin", true));
    QCOMPARE(f.read("b.bin"), QByteArray("new contents"));
    // Nor is a folder replaced by a file.
    QDir().mkdir("folder");
    QVERIFY(!kivo::copyFile("a.bin", "folder", true));
    QVERIFY(QFileInfo("folder").isDir());
    QCOMPARE(QDir().entryList({"*.bin"}, QDir::Files), (QStringList{"a.bin", "b.bin"}));  // no stray temporaries
  }

  void copyKeepsAReadOnlySourceReadOnly() {
    TempProgramFolder f;
    f.write("ro.bin", "x");
    QVERIFY(QFile::setPermissions("ro.bin", QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(kivo::copyFile("ro.bin", "copy.bin", false));
    // Whoever runs it (root included), the copy carries the source's mode bits.
    const QFile::Permissions mode = QFile::permissions("copy.bin") &
        (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther | QFile::ReadOwner);
    QCOMPARE(mode, QFile::Permissions(QFile::ReadOwner));
  }

  void moveNeverReplaces() {
    TempProgramFolder f;
    f.write("temp.iso", "image");
    f.write("out.iso", "kept");
    QVERIFY(!kivo::moveFile("temp.iso", "out.iso"));
    QCOMPARE(f.read("out.iso"), QByteArray("kept"));
    QCOMPARE(f.read("temp.iso"), QByteArray("image"));
    QVERIFY(kivo::moveFile("temp.iso", "bin/temp.iso"));
    QVERIFY(!QFile::exists("temp.iso"));
    QCOMPARE(f.read("bin/temp.iso"), QByteArray("image"));
    QVERIFY(!kivo::moveFile("nothing.iso", "x.iso"));
  }

  void foldersAndDeletes() {
    TempProgramFolder f;
    QVERIFY(kivo::createFolder("backup"));
    QVERIFY(!kivo::createFolder("backup"));           // exists
    QVERIFY(!kivo::createFolder("deep/er/folder"));   // one level only
    QVERIFY(kivo::deleteFile(f.write("x")));
    QVERIFY(!kivo::deleteFile("x"));
    QVERIFY(!kivo::deleteFile("backup"));  // never a folder
    QVERIFY(kivo::folderExists("backup") && !kivo::fileExists("backup"));
    QVERIFY(!kivo::setCurrentFolder("missing"));
    QCOMPARE(kivo::currentFolder(), f.path());
  }

  void findsFilesNamedInAnotherCase() {
    TempProgramFolder f;
    f.write("gfx/Themes/Vista Black/ButtonMinOff.gif", "gif");
    QCOMPARE(kivo::findIgnoringCase("gfx/Themes/Vista black/ButtonMinOff.gif"),
             QString("gfx/Themes/Vista Black/ButtonMinOff.gif"));
    QCOMPARE(kivo::findIgnoringCase(f.path() + "/GFX/themes/vista black/buttonminoff.GIF"),
             f.path() + "/gfx/Themes/Vista Black/ButtonMinOff.gif");
    // Nothing matches: the path comes back as given, so the caller's error names it.
    QCOMPARE(kivo::findIgnoringCase("gfx/Themes/Vista Gold/x.gif"), QString("gfx/Themes/Vista Gold/x.gif"));
    QCOMPARE(kivo::native("bin\\ciso.exe"), QString("bin/ciso.exe"));
  }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "test_platform.moc"

// The PC - PSP link page: the five command lines, the press look, and the registry backup and
// restore on real files, full disks included.
#include "link/linkpage.h"
#include "shell/clicklabel.h"
#include "link/registrybackup.h"
#include "shell/folderguard.h"
#include "shell/safefile.h"
#include "shell/tests/kit/fakes.h"
#include "shell/tests/kit/fulldisk.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace kivo::testing;

namespace {

QByteArray slurp(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

}  // namespace

class LinkPageTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { kivo::installFontSubstitutes(); }

  void aBackupKilledBeforeItsRenamesIsSetRightAtStart() {
    TempProgramFolder program;
    const QString set = program.filePath("backup/registry/1-12-2026");
    program.write("backup/registry/1-12-2026/system.dreg", "old dreg");
    program.write("backup/registry/1-12-2026/system.ireg", "old ireg");
    const QString dreg = program.write("flash1/registry/system.dreg", "new dreg");
    const QString ireg = program.write("flash1/registry/system.ireg", "new ireg");
    const pid_t killed = fork();
    if (killed == 0) {
      kivo::copyPairSafely(dreg, set + "/system.dreg", ireg, set + "/system.ireg", nullptr, [] { _exit(0); });
      _exit(1);
    }
    int status = 0;
    waitpid(killed, &status, 0);
    QCOMPARE(WEXITSTATUS(status), 0);
    QVERIFY(QDir(set).entryList(QDir::Files | QDir::Hidden).size() > 2);  // what the killed run left
    // Kivo starts: the set is whole again, with nothing beside it, before anyone restores it.
    FakeServices fakes;
    TFrame3 page(fakes.services);
    QCOMPARE(QDir(set).entryList(QDir::Files | QDir::Hidden), (QStringList{"system.dreg", "system.ireg"}));
    QCOMPARE(slurp(set + "/system.dreg") + slurp(set + "/system.ireg"), QByteArray("old dregold ireg"));
  }

  void startsAndTheirLines() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame3 page(fakes.services);
    QCOMPARE(page.groupUSB->title(), " USBhost ");
    QCOMPARE(page.GroupBox2->title(), " Registry backup ");
    QVERIFY(!page.bakdone->isVisibleTo(&page) && !page.resdone->isVisibleTo(&page) &&
            !page.resnobak->isVisibleTo(&page));
    for (QLineEdit* box : page.findChildren<QLineEdit*>()) {
      const auto buddies = page.findChildren<QLabel*>();
      QVERIFY2(std::any_of(buddies.begin(), buddies.end(), [&](QLabel* l) { return l->buddy() == box; }),
               qPrintable(box->objectName()));
    }

    page.usbStartClick();
    page.netstartClick();
    page.keybusbClick();
    page.keybnetClick();
    page.Label7Click();
    // What the user typed arrives as one argument each: blanks, a quote, empty text.
    page.usbpath->setText("/cygdrive/C/My Games/");
    page.usbStartClick();
    page.netport->setText("75 13");
    page.netpwd->setText("");
    page.netpath->setText("/cygdrive/C/a\"b");
    page.netstartClick();
    page.usbpath->clear();
    page.usbStartClick();
    QCOMPARE(fakes.runner.commandLines(), (QStringList{
                                              "bin/usb.exe \"/cygdrive/C/\"",
                                              "bin/net.exe -p 7513 -l 6195 \"/cygdrive/C/\"",
                                              "bin/usbkey.exe",
                                              "bin/netkey.exe -s",
                                              "notepad keyboardSetup.cfg",
                                              "bin/usb.exe \"/cygdrive/C/My Games/\"",
                                              "bin/net.exe -p \"75 13\" -l \"\" \"/cygdrive/C/a\\\"b\"",
                                              "bin/usb.exe \"\"",
                                          }));
    QCOMPARE(splitArguments(fakes.runner.commandLines()[6]),
             (QStringList{"-p", "75 13", "-l", "", "/cygdrive/C/a\"b"}));
    const std::vector<int> shows{1, 1, 2, 2, 1, 1, 1, 1};
    for (size_t i = 0; i < shows.size(); ++i) {
      QCOMPARE(fakes.runner.starts[i].kind, StartRecord::StartAndForget);
      QCOMPARE(fakes.runner.starts[i].showState, shows[i]);
      QCOMPARE(fakes.runner.starts[i].currentFolder, program.path());
    }
  }

  void hostileTextsReachTheHostsAsOneArgumentEach() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame3 page(fakes.services);
    for (const QString& text : hostileTexts()) {
      fakes.runner.starts.clear();
      page.usbpath->setText(text);
      page.netport->setText(text);
      page.netpwd->setText(text + "pw");
      page.netpath->setText("/cygdrive/" + text);
      page.usbStartClick();
      page.netstartClick();
      QCOMPARE(fakes.runner.starts.size(), size_t(2));
      QCOMPARE(splitArguments(fakes.runner.starts[0].commandLine), QStringList{page.usbpath->text()});
      QCOMPARE(splitArguments(fakes.runner.starts[1].commandLine),
               (QStringList{"-p", page.netport->text(), "-l", page.netpwd->text(), page.netpath->text()}));
    }
    QVERIFY(fakes.messages.boxes.empty());
  }

  void linksMoveWhilePressed() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame3 page(fakes.services);
    QCOMPARE(page.regbackup->pos(), QPoint(8, 88));
    QTest::mousePress(page.regbackup, Qt::RightButton, {}, QPoint(3, 3));
    QCOMPARE(page.regbackup->pos(), QPoint(9, 89));
    QTest::mouseRelease(page.regbackup, Qt::RightButton, {}, QPoint(3, 3));
    QCOMPARE(page.regbackup->pos(), QPoint(8, 88));

    for (kivo::ClickLabel* l : {page.usbStart, page.netstart, page.keybusb, page.keybnet, page.Label7, page.regrestore}) {
      const QPoint home = l->pos();
      QTest::mousePress(l, Qt::LeftButton, {}, QPoint(2, 2));
      QCOMPARE(l->pos(), home + QPoint(1, 1));
      QTest::mouseRelease(l, Qt::LeftButton, {}, QPoint(2, 2));
      QCOMPARE(l->pos(), home);
    }
    // Each left press and release over a link was a click: the five starts, then one more.
    QCOMPARE(fakes.runner.starts.size(), size_t(5));
    QTest::mouseClick(page.usbStart, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(fakes.runner.commandLines().last(), "bin/usb.exe \"/cygdrive/C/\"");
  }

  void backupAndRestoreWithSlashDates() {
    TempProgramFolder program;
    QTemporaryDir psp;
    const QString drive = psp.path() + "/";
    QDir().mkpath(drive + "registry");
    auto writePsp = [&](const QByteArray& dreg, const QByteArray& ireg) {
      QFile a(drive + "registry/system.dreg"), b(drive + "registry/system.ireg");
      QVERIFY(a.open(QIODevice::WriteOnly) && a.write(dreg) == dreg.size());
      QVERIFY(b.open(QIODevice::WriteOnly) && b.write(ireg) == ireg.size());
    };
    writePsp("dreg-1", "ireg-1");

    FakeServices fakes;
    fakes.clock.date = QDate(2026, 12, 8);
    fakes.clock.loc = QLocale(QLocale::English, QLocale::UnitedStates);  // short date 12/8/26
    TFrame3 page(fakes.services);
    page.drive->setText(drive);

    page.regbackupClick();
    QVERIFY(page.bakdone->isVisibleTo(&page));
    QCOMPARE(program.read("backup/registry/12-8-26/system.dreg"), QByteArray("dreg-1"));
    QCOMPARE(program.read("backup/registry/12-8-26/system.ireg"), QByteArray("ireg-1"));

    // The same day again replaces the set's files.
    writePsp("dreg-2", "ireg-2");
    page.regbackupClick();
    QCOMPARE(program.read("backup/registry/12-8-26/system.dreg"), QByteArray("dreg-2"));

    // The date as the user writes it finds the set; the PSP gets the set's files back.
    writePsp("broken", "broken");
    page.resdate->setText("12/8/26");
    page.regrestoreClick();
    QVERIFY(page.resdone->isVisibleTo(&page));
    QVERIFY(!page.resnobak->isVisibleTo(&page));
    QCOMPARE(slurp(drive + "registry/system.dreg"), QByteArray("dreg-2"));
    QCOMPARE(slurp(drive + "registry/system.ireg"), QByteArray("ireg-2"));
    // Nothing is left beside the PSP's files.
    QCOMPARE(QDir(drive + "registry").entryList(QDir::Files | QDir::Hidden).size(), 2);

    // Copies onto a PSP without its registry folder fail; the label says so, then changes
    // to "No backup found!" for a date without a set. "...done!" stays shown throughout.
    page.drive->setText(drive + "gone/");
    page.regrestoreClick();
    QVERIFY(page.resnobak->isVisibleTo(&page));
    QCOMPARE(page.resnobak->text(), "Error while copying!");
    page.resdate->setText("d-m-yyyy");
    page.regrestoreClick();
    QCOMPARE(page.resnobak->text(), "No backup found!");
    QVERIFY(page.resdone->isVisibleTo(&page));
    QVERIFY(fakes.messages.boxes.empty());
    QVERIFY(fakes.runner.starts.empty());
  }

  void backupFailures() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame3 page(fakes.services);
    page.drive->setText(program.path() + "/nopsp/");

    // No PSP files: nothing to show, but the folders are made.
    page.regbackupClick();
    QVERIFY(!page.bakdone->isVisibleTo(&page));
    QVERIFY(QFileInfo(program.filePath("backup/registry/8-12-2026")).isDir());
    // Nor is "...done!" shown for an earlier set of the day, which stays as it was.
    program.write("backup/registry/8-12-2026/system.dreg", "earlier");
    page.regbackupClick();
    QVERIFY(!page.bakdone->isVisibleTo(&page));
    QCOMPARE(program.read("backup/registry/8-12-2026/system.dreg"), QByteArray("earlier"));

    // A folder that cannot be made ends the handler in the error box, before any copy.
    QVERIFY(QDir(program.filePath("backup")).removeRecursively());
    program.write("backup", "a file in the way");
    program.write("nopsp/registry/system.dreg", "d");
    page.regbackupClick();
    QCOMPARE(fakes.messages.errors(), QStringList{"Cannot create backup"});
    QVERIFY(!page.bakdone->isVisibleTo(&page));
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void namedDatesGoByTheHintsNumbers() {
    // The C locale writes "8 Dec 2026"; the set is named the way the date box asks for it.
    TempProgramFolder program;
    QTemporaryDir psp;
    const QString drive = psp.path() + "/";
    const QString dreg = drive + "registry/system.dreg";
    QDir().mkpath(drive + "registry");
    QFile::copy(program.write("d", "dreg"), dreg);
    QFile::copy(program.write("i", "ireg"), drive + "registry/system.ireg");
    FakeServices fakes;
    TFrame3 page(fakes.services);
    page.drive->setText(drive);
    page.regbackupClick();
    QVERIFY(page.bakdone->isVisibleTo(&page));
    QCOMPARE(program.read("backup/registry/8-12-2026/system.dreg"), QByteArray("dreg"));
    QFile::remove(dreg);
    page.resdate->setText("8-12-2026");
    page.regrestoreClick();
    QVERIFY(page.resdone->isVisibleTo(&page));
    QCOMPARE(slurp(dreg), QByteArray("dreg"));
    // A numeric short form is used as it comes.
    QCOMPARE(kivo::registry::backupSetName(QDate(2026, 12, 8), QLocale(QLocale::German, QLocale::Germany)),
             QString("08.12.26"));
  }

  void aFullFlash1KeepsItsRegistryPair() {
    const QByteArray oldD = "old dreg, as the PSP wrote it", oldI = "old ireg, as the PSP wrote it";
    const QByteArray newD(5000, 'd'), newI(3000, 'i');
    // Restore onto a full flash1: "Error while copying!", and the PSP's pair as it was.
    FullDisk::eachKind([&](FullDisk& flash1) {
      TempProgramFolder program;
      program.write("backup/registry/7-12-2026/system.dreg", newD);
      program.write("backup/registry/7-12-2026/system.ireg", newI);
      flash1.write("registry/system.dreg", oldD);
      flash1.write("registry/system.ireg", oldI);
      FakeServices fakes;
      TFrame3 page(fakes.services);
      page.drive->setText(flash1.path() + "/");
      page.resdate->setText("7-12-2026");
      const QString seen = flash1.run([&] {
        page.regrestoreClick();
        return QString("%1|%2|%3").arg(page.resdone->isVisibleTo(&page)).arg(page.resnobak->text(),
                                                                              fakes.messages.errors().join(','));
      });
      QCOMPARE(seen, QString("0|Error while copying!|"));
      QCOMPARE(slurp(flash1.filePath("registry/system.dreg")), oldD);
      QCOMPARE(slurp(flash1.filePath("registry/system.ireg")), oldI);
      QCOMPARE(QDir(flash1.filePath("registry")).entryList(QDir::Files | QDir::Hidden),
               (QStringList{"system.dreg", "system.ireg"}));
    });
  }

  void aFullPcDiskKeepsTheDaysBackupSet() {
    const QByteArray oldD = "old dreg, as the PSP wrote it", oldI = "old ireg, as the PSP wrote it";
    const QByteArray newD(5000, 'd'), newI(3000, 'i');
    // Backup onto a full PC disk: an error box, no "...done!", and the day's set as it was.
    FullDisk::eachKind([&](FullDisk& pc) {
      QTemporaryDir psp;
      const QString drive = psp.path() + "/";
      QDir().mkpath(drive + "registry");
      for (auto [name, bytes] : {std::pair{"system.dreg", newD}, {"system.ireg", newI}}) {
        QFile file(drive + "registry/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
      }
      pc.write("backup/registry/8-12-2026/system.dreg", oldD);
      pc.write("backup/registry/8-12-2026/system.ireg", oldI);
      kivo::CurrentFolderGuard back;
      QDir::setCurrent(pc.path());
      FakeServices fakes;
      TFrame3 page(fakes.services);
      page.drive->setText(drive);
      const QString seen = pc.run([&] {
        page.regbackupClick();
        return QString("%1|%2").arg(page.bakdone->isVisibleTo(&page)).arg(fakes.messages.errors().join(','));
      });
      QVERIFY2(seen.startsWith("0|The registry backup could not be written; the backup folder was left as it was. "
                               "Cannot write"),
               qPrintable(seen));
      QCOMPARE(slurp(pc.filePath("backup/registry/8-12-2026/system.dreg")), oldD);
      QCOMPARE(slurp(pc.filePath("backup/registry/8-12-2026/system.ireg")), oldI);
      QCOMPARE(QDir(pc.filePath("backup/registry/8-12-2026")).entryList(QDir::Files | QDir::Hidden),
               (QStringList{"system.dreg", "system.ireg"}));
    });
  }
};

QTEST_MAIN(LinkPageTest)
#include "test_linkpage.moc"

// What a Linux user meets in the first minutes, driven through the main window: the message for
// a missing tool, notifications only while Kivo is out of sight, the activity view's long lines
// and banner, "Show in folder" without a file manager, the PSP's drives offered in the drive
// boxes, "Edit controls" on a file of the user's own, and where file dialogs open.
#include "shell/activityhost.h"
#include "shell/activityview.h"
#include "shell/clicklabel.h"
#include "shell/filedialog.h"
#include "shell/formMain.h"
#include "shell/mounts.h"
#include "shell/page.h"
#include "shell/processrunner.h"
#include "shell/realservices.h"
#include "shell/tests/kit/fakes.h"
#include "shell/userfolder.h"
#include "convert/convertpage.h"
#include "link/linkpage.h"
#include "stick/pluginspage.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

using namespace kivo;
using namespace kivo::testing;

namespace {

class RecordingNotifier : public Notifier {
public:
  void notify(const Notice& notice) override { summaries << notice.summary; }
  QStringList summaries;
};

// The window with the real runner and its activity view, as the program has them.
struct RealWindow {
  FakeServices fakes;
  FakePlayer player;
  ProcessRunner runner;
  Services services{runner, fakes.dialogs, fakes.messages, fakes.clock};
  RecordingNotifier notifier;
  TfrmMain w{services, player, {}};
  ActivityHost* host = new ActivityHost(&w, runner, notifier, [this] { return presenceOf(&w); });
  const JobEntry& last() { return runner.activity().entries().back(); }
};

}  // namespace

class LinuxDesktopTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { installFontSubstitutes(); }

  // "Cannot start bin/usb.exe: it was not found" named a Windows file and a relative folder.
  void aMissingToolIsNamedWithItsFolderAndPurpose() {
    TempProgramFolder program;
    RealWindow r;
    r.w.LabelLinkClick();
    QTest::mouseClick(r.w.Frame3->usbStart, Qt::LeftButton);
    QTRY_VERIFY(!r.runner.activity().entries().empty() && r.last().finished());
    const QString tools = QDir(program.path()).filePath("bin");
    QCOMPARE(r.last().failure,
             QStringLiteral("Kivo cannot start usb.exe, the USB host: it is not in the tool folder %1. Put the "
                            "program there as usb (or usb.exe); it serves a folder of the PC to a PSP attached by "
                            "USB, as its host0:.")
                 .arg(tools));
    QCOMPARE(r.host->view->panel(r.last().id)->messages->text(), r.last().failure);
    // The keyboard redirectors have no Linux version: nothing to put anywhere.
    QTest::mouseClick(r.w.Frame3->keybnet, Qt::LeftButton);
    QTRY_VERIFY(r.last().finished());
    QCOMPARE(r.last().failure, QStringLiteral("Kivo cannot start netkey.exe. Network keyboard redirect: passes the "
                                              "PC's keyboard to IRshell on a PSP over the network. There is no Linux "
                                              "version of it."));
    r.runner.startAndForget(QStringLiteral("bin\\usbkey.exe"), SW_SHOWMINIMIZED);
    QTRY_VERIFY(r.last().finished());
    QVERIFY(r.last().failure.endsWith(QStringLiteral(
        "USB keyboard redirect: passes the PC's keyboard to IRshell on a PSP attached by USB. There is no Linux "
        "version of it.")));
    // A Windows script gets a plain word of its own.
    QVERIFY(QDir::setCurrent(tools));
    r.runner.runAndWait(QStringLiteral("doit.cmd"), SW_SHOWMINIMIZED);
    QCOMPARE(r.last().failure, QStringLiteral("doit.cmd, the top-menu builder's script, is a Windows script, and it "
                                              "is not in the tool folder %1. Here Kivo runs a shell script of that "
                                              "name from that folder instead; it starts the doit program beside "
                                              "it, which builds topmenu_plugin.rco from 1.bmp to 6.bmp.")
                                   .arg(tools));
    r.runner.runAndWait(QStringLiteral("bin\\pgf.exe a.ttf ltn0.pgf"), SW_SHOWMINIMIZED);
    QVERIFY(r.last().failure.endsWith(QStringLiteral(
        "Put the program there as pgf (or pgf.exe); it turns a TrueType or OpenType font into the PSP's Latin font "
        "ltn0.pgf.")));
  }

  // A failure is told by the view beside a window in sight, by a notification only while Kivo is
  // minimised or in the tray (a Save dialog that just closed leaves no window active at all).
  void failuresAreNotifiedOnlyOutOfSight() {
    TempProgramFolder program;
    RealWindow r;
    r.w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&r.w));
    QApplication::setActiveWindow(nullptr);  // as after a Save dialog, or with another program in front
    QCOMPARE(presenceOf(&r.w), WindowPresence::Behind);
    r.runner.startAndForget(QStringLiteral("\"bin\\missing.exe\""), SW_SHOWNORMAL);
    QTRY_VERIFY(r.host->view->isVisible());
    QVERIFY(r.notifier.summaries.isEmpty());
    r.w.hide();
    r.host->view->hide();
    r.runner.startAndForget(QStringLiteral("\"bin\\missing.exe\""), SW_SHOWNORMAL);
    QTRY_COMPARE(r.notifier.summaries, QStringList{"missing.exe failed"});
  }

  // A job that reads many files must not push its state out of the view, and the red banner of a
  // failure goes once a later job ends well.
  void longLinesStayInTheViewAndTheBannerFollowsTheJobs() {
    TempProgramFolder program;
    ToolActivity activity;
    ActivityView view(activity);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QStringList reads;
    for (int i = 0; i < 40; ++i) reads << QStringLiteral("/games/a long name of a disc image number %1.iso").arg(i);
    const int many = activity.begin({QStringLiteral("Many discs"), reads, QStringLiteral("/games/out.pbp")}, "psx", false);
    activity.addOutput(many, QByteArray(3000, 'x') + "\n", ToolActivity::Stream::Err);
    QTest::qWait(50);
    auto* scroll = view.findChild<QScrollArea*>("jobs");
    QVERIFY(!scroll->horizontalScrollBar()->isVisible());
    JobPanel* p = view.panel(many);
    QVERIFY(p->files->text().startsWith("Reads a long name"));  // the whole line, cut only on screen
    const QRect state(p->state->mapTo(scroll->viewport(), QPoint(0, 0)), p->state->size());
    QVERIFY(scroll->viewport()->rect().contains(state));

    const int bad = activity.begin({QStringLiteral("DAX to ISO"), {}, {}}, "dax", false);
    activity.addOutput(bad, "dax: not a DAX image\n", ToolActivity::Stream::Err);
    activity.finish(bad, 2, false);
    QVERIFY(view.banner->isVisibleTo(&view));
    const int good = activity.begin({QStringLiteral("CSO to ISO"), {}, program.filePath("done.iso")}, "ciso", false);
    program.write("done.iso", "iso");
    activity.finish(good, 0, false);
    QVERIFY(!view.banner->isVisibleTo(&view));
    // The failure ending later brings it back; removing that job takes it away.
    activity.finish(many, 2, false);
    QVERIFY(view.banner->isVisibleTo(&view));
    QVERIFY(view.banner->text().startsWith("Many discs failed"));
    view.panel(many)->dismiss->click();
    QVERIFY(!view.banner->isVisibleTo(&view));
  }

  // Without a file manager the desktop's opener fails: the view says so, and where the file is.
  void showInFolderWithoutAFileManagerSaysSo() {
    TempProgramFolder program;
    const QString opener = program.write("path/xdg-open", "#!/bin/sh\necho 'xdg-open: no method available' >&2\nexit 3\n");
    QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH"), bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("PATH", QFile::encodeName(program.filePath("path")) + ":" + path);
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    RealWindow r;
    const int id =
        r.runner.activity().begin({QStringLiteral("CSO to ISO"), {}, program.filePath("games/done.iso")}, "ciso", false);
    program.write("games/done.iso", "iso");
    r.runner.activity().finish(id, 0, false);
    JobPanel* p = r.host->view->panel(id);
    p->showFile->click();
    QTRY_VERIFY(p->note->isVisibleTo(p));
    QCOMPARE(p->note->text(), QStringLiteral("No file manager could show the folder; the file is in %1")
                                  .arg(QDir(program.path()).filePath("games")));
    qputenv("PATH", path);
    if (!bus.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
  }

  // A mounted stick is offered wherever it is mounted, and its mount path works with or without
  // the closing slash, typed letter by letter as a user does.
  void thePspsDrivesAreOffered() {
    TempProgramFolder program;
    const QString stick = program.filePath("media/ana/PSP STICK");
    program.write("media/ana/PSP STICK/seplugins/vsh.txt", "ms0:/seplugins/a.prx\r\n");
    program.write("media/ana/PSP STICK/seplugins/game.txt");
    program.write("media/ana/PSP STICK/seplugins/pops.txt");
    program.write("media/ana/PSP STICK/seplugins/a.prx", "prx");
    program.write("media/flash1/registry/system.dreg", "reg");
    program.write("media/usb disk/music/a.mp3");
    QString escaped = stick;
    escaped.replace(' ', "\\040");
    const QString table = program.write(
        "mounts", ("sysfs /sys sysfs rw 0 0\n/dev/sdb1 " + escaped + " vfat rw,uid=1000 0 0\n/dev/sdc1 " +
                   program.filePath("media/flash1") + " vfat rw 0 0\n/dev/sdd1 " +
                   program.filePath("media/usb\\040disk") + " ext4 rw 0 0\n//nas/share " + program.filePath("media") +
                   " cifs rw 0 0\n")
                      .toUtf8());
    setMountTablePath(table);
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    w.prxmanagerClick();
    TFrame5* page = w.Frame5;
    QCOMPARE(page->prxdrive->itemText(0), stick + "/");
    QVERIFY(page->prxdrive->findText(program.filePath("media/usb disk/")) < 0);
    page->prxdrive->lineEdit()->selectAll();
    QTest::keyClicks(page->prxdrive->lineEdit(), stick);
    QCOMPARE(page->mvsh->toPlainText(), QString("ms0:/seplugins/a.prx\n"));
    QCOMPARE(page->file1->count(), 1);
    QVERIFY(page->install->isEnabled() && page->radioVSH->isEnabled());
    QCOMPARE(page->lerror->text(), QString());  // "not found" on the way, not once it loaded

    // The registry group's drive box lists the flash partition (registry/) and the stick.
    w.LabelLinkClick();
    QLineEdit* drive = w.Frame3->drive;
    QCOMPARE(drive->text(), QString("E:\\"));
    auto* list = drive->findChild<QAction*>("driveListButton");
    QVERIFY(list);
    list->trigger();
    QAbstractItemView* popup = drive->completer()->popup();
    QTRY_VERIFY(popup->isVisible());
    QStringList offered;
    for (int i = 0; i < popup->model()->rowCount(); ++i) offered << popup->model()->index(i, 0).data().toString();
    QCOMPARE(offered.mid(0, 2), (QStringList{stick + "/", program.filePath("media/flash1/")}));
    QTest::mouseClick(popup->viewport(), Qt::LeftButton, {}, popup->visualRect(popup->model()->index(1, 0)).center());
    QCOMPARE(drive->text(), program.filePath("media/flash1/"));
    setMountTablePath(QStringLiteral("/proc/self/mounts"));
  }

  // "Edit controls" of an installed Kivo opens the user's own copy of keyboardSetup.cfg, which
  // they can save, not a link to the installation's file.
  void editControlsOpensAFileOfTheUsersOwn() {
    QTemporaryDir installed, home;
    QFile mark(installed.filePath(kInstalledMark));
    QVERIFY(QDir().mkpath(installed.filePath("etc")) && mark.open(QIODevice::WriteOnly));
    mark.close();
    QFile cfg(installed.filePath("keyboardSetup.cfg"));
    QVERIFY(cfg.open(QIODevice::WriteOnly) && cfg.write("keys") == 4);
    cfg.close();
    const QString copy = mirrorProgramFolder(installed.path(), home.path());
    QVERIFY(!copy.isEmpty());
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(copy));
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.LabelLinkClick();
    QTest::mouseClick(w.Frame3->Label7, Qt::LeftButton);
    QCOMPARE(fakes.runner.commandLines(), QStringList{"notepad keyboardSetup.cfg"});
    const QFileInfo opened(QDir(fakes.runner.starts.back().currentFolder).filePath("keyboardSetup.cfg"));
    QVERIFY(!opened.isSymLink());
    QVERIFY(opened.isWritable());
    QCOMPARE(opened.canonicalFilePath(), QFileInfo(copy + "/keyboardSetup.cfg").canonicalFilePath());
    QDir::setCurrent(saved);
  }

  // An installed Kivo's dialogs open in the home folder, not in its hidden copy of the program
  // folder; then in the folder last used in that dialog.
  void fileDialogsOpenWhereTheUserKeepsFiles() {
    TempProgramFolder program;  // stands for the user's copy, the current folder
    QTemporaryDir home;
    const QString games = program.write("games/cheat.prx", "prx");
    setDialogStartFolder(dialogStartFolder(QStringLiteral("/usr/lib/kivo"), program.path()));
    QCOMPARE(dialogStartFolder(), QDir::homePath());
    QCOMPARE(dialogStartFolder(program.path(), program.path()), QString());  // a build's own folder: as described
    setDialogStartFolder(home.path());
    FakeServices fakes;
    FakePlayer player;
    QtDialogs dialogs;
    Services services{fakes.runner, dialogs, fakes.messages, fakes.clock};
    TfrmMain w(services, player, {});
    w.show();
    w.prxmanagerClick();
    QStringList openedIn;
    const auto answer = [&](const QString& pick) {
      QTimer::singleShot(0, [&openedIn, pick] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        openedIn << d->directory().absolutePath();
        if (pick.isEmpty()) {
          d->reject();
        } else {
          d->selectFile(pick);
          QMetaObject::invokeMethod(d, "accept");
        }
      });
    };
    answer(games);
    w.Frame5->Label1Click();
    QCOMPARE(w.Frame5->prxname->text(), games);
    answer({});
    w.Frame5->Label1Click();
    QCOMPARE(openedIn, (QStringList{QFileInfo(home.path()).canonicalFilePath(),
                                    QFileInfo(games).absolutePath()}));
    QCOMPARE(QDir::currentPath(), program.path());
    setDialogStartFolder({});
  }

  // kivo --open FILE, the file manager's "Open": the Convert page, ready and waiting for a click.
  void openingAnImageLeadsToItsConversion() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.openForConversion(QStringLiteral("/games/a b.cso"));
    QCOMPARE(w.currentPage(), w.Frame1);
    QVERIFY(w.Frame1->csoiso->isChecked());
    QCOMPARE(w.Frame1->source->text(), QString("/games/a b.cso"));
    QCOMPARE(w.Frame1->destination->text(), QString("/games/a b.iso"));
    w.openForConversion(QStringLiteral("/games/c.CHD"));
    QVERIFY(w.Frame1->chdiso->isChecked());
    QCOMPARE(w.Frame1->destination->text(), QString("/games/c.iso"));
    w.openForConversion(QStringLiteral("/games/EBOOT.PBP"));
    QCOMPARE(w.Frame1->rastlepbp->text(), QString("/games/EBOOT.PBP"));
    QCOMPARE(w.Frame1->rastleiso->text(), QString("/games/EBOOT.iso"));
    QVERIFY(fakes.runner.starts.empty());  // nothing converted
  }
};

QTEST_MAIN(LinuxDesktopTest)
#include "test_linuxdesktop.moc"

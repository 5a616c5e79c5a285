// The Plugins manager: list rewrites, the drive choice, installing and the arrow buttons, driven
// through the page with scripted dialogs on a memory stick made in a temporary folder.
#include "pluginlist.h"
#include "pluginspage.h"

#include "shell/clicklabel.h"
#include "shell/imgbtn.h"
#include "shell/tests/kit/fakes.h"
#include "shell/tests/kit/fulldisk.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QtTest>

using namespace kivo::testing;
using namespace kivo::stick;

namespace {

const QByteArray kFlagged = "ms0:/seplugins/b.prx 1\r\n";

// A program folder with a memory stick beside it: stick/seplugins with the three lists.
struct Stick {
  TempProgramFolder program;
  FakeServices fakes;
  TFrame5 page{fakes.services};
  QString drive = program.filePath(QStringLiteral("stick")) + QLatin1Char('/');

  Stick(bool lists = true) {
    program.write(QStringLiteral("stick/seplugins/b.prx"), "B");
    program.write(QStringLiteral("stick/seplugins/A.PRX"), "A");
    program.write(QStringLiteral("stick/seplugins/notes.txt"), "n");
    if (lists) {
      program.write(QStringLiteral("stick/seplugins/vsh.txt"), kFlagged);
      program.write(QStringLiteral("stick/seplugins/game.txt"), "ms0:/seplugins/g.prx\nms0:/seplugins/h.prx");
      program.write(QStringLiteral("stick/seplugins/pops.txt"), "");
    }
  }
  QByteArray list(const char* name) const { return program.read(QStringLiteral("stick/seplugins/") + name); }
  void choose(const QString& text) { page.prxdrive->setEditText(text); }
  QStringList files() const {
    QStringList out;
    for (int i = 0; i < page.file1->count(); ++i) out << page.file1->item(i)->text();
    return out;
  }
  bool atProgramFolder() const { return QDir::currentPath() == QDir(program.path()).canonicalPath() ||
                                        QDir::currentPath() == program.path(); }
};

}  // namespace

class PluginsPageTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { kivo::installFontSubstitutes(); }

  void startsWithTheDescribedControls() {
    FakeServices fakes;
    TFrame5 page(fakes.services);
    QCOMPARE(page.prxdrive->currentText(), QStringLiteral("     --- Click to select ---"));
    QVERIFY(page.prxdrive->isEditable() && page.prxdrive->isEnabled());
    QCOMPARE(page.prxname->text(), QStringLiteral("<No PRX selected yet>"));
    QCOMPARE(page.intro->toPlainText().split('\n').at(1),
             QStringLiteral("(the PRX files) directory. Just add one by opening it and voila, it's "));
    for (QWidget* w : std::initializer_list<QWidget*>{page.prxname, page.Label1, page.Label7, page.radioGame,
                                                      page.radioVSH, page.radioPops, page.justcopy, page.install,
                                                      page.file1, page.mvsh, page.mgame, page.mpops})
      QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    for (QWidget* w : std::initializer_list<QWidget*>{page.vshadd, page.gameadd, page.popsadd}) {
      QVERIFY(w->isEnabled());
      QCOMPARE(w->toolTip(), QStringLiteral("Select a plugin from the left and click this arrow to install it."));
    }
    QCOMPARE(page.mpops->toPlainText(), QStringLiteral("Please select your PSP folder."));
    QCOMPARE(page.open1.title(), QStringLiteral("Select your plugin..."));
    QCOMPARE(page.open1.filter(), QStringLiteral("Plugin files (*.prx)|*.prx"));
    // The dialog names the file type once, with its pattern.
    QCOMPARE(kivo::qtFilter(page.open1.filter()), QStringLiteral("Plugin files (*.prx)"));
    QCOMPARE(kivo::qtFilter(QStringLiteral("Bitmap images|*.bmp|All|*.*")), QStringLiteral("Bitmap images (*.bmp);;All (*.*)"));
    QCOMPARE(page.Label5->buddy(), page.prxdrive);
    QCOMPARE(page.Label3->buddy(), page.mvsh);
  }

  void rewritesAListFromItsBoxText_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("written");
    const QByteArray entry = "ms0:/seplugins/a.prx\r\n";
    QTest::newRow("flagged line survives") << kFlagged << kFlagged + entry;
    QTest::newRow("LF only") << QByteArray("x 1\ny\n") << "x 1\r\ny\r\n" + entry;
    QTest::newRow("lone CR") << QByteArray("x\ry") << "x\r\ny\r\n" + entry;
    QTest::newRow("no final break") << QByteArray("x") << "x\r\n" + entry;
    QTest::newRow("empty") << QByteArray() << entry;
    QTest::newRow("8-bit bytes kept") << QByteArray("ms0:/seplugins/\xE9t\xE9.prx\r\n") << "ms0:/seplugins/\xE9t\xE9.prx\r\n" + entry;
    QTest::newRow("duplicate allowed") << QByteArray(entry) << entry + entry;
  }
  void rewritesAListFromItsBoxText() {
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, written);
    // Through a real editor, as the page does: what it shows is what gets written.
    QPlainTextEdit box;
    box.setPlainText(boxTextFromList(file));
    QCOMPARE(composeList(box.document()->toRawText(), QStringLiteral("a.prx")), written);
  }

  void takesThePrxNameAfterTheLastSeparator() {
    QCOMPARE(prxFileName(QStringLiteral("C:\\downloads\\cheat.prx")), QStringLiteral("cheat.prx"));
    QCOMPARE(prxFileName(QStringLiteral("/home/u/x.prx")), QStringLiteral("x.prx"));
    QCOMPARE(prxFileName(QStringLiteral("E:cheat.prx")), QStringLiteral("cheat.prx"));
    QVERIFY(!isRealPrxName(prxFileName(QStringLiteral("/home/u/"))));
    QVERIFY(!isRealPrxName(kNoPrxYet));
  }

  void choosingADriveLoadsTheStick() {
    Stick s;
    s.choose(s.drive);
    QCOMPARE(s.files(), (QStringList{"A.PRX", "b.prx"}));
    QCOMPARE(s.page.mvsh->toPlainText(), QStringLiteral("ms0:/seplugins/b.prx 1\n"));
    QCOMPARE(s.page.mgame->toPlainText(), QStringLiteral("ms0:/seplugins/g.prx\nms0:/seplugins/h.prx"));
    QCOMPARE(s.page.mpops->toPlainText(), QString());
    for (QWidget* w : std::initializer_list<QWidget*>{s.page.prxname, s.page.Label1, s.page.radioGame, s.page.file1,
                                                      s.page.mpops, s.page.install, s.page.justcopy})
      QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(s.page.lerror->text().isEmpty());
    QVERIFY(s.atProgramFolder());
  }

  void failedDriveChoices_data() {
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QString>("vsh");
    QTest::addColumn<QString>("pops");
    const QString placeholder = QStringLiteral("Please select your PSP folder.");
    QTest::newRow("no pops.txt") << "pops.txt" << "ms0:/seplugins/b.prx 1\n" << placeholder;
    QTest::newRow("no vsh.txt") << "vsh.txt" << placeholder << placeholder;
    QTest::newRow("no seplugins") << "" << placeholder << placeholder;
    QTest::newRow("placeholder drive") << "-" << placeholder << placeholder;
  }
  void failedDriveChoices() {
    QFETCH(QString, missing);
    QFETCH(QString, vsh);
    QFETCH(QString, pops);
    Stick s;
    if (!missing.isEmpty() && missing != "-") QFile::remove(s.program.filePath("stick/seplugins/" + missing));
    if (missing.isEmpty()) QDir(s.program.filePath("stick/seplugins")).removeRecursively();
    s.choose(missing == "-" ? QStringLiteral("     --- Click to select ---") + " " : s.drive);
    QCOMPARE(s.page.lerror->text(), QStringLiteral("Plugin directory not found!"));
    QCOMPARE(s.page.mvsh->toPlainText(), vsh);
    QCOMPARE(s.page.mpops->toPlainText(), pops);
    QVERIFY(!s.page.install->isEnabled() && !s.page.mvsh->isEnabled());
    QVERIFY(s.atProgramFolder());
    QVERIFY(s.fakes.messages.boxes.empty());
  }

  void aLaterFailureKeepsTheEarlierLoadEnabled() {
    Stick s;
    s.choose(s.drive);
    s.choose(s.program.filePath("nowhere/"));
    QCOMPARE(s.page.lerror->text(), QStringLiteral("Plugin directory not found!"));
    QVERIFY(s.page.install->isEnabled());
    QCOMPARE(s.files(), (QStringList{"A.PRX", "b.prx"}));
    // A good choice later takes back "not found", which no longer holds; an install's error stays.
    s.choose(s.drive);
    QCOMPARE(s.page.lerror->text(), QString());
    s.page.lerror->setText(QStringLiteral("There was an error, sorry!"));
    s.choose(s.program.filePath("stick"));  // the same stick, its mount path as typed
    QCOMPARE(s.page.lerror->text(), QStringLiteral("There was an error, sorry!"));
  }

  void installsIntoEveryTickedList() {
    Stick s;
    const QString prx = s.program.write("downloads/a.prx", "PRX-A");
    s.choose(s.drive);
    s.page.prxname->setText(prx);
    s.page.radioVSH->setChecked(true);
    s.page.radioPops->setChecked(true);
    s.page.installClick();
    QCOMPARE(s.list("vsh.txt"), kFlagged + "ms0:/seplugins/a.prx\r\n");
    QCOMPARE(s.list("pops.txt"), QByteArray("ms0:/seplugins/a.prx\r\n"));
    QCOMPARE(s.list("game.txt"), QByteArray("ms0:/seplugins/g.prx\nms0:/seplugins/h.prx"));
    QCOMPARE(s.list("a.prx"), QByteArray("PRX-A"));
    QCOMPARE(s.page.mvsh->toPlainText(), QStringLiteral("ms0:/seplugins/b.prx 1\nms0:/seplugins/a.prx\n"));
    QCOMPARE(s.files().size(), 3);
    QVERIFY(s.files().contains("a.prx"));
    QVERIFY(s.page.lerror->text().isEmpty());
    QVERIFY(s.atProgramFolder());

    // A hand edit in the box is saved with the next add; the same PRX again gives a second line.
    s.page.mvsh->setPlainText(QStringLiteral("ms0:/seplugins/a.prx 1"));
    s.page.installClick();
    QCOMPARE(s.list("vsh.txt"), QByteArray("ms0:/seplugins/a.prx 1\r\nms0:/seplugins/a.prx\r\n"));
    QCOMPARE(s.list("pops.txt"), QByteArray("ms0:/seplugins/a.prx\r\nms0:/seplugins/a.prx\r\n"));
  }

  void aFailedListShowsItsTextAndTheNextStillInstalls() {
    Stick s;
    const QString prx = s.program.write("downloads/a.prx", "PRX-A");
    s.choose(s.drive);
    // game.txt turns into a folder: it can be neither written nor read back.
    QFile::remove(s.program.filePath("stick/seplugins/game.txt"));
    QDir().mkpath(s.program.filePath("stick/seplugins/game.txt"));
    s.page.prxname->setText(prx);
    s.page.radioGame->setChecked(true);
    s.page.radioPops->setChecked(true);
    s.page.installClick();
    QCOMPARE(s.page.lerror->text(), QStringLiteral("There was an error , sorry!"));
    QCOMPARE(s.list("pops.txt"), QByteArray("ms0:/seplugins/a.prx\r\n"));
    QVERIFY(s.fakes.messages.boxes.empty());
  }

  void installRefusesWithoutARealPrx_data() {
    QTest::addColumn<QString>("prx");
    QTest::newRow("placeholder") << kNoPrxYet;
    QTest::newRow("empty") << QString();
    QTest::newRow("folder only") << QStringLiteral("/tmp/");
    QTest::newRow("missing file") << QStringLiteral("/nonexistent/a.prx");
  }
  void installRefusesWithoutARealPrx() {
    QFETCH(QString, prx);
    Stick s;
    s.choose(s.drive);
    s.page.prxname->setText(prx);
    s.page.radioVSH->setChecked(true);
    s.page.installClick();
    QCOMPARE(s.fakes.messages.errors().size(), 1);
    QCOMPARE(s.list("vsh.txt"), kFlagged);
    // With nothing ticked there is nothing to refuse, and nothing changes.
    s.page.radioVSH->setChecked(false);
    s.page.installClick();
    QCOMPARE(s.fakes.messages.errors().size(), 1);
  }

  void justCopyCopiesOnly() {
    Stick s;
    const QString prx = s.program.write("downloads/c.prx", "PRX-C");
    s.choose(s.drive);
    s.page.radioVSH->setChecked(true);
    s.page.justcopy->setChecked(true);
    QVERIFY(!s.page.radioVSH->isChecked() && !s.page.radioVSH->isEnabled() && !s.page.radioGame->isEnabled());
    s.choose(s.drive);  // a new drive choice leaves the targets off while "Just copy" is ticked
    QVERIFY(!s.page.radioPops->isEnabled());
    s.page.prxname->setText(prx);
    s.page.installClick();
    QCOMPARE(s.list("c.prx"), QByteArray("PRX-C"));
    QCOMPARE(s.list("vsh.txt"), kFlagged);
    QVERIFY(s.files().contains("c.prx"));
    s.page.justcopy->setChecked(false);
    QVERIFY(s.page.radioVSH->isEnabled() && !s.page.radioVSH->isChecked());
  }

  void arrowsAddTheSelectedFile() {
    Stick s;
    s.choose(s.drive);
    s.page.file1->setCurrentRow(1);  // b.prx
    QTest::mouseClick(s.page.gameadd, Qt::LeftButton);
    QCOMPARE(s.list("game.txt"), QByteArray("ms0:/seplugins/g.prx\r\nms0:/seplugins/h.prx\r\nms0:/seplugins/b.prx\r\n"));
    s.page.vshaddClick();
    s.page.vshaddClick();
    QCOMPARE(s.list("vsh.txt"), kFlagged + "ms0:/seplugins/b.prx\r\nms0:/seplugins/b.prx\r\n");
    QVERIFY(s.fakes.messages.boxes.empty());
    QVERIFY(s.atProgramFolder());

    s.page.file1->clearSelection();
    s.page.popsaddClick();
    QCOMPARE(s.fakes.messages.errors().size(), 1);
    QCOMPARE(s.list("pops.txt"), QByteArray());
  }

  void anArrowWithoutADriveFailsInTheErrorBox() {
    Stick s;
    s.choose(s.drive);
    s.page.file1->setCurrentRow(0);
    s.choose(s.program.filePath("nowhere/"));
    s.page.vshaddClick();
    QCOMPARE(s.fakes.messages.errors().size(), 1);
    QVERIFY(!QFileInfo::exists(s.program.filePath("nowhere")));
  }

  void aBoxFromAnotherDriveIsNotWrittenToThisOne() {
    Stick s;
    s.choose(s.drive);
    // A second stick without pops.txt: its POPS box still shows the first stick's list.
    s.program.write("stick2/seplugins/z.prx", "Z");
    s.program.write("stick2/seplugins/vsh.txt", "");
    s.program.write("stick2/seplugins/game.txt", "");
    s.page.mpops->setPlainText(QStringLiteral("ms0:/seplugins/other.prx"));
    s.choose(s.program.filePath("stick2") + "/");
    s.page.file1->setCurrentRow(0);
    s.page.popsaddClick();
    QCOMPARE(s.program.read("stick2/seplugins/pops.txt"), QByteArray("ms0:/seplugins/z.prx\r\n"));
    QCOMPARE(s.page.mpops->toPlainText(), QStringLiteral("ms0:/seplugins/z.prx\n"));
  }

  void aFullStickLosesNothing() {
    const QByteArray vsh = kFlagged, game = "ms0:/seplugins/g.prx\r\n", pops = "ms0:/seplugins/p.prx\r\n";
    const QByteArray oldPrx = "the a.prx installed before", newPrx(70000, 'P');
    FullDisk::eachKind([&](FullDisk& stick) {
      TempProgramFolder program;
      const QString prx = program.write("downloads/a.prx", newPrx);
      stick.write("seplugins/vsh.txt", vsh);
      stick.write("seplugins/game.txt", game);
      stick.write("seplugins/pops.txt", pops);
      stick.write("seplugins/a.prx", oldPrx);
      FakeServices fakes;
      TFrame5 page(fakes.services);
      page.prxdrive->setEditText(stick.path() + "/");
      page.prxname->setText(prx);
      page.file1->setCurrentRow(0);
      const QString seen = stick.run([&] {
        QStringList seen;
        page.gameaddClick();
        seen << fakes.messages.errors().join(',') << page.mgame->toPlainText();
        for (QCheckBox* target : {page.radioVSH, page.radioGame, page.radioPops}) target->setChecked(true);
        page.installClick();
        seen << page.lerror->text();
        page.lerror->clear();
        page.justcopy->setChecked(true);
        page.installClick();
        seen << page.lerror->text();
        return seen.join('|');
      });
      const QString gameList = stick.filePath("seplugins/game.txt");
      QCOMPARE(seen, QString("Cannot write the plugin list \"%1\". Cannot write \"%1\": %2|"
                             "ms0:/seplugins/g.prx\n|There was an error, sorry!|There was an error, sorry!")
                         .arg(gameList, stick.reason()));
      // Every list and the installed PRX byte for byte as they were, and nothing beside them.
      QCOMPARE(fileBytes(stick.filePath("seplugins/vsh.txt")), vsh);
      QCOMPARE(fileBytes(gameList), game);
      QCOMPARE(fileBytes(stick.filePath("seplugins/pops.txt")), pops);
      QCOMPARE(fileBytes(stick.filePath("seplugins/a.prx")), oldPrx);
      QCOMPARE(QDir(stick.filePath("seplugins")).entryList(QDir::Files | QDir::Hidden),
               (QStringList{"a.prx", "game.txt", "pops.txt", "vsh.txt"}));
    });
  }

  void charactersAListCannotHoldAreNamedBeforeSaving() {
    Stick s;
    const QString prx = s.program.write("downloads/c.prx", "PRX-C");
    s.choose(s.drive);
    s.page.mvsh->setPlainText(QString::fromUtf8("ms0:/seplugins/b.prx 1\nms0:/seplugins/жук.prx ✓"));
    s.page.file1->setCurrentRow(0);
    s.page.vshaddClick();
    const QString expected = QString::fromUtf8("The VSH list holds characters that a plug-in list cannot store: "
                                               "\"жук✓\". Plug-in lists are 8-bit text; please remove them. "
                                               "Nothing was changed.");
    QCOMPARE(s.fakes.messages.errors(), QStringList{expected});
    // "Install!" says so before it copies anything.
    s.page.prxname->setText(prx);
    s.page.radioVSH->setChecked(true);
    s.page.installClick();
    QCOMPARE(s.fakes.messages.errors(), (QStringList{expected, expected}));
    QCOMPARE(s.list("vsh.txt"), kFlagged);
    QVERIFY(!QFileInfo::exists(s.program.filePath("stick/seplugins/c.prx")));
    // Latin-1 letters are 8-bit text and go in as they are.
    s.page.mvsh->setPlainText(QString::fromUtf8("ms0:/seplugins/café.prx"));
    s.page.installClick();
    QCOMPARE(s.list("vsh.txt"), QByteArray("ms0:/seplugins/caf\xe9.prx\r\nms0:/seplugins/c.prx\r\n"));
    // A PRX whose name a list cannot hold is refused for the lists; "Just copy" takes it as it is.
    const QString odd = s.program.write(QString::fromUtf8("downloads/жук.prx"), "PRX-Z");
    s.page.prxname->setText(odd);
    s.page.installClick();
    QCOMPARE(s.fakes.messages.errors().size(), 3);
    QVERIFY(s.fakes.messages.errors().last().startsWith(QString::fromUtf8("The plug-in's name \"жук.prx\"")));
    s.page.justcopy->setChecked(true);
    s.page.installClick();
    QCOMPARE(s.list("жук.prx"), QByteArray("PRX-Z"));
    QCOMPARE(s.fakes.messages.errors().size(), 3);
  }

  void theDriveBoxShowsWholeMountPoints() {
    Stick s;
    const QString longest = QStringLiteral("/run/media/somebody/PSP_STICK_WITH_A_LONG_LABEL/");
    s.page.prxdrive->addItem(longest);
    QAbstractItemView* list = s.page.prxdrive->view();
    QVERIFY(list->minimumWidth() > list->fontMetrics().horizontalAdvance(longest));
    QVERIFY(list->minimumWidth() > s.page.prxdrive->width());
    QCOMPARE(s.page.prxdrive->itemData(s.page.prxdrive->count() - 1, Qt::ToolTipRole).toString(), longest);
    s.page.prxdrive->setEditText(longest);
    QCOMPARE(s.page.prxdrive->toolTip(), longest);
  }

  void browseKeepsTheCurrentFolder() {
    Stick s;
    const QString prx = s.program.write("downloads/a.prx");
    s.fakes.dialogs.answers = {prx, std::nullopt};
    s.page.Label1Click();
    QCOMPARE(s.page.prxname->text(), prx);
    QVERIFY(s.atProgramFolder());
    s.page.Label1Click();  // cancelled: the dialog's last confirmed name again
    QCOMPARE(s.page.prxname->text(), prx);
    QVERIFY(s.atProgramFolder());
    QCOMPARE(s.fakes.dialogs.fileRequests.at(0).title, QStringLiteral("Select your plugin..."));
  }

  void linkLabelsShowThePressLook() {
    Stick s;
    s.choose(s.drive);
    for (QWidget* link : std::initializer_list<QWidget*>{s.page.install, s.page.Label1}) {
      const QPoint at = link->pos();
      QTest::mousePress(link, Qt::RightButton, {}, QPoint(2, 2));
      QCOMPARE(link->pos(), at + QPoint(1, 1));
      QTest::mouseRelease(link, Qt::RightButton, {}, QPoint(2, 2));
      QCOMPARE(link->pos(), at);
    }
  }
};

QTEST_MAIN(PluginsPageTest)
#include "test_pluginspage.moc"

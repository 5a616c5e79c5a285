// The Convert page driven through its controls, with scripted dialogs and the recording runner.
#include "convert/convertpage.h"
#include "shell/platform.h"
#include "shell/tests/kit/fakes.h"

#include "sfo.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QtTest>

using namespace kivo;
using namespace kivo::testing;

namespace {
QString png(const TempProgramFolder& program, const QString& name, QColor colour) {
  QImage image(8, 8, QImage::Format_RGB32);
  image.fill(colour);
  const QString path = program.filePath(name);
  QDir().mkpath(QFileInfo(path).absolutePath());
  image.save(path, "PNG");
  return path;
}

QColor centre(const QLabel* picture) {
  return picture->pixmap().toImage().pixelColor(picture->pixmap().width() / 2, picture->pixmap().height() / 2);
}

QStringList toolFiles(const TempProgramFolder& program) {
  return QDir(program.filePath("bin")).entryList(QDir::Files, QDir::Name);
}

// A PS1 EBOOT as the user's own would be, reduced to what psx looks at: the PBP header, a DATA.PSP
// that starts like a PSP module, and a DATA.PSAR that starts like a disc image.
QByteArray baseEboot(const QByteArray& module) {
  QByteArray file(40, 0);
  file.replace(0, 4, QByteArray("\0PBP", 4));
  const int psp = 40, psar = psp + module.size();
  for (int s = 0; s < 8; ++s) {
    const int at = s < 6 ? psp : s == 6 ? psp : psar;
    for (int b = 0; b < 4; ++b) file[8 + 4 * s + b] = char(at >> (8 * b));
  }
  return file + module + QByteArray("PSISOIMG0000") + QByteArray(64, 0);
}

// A disc image that genisoimage makes from the files given, under their paths in it.
QString discImage(const TempProgramFolder& program, const QString& name, const QString& volume,
                  const QMap<QString, QByteArray>& files) {
  const QString root = program.filePath(name + ".files");
  for (auto it = files.begin(); it != files.end(); ++it) program.write(name + ".files/" + it.key(), it.value());
  const int status = QProcess::execute("genisoimage", {"-quiet", "-V", volume, "-o", program.filePath(name), root});
  if (status != 0) qFatal("genisoimage failed");
  return program.filePath(name);
}

QByteArray pspSfo(const std::string& title, const std::string& id) {
  const std::vector<uint8_t> b = sfo::build({{"DISC_ID", false, id, 0, 16},
                                             {"PSP_SYSTEM_VER", false, "3.71", 0, 8},
                                             {"TITLE", false, title, 0, 128}});
  return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
}

QByteArray pngBytes(QColor colour) {
  QImage image(144, 80, QImage::Format_RGB32);
  image.fill(colour);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

QByteArray systemCnf(const char* boot) {
  return QByteArray("BOOT = cdrom:\\") + boot + ";1\r\nTCB = 4\r\n";
}

// A PS1 data track as a 2048-byte ISO: a volume, a root folder and SYSTEM.CNF booting bootFile.
QByteArray ps1Iso(const QByteArray& bootFile) {
  QByteArray iso(24 * 2048, '\0');
  auto put32 = [&](int at, quint32 v) {
    for (int i = 0; i < 4; ++i) iso[at + i] = char(v >> (8 * i));
  };
  const int pvd = 16 * 2048, root = 18 * 2048, cnf = 19 * 2048;
  iso[pvd] = 1;
  iso.replace(pvd + 1, 5, "CD001");
  put32(pvd + 80, 24);
  iso[pvd + 156] = 34;
  put32(pvd + 156 + 2, 18);
  put32(pvd + 156 + 10, 2048);
  const QByteArray text = "BOOT = cdrom:\\" + bootFile + ";1\r\n";
  int at = root;
  for (const QByteArray& name : {QByteArray(1, '\0'), QByteArray(1, '\1'), QByteArray("SYSTEM.CNF;1")}) {
    const int len = (33 + int(name.size()) + 1) & ~1;
    iso[at] = char(len);
    put32(at + 2, name == "SYSTEM.CNF;1" ? 19 : 18);
    put32(at + 10, name == "SYSTEM.CNF;1" ? quint32(text.size()) : 2048);
    iso[at + 25] = name == "SYSTEM.CNF;1" ? 0 : 2;
    iso[at + 32] = char(name.size());
    iso.replace(at + 33, int(name.size()), name);
    at += len;
  }
  iso.replace(cnf, int(text.size()), text);
  return iso;
}
}  // namespace

class ConvertPageTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { installFontSubstitutes(); }

  void startsWithTheDefaults() {
    FakeServices fakes;
    TFrame1 page(fakes.services);
    QCOMPARE(page.title->text(), QString("Convert your images"));
    QCOMPARE(page.intro1->toPlainText(),
             QString("In this section you can convert any image (images are \ndisks in a file) to a format the "
                     "PSP can read, or just \ncompress them to save memory stick space :) "));
    QCOMPARE(page.groupUMD->title(), QString(" UMD images "));
    QCOMPARE(page.groupPSX->title(), QString(" PSX images "));
    QCOMPARE(page.GroupBox1->title(), QString(" Decompress PSX eboots"));
    QVERIFY(page.isocso->isChecked());
    QCOMPARE(page.complvlbox->currentText(), QString("9"));
    QCOMPARE(page.complvlbox->count(), 9);
    QVERIFY(page.complvlbox->isEnabled());
    QCOMPARE(page.source->text(), QString("<no file selected>"));
    QCOMPARE(page.destination->text(), QString("<no file selected>"));
    QCOMPARE(page.PSXoutput->text(), QString("<no file selected>"));
    QCOMPARE(page.psxeboot->text(), QString("<no folder selected>"));
    QCOMPARE(page.PSXid1->currentText(), QString("SCUS"));
    QCOMPARE(page.PSXid1->count(), 9);
    QCOMPARE(page.PSXid1->itemText(8), QString("SCPS"));
    QVERIFY(page.psxcompbox->isChecked());
    QCOMPARE(page.PSXcomplvl->currentText(), QString("9"));
    QCOMPARE(page.snd0->toolTip(), QString("Select SND0.at3"));
    QVERIFY(page.rastlepbp->text().isEmpty() && page.rastleiso->text().isEmpty());

    // Dialogs: titles, filters, default extensions and presets.
    const auto check = [](const FileDialog& d, DialogKind kind, const char* title, const char* filter, const char* ext) {
      QCOMPARE(d.kind(), kind);
      QCOMPARE(d.title(), QString(title));
      QCOMPARE(d.filter(), QString(filter));
      QCOMPARE(d.defaultExt(), QString(ext));
    };
    // The described filters, then CHD.
    check(page.open1, DialogKind::Open, "Open your UMD image...", "*.ISO|*.ISO|*.CSO|*.CSO|*.DAX|*.DAX|*.CHD|*.CHD", "");
    check(page.save1, DialogKind::Save, "Save your UMD image to...", "*.CSO|*.CSO|*.ISO|*.ISO|*.DAX|*.DAX|*.CHD|*.CHD",
          "");
    check(page.openX, DialogKind::Open, "Open PSX image",
          "ISO images|*.iso|CUE sheets|*.cue|CloneCD sheets|*.ccd|Playlists of discs|*.m3u|CHD images|*.chd", ".ISO");
    QCOMPARE(page.isochd->text(), QString("ISO to CHD"));
    QCOMPARE(page.chdiso->text(), QString("CHD to ISO"));
    QCOMPARE(page.chdcso->text(), QString("CHD to CSO"));
    check(page.openPNG, DialogKind::Open, "Open a PNG image...", "PNG images|*.PNG", ".PNG");
    check(page.openICON0, DialogKind::Open, "Open a PNG image...", "PNG images|*.PNG", ".PNG");
    check(page.openAT3, DialogKind::Open, "Open an AT3 sound...", "AT3 media files|*.AT3", "");
    check(page.openPMF, DialogKind::Open, "Open a PMF movie...", "PMF movies|*.PMF", "");
    check(page.rastleopen, DialogKind::Open, "", "Packed PSX images|*.PBP", ".PBP");
    check(page.rastlesave, DialogKind::Save, "", "ISO images|*.ISO", ".ISO");
    QCOMPARE(page.rastleopen.fileName(), QString("EBOOT.PBP"));

    // Every edit and box can be named by a screen reader.
    QHash<QWidget*, QString> buddies;
    for (QLabel* l : page.findChildren<QLabel*>())
      if (l->buddy()) buddies[l->buddy()] = l->text();
    for (QWidget* w : page.findChildren<QWidget*>()) {
      if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w)) continue;
      if (qobject_cast<QComboBox*>(w->parentWidget())) continue;  // a combo box's own line edit
      QVERIFY2(buddies.contains(w) || !w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    }
  }

  void previewsStackLikeTheScreen() {
    FakeServices fakes;
    TFrame1 page(fakes.services);
    QCOMPARE(page.PIC1->geometry(), QRect(8, 17, 400, 227));
    QCOMPARE(page.PIC0->geometry(), QRect(144, 88, 257, 149));
    QCOMPARE(page.ICON0->geometry(), QRect(20, 87, 120, 67));
    QCOMPARE(page.shadow->size(), QSize(144, 91));
    QCOMPARE(page.bgline2->size(), QSize(402, 229));
    QCOMPARE(page.icon1->size(), QSize(48, 48));
    QCOMPARE(page.snd0->size(), QSize(48, 48));
    QVERIFY(page.bgline2->geometry().contains(page.PIC1->geometry()));
    QVERIFY(page.shadow->geometry().contains(page.ICON0->geometry()));
    // Everything lies inside PIC1's area, clear of the frame line drawn around it.
    for (QWidget* w : std::initializer_list<QWidget*>{page.PIC0, page.ICON0, page.shadow, page.icon1, page.snd0})
      QVERIFY2(page.PIC1->geometry().contains(w->geometry()), qPrintable(w->objectName()));
    QVERIFY(!page.PIC0->geometry().intersects(page.ICON0->geometry()));
    QVERIFY(page.PIC0->geometry().bottom() < page.PSXoutput->geometry().top());
    // Stacking order: PIC1 at the bottom, PIC0 on it, the icon's shadow and the icon on top.
    const QObjectList z = page.groupPSX->children();
    QVERIFY(z.indexOf(page.PIC1) < z.indexOf(page.PIC0));
    QVERIFY(z.indexOf(page.PIC0) < z.indexOf(page.shadow));
    QVERIFY(z.indexOf(page.shadow) < z.indexOf(page.ICON0));
    // What is hit at a point is what lies on top there: PIC1 keeps a free band at its top and left.
    QCOMPARE(page.groupPSX->childAt(page.PIC0->geometry().center()), page.PIC0);
    QCOMPARE(page.groupPSX->childAt(page.ICON0->geometry().center()), page.ICON0);
    QCOMPARE(page.groupPSX->childAt(QPoint(12, 21)), page.PIC1);
    QCOMPARE(page.groupPSX->childAt(QPoint(300, 40)), page.PIC1);
    QCOMPARE(page.groupPSX->childAt(page.shadow->geometry().topLeft() + QPoint(2, 2)), page.PIC1);
    // Every control sits inside its group, and the groups inside the page.
    for (QGroupBox* g : page.findChildren<QGroupBox*>()) {
      QVERIFY2(page.rect().contains(g->geometry()), qPrintable(g->objectName()));
      for (QWidget* w : g->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(g->rect().contains(w->geometry()), qPrintable(w->objectName()));
    }
  }

  void levelBoxFollowsTheConversion() {
    FakeServices fakes;
    TFrame1 page(fakes.services);
    page.complvlbox->setCurrentText("5");
    for (QRadioButton* off : {page.csoiso, page.daxiso, page.chdiso}) {
      page.isocso->click();
      off->click();
      QVERIFY(!page.complvlbox->isEnabled());
    }
    for (QRadioButton* on : {page.isocso, page.isodax, page.csodax, page.daxcso, page.isochd, page.chdcso}) {
      page.csoiso->click();
      on->click();
      QVERIFY(page.complvlbox->isEnabled());
    }
    QCOMPARE(page.complvlbox->currentText(), QString("5"));
  }

  void convertStartsTheSelectedConversion_data() {
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("default") << "isocso" << "9" << QStringList{R"("bin/ciso.exe" 9 "/g/a.iso" "rel.cso")"};
    QTest::newRow("iso-dax") << "isodax" << "9" << QStringList{R"("bin/dax.exe" -l9 "/g/a.iso" "rel.cso")"};
    QTest::newRow("cso-iso") << "csoiso" << "3" << QStringList{R"("bin/ciso.exe" 0 "/g/a.iso" "rel.cso")"};
    QTest::newRow("dax-iso") << "daxiso" << "3" << QStringList{R"("bin/dax.exe" -d "/g/a.iso" "rel.cso")"};
    QTest::newRow("cso-dax") << "csodax" << "1"
                             << QStringList{R"("bin/ciso.exe" 0 "/g/a.iso" "temp.iso")",
                                            R"("bin/dax.exe" -l1 "temp.iso" "rel.cso")"};
    QTest::newRow("cso-iso typed level") << "csoiso" << "x" << QStringList{R"("bin/ciso.exe" 0 "/g/a.iso" "rel.cso")"};
    QTest::newRow("iso-dax empty level") << "isodax" << "" << QStringList{R"("bin/dax.exe" -l "/g/a.iso" "rel.cso")"};
    QTest::newRow("dax-cso empty level") << "daxcso" << ""
                                         << QStringList{R"("bin/dax.exe" -d "/g/a.iso" "temp.iso")",
                                                        R"("bin/ciso.exe" "" "temp.iso" "rel.cso")"};
    QTest::newRow("iso-chd") << "isochd" << "9" << QStringList{R"("bin/ciso.exe" -f chd 9 "/g/a.iso" "rel.cso")"};
    QTest::newRow("chd-iso") << "chdiso" << "9" << QStringList{R"("bin/ciso.exe" 0 "/g/a.iso" "rel.cso")"};
    QTest::newRow("chd-cso") << "chdcso" << "4" << QStringList{R"("bin/ciso.exe" 4 "/g/a.iso" "rel.cso")"};
    QTest::newRow("iso-chd empty level") << "isochd" << ""
                                         << QStringList{R"("bin/ciso.exe" -f chd "" "/g/a.iso" "rel.cso")"};
  }
  void convertStartsTheSelectedConversion() {
    QFETCH(QString, radio);
    QFETCH(QString, level);
    QFETCH(QStringList, lines);
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    page.findChild<QRadioButton*>(radio)->click();
    page.complvlbox->setCurrentText(level);
    page.source->setText("/g/a.iso");
    page.destination->setText("rel.cso");
    QTest::mouseClick(page.convert, Qt::LeftButton);
    QCOMPARE(fakes.runner.commandLines(), lines);
    for (const StartRecord& s : fakes.runner.starts) {
      // Two-step conversions wait for each step; single steps run beside the program.
      QCOMPARE(s.kind, lines.size() == 2 ? StartRecord::RunAndWait : StartRecord::StartAndForget);
      QCOMPARE(s.showState, int(SW_SHOWNORMAL));
      QCOMPARE(s.currentFolder, program.path());
    }
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void hostileNamesReachTheToolsAsOneArgumentEach() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    for (const QString& name : hostileTexts()) {
      fakes.runner.starts.clear();
      page.complvlbox->setCurrentText("7");  // a level is a number (refused otherwise, below)
      page.source->setText(name);
      page.destination->setText(name + ".cso");
      const QString level = page.complvlbox->currentText(), in = page.source->text(), out = page.destination->text();
      page.isocso->click();
      page.convertClick();
      page.isodax->click();
      page.convertClick();
      page.daxcso->click();
      page.convertClick();
      page.isochd->click();
      page.convertClick();

      page.PSXtitle->setText(name);
      page.PSXid1->setCurrentText(name);
      page.PSXid2->setText(name);
      page.PSXcomplvl->setCurrentText(name);
      page.PSXoutput->setText(name + ".iso");
      page.psxgoClick();

      page.rastleiso->setText(name + ".iso");
      page.rastlepbp->setText(name);
      page.rastledoClick();

      const QList<QStringList> expected{
          {level, in, out},
          {"-l" + level, in, out},
          {"-d", in, "temp.iso"},
          {level, "temp.iso", out},
          {"-f", "chd", level, in, out},
          {page.PSXtitle->text(), page.PSXid1->currentText() + page.PSXid2->text(), page.PSXcomplvl->currentText(),
           page.PSXoutput->text()},
          {"-o", page.rastleiso->text(), page.rastlepbp->text()},
      };
      QCOMPARE(fakes.runner.starts.size(), size_t(expected.size()));
      for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(splitArguments(fakes.runner.starts[size_t(i)].commandLine), expected[i]);
    }
    QVERIFY(fakes.messages.boxes.empty());
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void aLevelThatIsNoNumberIsRefusedBeforeAnythingStarts() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    page.source->setText("a.iso");
    page.destination->setText("a.cso");
    const QStringList levels{"--output-dir=/tmp", "-9", "9 ", "nine"};
    for (const QString& level : levels) {
      page.complvlbox->setCurrentText(level);
      for (QRadioButton* conversion : {page.isocso, page.isodax, page.csodax, page.daxcso}) {
        conversion->click();
        page.convertClick();
      }
    }
    QVERIFY(fakes.runner.starts.empty());
    QCOMPARE(fakes.messages.errors().size(), 16);
    QCOMPARE(fakes.messages.errors().first(), QString("The compression level \"--output-dir=/tmp\" is not a number."));
    // A conversion that uses no level does not look at the box.
    page.csoiso->click();
    page.convertClick();
    QCOMPARE(fakes.runner.commandLines(), QStringList{R"("bin/ciso.exe" 0 "a.iso" "a.cso")"});
  }

  void aTextNoCommandLineCarriesStartsNothing() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    program.write("temp.iso", "kept");
    const QString broken = QString(QChar(0xDC00)) + "game.iso";
    page.daxcso->click();
    page.source->setText(broken);
    page.destination->setText("out.cso");
    page.convertClick();
    page.rastlepbp->setText(broken);
    page.rastledoClick();
    page.PSXoutput->setText(broken);
    page.psxgoClick();
    QVERIFY(fakes.runner.starts.empty());
    QCOMPARE(fakes.messages.errors().size(), 3);
    QVERIFY(fakes.messages.errors()[0].startsWith("This text cannot be passed to a tool"));
    QCOMPARE(program.read("temp.iso"), QByteArray("kept"));  // nothing of the conversion ran
    QCOMPARE(QDir::currentPath(), program.path());
  }

  // What the user sees of a job: one the handler waits for (CSO to DAX, two steps) and one
  // started beside the page (ISO to CSO), each ending in the four ways a job can end.
  void eachConversionReportsHowItEnded_data() {
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("outcome");
    for (const char* radio : {"csodax", "isocso"})
      for (const char* outcome : {"success", "status", "missing", "cancel"})
        QTest::newRow(qPrintable(QString("%1 %2").arg(radio, outcome))) << radio << outcome;
  }
  void eachConversionReportsHowItEnded() {
    QFETCH(QString, radio);
    QFETCH(QString, outcome);
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    RecordingRunner& runner = fakes.runner;
    const QString source = program.write("games/a.src", "image"), destination = program.filePath("games/a.out");
    const auto writeOutput = [&](const StartRecord& s) {
      QFile out(QDir::current().absoluteFilePath(s.job.writes));
      QVERIFY(out.open(QIODevice::WriteOnly) && out.write("image") == 5);
    };
    if (outcome == "success") runner.onStart = writeOutput;
    if (outcome == "status") {
      runner.exitCode = 2;
      runner.toolMessages = {"converting...", "tool: a.src is not an image of that kind"};
    }
    QString half;
    if (outcome == "cancel") {
      runner.onStart = [&](const StartRecord& s) {  // half of it, when the user cancels
        half = RecordingRunner::unfinished(s.job.writes);
        QFile out(half);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("ima") == 3);
      };
      runner.cancelStarts = 1;
    }
    page.findChild<QRadioButton*>(radio)->click();
    page.source->setText(source);
    page.destination->setText(destination);
    QTest::mouseClick(page.convert, Qt::LeftButton);

    const bool waited = radio == "csodax";
    const auto& entries = runner.activity.entries();
    QCOMPARE(int(entries.size()), outcome == "cancel" || !waited ? 1 : 2);  // a cancel ends the conversion
    const JobEntry& first = entries.front();
    QCOMPARE(first.waited, waited);
    QCOMPARE(first.title, waited ? QString("CSO to DAX, step 1 of 2") : QString("ISO to CSO"));
    QCOMPARE(first.reads, QStringList{source});
    QCOMPARE(first.writes, waited ? program.filePath("temp.iso") : destination);
    if (outcome == "success") {
      for (const JobEntry& e : entries) QCOMPARE(e.state, JobState::Succeeded);
      QCOMPARE(entries.back().result, destination);
      QCOMPARE(entries.back().resultSize, 5);
    } else if (outcome == "status") {
      for (const JobEntry& e : entries) QCOMPARE(e.state, JobState::Failed);
      QCOMPARE(first.failure, QString("tool: a.src is not an image of that kind"));
    } else if (outcome == "missing") {
      QCOMPARE(first.state, JobState::Failed);
      QCOMPARE(first.failure, QString("The tool ended without writing %1.").arg(first.writes));
    } else {
      QCOMPARE(first.state, JobState::Cancelled);
      QVERIFY(!QFile::exists(half));
      QVERIFY(!QFile::exists(first.writes));
      QVERIFY(!QFile::exists(destination));
    }
    QVERIFY(!QFile::exists(program.filePath("temp.iso")));  // CSO to DAX clears it however it went
    QVERIFY(fakes.messages.boxes.empty());                  // nothing of this comes in a box
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void makeIsoNamesWhatRastleWrites() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    page.rastlepbp->setText("/g/CRASH/EBOOT.PBP");
    page.rastleiso->setText("crash.iso");
    page.rastledoClick();
    page.rastleiso->clear();  // rastle then writes beside the input
    page.rastledoClick();
    const auto& entries = fakes.runner.activity.entries();
    QCOMPARE(entries[0].title, QString("EBOOT.PBP to ISO"));
    QCOMPARE(entries[0].reads, QStringList{"/g/CRASH/EBOOT.PBP"});
    QCOMPARE(entries[0].writes, program.filePath("bin/crash.iso"));  // relative to the tool folder
    QCOMPARE(entries[1].writes, QString("/g/CRASH/EBOOT.iso"));
  }

  void umdBrowseTakesTheDialogNames() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    program.write("games/a.iso");
    // First open ever cancelled: the input empties and the save dialog still follows.
    fakes.dialogs.answers = {std::nullopt, program.filePath("games/a.cso")};
    page.browse2Click();
    QCOMPARE(page.source->text(), QString());
    QCOMPARE(page.destination->text(), program.filePath("games/a.cso"));
    QCOMPARE(fakes.dialogs.fileRequests.size(), size_t(2));
    QCOMPARE(fakes.dialogs.fileRequests[1].kind, DialogKind::Save);
    QVERIFY(fakes.dialogs.fileRequests[1].showHidden);
    QCOMPARE(QDir::currentPath(), program.path());

    fakes.dialogs.answers = {program.filePath("games/a.iso"), std::nullopt};
    page.browse2Click();
    QCOMPARE(page.source->text(), program.filePath("games/a.iso"));
    QCOMPARE(page.destination->text(), program.filePath("games/a.cso"));  // cancelled: the last one confirmed
    QCOMPARE(QDir::currentPath(), program.path());

    // A typed name keeps the extension it was given.
    fakes.dialogs.answers = {program.filePath("games/b")};
    QTest::mouseClick(page.browse1, Qt::LeftButton);
    QCOMPARE(page.destination->text(), program.filePath("games/b"));
    QCOMPARE(fakes.dialogs.fileRequests.back().title, QString("Save your UMD image to..."));
    QCOMPARE(fakes.dialogs.fileRequests.back().fileName, program.filePath("games/a.cso"));
    QCOMPARE(QDir::currentPath(), program.path());

    // The tools start from the program folder after all those dialogs.
    page.convertClick();
    QCOMPARE(fakes.runner.starts.back().currentFolder, program.path());
  }

  void psxFieldsAndCompression() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    fakes.dialogs.answers = {program.filePath("games/crash")};
    QTest::mouseClick(page.psxbrowse, Qt::LeftButton);
    QCOMPARE(page.PSXoutput->text(), program.filePath("games/crash.ISO"));
    QVERIFY(fakes.dialogs.fileRequests.back().showHidden);
    QCOMPARE(QDir::currentPath(), program.path());

    page.PSXcomplvl->setCurrentText("4");
    page.psxcompbox->click();
    QVERIFY(!page.PSXcomplvl->isEnabled());
    QCOMPARE(page.PSXcomplvl->currentText(), QString("0"));
    page.psxgoClick();
    QCOMPARE(fakes.runner.commandLines().last(),
             QString(R"(psx.exe "" "SCUS" "0" "%1")").arg(program.filePath("games/crash.ISO")));
    page.psxcompbox->click();
    QVERIFY(page.PSXcomplvl->isEnabled());
    QCOMPARE(page.PSXcomplvl->currentText(), QString("9"));

    page.PSXid1->setCurrentText("SCES");
    page.PSXid2->setText("12345");
    page.PSXtitle->setText("Crash \"Bandicoot\"");
    QTest::mouseClick(page.psxgo, Qt::LeftButton);
    QCOMPARE(fakes.runner.commandLines().last(),
             QString("psx.exe \"Crash \\\"Bandicoot\\\"\" \"SCES12345\" \"9\" \"%1\"").arg(program.filePath("games/crash.ISO")));
    QCOMPARE(splitArguments(fakes.runner.commandLines().last()).first(), page.PSXtitle->text());
    QCOMPARE(fakes.runner.starts.back().currentFolder, program.filePath("bin"));
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void libCryptDataIsNamedOrMissedBesideMakeEboot() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    QVERIFY(page.psxlibcrypt->isHidden());
    QVERIFY(!page.psxlibcrypt->accessibleName().isEmpty());
    // The short line under the link (cut at the label's width in a wide font), whole sentences
    // in the tooltip.
    const auto line = [&] { return page.psxlibcrypt->text(); };
    const auto shown = [&](const char* text) {
      return page.psxlibcrypt->fontMetrics().elidedText(QString(text), Qt::ElideRight, page.psxlibcrypt->width());
    };
    const auto sentence = [&] { return page.psxlibcrypt->toolTip().section(QLatin1Char('\n'), 0, 0); };
    const QColor red(170, 30, 30), green(0, 110, 40);
    // One record: sector 0's times, changed.
    const QByteArray sbi = QByteArray("SBI\0\x00\x02\x00\x01\x41\x01\x01\x00\x00\x01\x00\x00\x02\x01", 18);

    // A disc known to check LibCrypt, without its data: a warning, in red, before the build.
    program.write("games/medievil.iso", ps1Iso("SCES_003.11"));
    page.PSXoutput->setText(program.filePath("games/medievil.iso"));
    QVERIFY(!page.psxlibcrypt->isHidden());
    QCOMPARE(line(), shown("No .sbi: LibCrypt disc"));
    QCOMPARE(sentence(), QString("No .sbi for LibCrypt disc SCES00311: the game may hang on the PSP."));
    QCOMPARE(page.psxlibcrypt->palette().color(QPalette::WindowText), red);
    QVERIFY(page.psxlibcrypt->toolTip().contains("no medievil.sbi lies beside it"));
    QCOMPARE(page.psxlibcrypt->accessibleDescription(), page.psxlibcrypt->toolTip());

    // With its .sbi beside it (any letter case): the group says it goes in.
    program.write("games/MEDIEVIL.SBI", sbi);
    page.PSXoutput->setText(program.filePath("games/medievil.ISO"));
    page.PSXoutput->setText(program.filePath("games/medievil.iso"));
    QCOMPARE(line(), shown("With LibCrypt data"));
    QCOMPARE(sentence(), QString("LibCrypt data from MEDIEVIL.SBI will be included."));
    QCOMPARE(page.psxlibcrypt->palette().color(QPalette::WindowText), green);

    // An .sbi psx would refuse is named before the build, its reason in the tooltip.
    program.write("games/MEDIEVIL.SBI", QByteArray("SBI\0\x00\x02\x00\x07", 8));
    page.PSXoutput->setText(program.filePath("games/medievil.ISO"));
    page.PSXoutput->setText(program.filePath("games/medievil.iso"));
    QCOMPARE(line(), shown("Unusable .sbi"));
    QCOMPARE(sentence(), QString("MEDIEVIL.SBI is not well formed: psx will refuse it."));
    QVERIFY2(page.psxlibcrypt->toolTip().contains("record 1 (at byte 4), sector 0 (00:02:00), is of type 7"),
             qPrintable(page.psxlibcrypt->toolTip()));
    program.write("games/MEDIEVIL.SBI", sbi);

    // A disc of no concern: nothing shown. A relative name is a file of the tool folder, as for psx.
    program.write("bin/other.iso", ps1Iso("SLUS_005.94"));
    page.PSXoutput->setText("other.iso");
    QVERIFY(page.psxlibcrypt->isHidden());
    program.write("bin/other.sbi", sbi);
    page.PSXoutput->setText("other.iso ");
    QCOMPARE(line(), shown("With LibCrypt data"));
    QVERIFY(page.psxlibcrypt->toolTip().startsWith("LibCrypt data from other.sbi will be included."));

    // A playlist: each disc on its own, the .sbi line after a disc counted to it.
    program.write("games/d2.iso", ps1Iso("SCES_020.04"));
    program.write("games/d3.iso", ps1Iso("SCES_020.05"));
    program.write("games/lc/d2.sbi", sbi);
    program.write("games/set.m3u", "medievil.iso\nd2.iso\nlc/d2.sbi\nd3.iso\n");
    page.PSXoutput->setText(program.filePath("games/set.m3u"));
    QCOMPARE(line(), shown("No .sbi for disc 3"));
    QCOMPARE(sentence(), QString("No .sbi for LibCrypt disc 3: the game may hang on the PSP."));
    QVERIFY(page.psxlibcrypt->toolTip().contains("Disc 2: LibCrypt data from"));
    QVERIFY(page.psxlibcrypt->toolTip().contains("Disc 3 (SCES02005) checks LibCrypt"));
    // Only some discs with data, none missing: those discs are named.
    program.write("games/plain.iso", ps1Iso("SLUS_005.94"));
    program.write("games/part.m3u", "plain.iso\nd2.iso\nlc/d2.sbi\n");
    page.PSXoutput->setText(program.filePath("games/part.m3u"));
    QCOMPARE(line(), shown("LibCrypt: disc 2"));
    QCOMPARE(sentence(), QString("LibCrypt data of disc 2 will be included."));
    page.PSXoutput->setText(program.filePath("games/set.m3u"));
    // An .sbi without a record, which psx takes as no data, is no better.
    program.write("games/d3.sbi", QByteArray("SBI\0", 4));
    page.PSXoutput->setText(program.filePath("games/set.m3u "));
    page.PSXoutput->setText(program.filePath("games/set.m3u"));
    QCOMPARE(line(), shown("No .sbi for disc 3"));
    QVERIFY(page.psxlibcrypt->toolTip().contains("Disc 3 (SCES02005) checks LibCrypt, and d3.sbi holds no record"));
    program.write("games/d3.sbi", sbi);
    page.PSXoutput->setText(program.filePath("games/set.m3u "));
    page.PSXoutput->setText(program.filePath("games/set.m3u"));
    QCOMPARE(line(), shown("With LibCrypt data"));
    QCOMPARE(sentence(), QString("LibCrypt data of discs 1, 2 and 3 will be included."));

    // The build itself asks nothing and runs the described command line.
    page.psxgoClick();
    QCOMPARE(fakes.runner.commandLines().last(),
             QString(R"(psx.exe "" "%1" "9" "%2")")
                 .arg(page.PSXid1->currentText() + page.PSXid2->text(), program.filePath("games/set.m3u")));
    QVERIFY(fakes.messages.boxes.empty());
  }

  void folderChooser() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    QDir().mkpath(program.filePath("out/CRASH"));
    fakes.dialogs.answers = {program.filePath("out/CRASH/")};
    QTest::mouseClick(page.psxebootbrowse, Qt::LeftButton);
    QCOMPARE(page.psxeboot->text(), program.filePath("out/CRASH"));
    QCOMPARE(fakes.dialogs.folderRequests.back().caption, QString("Select Directory"));
    QCOMPARE(fakes.dialogs.folderRequests.back().folder, systemDrive());
    QCOMPARE(QDir::currentPath(), program.path());

    fakes.dialogs.answers = {"/"};
    page.psxebootbrowseClick();
    QCOMPARE(page.psxeboot->text(), QString("/"));  // a root keeps its separator
    QCOMPARE(QDir::currentPath(), program.path());

    fakes.dialogs.answers = {std::nullopt};
    page.psxebootbrowseClick();
    QCOMPARE(page.psxeboot->text(), QString("/"));

    // A missing folder: "No" goes back to the chooser; "Yes" creates it.
    const QString fresh = program.filePath("out/NEW/GAME");
    fakes.messages.answers = {Answer::No};
    fakes.dialogs.answers = {fresh, std::nullopt};
    page.psxebootbrowseClick();
    QCOMPARE(page.psxeboot->text(), QString("/"));
    QVERIFY(!QFileInfo::exists(fresh));
    QCOMPARE(fakes.messages.texts(), QStringList{"The specified directory does not exist. Create it?"});
    fakes.messages.answers = {Answer::Yes};
    fakes.dialogs.answers = {fresh};
    page.psxebootbrowseClick();
    QVERIFY(QFileInfo(fresh).isDir());
    QCOMPARE(page.psxeboot->text(), fresh);
    QCOMPARE(QDir::currentPath(), program.path());
    QVERIFY(fakes.messages.errors().isEmpty());
  }

  void pickersStageTheArtwork() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    const QString icon = png(program, "art/icon.png", Qt::red);
    const QString info = png(program, "art/info.png", Qt::green);
    const QString back = png(program, "art/back.png", Qt::blue);
    program.write("art/snd.at3", "sound");
    program.write("art/mov.pmf", "movie");

    fakes.dialogs.answers = {icon, info, back, program.filePath("art/mov.pmf"), program.filePath("art/snd.at3")};
    QTest::mouseDClick(page.ICON0, Qt::LeftButton);
    QTest::mouseDClick(page.PIC0, Qt::LeftButton);
    QTest::mouseDClick(page.PIC1, Qt::LeftButton);
    page.icon1DblClick();
    page.snd0DblClick();
    QCOMPARE(fakes.messages.boxes.size(), size_t(0));
    QCOMPARE(centre(page.ICON0), QColor(Qt::red));
    QCOMPARE(centre(page.PIC0), QColor(Qt::green));
    QCOMPARE(centre(page.PIC1), QColor(Qt::blue));
    QVERIFY(page.PIC1->hasScaledContents());
    QCOMPARE(toolFiles(program), (QStringList{"ICON0.PNG", "ICON1.PMF", "PIC0.PNG", "PIC1.PNG", "SND0.AT3"}));
    QCOMPARE(program.read("bin/SND0.AT3"), QByteArray("sound"));
    QCOMPARE(fakes.dialogs.fileRequests[0].title, QString("Open a PNG image..."));
    QCOMPARE(fakes.dialogs.fileRequests[3].title, QString("Open a PMF movie..."));
    QCOMPARE(fakes.dialogs.fileRequests[4].title, QString("Open an AT3 sound..."));
    for (const QString& f : fakes.dialogs.foldersDuringDialogs) QCOMPARE(f, program.path());
    QCOMPARE(QDir::currentPath(), program.path());

    // PIC0 and PIC1 share their dialog; ICON0 keeps its own file, whatever they picked last.
    QCOMPARE(fakes.dialogs.fileRequests[2].fileName, info);
    page.ICON0DblClick();  // cancelled: its own last file
    QCOMPARE(QImage(program.filePath("bin/ICON0.PNG")).pixelColor(0, 0), QColor(Qt::red));

    // A build consumes the staged files; the previews stay.
    page.psxgoClick();
    QCOMPARE(toolFiles(program), QStringList{});
    QCOMPARE(centre(page.PIC1), QColor(Qt::blue));
    page.psxgoClick();
    QCOMPARE(fakes.runner.starts.size(), size_t(2));
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void pickerFailures() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    const QImage before = page.PIC0->pixmap().toImage();
    // Cancelled before any file was ever chosen: an empty name.
    page.PIC0DblClick();
    page.snd0DblClick();
    page.icon1DblClick();
    fakes.dialogs.answers = {program.write("art/notes.txt", "x"), program.write("art/bad.png", "not a picture")};
    page.ICON0DblClick();
    page.PIC1DblClick();
    QCOMPARE(fakes.messages.errors().mid(0, 2), (QStringList{"Unknown picture file extension (.)",
                                                             "Unknown picture file extension (.txt)"}));
    QCOMPARE(fakes.messages.errors().size(), 3);  // the unreadable PNG reports too
    QCOMPARE(fakes.messages.boxes[0].caption, kAppTitle);
    QCOMPARE(page.PIC0->pixmap().toImage(), before);
    QCOMPARE(toolFiles(program), QStringList{});
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void makeEbootPlacesTheResult() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    program.write("bin/keys.bin", "keys");
    QDir().mkpath(program.filePath("out/CRASH"));
    fakes.runner.onStart = [&](const StartRecord&) { program.write("bin/EBOOT.PBP", "eboot"); };
    page.PSXoutput->setText("/g/crash.iso");
    page.psxeboot->setText(program.filePath("out/CRASH") + "/");
    page.psxgoClick();
    QCOMPARE(fakes.runner.commandLines(), QStringList{R"(psx.exe "" "SCUS" "9" "/g/crash.iso")"});
    QCOMPARE(fakes.runner.starts[0].kind, StartRecord::RunAndWait);
    QCOMPARE(QDir(program.filePath("out/CRASH")).entryList(QDir::Files), (QStringList{"EBOOT.PBP", "KEYS.BIN"}));
    QCOMPARE(toolFiles(program), QStringList{"keys.bin"});
    QCOMPARE(QDir::currentPath(), program.path());

    // Without a tool folder: the error box, and nothing started, moved or deleted.
    QVERIFY(QDir(program.filePath("bin")).removeRecursively());
    page.psxgoClick();
    page.rastledoClick();
    QCOMPARE(fakes.messages.errors(), (QStringList{"File not found", "File not found"}));
    QCOMPARE(fakes.runner.starts.size(), size_t(1));
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void theBaseEbootDecidesWhetherTheEbootStartsOnAPsp() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    QCOMPARE(page.psxbase->text(), QString("Base..."));
    QCOMPARE(page.psxstart->text(), QString("No base EBOOT: won't start on a PSP"));
    QCOMPARE(page.psxresult->text(), QString());

    // The user picks a PS1 EBOOT of their own: it is kept in the tool folder as BASE.PBP.
    const QByteArray mine = baseEboot(QByteArray("\x7F" "ELF", 4) + QByteArray(300, 'x'));
    fakes.dialogs.answers = {program.write("own/GAME/EBOOT.PBP", mine)};
    QTest::mouseClick(page.psxbase, Qt::LeftButton);
    QCOMPARE(fakes.dialogs.fileRequests.back().title, QString("Open a PS1 EBOOT you own..."));
    QCOMPARE(program.read("bin/BASE.PBP"), mine);
    QCOMPARE(page.psxstart->text(), QString("Starts on a PSP (boot code: BASE.PBP)"));
    QCOMPARE(QDir::currentPath(), program.path());
    // Level 0 is reported not to start; the warning goes when compression is on again.
    page.psxcompbox->click();
    QCOMPARE(page.psxstart->text(), QString("Level 0: reported not to start on a PSP"));
    page.psxcompbox->click();
    QCOMPARE(page.psxstart->text(), QString("Starts on a PSP (boot code: BASE.PBP)"));

    // A file that is no PS1 EBOOT with boot code is refused and the kept one stays.
    const QByteArray plain = baseEboot(QByteArray(16, 0));
    fakes.dialogs.answers = {program.write("own/plain.pbp", plain), program.write("own/notes.txt", "hello")};
    page.psxbaseClick();
    page.psxbaseClick();
    QCOMPARE(fakes.messages.errors(),
             (QStringList{QString("'%1' is not a PS1 EBOOT to take boot code from: it holds no boot code (its DATA.PSP "
                                  "is empty)")
                              .arg(program.filePath("own/plain.pbp")),
                          QString("'%1' is not a PS1 EBOOT to take boot code from: not a PBP file: shorter than its "
                                  "header")
                              .arg(program.filePath("own/notes.txt"))}));
    QCOMPARE(program.read("bin/BASE.PBP"), mine);
    // A cancelled pick changes nothing.
    fakes.dialogs.answers = {std::nullopt};
    page.psxbaseClick();
    QCOMPARE(fakes.messages.errors().size(), 2);

    // A BASE.PBP put there by hand, under any letter case, counts as psx counts it; one psx would
    // refuse is named on the page before the build.
    QVERIFY(QFile::remove(program.filePath("bin/BASE.PBP")));
    program.write("bin/base.pbp", plain);
    page.showPsxStart();
    QCOMPARE(page.psxstart->text(), QString("base.pbp is unusable: psx will refuse it"));
    QVERIFY(page.psxstart->toolTip().endsWith("it holds no boot code (its DATA.PSP is empty)"));
  }

  void thePageSaysWhereTheEbootWent() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    QDir().mkpath(program.filePath("out/CRASH"));
    page.PSXoutput->setText("/g/crash.iso");
    page.psxeboot->setText(program.filePath("out/CRASH"));
    // psx fails: nothing was made, and the page says so.
    fakes.runner.exitCode = 2;
    page.psxgoClick();
    QCOMPARE(page.psxresult->toolTip(), QString("No EBOOT.PBP was made: Tool activity says why."));
    fakes.runner.exitCode = 0;
    fakes.runner.onStart = [&](const StartRecord&) { program.write("bin/EBOOT.PBP", "eboot"); };
    page.psxgoClick();
    const QString made = "Made " + program.filePath("out/CRASH/EBOOT.PBP");
    QCOMPARE(page.psxresult->toolTip(), made);
    QCOMPARE(page.psxresult->text(), page.psxresult->fontMetrics().elidedText(made, Qt::ElideMiddle,
                                                                               page.psxresult->width()));
    // A second build finds the first one there: the new EBOOT.PBP stays in the tool folder.
    page.psxgoClick();
    QCOMPARE(page.psxresult->toolTip(),
             QString("%1 already exists; the new EBOOT.PBP stays in the tool folder as %2.")
                 .arg(program.filePath("out/CRASH/EBOOT.PBP"), program.filePath("bin/EBOOT.PBP")));
    QCOMPARE(fakes.runner.lastEntry().failure, page.psxresult->toolTip());
  }

  void makeIso() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    // Cancelled, never confirmed: the open dialog gives its preset, the save dialog nothing.
    page.rastlebrowseClick();
    QTest::mouseClick(page.rastlesaveto, Qt::LeftButton);
    QCOMPARE(page.rastlepbp->text(), QString("EBOOT.PBP"));
    QCOMPARE(page.rastleiso->text(), QString());
    QCOMPARE(fakes.dialogs.fileRequests[0].fileName, QString("EBOOT.PBP"));
    fakes.dialogs.answers = {program.filePath("g/EBOOT.PBP"), program.filePath("g/crash")};
    page.rastlebrowseClick();
    page.rastlesavetoClick();
    QCOMPARE(page.rastleiso->text(), program.filePath("g/crash.ISO"));
    QCOMPARE(QDir::currentPath(), program.path());
    QTest::mouseClick(page.rastledo, Qt::LeftButton);
    page.rastleiso->setText("crash.iso");
    page.rastledoClick();
    QCOMPARE(fakes.runner.commandLines(),
             (QStringList{QString(R"(rastle.exe -o "%1" "%2")").arg(program.filePath("g/crash.ISO"), program.filePath("g/EBOOT.PBP")),
                          QString(R"(rastle.exe -o "crash.iso" "%1")").arg(program.filePath("g/EBOOT.PBP"))}));
    for (const StartRecord& s : fakes.runner.starts) {
      QCOMPARE(s.kind, StartRecord::StartAndForget);
      QCOMPARE(s.showState, int(SW_SHOWMINIMIZED));
      QCOMPARE(s.currentFolder, program.filePath("bin"));
    }
    QCOMPARE(QDir::currentPath(), program.path());
  }

  // The game an image holds shows beside "Convert!" and names the job; the command line is the
  // same as ever.
  void umdImageShowsItsGame() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    QVERIFY(page.umdgame->isHidden() && page.umdicon->isHidden());
    const QString iso = discImage(program, "game (1).iso", "UMD",
                                  {{"PSP_GAME/PARAM.SFO", pspSfo("Lumines\xE2\x84\xA2 Puzzle", "ULUS10046")},
                                   {"PSP_GAME/ICON0.PNG", pngBytes(Qt::red)}});
    page.source->setText(iso);
    QVERIFY(!page.umdgame->isHidden() && !page.umdicon->isHidden());
    QVERIFY2(page.umdgame->text().startsWith(QString::fromUtf8("Lumines\xE2\x84\xA2")) &&
                 page.umdgame->text().endsWith(" [ULUS10046]"),
             qPrintable(page.umdgame->text()));
    QVERIFY(page.umdgame->fontMetrics().horizontalAdvance(page.umdgame->text()) <= page.umdgame->width());
    QCOMPARE(centre(page.umdicon), QColor(Qt::red));
    QVERIFY2(page.source->toolTip().contains("Needs system software 3.71"), qPrintable(page.source->toolTip()));
    QCOMPARE(page.umdgame->toolTip(), page.source->toolTip());

    page.destination->setText(program.filePath("game.cso"));
    QTest::mouseClick(page.convert, Qt::LeftButton);
    QCOMPARE(fakes.runner.commandLines(),
             QStringList{QString(R"("bin/ciso.exe" 9 "%1" "%2")").arg(iso, program.filePath("game.cso"))});
    QCOMPARE(fakes.runner.lastEntry().title, QString::fromUtf8("ISO to CSO - Lumines\xE2\x84\xA2 Puzzle [ULUS10046]"));

    // A two-step conversion names the game in both steps; a file without a game names none.
    page.csodax->click();
    page.convertClick();
    const auto& entries = fakes.runner.activity.entries();
    QCOMPARE(entries[entries.size() - 2].title, QString::fromUtf8("CSO to DAX - Lumines\xE2\x84\xA2 Puzzle [ULUS10046], step 1 of 2"));
    QCOMPARE(entries.back().title, QString::fromUtf8("CSO to DAX - Lumines\xE2\x84\xA2 Puzzle [ULUS10046], step 2 of 2"));
    page.isocso->click();
    page.source->setText(program.write("notes.iso", QByteArray(40000, 'x')));
    QVERIFY(page.umdgame->isHidden() && page.umdicon->isHidden());
    QVERIFY(page.source->toolTip().isEmpty());
    page.convertClick();
    QCOMPARE(fakes.runner.lastEntry().title, QString("ISO to CSO"));
    page.source->setText("<no file selected>");
    QVERIFY(page.umdgame->isHidden());
  }

  void ps1ImageFillsTheIdOnlyWhenEmpty() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame1 page(fakes.services);
    const QString crash = discImage(program, "disc2.bin", "CRASH", {{"SYSTEM.CNF", systemCnf("SLUS_005.94")}});
    const QString spyro = discImage(program, "spyro.iso", "SPYRO", {{"SYSTEM.CNF", systemCnf("SCES_012.34")}});

    page.PSXoutput->setText(crash);
    QCOMPARE(page.PSXid1->currentText(), QString("SLUS"));
    QCOMPARE(page.PSXid2->text(), QString("00594"));
    QVERIFY(page.PSXtitle->text().isEmpty());  // only suggested: psx takes the volume name itself
    QCOMPARE(page.PSXtitle->placeholderText(), QString("CRASH"));
    page.psxgoClick();
    QCOMPARE(fakes.runner.commandLines().back(), QString(R"(psx.exe "" "SLUS00594" "9" "%1")").arg(crash));

    // An ID filled in from one image gives way to the next image's...
    page.PSXoutput->setText(spyro);
    QCOMPARE(page.PSXid1->currentText() + page.PSXid2->text(), QString("SCES01234"));
    QCOMPARE(page.PSXtitle->placeholderText(), QString("SPYRO"));
    // ...one the user typed stays, in either box.
    page.PSXid2->setText("94163");
    page.PSXoutput->setText(crash);
    QCOMPARE(page.PSXid1->currentText() + page.PSXid2->text(), QString("SCES94163"));
    page.PSXid2->setText("01234");
    page.PSXid1->setCurrentText("SCUS");
    page.PSXoutput->setText(crash);
    QCOMPARE(page.PSXid1->currentText() + page.PSXid2->text(), QString("SCUS01234"));
    // A file that is no disc, or none at all, changes nothing but the suggestion.
    page.PSXid2->clear();
    page.PSXid1->setCurrentText("SCUS");
    page.PSXoutput->setText(program.write("notes.iso", QByteArray(40000, 'x')));
    page.PSXoutput->setText("/nowhere/crash.iso");
    QCOMPARE(page.PSXid1->currentText() + page.PSXid2->text(), QString("SCUS"));
    QVERIFY(page.PSXtitle->placeholderText().isEmpty());
  }

  void linkLabelsPressWithoutDrift() {
    FakeServices fakes;
    TFrame1 page(fakes.services);
    const QStringList names{"convert", "browse1", "browse2", "psxbrowse", "psxebootbrowse",
                            "psxgo", "rastlebrowse", "rastlesaveto", "rastledo"};
    for (const QString& name : names) {
      auto* l = page.findChild<ClickLabel*>(name);
      QVERIFY2(l && l->pressLook(), qPrintable(name));
      QCOMPARE(l->cursor().shape(), Qt::PointingHandCursor);
      const QPoint home = l->pos();
      for (Qt::MouseButton b : {Qt::RightButton, Qt::RightButton, Qt::MiddleButton}) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), l->mapToGlobal(QPointF(2, 2)), b, b, {});
        QCoreApplication::sendEvent(l, &press);
        QCOMPARE(l->pos(), home + QPoint(1, 1));
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), l->mapToGlobal(QPointF(2, 2)), b, {}, {});
        QCoreApplication::sendEvent(l, &release);
        QCOMPARE(l->pos(), home);
      }
    }
    QVERIFY(fakes.runner.starts.empty());  // other buttons press but do not click
  }
};

QTEST_MAIN(ConvertPageTest)
#include "test_convertpage.moc"

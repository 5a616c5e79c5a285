// The Customize XMB page: icon and wallpaper choices, the font preview, and the top-menu and
// font builds, driven with scripted dialogs and a recording runner in a temporary program folder;
// files that are no pictures, and full disks.
#include "tests/ttfbuilder.h"
#include "xmbbuild.h"
#include "xmbpage.h"

#include "shell/clicklabel.h"
#include "shell/folderguard.h"
#include "shell/processrunner.h"
#include "shell/tests/kit/fakes.h"
#include "shell/tests/kit/fulldisk.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QtTest>

using namespace kivo::testing;
using namespace kivo::stick;

namespace {

const QString kDejaVu = QStringLiteral("/usr/share/fonts/truetype/dejavu/");

int bitsPerPixel(const QByteArray& bmp) { return bmp.size() > 29 ? uchar(bmp[28]) | uchar(bmp[29]) << 8 : -1; }

QByteArray encoded(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return bytes;
}

// A 256-colour icon as a user would make one.
QByteArray eightBitIcon() {
  QImage image(64, 64, QImage::Format_Indexed8);
  QList<QRgb> palette;
  for (int i = 0; i < 256; ++i) palette << qRgb(i, 255 - i, (i * 7) & 255);
  image.setColorTable(palette);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) image.setPixel(x, y, uint((x * 4 + y) & 255));
  return encoded(image, "BMP");
}

struct Xmb {
  TempProgramFolder program;
  FakeServices fakes;
  TFrame6 page{fakes.services};
  bool atProgramFolder() const {
    return QDir::currentPath() == program.path() || QDir::currentPath() == QDir(program.path()).canonicalPath();
  }
  // doit.cmd leaves its result in the program folder, the parent of the tool folder it runs in.
  void playDoit() {
    fakes.runner.onStart = [](const StartRecord& start) {
      if (start.commandLine != QLatin1String("doit.cmd")) return;
      QFile out(QDir::current().filePath(QStringLiteral("../topmenu_plugin.rco")));
      if (out.open(QIODevice::WriteOnly)) out.write("RCO");
    };
  }
};

}  // namespace

class XmbPageTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { kivo::installFontSubstitutes(); }

  void startsWithBuiltInPicturesAndTheDescribedControls() {
    FakeServices fakes;
    TFrame6 page(fakes.services);
    for (int slot = 1; slot <= 6; ++slot) {
      QCOMPARE(page.icon(slot).image.size(), QSize(64, 64));
      QCOMPARE(bitsPerPixel(page.icon(slot).bytes), 8);
    }
    QCOMPARE(page.wallpaper().image.size(), QSize(480, 272));
    QCOMPARE(bitsPerPixel(page.wallpaper().bytes), 24);
    QCOMPARE(page.xmbBG->size(), QSize(480, 272));
    QCOMPARE(page.bgline->geometry(), page.xmbBG->geometry().adjusted(-1, -1, 1, 1));
    QCOMPARE(page.xmbtext6->text(), QStringLiteral("Network"));
    QVERIFY(page.xmbtext1->font().bold());
    QCOMPARE(page.Memo1->toPlainText(), QStringLiteral("Click on an item to change it.\n\nPlease be sure your icons are "
                                                       "\n256 (8bit) color bitmaps and \nthey are 64 x 64 pixels!"));
    QCOMPARE(page.Label2->text(),
             QStringLiteral("Custom icons won't work on 3.10OE-A or higher, they will semi-brick your PSP!!"));
    QVERIFY(page.labeldone->text().isEmpty() && page.Labeldone2->text().isEmpty());
    QCOMPARE(page.Timerfont->interval(), 1000);
    QVERIFY(!page.Timerfont->isActive());
    QCOMPARE(page.saveTopmenu.fileName(), QStringLiteral("topmenu_plugin.rco"));
    QCOMPARE(page.savefont.fileName(), QStringLiteral("ltn0.pgf"));
    QCOMPARE(page.OpenICON.filter(), QStringLiteral("Bitmap images|*.bmp"));
    QCOMPARE(page.OpenFONT.filter(), QStringLiteral("TTF fonts|*.ttf"));
    QVERIFY(!page.ttf1.InclFontFamilyName && page.ttf1.InclFontFullName);
  }

  void choosesIconsAndKeepsSlotsOnErrors() {
    Xmb x;
    const QByteArray icon = eightBitIcon();
    const QString bmp = x.program.write("art/a.bmp", icon);
    const QString png = x.program.write("art/p.png", encoded(QImage(32, 32, QImage::Format_ARGB32), "PNG"));
    const QString txt = x.program.write("art/x.txt", "text");
    const QString broken = x.program.write("art/broken.bmp", "BM not really");
    x.fakes.dialogs.answers = {bmp, std::nullopt, png, png, txt, broken};

    x.page.ico1Click();
    QCOMPARE(x.page.icon(1).bytes, icon);
    x.page.ico2Click();  // cancelled: the dialog's last file again
    QCOMPARE(x.page.icon(2).bytes, icon);
    x.page.ico5Click();
    QCOMPARE(x.page.icon(5).format, QByteArray("png"));
    QVERIFY(x.fakes.messages.boxes.empty());

    const QByteArray slot4 = x.page.icon(4).bytes, slot3 = x.page.icon(3).bytes, slot6 = x.page.icon(6).bytes;
    x.page.ico4Click();  // slot 4 takes bitmaps only
    x.page.ico3Click();
    x.page.ico6Click();
    QCOMPARE(x.fakes.messages.errors(), (QStringList{"Bitmap image is not valid",
                                                     "Unknown picture file extension (.txt)",
                                                     "Bitmap image is not valid"}));
    QCOMPARE(x.page.icon(4).bytes, slot4);
    QCOMPARE(x.page.icon(3).bytes, slot3);
    QCOMPARE(x.page.icon(6).bytes, slot6);
    QVERIFY(x.atProgramFolder());
    for (const QString& seen : x.fakes.dialogs.foldersDuringDialogs) QCOMPARE(seen, QDir::currentPath());
    QCOMPARE(x.fakes.dialogs.fileRequests.at(0).title, QStringLiteral("Select a 8bit BMP (64x64px)"));
  }

  void aDialogNeverConfirmedLoadsNothing() {
    Xmb x;
    const QByteArray before = x.page.icon(1).bytes;
    x.page.ico1Click();
    x.page.xmbBGClick();
    QCOMPARE(x.fakes.messages.errors().size(), 2);
    QCOMPARE(x.page.icon(1).bytes, before);
    QCOMPARE(x.page.wallpaper().image.size(), QSize(480, 272));
    QVERIFY(x.atProgramFolder());
  }

  void thePreviewAndChangeWallpaperChooseTheWallpaper() {
    Xmb x;
    const QString big = x.program.write("art/w.png", encoded(QImage(960, 544, QImage::Format_RGB32), "PNG"));
    const QString gif = x.program.write("art/w.gif", "GIF89a broken");
    x.fakes.dialogs.answers = {big, gif};
    QTest::mouseClick(x.page.xmbBG, Qt::LeftButton);
    QCOMPARE(x.page.wallpaper().image.size(), QSize(960, 544));
    QCOMPARE(x.page.xmbBG->size(), QSize(480, 272));
    QVERIFY(x.page.xmbBG->hasScaledContents());
    QTest::mouseClick(x.page.changebg, Qt::LeftButton);
    QCOMPARE(x.fakes.messages.errors().size(), 1);
    QCOMPARE(x.page.wallpaper().format, QByteArray("png"));
    QCOMPARE(x.fakes.dialogs.fileRequests.size(), size_t(2));
    QVERIFY(x.atProgramFolder());
  }

  void buildsTheTopMenuFromTheSlotsInTheirOwnFormats() {
    Xmb x;
    x.playDoit();
    const QByteArray icon = eightBitIcon();
    const QByteArray png = encoded(QImage(64, 64, QImage::Format_ARGB32), "PNG");
    QDir().mkpath(x.program.filePath("out"));
    x.fakes.dialogs.answers = {x.program.write("a.bmp", icon), x.program.write("p.png", png),
                               x.program.filePath("out/menu.rco")};
    x.page.ico1Click();
    x.page.ico2Click();
    x.page.buildtopClick();

    QCOMPARE(x.program.read("bin/1.bmp"), icon);  // the 256-colour bitmap byte for byte
    QCOMPARE(x.program.read("bin/2.bmp"), png);
    QCOMPARE(bitsPerPixel(x.program.read("bin/3.bmp")), 8);
    QCOMPARE(x.fakes.runner.starts.size(), size_t(1));
    const StartRecord& run = x.fakes.runner.starts.front();
    QCOMPARE(run.kind, StartRecord::RunAndWait);
    QCOMPARE(run.commandLine, QStringLiteral("doit.cmd"));
    QCOMPARE(run.showState, int(kivo::SW_SHOWMINIMIZED));
    QCOMPARE(QFileInfo(run.currentFolder).canonicalFilePath(), QFileInfo(x.program.filePath("bin")).canonicalFilePath());
    QCOMPARE(x.program.read("out/menu.rco"), QByteArray("RCO"));
    QCOMPARE(x.page.labeldone->text(), QStringLiteral("Done. Your topmenu has been outputted."));
    QVERIFY(!QFileInfo::exists(x.program.filePath("topmenu_plugin.rco")));
    QVERIFY(x.atProgramFolder());

    // Again, cancelled: the same target, the pictures written again, no result left behind.
    QFile::remove(x.program.filePath("bin/4.bmp"));
    QFile::remove(x.program.filePath("out/menu.rco"));
    x.page.buildtopClick();
    QVERIFY(QFileInfo::exists(x.program.filePath("bin/4.bmp")));
    QCOMPARE(x.program.read("out/menu.rco"), QByteArray("RCO"));
    QVERIFY(!QFileInfo::exists(x.program.filePath("topmenu_plugin.rco")));

    const kivo::JobEntry& done = x.fakes.runner.lastEntry();
    QCOMPARE(done.title, QStringLiteral("Top-menu plugin"));
    QCOMPARE(done.reads.first(), x.program.filePath("bin/1.bmp"));
    QCOMPARE(done.result, x.program.filePath("out/menu.rco"));  // where the user finds it

    // doit.cmd leaves nothing: the failure text; the earlier text is replaced.
    x.fakes.runner.onStart = nullptr;
    x.page.buildtopClick();
    QCOMPARE(x.page.labeldone->text(),
             QStringLiteral("Oops! Topmenu was not created. Please check your bitmaps for compability!"));
    QCOMPARE(x.fakes.runner.lastEntry().failure,
             QStringLiteral("The tool ended without writing %1.").arg(x.program.filePath("topmenu_plugin.rco")));
    QVERIFY(x.atProgramFolder());

    // Cancelled while doit.cmd writes (beside its output, as the tools do): nothing half-made is
    // left, and the page says so as after any build that made nothing.
    QString half;
    x.fakes.runner.onStart = [&](const StartRecord& start) {
      if (start.commandLine != QLatin1String("doit.cmd")) return;
      half = RecordingRunner::unfinished(QStringLiteral("../topmenu_plugin.rco"));
      QFile out(half);
      if (out.open(QIODevice::WriteOnly)) out.write("RC");
    };
    x.fakes.runner.cancelStarts = 1;
    x.page.buildtopClick();
    QCOMPARE(x.fakes.runner.lastEntry().state, kivo::JobState::Cancelled);
    QVERIFY(!QFileInfo::exists(half));
    QVERIFY(!QFileInfo::exists(x.program.filePath("topmenu_plugin.rco")));
    QCOMPARE(x.page.labeldone->text(),
             QStringLiteral("Oops! Topmenu was not created. Please check your bitmaps for compability!"));

    // The copy to a place that cannot take it: never called done, and the job says why.
    x.playDoit();
    x.fakes.dialogs.answers = {x.program.filePath("missing folder/menu.rco")};
    x.page.buildtopClick();
    QVERIFY(x.page.labeldone->text().isEmpty());
    QCOMPARE(x.fakes.runner.lastEntry().failure,
             QStringLiteral("The top menu could not be copied to %1.").arg(x.program.filePath("missing folder/menu.rco")));
  }

  void aMissingBaseSaysWhatIsMissingAndWhereItGoes() {
    Xmb x;  // doit finds no topmenu_plugin.rco of the PSP's beside the bitmaps and builds nothing
    x.page.buildtopClick();
    QCOMPARE(x.page.labeldone->text(),
             QStringLiteral("Oops! Topmenu was not created. Please check your bitmaps for compability!"));
    const QString bin = QDir(x.program.filePath("bin")).absolutePath();
    QCOMPARE(x.fakes.messages.texts(), QStringList{missingBaseNote(bin)});
    QVERIFY(x.fakes.messages.errors().isEmpty());
    const QString note = x.fakes.messages.texts().first();
    QVERIFY2(note.contains("flash0:/vsh/resource/") && note.contains("\n" + bin + "\n"), qPrintable(note));
    QVERIFY(x.atProgramFolder());

    // With the base there (in capitals, as a memory stick gives it), a failed build shows only
    // the described text: the bitmaps are what doit refused.
    x.program.write("bin/TOPMENU_PLUGIN.RCO", "the PSP's own");
    x.page.buildtopClick();
    QCOMPARE(x.fakes.messages.texts().size(), 1);
    QCOMPARE(x.page.labeldone->text(),
             QStringLiteral("Oops! Topmenu was not created. Please check your bitmaps for compability!"));
    x.playDoit();
    x.page.buildtopClick();
    QCOMPARE(x.page.labeldone->text(), QStringLiteral("Done. Your topmenu has been outputted."));
    QCOMPARE(x.fakes.messages.texts().size(), 1);
  }

  void theShippedBuildersRunByTheirDescribedNames() {
    // The real runner and the tool folder's own pgf, doit and doit.cmd.
    TempProgramFolder program;
    for (const char* tool : {"pgf", "doit", "doit.cmd"})
      QVERIFY(QFile::copy(QStringLiteral(KIVO_TOOL_DIR "/") + tool, program.filePath(QStringLiteral("bin/") + tool)));
    FakeServices fakes;
    kivo::ProcessRunner runner;
    kivo::Services services{runner, fakes.dialogs, fakes.messages, fakes.clock};
    TFrame6 page(services);

    // doit.cmd without the PSP's own topmenu_plugin.rco: the described text, and where to put it.
    page.buildtopClick();
    QCOMPARE(page.labeldone->text(),
             QStringLiteral("Oops! Topmenu was not created. Please check your bitmaps for compability!"));
    QCOMPARE(fakes.messages.texts(), QStringList{missingBaseNote(QDir(program.filePath("bin")).absolutePath())});
    QCOMPARE(program.read("bin/1.bmp"), page.icon(1).bytes);

    // pgf.exe "font" "ltn0.pgf": the font lands in the tool folder, as the relative name says.
    const QString font = kDejaVu + QStringLiteral("DejaVuSans.ttf");
    fakes.dialogs.answers = {font, std::nullopt};
    page.changefontClick();
    page.buildfontClick();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(program.filePath("bin/ltn0.pgf")), 30000);
    fakes.dialogs.answers = {program.filePath("ltn0.pgf")};
    page.buildfontClick();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(program.filePath("ltn0.pgf")), 30000);
    page.TimerfontTimer();
    QCOMPARE(page.Labeldone2->text(), QStringLiteral("Done. Your font has been outputted."));
    QCOMPARE(program.read("ltn0.pgf").mid(4, 4), QByteArray("PGF0"));
  }

  void theResultSurvivesWhenItIsTheChosenFile() {
    Xmb x;
    x.playDoit();
    x.page.buildtopClick();  // cancelled: the preset name, in the program folder
    QCOMPARE(x.page.labeldone->text(), QStringLiteral("Done. Your topmenu has been outputted."));
    QCOMPARE(x.program.read("topmenu_plugin.rco"), QByteArray("RCO"));
  }

  void aMissingToolFolderStopsTheBuilds() {
    Xmb x;
    QDir(x.program.filePath("bin")).removeRecursively();
    x.page.buildtopClick();
    x.page.buildfontClick();
    QCOMPARE(x.fakes.messages.errors().size(), 2);
    QVERIFY(x.fakes.runner.starts.empty());
    QVERIFY(!x.page.Timerfont->isActive());
    QVERIFY(x.page.labeldone->text().isEmpty());
    QVERIFY(x.atProgramFolder());
  }

  void buildsTheFontAndFollowsItsOutput() {
    Xmb x;
    x.page.buildfontClick();  // no font chosen, save cancelled
    QCOMPARE(x.fakes.runner.starts.size(), size_t(1));
    StartRecord start = x.fakes.runner.starts.back();
    QCOMPARE(start.kind, StartRecord::StartAndForget);
    QCOMPARE(start.commandLine, QStringLiteral("pgf.exe \"\" \"ltn0.pgf\""));
    QCOMPARE(start.showState, int(kivo::SW_SHOWMINIMIZED));
    QVERIFY(start.currentFolder.endsWith(QStringLiteral("/bin")));
    QVERIFY(x.atProgramFolder());
    QVERIFY(x.page.Timerfont->isActive());

    // The check looks in the program folder and follows the file both ways.
    QTRY_COMPARE_WITH_TIMEOUT(x.page.Labeldone2->text(),
                              QStringLiteral("Oops! Font was not created. Please check your font for compability!"), 3000);
    x.program.write("ltn0.pgf", "PGF");
    QTRY_COMPARE_WITH_TIMEOUT(x.page.Labeldone2->text(), QStringLiteral("Done. Your font has been outputted."), 3000);
    QFile::remove(x.program.filePath("ltn0.pgf"));
    x.page.TimerfontTimer();
    QCOMPARE(x.page.Labeldone2->text(),
             QStringLiteral("Oops! Font was not created. Please check your font for compability!"));

    const QString font = kDejaVu + "DejaVuSans.ttf";
    const QString out = x.program.filePath("out dir/my.pgf");
    x.fakes.dialogs.answers = {font, out};
    x.page.changefontClick();
    x.page.buildfontClick();
    QCOMPARE(x.fakes.runner.starts.back().commandLine, QStringLiteral("pgf.exe \"%1\" \"%2\"").arg(font, out));
    QVERIFY(x.page.Timerfont->isActive());
    QVERIFY(x.atProgramFolder());
  }

  void hostileFileNamesReachPgfAsOneArgumentEach() {
    Xmb x;
    x.fakes.dialogs.moveCurrentFolder = false;
    for (const QString& name : hostileTexts()) {
      if (name.isEmpty()) continue;  // a cancelled dialog keeps the name it had
      x.fakes.dialogs.answers = {name + ".ttf", name + ".pgf"};
      x.page.changefontClick();
      x.page.buildfontClick();
      QCOMPARE(splitArguments(x.fakes.runner.starts.back().commandLine), (QStringList{name + ".ttf", name + ".pgf"}));
      QVERIFY(x.atProgramFolder());
    }
    QVERIFY(x.fakes.messages.errors().isEmpty());
  }

  void theCaptionsReallyShowTheChosenFont_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("face");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::newRow("serif bold") << "DejaVuSerif-Bold.ttf" << "DejaVu Serif Bold" << true << false;
    QTest::newRow("sans oblique") << "DejaVuSans-Oblique.ttf" << "DejaVu Sans Oblique" << false << true;
    QTest::newRow("mono") << "DejaVuSansMono.ttf" << "DejaVu Sans Mono" << false << false;
  }
  void theCaptionsReallyShowTheChosenFont() {
    QFETCH(QString, file);
    QFETCH(QString, face);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    if (!QFileInfo::exists(kDejaVu + file)) QSKIP("fonts-dejavu-core is not installed");
    Xmb x;
    x.fakes.dialogs.answers = {kDejaVu + file};
    x.page.changefontClick();
    QCOMPARE(x.page.captionFace(), face);
    for (QLabel* caption : {x.page.xmbtext1, x.page.xmbtext6}) {
      QCOMPARE(caption->property("faceName").toString(), face);
      const QFontInfo drawn(caption->font());
      QVERIFY2(drawn.exactMatch(), qPrintable(drawn.family() + " " + drawn.styleName()));
      QCOMPARE(drawn.bold(), bold);
      QCOMPARE(drawn.italic(), italic);
    }
    QVERIFY(x.atProgramFolder());
  }

  void fontsWithoutAFullNameLeaveTheCaptions() {
    Xmb x;
    ttftest::FontLayout longName;
    longName.names = {{3, 1, 0x0409, 4, u"A Remarkably Long Font Full Name Indeed"}};
    const auto bytes = ttftest::buildFont(longName);
    const QString made = x.program.write("fonts/long.ttf", QByteArray(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    const QString notFont = x.program.write("fonts/picture.ttf", eightBitIcon());
    x.fakes.dialogs.answers = {made, notFont, std::nullopt};
    x.page.changefontClick();
    QCOMPARE(x.page.captionFace(), QStringLiteral("A Remarkably Long Font Full Nam"));
    const QFont drawn = x.page.xmbtext3->font();
    x.page.changefontClick();  // not a font: Status 1, no name
    x.page.changefontClick();  // cancelled: the same file again
    QCOMPARE(x.page.ttf1.Status(), uint8_t(1));
    QCOMPARE(x.page.captionFace(), QStringLiteral("A Remarkably Long Font Full Nam"));
    QCOMPARE(x.page.xmbtext3->font(), drawn);
    QVERIFY(x.fakes.messages.boxes.empty());
    QVERIFY(x.atProgramFolder());
  }

  void filesThatAreNoPicturesAreRefusedAtOnce() {
    Xmb x;
    const QString fifo = x.program.filePath("art/song.png"), font = x.program.filePath("art/pipe.ttf");
    QDir().mkpath(x.program.filePath("art"));
    QVERIFY(makeFifo(fifo) && makeFifo(font));
    const QString zero = x.program.filePath("art/zero.bmp");
    QVERIFY(QFile::link("/dev/zero", zero));
    // Larger than any picture: refused before a byte is read (the file is sparse, 2 GiB).
    const QString huge = x.program.write("art/huge.bmp", "BM");
    QVERIFY(QFile::resize(huge, 2LL << 30));
    x.fakes.dialogs.answers = {fifo, zero, huge, font};
    const QByteArray slot1 = x.page.icon(1).bytes, slot4 = x.page.icon(4).bytes;
    QElapsedTimer clock;
    clock.start();
    x.page.ico1Click();
    x.page.ico4Click();
    x.page.xmbBGClick();
    x.page.changefontClick();
    QVERIFY(clock.elapsed() < 3000);
    const QStringList errors = x.fakes.messages.errors();
    QCOMPARE(errors.size(), 4);
    QCOMPARE(errors[0], QString("Cannot open file \"%1\". It is not a plain file.").arg(fifo));
    QCOMPARE(errors[1], QString("Cannot open file \"%1\". It is not a plain file.").arg(zero));
    QVERIFY2(errors[2].startsWith(QString("Cannot open file \"%1\". The file is too large").arg(huge)), qPrintable(errors[2]));
    QCOMPARE(errors[3], QString("Cannot use \"%1\" as a font: it is not a plain file.").arg(font));
    QCOMPARE(x.page.icon(1).bytes, slot1);
    QCOMPARE(x.page.icon(4).bytes, slot4);
    QCOMPARE(x.page.wallpaper().image.size(), QSize(480, 272));
    QCOMPARE(x.page.captionFace(), QStringLiteral("Tahoma"));
    QVERIFY(x.atProgramFolder());
  }

  void aFullToolFolderKeepsTheBitmapsThere() {
    // A tool folder that is full: the error box, the bitmap there before untouched, no doit.cmd.
    FullDisk::eachKind([&](FullDisk& program) {
      const QString one = program.write("bin/1.bmp", "the 1.bmp of the build before");
      Xmb x;
      kivo::CurrentFolderGuard back;
      QDir::setCurrent(program.path());
      const QString seen = program.run([&] {
        x.page.buildtopClick();
        return QString("%1|%2|%3").arg(x.fakes.messages.errors().join(','), x.page.labeldone->text())
            .arg(x.fakes.runner.starts.size());
      });
      QCOMPARE(seen, QString("Cannot create file \"%1\". Cannot write \"%1\": %2||0").arg(one, program.reason()));
      QCOMPARE(fileBytes(one), QByteArray("the 1.bmp of the build before"));
      QCOMPARE(QDir(program.filePath("bin")).entryList(QDir::Files), QStringList{"1.bmp"});
    });
  }

  void aFullTargetIsNotReportedDone() {
    // A full disk where the top menu goes: no "Done", the file there before untouched.
    FullDisk::eachKind([&](FullDisk& out) {
      const QString menu = out.write("menu.rco", "the menu built before");
      Xmb x;
      x.program.write("topmenu_plugin.rco", QByteArray(20000, 'R'));  // as doit.cmd leaves it
      x.fakes.dialogs.answers = {menu};
      // Room for the bitmaps (5174 bytes each), none for the top menu.
      const QString seen = out.run(
          [&] {
            x.page.buildtopClick();
            return x.page.labeldone->text() + '|' + x.fakes.messages.errors().join(',');
          },
          8000);
      QCOMPARE(seen, QString("|"));
      QCOMPARE(fileBytes(menu), QByteArray("the menu built before"));
      QVERIFY(!QFileInfo::exists(x.program.filePath("topmenu_plugin.rco")));
      QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList{"menu.rco"});
    });
  }

  void linkLabelsShowThePressLook() {
    FakeServices fakes;
    TFrame6 page(fakes.services);
    for (QWidget* link : std::initializer_list<QWidget*>{page.changefont, page.changebg, page.buildtop, page.buildfont}) {
      const QPoint at = link->pos();
      QTest::mousePress(link, Qt::MiddleButton, {}, QPoint(2, 2));
      QCOMPARE(link->pos(), at + QPoint(1, 1));
      QTest::mouseRelease(link, Qt::MiddleButton, {}, QPoint(2, 2));
      QCOMPARE(link->pos(), at);
    }
  }
};

QTEST_MAIN(XmbPageTest)
#include "test_xmbpage.moc"

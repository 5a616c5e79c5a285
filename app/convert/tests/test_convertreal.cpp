// The Convert page with the real runner and the converters of the build's tool folder, in a
// temporary copy of the program folder: the files a user would find after each click.
#include "convert/convertpage.h"
#include "shell/activityview.h"
#include "shell/processrunner.h"
#include "shell/tests/kit/fakes.h"

#include <QComboBox>
#include <QFile>
#include <QMap>
#include <QPushButton>
#include <QTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QtTest>
#include <sys/mount.h>
#include <unistd.h>

using namespace kivo;
using namespace kivo::testing;

namespace {
constexpr int kSector = 2048;

/// An ISO 9660-looking image: mixed content and a volume descriptor that gives its size.
QByteArray discImage(int sectors) {
  QByteArray iso(sectors * kSector, '\0');
  QRandomGenerator random(7);
  for (int s = 20; s < sectors; ++s) {
    char* p = iso.data() + s * kSector;
    if (s % 3 == 0) random.fillRange(reinterpret_cast<quint32*>(p), kSector / 4);
    else if (s % 3 == 1) for (int i = 0; i < kSector; ++i) p[i] = char("PSP disc text "[i % 14]);
  }
  char* pvd = iso.data() + 16 * kSector;
  pvd[0] = 1;
  memcpy(pvd + 1, "CD001", 5);
  pvd[6] = 1;
  for (int i = 0; i < 4; ++i) {
    pvd[80 + i] = char(sectors >> (8 * i));
    pvd[87 - i] = char(sectors >> (8 * i));
  }
  return iso;
}

/// A started tool runs beside the test: wait until its output is there, at the size expected
/// when it is known, else until it no longer grows.
bool waitForFile(const QString& path, qint64 expected = -1, int ms = 30000) {
  qint64 last = -1;
  return QTest::qWaitFor(
      [&] {
        const QFileInfo info(path);
        if (!info.isFile()) return false;
        const qint64 size = info.size();
        const bool settled = expected >= 0 ? size == expected : size > 0 && size == last;
        last = size;
        return settled;
      },
      ms);
}
}  // namespace

class ConvertRealTest : public QObject {
  Q_OBJECT
  ProcessRunner runner;
  FakeServices fakes;
  Services services{runner, fakes.dialogs, fakes.messages, fakes.clock};

  void copyTools(const TempProgramFolder& program) {
    for (const char* tool : {"ciso", "dax", "psx", "rastle"}) {
      const QString to = program.filePath(QStringLiteral("bin/") + tool);
      QVERIFY2(QFile::copy(QStringLiteral(KIVO_TOOL_DIR "/") + tool, to), tool);
    }
  }

  static void convert(TFrame1& page, QRadioButton* kind, const QString& from, const QString& to) {
    const QString before = QDir::currentPath();
    kind->click();
    page.source->setText(from);
    page.destination->setText(to);
    QTest::mouseClick(page.convert, Qt::LeftButton);
    QVERIFY(QDir::currentPath() == before);
  }

private slots:
  void initTestCase() { installFontSubstitutes(); }

  void umdRoundTrips() {
    TempProgramFolder program;
    copyTools(program);
    const QByteArray iso = discImage(300);
    const QString a = program.write("games/a.iso", iso);
    const auto games = [&](const char* name) { return program.filePath(QStringLiteral("games/") + name); };
    TFrame1 page(services);

    // One-step conversions run beside the program: their output appears later.
    convert(page, page.isocso, a, games("a.cso"));
    QVERIFY(waitForFile(games("a.cso")));
    QVERIFY(QFileInfo(games("a.cso")).size() < iso.size());
    convert(page, page.csoiso, games("a.cso"), games("b.iso"));
    QVERIFY(waitForFile(games("b.iso"), iso.size()));
    QVERIFY(program.read("games/b.iso") == iso);

    page.complvlbox->setCurrentText("1");
    convert(page, page.isodax, a, games("a.dax"));
    QVERIFY(waitForFile(games("a.dax")));
    convert(page, page.daxiso, games("a.dax"), games("c.iso"));
    QVERIFY(waitForFile(games("c.iso"), iso.size()));
    QVERIFY(program.read("games/c.iso") == iso);

    // The two-step conversions wait: their output is there when the click returns.
    page.complvlbox->setCurrentText("9");
    convert(page, page.csodax, games("a.cso"), games("d.dax"));
    QVERIFY(QFileInfo(games("d.dax")).size() > 0);
    QVERIFY(!QFile::exists(program.filePath("temp.iso")));
    convert(page, page.daxcso, games("d.dax"), games("e.cso"));
    QVERIFY(QFileInfo(games("e.cso")).size() > 0);
    QVERIFY(program.read("temp.iso") == iso);  // left for the next two-step conversion
    convert(page, page.csoiso, games("e.cso"), games("f.iso"));
    QVERIFY(waitForFile(games("f.iso"), iso.size()));
    QVERIFY(program.read("games/f.iso") == iso);

    // To and from CHD in one step each: ciso reads a CHD as it reads a CSO.
    convert(page, page.isochd, games("e.cso"), games("g.chd"));
    QVERIFY(waitForFile(games("g.chd")));
    QVERIFY(program.read("games/g.chd").startsWith("MComprHD"));
    convert(page, page.chdcso, games("g.chd"), games("h.cso"));
    QVERIFY(waitForFile(games("h.cso")));
    convert(page, page.chdiso, games("g.chd"), games("i.iso"));
    QVERIFY(waitForFile(games("i.iso"), iso.size()));
    QVERIFY(program.read("games/i.iso") == iso);
    QVERIFY(fakes.messages.boxes.empty());
  }

  void ebootAndBack() {
    TempProgramFolder program;
    copyTools(program);
    const int sectors = 120;
    const QByteArray iso = discImage(sectors);
    const QString image = program.write("games/crash.iso", iso);
    QDir().mkpath(program.filePath("psp/CRASH"));
    QDir().mkpath(program.filePath("art"));
    QImage icon(144, 80, QImage::Format_RGB32);
    icon.fill(Qt::yellow);
    QVERIFY(icon.save(program.filePath("art/icon.png")));
    TFrame1 page(services);

    fakes.dialogs.answers = {program.filePath("art/icon.png")};
    page.ICON0DblClick();
    QVERIFY(QFile::exists(program.filePath("bin/ICON0.PNG")));
    page.PSXoutput->setText(image);
    page.psxeboot->setText(program.filePath("psp/CRASH"));
    page.PSXtitle->setText("Crash");
    page.PSXid2->setText("00001");
    QTest::mouseClick(page.psxgo, Qt::LeftButton);
    const QString eboot = program.filePath("psp/CRASH/EBOOT.PBP");
    QVERIFY(QFileInfo(eboot).size() > 0);
    QVERIFY(program.read("psp/CRASH/EBOOT.PBP").startsWith(QByteArray("\0PBP", 4)));
    QCOMPARE(QDir(program.filePath("bin")).entryList(QDir::Files, QDir::Name),
             (QStringList{"ciso", "dax", "psx", "rastle"}));
    QCOMPARE(QDir::currentPath(), program.path());

    page.rastlepbp->setText(eboot);
    page.rastleiso->setText(program.filePath("psp/crash.bin"));
    QTest::mouseClick(page.rastledo, Qt::LeftButton);
    QCOMPARE(QDir::currentPath(), program.path());
    QVERIFY(waitForFile(program.filePath("psp/crash.bin"), sectors * 2352));
    // psx wrapped each ISO sector into a raw Mode 2 Form 1 sector; the user data comes back.
    const QByteArray raw = program.read("psp/crash.bin");
    QCOMPARE(raw.size(), sectors * 2352);
    for (int s = 0; s < sectors; ++s)
      QVERIFY2(raw.mid(s * 2352 + 24, kSector) == iso.mid(s * kSector, kSector), qPrintable(QString::number(s)));

    // No output named: rastle writes beside the input.
    page.rastleiso->clear();
    page.rastledoClick();
    QVERIFY(waitForFile(program.filePath("psp/CRASH/EBOOT.iso"), sectors * 2352));
    QVERIFY(program.read("psp/CRASH/EBOOT.iso") == raw);
    QVERIFY(fakes.messages.boxes.empty());
  }

  void anEbootMadeWithTheUsersBaseStartsOnAPsp() {
    TempProgramFolder program;
    copyTools(program);
    const QString image = program.write("games/crash.iso", discImage(60));
    QDir().mkpath(program.filePath("psp/CRASH"));
    // The user's own PS1 EBOOT, reduced to what psx takes from it: the boot module in DATA.PSP.
    const QByteArray module = QByteArray("\x7F" "ELF", 4) + QByteArray(2000, 'm');
    QByteArray base(40, 0);
    base.replace(0, 4, QByteArray("\0PBP", 4));
    for (int s = 0; s < 8; ++s)
      for (int b = 0; b < 4; ++b) base[8 + 4 * s + b] = char((s < 7 ? 40 : 40 + module.size()) >> (8 * b));
    base += module + QByteArray("PSISOIMG0000") + QByteArray(0x400, 0);
    TFrame1 page(services);
    QCOMPARE(page.psxstart->text(), QString("No base EBOOT: won't start on a PSP"));
    fakes.dialogs.answers = {program.write("mine/EBOOT.PBP", base)};
    page.psxbaseClick();
    QCOMPARE(page.psxstart->text(), QString("Starts on a PSP (boot code: BASE.PBP)"));
    page.PSXoutput->setText(image);
    page.psxeboot->setText(program.filePath("psp/CRASH"));
    QTest::mouseClick(page.psxgo, Qt::LeftButton);
    const QString eboot = program.filePath("psp/CRASH/EBOOT.PBP");
    QCOMPARE(page.psxresult->toolTip(), "Made " + eboot);
    const QByteArray made = program.read("psp/CRASH/EBOOT.PBP");
    const auto at = [&](int offset) {
      const auto* p = reinterpret_cast<const uchar*>(made.constData() + offset);
      return int(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
    };
    QCOMPARE(made.mid(at(32), module.size()), module);
    // The base stays for the next build; the staged artwork does not.
    QCOMPARE(program.read("bin/BASE.PBP"), base);
    QVERIFY(fakes.messages.boxes.empty());
  }

  void aQuoteInAFileNameOpensNoOtherOption() {
    TempProgramFolder program;
    copyTools(program);
    const int sectors = 40;
    const QString image = program.write("games/ff7.iso", discImage(sectors));
    QDir().mkpath(program.filePath("psp"));
    TFrame1 page(services);
    page.PSXoutput->setText(image);
    page.psxeboot->setText(program.filePath("psp"));
    // A label that looks like an option is the EBOOT's title all the same.
    page.PSXtitle->setText("--x");
    page.psxgoClick();
    const QString eboot = program.filePath("psp/EBOOT.PBP");
    QVERIFY(QFile::exists(eboot));
    QCOMPARE(page.psxresult->toolTip(), "Made " + eboot);
    QVERIFY(program.read("psp/EBOOT.PBP").contains(QByteArray("--x\0", 4)));

    // The user's folder holds FF7.PBP and a file whose name once split into "-o" "ciso".
    const QString hostile = program.filePath("games/FF7.PBP\" -o \"ciso");
    QVERIFY(QFile::copy(eboot, hostile));
    QVERIFY(QFile::copy(eboot, program.filePath("games/FF7.PBP")));
    const QStringList tools = QDir(program.filePath("bin")).entryList(QDir::Files, QDir::Name);
    const QByteArray ciso = program.read("bin/ciso");
    page.rastlepbp->setText(hostile);
    page.rastleiso->setText(program.filePath("games/out.iso"));
    QTest::mouseClick(page.rastledo, Qt::LeftButton);
    QVERIFY(waitForFile(program.filePath("games/out.iso"), sectors * 2352));
    QCOMPARE(program.read("bin/ciso"), ciso);
    QCOMPARE(QDir(program.filePath("bin")).entryList(QDir::Files, QDir::Name), tools);
    QVERIFY(fakes.messages.boxes.empty());
  }

  // A 50 MB image through the real runner and tools: progress that rises to the end, a window
  // that paints while a handler waits, and a Cancel that leaves nothing half-written.
  void aLongConversionIsSeenAtWork() {
    TempProgramFolder program;
    copyTools(program);
    const QString iso = program.write("games/big.iso", discImage(25600));
    const auto games = [&](const char* name) { return program.filePath(QStringLiteral("games/") + name); };
    const auto leftovers = [&] {
      QStringList found;
      for (const QString& folder : {program.path(), program.filePath("games")})
        found += QDir(folder).entryList({"*.part*", "temp.iso", "*.dax"}, QDir::Files);
      return found;
    };
    TFrame1 page(services);
    page.resize(785, 474);
    page.show();
    ToolActivity& activity = runner.activity();
    WaitDialogPresenter dialogs(&page);
    runner.setWaitPresenter(&dialogs);

    // Started beside the page: its reports rise to 100 %.
    QMap<int, QList<int>> seenBy;  // an earlier test's tool may still be ending
    const auto watch = connect(&activity, &ToolActivity::changed, this, [&](int id) {
      const int p = activity.entry(id)->percent();
      QList<int>& seen = seenBy[id];
      if (p >= 0 && (seen.isEmpty() || seen.last() != p)) seen << p;
    });
    convert(page, page.isocso, iso, games("big.cso"));
    QTRY_VERIFY_WITH_TIMEOUT(activity.runningCount() == 0, 120000);
    disconnect(watch);
    const JobEntry& packed = activity.entries().back();
    const QList<int> seen = seenBy.value(packed.id);
    QCOMPARE(packed.state, JobState::Succeeded);
    QCOMPARE(packed.result, games("big.cso"));
    QVERIFY(packed.resultSize > 0);
    // From 0 at the start to 100 at the end, never back; how many steps between depends on speed.
    QVERIFY2(seen.size() >= 2 && seen.first() == 0 && std::is_sorted(seen.begin(), seen.end()) && seen.last() == 100,
             qPrintable(QString("progress seen: %1").arg([&] {
               QStringList l;
               for (int p : seen) l << QString::number(p);
               return l.join(' ');
             }())));

    // Waited for: the window goes on painting, behind a modal dialog.
    int paintsWhileWaiting = 0;
    struct PaintCounter : QObject {
      std::function<void()> onPaint;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) onPaint();
        return false;
      }
    } counter;
    counter.onPaint = [&] {
      if (activity.runningCount() > 0 && qobject_cast<WaitDialog*>(QApplication::activeModalWidget())) ++paintsWhileWaiting;
    };
    page.installEventFilter(&counter);
    QTimer repaint;
    connect(&repaint, &QTimer::timeout, &page, qOverload<>(&QWidget::update));
    repaint.start(20);
    convert(page, page.csodax, games("big.cso"), games("big.dax"));
    repaint.stop();
    QVERIFY2(paintsWhileWaiting > 0, "no paint event arrived while the handler waited");
    QVERIFY(QFileInfo(games("big.dax")).size() > 0);
    QCOMPARE(activity.entries().back().state, JobState::Succeeded);
    QTRY_VERIFY(!QApplication::activeModalWidget());  // taken down once the handler is done
    QFile::remove(games("big.dax"));

    // Cancel in the dialog as soon as the first step reports: nothing of it remains, and the
    // second step never starts.
    const auto canceller = connect(&activity, &ToolActivity::changed, this, [&](int which) {
      const JobEntry* e = activity.entry(which);
      auto* dialog = qobject_cast<WaitDialog*>(QApplication::activeModalWidget());
      if (e->waited && !e->finished() && e->percent() >= 0 && dialog && dialog->cancel->isEnabled())
        dialog->cancel->click();
    });
    const size_t before = activity.entries().size();
    convert(page, page.csodax, games("big.cso"), games("big.dax"));
    disconnect(canceller);
    QCOMPARE(activity.entries().size(), before + 1);
    QCOMPARE(activity.entries().back().state, JobState::Cancelled);
    QCOMPARE(leftovers(), QStringList());

    // Stop on a job started beside the page, as soon as it has written some of its output.
    const int last = activity.entries().back().id;
    const auto stopper = connect(&activity, &ToolActivity::changed, this, [&](int which) {
      const JobEntry* e = activity.entry(which);
      if (which > last && e->percent() > 0 && e->percent() < 100) activity.requestCancel(which);
    });
    convert(page, page.isodax, iso, games("big.dax"));
    const int id = activity.entries().back().id;
    QTRY_VERIFY_WITH_TIMEOUT(activity.entry(id)->finished(), 60000);
    disconnect(stopper);
    QCOMPARE(activity.entry(id)->state, JobState::Cancelled);
    QCOMPARE(leftovers(), QStringList());
    runner.setWaitPresenter(nullptr);
  }

  // A real full file system: the failure reaches the user with the tool's reason, and nothing
  // half-written is left on it.
  void aFullDiskIsAFailureTheUserSees() {
    if (geteuid() != 0) QSKIP("mounting a small file system needs root");
    TempProgramFolder program;
    copyTools(program);
    QVERIFY(QDir().mkpath(program.filePath("full")));
    const QByteArray full = QFile::encodeName(program.filePath("full"));
    if (::mount("tmpfs", full.constData(), "tmpfs", 0, "size=128k") != 0) QSKIP("no tmpfs here");
    struct Unmount {
      QByteArray at;
      ~Unmount() { ::umount(at.constData()); }
    } unmount{full};
    const QString iso = program.write("games/a.iso", discImage(300));  // 600 KiB: more than there is room for
    TFrame1 page(services);
    const auto& entries = runner.activity().entries();
    const size_t before = entries.size();
    convert(page, page.isodax, iso, program.filePath("full/a.dax"));
    convert(page, page.isocso, iso, program.filePath("full/a.cso"));
    QTRY_VERIFY_WITH_TIMEOUT(runner.activity().runningCount() == 0, 60000);
    QCOMPARE(entries.size(), before + 2);
    for (size_t i = before; i < entries.size(); ++i) {
      const JobEntry& e = entries[i];
      QCOMPARE(e.state, JobState::Failed);
      QVERIFY2(e.failure.contains("space", Qt::CaseInsensitive), qPrintable(e.failure));
    }
    QCOMPARE(QDir(program.filePath("full")).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(fakes.messages.boxes.empty());
  }
};

QTEST_MAIN(ConvertRealTest)
#include "test_convertreal.moc"

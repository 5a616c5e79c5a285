// The work behind the Convert page: tool lines, the files the EBOOT maker moves, copies and
// deletes (full disks included), and the picture loader.
#include "convert/artwork.h"
#include "convert/ebootmaker.h"
#include "convert/umdjob.h"
#include "shell/failure.h"
#include "shell/tests/kit/fakes.h"
#include "shell/tests/kit/fulldisk.h"
#include "shell/userfolder.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

using namespace kivo;
using namespace kivo::testing;

namespace {
void setOld(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadWrite);
  f.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime);
}
}  // namespace

class ConvertJobsTest : public QObject {
  Q_OBJECT
private slots:
  void aBaseEbootIsJudgedByItsHeadersAlone() {
    auto problem = [](QByteArray bytes) {
      QBuffer buffer(&bytes);
      buffer.open(QIODevice::ReadOnly);
      return baseEbootProblem(buffer);
    };
    // Header, then DATA.PSP at 40 and DATA.PSAR at 40 + psp bytes; every other section empty.
    auto pbp = [](const QByteArray& psp, const QByteArray& psar) {
      QByteArray file(40, 0);
      file.replace(0, 4, QByteArray("\0PBP", 4));
      for (int s = 0; s < 8; ++s) {
        const int at = s < 7 ? 40 : 40 + psp.size();
        for (int b = 0; b < 4; ++b) file[8 + 4 * s + b] = char(at >> (8 * b));
      }
      return file + psp + psar;
    };
    const QByteArray elf = QByteArray("\x7F" "ELF", 4) + QByteArray(60, 2), disc = QByteArray("PSISOIMG0000", 12);
    QCOMPARE(problem(pbp(elf, disc)), QString());
    QCOMPARE(problem(pbp(QByteArray("~PSP") + QByteArray(8, 0), QByteArray("PSTITLEIMG000000"))), QString());
    QCOMPARE(problem(pbp(elf, QByteArray("PSISO"))), QString("its DATA.PSAR holds no PS1 disc image"));
    QCOMPARE(problem(pbp(elf, {})), QString("its DATA.PSAR holds no PS1 disc image"));
    QCOMPARE(problem(pbp({}, disc)), QString("it holds no boot code (its DATA.PSP is empty)"));
    QCOMPARE(problem(pbp("MZ..", disc)), QString("its DATA.PSP is no PSP module"));
    QCOMPARE(problem("\0PBP"), QString("not a PBP file: shorter than its header"));
    // Offsets out of order or past the end of the file are refused before anything is read there.
    QByteArray bad = pbp(elf, disc);
    bad[8 + 4 * 7 + 3] = 0x7F;
    QCOMPARE(problem(bad), QString("damaged PBP file: bad offset of DATA.PSAR"));
    bad = pbp(elf, disc);
    bad[8 + 4 * 3] = 100;
    QCOMPARE(problem(bad), QString("damaged PBP file: bad offset of PIC1.PNG"));
  }

  void intermediateImage() {
    TempProgramFolder program;
    FakeServices fakes;
    QStringList seenByStep2;
    fakes.runner.onStart = [&](const StartRecord& s) {
      if (s.commandLine.endsWith(R"("temp.iso")")) program.write("temp.iso", "fresh");
      else seenByStep2 << program.read("temp.iso");
    };
    runUmdConversion(fakes.runner, UmdConversion::DaxToCso, "a.dax", "a.cso", "9");
    QCOMPARE(program.read("temp.iso"), QByteArray("fresh"));  // kept after DAX to CSO
    runUmdConversion(fakes.runner, UmdConversion::CsoToDax, "a.cso", "a.dax", "9");
    QVERIFY(!QFile::exists(program.filePath("temp.iso")));  // removed after CSO to DAX

    // A first step that writes nothing leaves the second no older image to pack.
    program.write("temp.iso", "stale");
    seenByStep2.clear();
    fakes.runner.onStart = [&](const StartRecord& s) {
      if (!s.commandLine.endsWith(R"("temp.iso")")) seenByStep2 << program.read("temp.iso");
    };
    runUmdConversion(fakes.runner, UmdConversion::DaxToCso, "a.dax", "a.cso", "9");
    QCOMPARE(seenByStep2, QStringList{""});
  }

  void twoKivosNeverMixTheirStagedFiles() {
    TempProgramFolder program;
    FakeServices fakes;
    const QString mine = program.write("art/mine.png", "mine"), theirs = program.write("art/theirs.png", "theirs");
    QVERIFY(stageArtwork(program.path(), Artwork::Icon0, mine));
    {
      // Another Kivo working from the same folder picks an icon of its own, or builds: it is
      // told, and neither its icon nor its build touches this one's.
      const OtherKivo picking([&] { return stageArtwork(program.path(), Artwork::Icon0, theirs); });
      QVERIFY(!picking.result());
      const OtherKivo building([&] {
        FakeServices others;
        makeEboot(others.runner, {"B", "SCUS", "2", "9", "b.iso", program.filePath("outB")});
        return true;
      });
      QVERIFY(!building.result());
    }
    QCOMPARE(program.read("bin/ICON0.PNG"), QByteArray("mine"));
    makeEboot(fakes.runner, {"A", "SCUS", "1", "9", "a.iso", program.filePath("out")});
    // This build took its artwork: the other Kivo may stage its own now.
    OtherKivo after([&] { return stageArtwork(program.path(), Artwork::Icon0, theirs); });
    QVERIFY(after.result());
    after.release();
    QCOMPARE(program.read("bin/ICON0.PNG"), QByteArray("theirs"));

    // temp.iso: a two-step conversion while another Kivo converts through it is told.
    OtherKivo converting([&] { return claimStaging(program.path(), Staging::TempImage); });
    QVERIFY(converting.result());
    try {
      runUmdConversion(fakes.runner, UmdConversion::CsoToDax, "a.cso", "a.dax", "9");
      QFAIL("the conversion started");
    } catch (const Failure& f) {
      QVERIFY2(f.text().startsWith("Another Kivo window is converting through temp.iso"), qPrintable(f.text()));
    }
    QCOMPARE(fakes.runner.starts.size(), size_t(1));  // the EBOOT build's psx only
    converting.release();
    runUmdConversion(fakes.runner, UmdConversion::CsoToDax, "a.cso", "a.dax", "9");
    QCOMPARE(fakes.runner.starts.size(), size_t(3));
  }

  void aLevelThatIsNoNumberStartsNothing() {
    for (UmdConversion c : {UmdConversion::IsoToCso, UmdConversion::IsoToDax, UmdConversion::CsoToDax,
                            UmdConversion::DaxToCso})
      for (const char* level : {"--output-dir=DIR", "9 --x", "-1", "9x", " 9"}) {
        try {
          umdSteps(c, "a", "b", QString::fromLatin1(level));
          QFAIL(level);
        } catch (const Failure& f) {
          QCOMPARE(f.text(), QString("The compression level \"%1\" is not a number.").arg(level));
        }
      }
    // Empty, or any number: as typed.
    QCOMPARE(umdSteps(UmdConversion::IsoToCso, "a", "b", "").front().commandLine, QString(R"("bin/ciso.exe" "" "a" "b")"));
    QCOMPARE(umdSteps(UmdConversion::IsoToDax, "a", "b", "12").front().commandLine, QString(R"("bin/dax.exe" -l12 "a" "b")"));
    QCOMPARE(umdSteps(UmdConversion::CsoToIso, "a", "b", "x").front().commandLine, QString(R"("bin/ciso.exe" 0 "a" "b")"));
  }

  void joinAndChosenFolder() {
    QCOMPARE(joinFolder("/psp/GAME/CRASH", "EBOOT.PBP"), QString("/psp/GAME/CRASH/EBOOT.PBP"));
    QCOMPARE(joinFolder("/psp/GAME/CRASH/", "EBOOT.PBP"), QString("/psp/GAME/CRASH/EBOOT.PBP"));
    QCOMPARE(joinFolder("", "KEYS.BIN"), QString("/KEYS.BIN"));
    QCOMPARE(chosenFolderText("/psp/GAME/CRASH/"), QString("/psp/GAME/CRASH"));
    QCOMPARE(chosenFolderText("/psp/GAME//"), QString("/psp/GAME"));
    QCOMPARE(chosenFolderText("/"), QString("/"));
  }

  void ebootBuild_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("no trailing separator") << "out/CRASH";
    QTest::newRow("trailing separator") << "out/CRASH/";
  }
  void ebootBuild() {
    QFETCH(QString, folder);
    TempProgramFolder program;
    FakeServices fakes;
    const QString out = program.filePath("out/CRASH");
    QDir().mkpath(out);
    program.write("bin/keys.bin", "keys");
    program.write("out/CRASH/KEYS.BIN", "old keys");
    for (Artwork a : {Artwork::Icon0, Artwork::Pic0, Artwork::Pic1, Artwork::Icon1, Artwork::Snd0})
      QVERIFY(stageArtwork(program.path(), a, program.write("art/" + stagedName(a).toLower(), "art")));
    QStringList stagedAtRun;
    fakes.runner.onStart = [&](const StartRecord&) {
      stagedAtRun = QDir(program.filePath("bin")).entryList(QDir::Files, QDir::Name);
      program.write("bin/EBOOT.PBP", "new eboot");
    };
    makeEboot(fakes.runner, {"T", "SCUS", "1", "9", "x.iso", program.path() + "/" + folder});
    QCOMPARE(fakes.runner.starts.size(), size_t(1));
    QCOMPARE(fakes.runner.starts[0].kind, StartRecord::RunAndWait);
    QCOMPARE(fakes.runner.starts[0].showState, int(SW_SHOWNORMAL));
    QCOMPARE(fakes.runner.starts[0].currentFolder, program.filePath("bin"));
    QCOMPARE(stagedAtRun, (QStringList{"ICON0.PNG", "ICON1.PMF", "PIC0.PNG", "PIC1.PNG", "SND0.AT3", "keys.bin"}));
    QCOMPARE(QDir::currentPath(), program.path());
    QCOMPARE(program.read("out/CRASH/EBOOT.PBP"), QByteArray("new eboot"));
    QCOMPARE(fakes.runner.lastEntry().state, JobState::Succeeded);
    QCOMPARE(fakes.runner.lastEntry().result, out + "/EBOOT.PBP");
    QCOMPARE(fakes.runner.lastEntry().reads, QStringList{program.filePath("bin/x.iso")});
    QCOMPARE(program.read("out/CRASH/KEYS.BIN"), QByteArray("keys"));  // replaced
    QCOMPARE(QDir(program.filePath("bin")).entryList(QDir::Files), QStringList{"keys.bin"});
  }

  void ebootNeverReplaced() {
    TempProgramFolder program;
    FakeServices fakes;
    program.write("out/EBOOT.PBP", "user's eboot");
    fakes.runner.onStart = [&](const StartRecord&) { program.write("bin/EBOOT.PBP", "game A"); };
    makeEboot(fakes.runner, {"A", "SCUS", "1", "9", "a.iso", program.filePath("out")});
    QCOMPARE(program.read("out/EBOOT.PBP"), QByteArray("user's eboot"));
    QCOMPARE(program.read("bin/EBOOT.PBP"), QByteArray("game A"));
    // No longer silent: the job tells where the new one is.
    QCOMPARE(fakes.runner.lastEntry().state, JobState::Failed);
    QCOMPARE(fakes.runner.lastEntry().failure,
             QString("%1 already exists; the new EBOOT.PBP stays in the tool folder as %2.")
                 .arg(program.filePath("out/EBOOT.PBP"), program.filePath("bin/EBOOT.PBP")));

    // psx fails for game B: the leftover of game A must not land in B's folder.
    setOld(program.filePath("bin/EBOOT.PBP"));
    fakes.runner.onStart = nullptr;
    QDir().mkpath(program.filePath("outB"));
    makeEboot(fakes.runner, {"B", "SCUS", "2", "9", "b.iso", program.filePath("outB")});
    QVERIFY(!QFile::exists(program.filePath("outB/EBOOT.PBP")));
    // A build that does write one replaces the leftover and moves it.
    fakes.runner.onStart = [&](const StartRecord&) { program.write("bin/EBOOT.PBP", "game B"); };
    makeEboot(fakes.runner, {"B", "SCUS", "2", "9", "b.iso", program.filePath("outB")});
    QCOMPARE(program.read("outB/EBOOT.PBP"), QByteArray("game B"));
  }

  void aCancelledBuildGoesOnAsAfterAFailedStart() {
    TempProgramFolder program;
    FakeServices fakes;
    program.write("bin/keys.bin", "keys");
    QVERIFY(stageArtwork(program.path(), Artwork::Icon0, program.write("art/icon0.png", "art")));
    QDir().mkpath(program.filePath("out"));
    QString half;
    fakes.runner.onStart = [&](const StartRecord&) {
      half = RecordingRunner::unfinished("EBOOT.PBP");
      QFile f(half);
      QVERIFY(f.open(QIODevice::WriteOnly) && f.write("half an eboot") == 13);
    };
    fakes.runner.cancelStarts = 1;
    makeEboot(fakes.runner, {"A", "SCUS", "1", "9", "a.iso", program.filePath("out")});
    QCOMPARE(fakes.runner.lastEntry().state, JobState::Cancelled);
    QVERIFY(!QFile::exists(half));
    QVERIFY(!QFile::exists(program.filePath("bin/EBOOT.PBP")));
    QVERIFY(!QFile::exists(program.filePath("out/EBOOT.PBP")));
    QCOMPARE(program.read("out/KEYS.BIN"), QByteArray("keys"));
    QCOMPARE(QDir(program.filePath("bin")).entryList(QDir::Files), QStringList{"keys.bin"});
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void relativePathsAreInTheToolFolder() {
    TempProgramFolder program;
    FakeServices fakes;
    QDir().mkpath(program.filePath("bin/out"));
    fakes.runner.onStart = [&](const StartRecord&) { program.write("bin/EBOOT.PBP", "e"); };
    makeEboot(fakes.runner, {"", "SCUS", "", "9", "crash.iso", "out"});
    QCOMPARE(program.read("bin/out/EBOOT.PBP"), QByteArray("e"));
    QVERIFY(!QFile::exists(program.filePath("bin/out/KEYS.BIN")));  // no key file, nothing copied
  }

  void pictureLoader() {
    TempProgramFolder program;
    QImage red(4, 2, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString png = program.filePath("a.png");
    QVERIFY(red.save(png, "PNG"));
    QCOMPARE(loadPicture(png).size(), QSize(4, 2));
    // A PNG under an upper-case extension, and a picture whose extension lies about its type.
    QVERIFY(QFile::copy(png, program.filePath("B.PNG")));
    QVERIFY(QFile::copy(png, program.filePath("c.bmp")));
    QVERIFY(!loadPicture(program.filePath("B.PNG")).isNull());
    QVERIFY(!loadPicture(program.filePath("c.bmp")).isNull());

    const auto message = [](const QString& path) {
      try {
        loadPicture(path);
      } catch (const Failure& f) {
        return f.text();
      }
      return QString();
    };
    QCOMPARE(message(""), QString("Unknown picture file extension (.)"));
    QCOMPARE(message(program.write("n.txt", "x")), QString("Unknown picture file extension (.txt)"));
    QCOMPARE(message(program.write("noext", "x")), QString("Unknown picture file extension (.)"));
    QVERIFY(!message(program.write("broken.png", "not a png")).isEmpty());
    QVERIFY(!message(program.filePath("missing.png")).isEmpty());
    // Refused at once: a FIFO, a device, and a file larger than any picture (sparse, 2 GiB).
    QElapsedTimer clock;
    clock.start();
    QVERIFY(makeFifo(program.filePath("fifo.png")));
    QCOMPARE(message(program.filePath("fifo.png")), program.filePath("fifo.png") + ": It is not a plain file.");
    QVERIFY(QFile::link("/dev/zero", program.filePath("zero.bmp")));
    QCOMPARE(message(program.filePath("zero.bmp")), program.filePath("zero.bmp") + ": It is not a plain file.");
    QVERIFY(QFile::resize(program.write("huge.png", "x"), 2LL << 30));
    QVERIFY(message(program.filePath("huge.png")).contains("too large"));
    QVERIFY(clock.elapsed() < 3000);
  }

  void aFullOutputFolderCutsNothingShort() {
    const QByteArray eboot(5000, 'E'), keys(3000, 'K');
    // The output folder is full: the key file there stays as it was, and EBOOT.PBP arrives
    // whole or stays in the tool folder (on another volume a move is a copy).
    FullDisk::eachKind([&](FullDisk& out) {
      TempProgramFolder program;
      FakeServices fakes;
      out.write("KEYS.BIN", "the user's old keys");
      program.write("bin/keys.bin", keys);
      const QString built = program.write("bin/EBOOT.PBP", eboot);
      setOld(built);
      // psx writes EBOOT.PBP afresh: here only its time changes, so that it needs no room.
      fakes.runner.onStart = [&](const StartRecord&) {
        QFile file(built);
        file.open(QIODevice::ReadWrite);
        file.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
      };
      const QString seen = out.run([&] {
        makeEboot(fakes.runner, {"T", "SCUS", "1", "9", "x.iso", out.path()});
        return QString::number(fakes.runner.starts.size());
      });
      QCOMPARE(seen, QString("1"));
      QCOMPARE(fileBytes(out.filePath("KEYS.BIN")), QByteArray("the user's old keys"));
      const bool moved = out.kind() == FullDisk::Kind::SizeLimit;  // the same volume: a rename, no room needed
      QCOMPARE(QFileInfo::exists(out.filePath("EBOOT.PBP")), moved);
      QCOMPARE(QFileInfo::exists(built), !moved);
      QCOMPARE(fileBytes(moved ? out.filePath("EBOOT.PBP") : built), eboot);
    });
  }

  void aFullToolFolderStagesNothing() {
    // The tool folder is full: a picked file is not staged, and the one staged before stays.
    FullDisk::eachKind([&](FullDisk& program) {
      QTemporaryDir art;
      const QString icon = art.filePath("icon.png");
      QFile picked(icon);
      QVERIFY(picked.open(QIODevice::WriteOnly) && picked.write(QByteArray(4000, 'I')) == 4000);
      picked.close();
      program.write("bin/ICON0.PNG", "staged before");
      const QString seen = program.run([&] { return QString::number(stageArtwork(program.path(), Artwork::Icon0, icon)); });
      QCOMPARE(seen, QString("0"));
      QCOMPARE(fileBytes(program.filePath("bin/ICON0.PNG")), QByteArray("staged before"));
      QCOMPARE(QDir(program.filePath("bin")).entryList(QDir::Files), QStringList{"ICON0.PNG"});
    });
  }
};

QTEST_MAIN(ConvertJobsTest)
#include "test_convertjobs.moc"

// The Shell integration page against a temporary home folder: the install copies the tree and
// hands do.reg over, the uninstall starts its three steps; the scripts themselves are run for
// real with /bin/sh, the way the runner runs them, and must leave the home folder clean.
#include "link/shellpage.h"
#include "shell/clicklabel.h"
#include "shell/tests/kit/fakes.h"
#include "shell/tests/kit/fulldisk.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QtTest>

using namespace kivo::testing;

namespace {

void copyTree(const QString& from, const QString& to) {
  QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next(), target = to + "/" + QDir(from).relativeFilePath(path);
    if (it.fileInfo().isDir()) {
      QDir().mkpath(target);
    } else {
      QDir().mkpath(QFileInfo(target).absolutePath());
      QFile::copy(path, target);
    }
  }
}

QByteArray slurp(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Runs a script as the runner does: /bin/sh, in the given folder, with our home folder.
int runSh(const QStringList& args, const QString& folder) {
  QProcess sh;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("XDG_DATA_HOME");
  sh.setProcessEnvironment(env);
  sh.setWorkingDirectory(folder);
  sh.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sh.start("/bin/sh", args);
  if (!sh.waitForFinished(30000)) return -1;
  return sh.exitStatus() == QProcess::NormalExit ? sh.exitCode() : -1;
}

}  // namespace

class ShellPageTest : public QObject {
  Q_OBJECT
  QByteArray savedHome_ = qgetenv("HOME");
  std::unique_ptr<QTemporaryDir> base_;
  QString home_;

private slots:
  void initTestCase() { kivo::installFontSubstitutes(); }

  void init() {
    // A blank and a "$" in the home folder's name try the scripts' quoting.
    base_ = std::make_unique<QTemporaryDir>();
    home_ = base_->filePath("my home $x");
    QDir().mkpath(home_);
    qputenv("HOME", QFile::encodeName(home_));
  }
  void cleanup() { qputenv("HOME", savedHome_); }

  void installThenUninstall() {
    TempProgramFolder program;
    copyTree(KIVO_CONTCONV_DIR, program.filePath("win/contconv"));
    program.write("win/contconv/copy/PSP/ISO_Compress/README", "no dot, not copied");
    const QString notes = program.write("win/contconv/copy/PSP/ISO_Compress/notes.txt", "read-only");
    QFile::setPermissions(notes, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    for (const char* tool : {"ciso", "dax"}) {
      const QString path = program.write(QString("bin/") + tool,
                                         QByteArray("#!/bin/sh\necho \"") + tool + " $1 ${2##*/}\" > \"$3\"\n");
      QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    }
    const QString data = home_ + "/.local/share";
    const QString foreign = data + "/nemo/actions/kivo-isoconv-dax.nemo_action";
    QDir().mkpath(QFileInfo(foreign).absolutePath());
    QFile f(foreign);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("the user's own") > 0);
    f.close();

    FakeServices fakes;
    TFrame2 page(fakes.services);
    QVERIFY(!page.Label1->isVisibleTo(&page));
    page.continstClick();
    QVERIFY(fakes.messages.boxes.empty());
    QVERIFY(page.Label1->isVisibleTo(&page));
    QCOMPARE(QDir::currentPath(), program.path());
    QCOMPARE(fakes.runner.starts.size(), size_t(1));
    const StartRecord open = fakes.runner.starts[0];
    QCOMPARE(open.kind, StartRecord::OpenWithShell);
    QCOMPARE(open.commandLine, home_ + "/PSP/ISO_Compress/do.reg");
    QCOMPARE(open.showState, 5);
    QCOMPARE(open.currentFolder, program.filePath("win/contconv"));
    QVERIFY(QFileInfo(home_ + "/PSP/uniso.bat").isFile());
    QVERIFY(!QFileInfo::exists(home_ + "/PSP/ISO_Compress/README"));
    QVERIFY(QFileInfo(home_ + "/PSP/ISO_Compress/notes.txt").permissions() & QFileDevice::WriteOwner);

    // The desktop runs do.reg: the actions appear and call the tool folder's converters.
    QCOMPARE(runSh({open.commandLine}, open.currentFolder), 0);
    const QByteArray entry = slurp(data + "/applications/kivo-isoconv-cso.desktop");
    // Paths are quoted only where they must be (xdg-open keeps quotes).
    QVERIFY2(entry.contains("Exec=/bin/sh \"" + QFile::encodeName(base_->path()) +
                            "/my home \\\\$x/PSP/ISO_Compress/isoconv.sh\" " +
                            QFile::encodeName(program.path()) + "/bin cso %F\n"),
             entry.constData());
    // Opening an image opens Kivo: its entry sorts ahead of the conversions for the same types.
    const QByteArray opener = slurp(data + "/applications/kivo-image.desktop");
    QVERIFY2(opener.contains(" --open %f\n") && opener.contains("MimeType=application/x-cd-image;"), opener.constData());
    QVERIFY(entry.contains("MimeType=application/x-cd-image;"));
    QVERIFY(slurp(data + "/kio/servicemenus/kivo-isoconv.desktop").contains("Actions=toCso;toDax;toIso;"));
    QVERIFY(QFileInfo::exists(data + "/nemo/actions/kivo-isoconv-iso.nemo_action"));
    QCOMPARE(slurp(foreign), QByteArray("the user's own"));
    QVERIFY(QFileInfo::exists(data + "/mime/packages/kivo-isoconv.xml"));

    // Right click, "Convert to CSO": one step from ISO, two from DAX; nothing is overwritten.
    const QString toCso = data + "/nautilus/scripts/Convert to CSO (UMD image)";
    QVERIFY(QFileInfo(toCso).isExecutable());
    QDir().mkpath(home_ + "/games");
    QFile::copy(notes, home_ + "/games/My Game.iso");
    QFile::copy(notes, home_ + "/games/old.DAX");
    QCOMPARE(runSh({toCso, home_ + "/games/My Game.iso", home_ + "/games/old.DAX"}, home_), 0);
    QCOMPARE(slurp(home_ + "/games/My Game.cso"), QByteArray("ciso 9 My Game.iso\n"));
    QVERIFY(slurp(home_ + "/games/old.cso").startsWith("ciso 9 .isoconv."));
    QCOMPARE(QDir(home_ + "/games").entryList(QDir::Files | QDir::Hidden).size(), 4);  // no leftovers
    QCOMPARE(runSh({toCso, home_ + "/games/My Game.iso"}, home_), 1);
    QCOMPARE(slurp(home_ + "/games/My Game.cso"), QByteArray("ciso 9 My Game.iso\n"));

    // Uninstall: un.reg in win/contconv, then uniso.bat and the rmdir in PSP/ of the home.
    program.write("unused");
    QDir().mkpath(home_ + "/PSP/ISO");
    QFile::copy(notes, home_ + "/PSP/ISO/mine.iso");
    fakes.runner.starts.clear();
    page.contuninClick();
    QVERIFY(page.Label2->isVisibleTo(&page));
    QCOMPARE(QDir::currentPath(), program.path());
    QCOMPARE(fakes.runner.starts.size(), size_t(3));
    const auto& s = fakes.runner.starts;
    QCOMPARE(s[0].kind, StartRecord::OpenWithShell);
    QCOMPARE(s[0].commandLine, "un.reg");
    QCOMPARE(s[0].showState, 5);
    QCOMPARE(s[0].currentFolder, program.filePath("win/contconv"));
    QCOMPARE(s[1].kind, StartRecord::StartAndForget);
    QCOMPARE(s[1].commandLine, "uniso.bat");
    QCOMPARE(s[2].commandLine, "rmdir ISO_Compress");
    for (int i : {1, 2}) {
      QCOMPARE(s[i].showState, 1);
      QCOMPARE(s[i].currentFolder, home_ + "/PSP");
    }
    QCOMPARE(runSh({s[0].currentFolder + "/un.reg"}, s[0].currentFolder), 0);
    QCOMPARE(runSh({s[1].currentFolder + "/uniso.bat"}, s[1].currentFolder), 0);
    QDir(s[2].currentFolder).rmdir("ISO_Compress");  // gone already: the script took it

    QCOMPARE(slurp(foreign), QByteArray("the user's own"));
    QDirIterator left(data, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList ours;
    while (left.hasNext()) {
      const QString path = left.next();
      if (path.contains("kivo-isoconv") || path.contains("kivo-image") || path.contains("UMD image")) ours << path;
    }
    QCOMPARE(ours, QStringList{foreign});
    // Only the copied files go; notes.txt was copied too but is not the scripts' to remove.
    QVERIFY(!QFileInfo::exists(home_ + "/PSP/uniso.bat"));
    QVERIFY(!QFileInfo::exists(home_ + "/PSP/ISO_Compress/do.reg"));
    QVERIFY(QFileInfo::exists(home_ + "/PSP/ISO/mine.iso"));
  }

  void ebootImagesGoBesideTheirFileAndAFailedOneLeavesNothing() {
    TempProgramFolder program;
    // rastle as the installed package's action calls it; it fails halfway through for "bad".
    const QString rastle = program.write("bin/rastle",
        "#!/bin/sh\n[ \"$1\" = -o ] || exit 9\necho partial > \"$2\"\ncase $3 in *bad*) exit 255 ;; esac\n"
        "echo \"image of ${3##*/}\" > \"$2\"\n");
    QFile::setPermissions(rastle, QFile::permissions(rastle) | QFileDevice::ExeOwner);
    const QString script = QString(KIVO_CONTCONV_DIR) + "/copy/PSP/ISO_Compress/isoconv.sh";
    QDir().mkpath(home_ + "/games");
    for (const char* name : {"EBOOT.PBP", "bad.pbp", "kept.pbp"}) QFile(home_ + "/games/" + name).open(QIODevice::WriteOnly);
    QFile kept(home_ + "/games/kept.iso");
    QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("mine") == 4);
    kept.close();
    QCOMPARE(runSh({script, program.filePath("bin"), "iso", home_ + "/games/EBOOT.PBP", home_ + "/games/bad.pbp",
                    home_ + "/games/kept.pbp"}, home_),
             1);
    QCOMPARE(slurp(home_ + "/games/EBOOT.iso"), QByteArray("image of EBOOT.PBP\n"));
    QVERIFY(!QFileInfo::exists(home_ + "/games/bad.iso"));
    QCOMPARE(slurp(home_ + "/games/kept.iso"), QByteArray("mine"));
  }

  void uninstallWithoutPspFolderStaysInContconv() {
    TempProgramFolder program;
    QDir().mkpath(program.filePath("win/contconv"));
    FakeServices fakes;
    TFrame2 page(fakes.services);
    page.contuninClick();
    QCOMPARE(fakes.runner.starts.size(), size_t(3));
    for (const StartRecord& s : fakes.runner.starts) QCOMPARE(s.currentFolder, program.filePath("win/contconv"));
    QVERIFY(page.Label2->isVisibleTo(&page));
    QCOMPARE(QDir::currentPath(), program.path());
  }

  void folderErrors() {
    TempProgramFolder program;
    FakeServices fakes;
    TFrame2 page(fakes.services);
    page.continstClick();
    page.contuninClick();
    QCOMPARE(fakes.messages.errors(),
             (QStringList{"Cannot enter the folder win", "Cannot enter the folder win"}));
    QDir().mkpath(program.filePath("win"));
    page.continstClick();
    QCOMPARE(fakes.messages.errors().last(), "Cannot enter the folder contconv");
    QCOMPARE(QDir::currentPath(), program.path());

    // A file where the copy wants the PSP folder.
    program.write("win/contconv/copy/PSP/ISO_Compress/do.reg", "#!/bin/sh\n");
    QFile blocker(home_ + "/PSP");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    page.continstClick();
    QCOMPARE(fakes.messages.errors().last(), "Cannot create " + home_ + "/PSP/");
    QCOMPARE(QDir::currentPath(), program.path());
    QVERIFY(fakes.runner.starts.empty());
    QVERIFY(!page.Label1->isVisibleTo(&page) && !page.Label2->isVisibleTo(&page));
  }

  void aFullHomeFolderIsNotReportedDone() {
    FullDisk::eachKind([&](FullDisk& home) {
      TempProgramFolder program;
      program.write("win/contconv/copy/PSP/ISO_Compress/do.reg", QByteArray(5000, 'r'));
      home.write("PSP/ISO_Compress/do.reg", "registered before");
      qputenv("HOME", QFile::encodeName(home.path()));
      FakeServices fakes;
      TFrame2 page(fakes.services);
      const QString seen = home.run([&] {
        page.continstClick();
        return QString("%1|%2").arg(page.Label1->isVisibleTo(&page)).arg(fakes.messages.texts().join(','));
      });
      // Unremarked, as a failed copy is, but not "...done!"; the file there is whole.
      QCOMPARE(seen, QString("0|"));
      QCOMPARE(slurp(home.filePath("PSP/ISO_Compress/do.reg")), QByteArray("registered before"));
      QCOMPARE(QDir(home.filePath("PSP/ISO_Compress")).entryList(QDir::Files | QDir::Hidden), QStringList{"do.reg"});
    });
  }

  void textsAndNames() {
    FakeServices fakes;
    TFrame2 page(fakes.services);
    QCOMPARE(page.Memo1->toPlainText().split('\n').size(), 5);
    QVERIFY(page.Memo1->toPlainText().startsWith("There are some cool functions to make your PSP life easier. \n"));
    const QStringList memo2 = page.Memo2->toPlainText().split('\n');
    QCOMPARE(memo2.mid(0, 4), (QStringList{"This is an awesome function ", "that can convert UMD images ",
                                           "easily by right clicking one.", ""}));
    QVERIFY(page.Memo1->isReadOnly() && page.Memo2->isReadOnly());
    QVERIFY(!page.Memo1->accessibleName().isEmpty() && !page.Memo2->accessibleName().isEmpty());
    QVERIFY(!page.continst->pressLook() && !page.contunin->pressLook());
  }
};

QTEST_MAIN(ShellPageTest)
#include "test_shellpage.moc"

// Kivo: sets the application title, builds the main window and runs until it is closed.
#include "activityhost.h"
#include "failure.h"
#include "filedialog.h"
#include "firstpaint.h"
#include "formMain.h"
#include "logging.h"
#include "page.h"
#include "platform.h"
#include "realservices.h"
#include "startoptions.h"
#include "userfolder.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <cstdio>
#include <thread>
#include <unistd.h>
#ifdef KIVO_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

int main(int argc, char** argv) {
  // --help and --version answer before anything needs a display.
  {
    QStringList raw;
    for (int i = 1; i < argc; ++i) raw << QString::fromLocal8Bit(argv[i]);
    const kivo::StartOptions early = kivo::parseStartOptions(raw);
    if (early.help || early.version) {
      std::fputs(qPrintable(early.help ? kivo::startHelpText() : kivo::startVersionText()), stdout);
      return 0;
    }
  }
  kivo::filterTerminalNoise();
  // Qt WebEngine exits the whole process when run as root with its sandbox on.
  if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  kivo::quietStartupNoise();
#ifdef KIVO_FONTCONFIG
  // Reading the font configuration takes as long as decoding the window's pictures and
  // connecting to the display: do them side by side. The first text then finds it ready.
  std::thread fontConfig([] { FcInit(); });
#endif
  TfrmMain::decodePicturesAhead();
  QApplication app(argc, argv);
#ifdef KIVO_FONTCONFIG
  fontConfig.join();
#endif
  // Qt has taken its own options (-platform, --style, ...) out by now; what is left is ours.
  const kivo::StartOptions options = kivo::parseStartOptions(app.arguments().mid(1));
  if (!options.error.isEmpty()) {
    std::fprintf(stderr, "kivo: %s\nTry 'kivo --help'.\n", qPrintable(options.error));
    return 2;
  }
  QApplication::setApplicationName(kivo::kAppTitle);
  QApplication::setApplicationDisplayName(kivo::kAppTitle);
  QGuiApplication::setDesktopFileName(QStringLiteral("kivo-workbench"));
  // Notifications of the tools' ends: the desktop's service, else the tray's balloon.
  std::unique_ptr<TfrmMain> frmMain;
  kivo::DesktopNotifier notifier([&frmMain](const kivo::Notice& n) {
    if (frmMain && frmMain->tray1->iconVisible())
      frmMain->tray1->ShowBalloonHint(n.summary, n.body, n.failure ? TCoolTrayIcon::bitError : TCoolTrayIcon::bitInfo, 10);
  });
  kivo::installFontSubstitutes();
  // Every relative path of the program resolves against its own folder (for an installed Kivo,
  // the user's copy of it).
  const QString working = kivo::workingProgramFolder(kivo::programFolder());
  QDir::setCurrent(working);
  // The user's copy of the program folder is Kivo's business, not a place to browse from.
  kivo::setDialogStartFolder(kivo::dialogStartFolder(kivo::programFolder(), working));

  kivo::ProcessRunner runner;
  kivo::QtDialogs dialogs;
  kivo::QtMessageBoxes messages;
  kivo::SystemClock clock;
  kivo::Services services{runner, dialogs, messages, clock};
  std::unique_ptr<kivo::SongPlayer> wmp = kivo::makeQtSongPlayer();

  try {
    frmMain = std::make_unique<TfrmMain>(services, *wmp, options.arguments, nullptr,
                                         TfrmMain::PageBuild::AfterFirstPaint);
  } catch (const kivo::Failure& failure) {
    // The song could not be opened: say why and end without a window.
    messages.showError(failure.text());
    return 1;
  }
  QApplication::setWindowIcon(frmMain->windowIcon());
  new kivo::ActivityHost(frmMain.get(), runner, notifier, [w = frmMain.get()] { return kivo::presenceOf(w); });
  kivo::FirstPaintReporter::watch(frmMain.get());
  if (!options.open.isEmpty()) frmMain->openForConversion(options.open);
  frmMain->show();
  // Where no window manager hands out the focus, ask for it, so the first activation (and
  // with it the Home page's entry step) still happens.
  frmMain->activateWindow();
  const int code = app.exec();
  frmMain.reset();
  return code;
}

// usb [--drive X=FOLDER]... FOLDER: serves FOLDER to a PSP attached by USB that runs the host
// file system module, as its host0:. Runs until it is stopped, across the PSP's comings and goings.
#include "drives.h"
#include "hoststatus.h"
#include "servedfolder.h"
#include "usbdevice.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

using namespace kivo::psplink;

namespace {

const char* const kUsage =
    "Usage: usb [--drive LETTER=FOLDER]... FOLDER\n"
    "Serves FOLDER to a PSP attached by USB that runs the USB host file system module; the PSP\n"
    "sees it as host0:. A folder written /cygdrive/C/... lies in the folder that stands for\n"
    "drive C (the home folder, unless ~/.config/kivo/drives or --drive says otherwise).\n"
    "Runs until stopped (Ctrl+C), waiting for the PSP whenever it is away.\n"
    "\n"
    "  --drive LETTER=FOLDER  the folder that /cygdrive/LETTER/ stands for\n"
    "  --help                 this text\n"
    "  --version              the version\n";

}  // namespace

int main(int argc, char** argv) {
  if (!startAsHost()) return 0;
  const char* self = startedAs(argc, argv, "usb");
  std::string problems;
  DriveMap drives = userDriveMap(&problems);
  if (!problems.empty()) std::fprintf(stderr, "usb: %s: %s", driveMapFile().c_str(), problems.c_str());
  std::string typed;
  bool haveFolder = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("%s (Kivo Workbench) %s\n", self, KIVO_VERSION);
      return 0;
    }
    if (arg == "--drive" && i + 1 < argc) {
      if (!parseDriveOption(argv[++i], drives)) {
        std::fprintf(stderr, "usb: --drive wants LETTER=FOLDER, not '%s'\n%s", argv[i], kUsage);
        return 1;
      }
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      std::fprintf(stderr, "usb: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return 1;
    } else if (!haveFolder) {
      typed = arg == "--" && i + 1 < argc ? argv[++i] : arg;
      haveFolder = true;
    } else {
      std::fprintf(stderr, "usb: one folder only\n%s", kUsage);
      return 1;
    }
  }
  if (!haveFolder || typed.empty()) {
    std::fprintf(stderr, "usb: which folder should the PSP see?\n%s", kUsage);
    return 1;
  }
  std::string why;
  const std::string folderPath = hostFolder(typed, drives, why);
  if (folderPath.empty()) {
    std::fprintf(stderr, "usb: %s\n", why.c_str());
    return 2;
  }
  try {
    ServedFolder folder(folderPath);
    usb::UsbWatcher watcher;
    HostStatus status("Serving " + folder.root(), HostStatus::machineLinesWanted());
    status.setState("waiting for the PSP");
    status.event("Serving " + folder.root() + " as the PSP's host0:, waiting for the PSP");
    for (;;) {
      std::string problem;
      std::unique_ptr<usb::UsbPsp> psp = watcher.waitForPsp(problem);
      if (!psp) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        status.setState("the PSP cannot be opened");
        continue;
      }
      usb::Session session(*psp, folder, &status);
      if (!session.greet()) {
        status.event("The PSP did not answer the greeting; starting its link again");
        psp->restart();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        continue;
      }
      status.setState("PSP connected");
      status.event("PSP connected");
      const usb::End end = session.serve();
      folder.reset();
      if (end == usb::End::OutOfStep) {
        status.event("The PSP sent something that is no request; starting its link again");
        psp->restart();
      } else {
        status.event("PSP disconnected");
      }
      status.setState("waiting for the PSP");
    }
  } catch (const ServedFolder::Error& e) {
    std::fprintf(stderr, "usb: %s\n", e.message.c_str());
  } catch (const usb::UsbWatcher::Error& e) {
    std::fprintf(stderr, "usb: %s\n", e.message.c_str());
  }
  return 2;
}

// net [-p PORT] [-l PASSWORD] [--drive X=FOLDER]... FOLDER: serves FOLDER to PSPs on the network
// that run the network host file system module, as their host0:. Runs until it is stopped.
#include "drives.h"
#include "hoststatus.h"
#include "server.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace kivo::psplink;

namespace {

const char* const kUsage =
    "Usage: net [-p PORT] [-l PASSWORD] [--drive LETTER=FOLDER]... FOLDER\n"
    "Serves FOLDER to PSPs on the network that run the network host file system module; a PSP\n"
    "sees it as host0:. The PSP connects to PORT and the three ports after it. A folder written\n"
    "/cygdrive/C/... lies in the folder that stands for drive C (the home folder, unless\n"
    "~/.config/kivo/drives or --drive says otherwise). Runs until stopped (Ctrl+C).\n"
    "\n"
    "  -p PORT                the first port (7513)\n"
    "  -l PASSWORD            the PSP must give this password (its first 8 characters count)\n"
    "  --drive LETTER=FOLDER  the folder that /cygdrive/LETTER/ stands for\n"
    "  --help                 this text\n"
    "  --version              the version\n";

bool parsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value < 1 || value > 65535 - (net::kPorts - 1)) return false;
  port = uint16_t(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!startAsHost()) return 0;
  const char* self = startedAs(argc, argv, "net");
  std::string problems;
  DriveMap drives = userDriveMap(&problems);
  if (!problems.empty()) std::fprintf(stderr, "net: %s: %s", driveMapFile().c_str(), problems.c_str());
  net::ServerOptions options;
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
    const bool takesValue = arg == "-p" || arg == "-l" || arg == "--drive";
    if (takesValue && i + 1 >= argc) {
      std::fprintf(stderr, "net: %s wants a value\n%s", arg.c_str(), kUsage);
      return 1;
    }
    if (arg == "-p") {
      if (!parsePort(argv[++i], options.port)) {
        std::fprintf(stderr, "net: '%s' is no port (1 to %d)\n", argv[i], 65535 - (net::kPorts - 1));
        return 1;
      }
    } else if (arg == "-l") {
      options.password = argv[++i];
    } else if (arg == "--drive") {
      if (!parseDriveOption(argv[++i], drives)) {
        std::fprintf(stderr, "net: --drive wants LETTER=FOLDER, not '%s'\n%s", argv[i], kUsage);
        return 1;
      }
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      std::fprintf(stderr, "net: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return 1;
    } else if (!haveFolder) {
      typed = arg == "--" && i + 1 < argc ? argv[++i] : arg;
      haveFolder = true;
    } else {
      std::fprintf(stderr, "net: one folder only\n%s", kUsage);
      return 1;
    }
  }
  if (!haveFolder || typed.empty()) {
    std::fprintf(stderr, "net: which folder should the PSP see?\n%s", kUsage);
    return 1;
  }
  std::string why;
  options.folder = hostFolder(typed, drives, why);
  if (options.folder.empty()) {
    std::fprintf(stderr, "net: %s\n", why.c_str());
    return 2;
  }
  try {
    const ServedFolder check(options.folder);  // a folder that cannot be served fails now, not later
    options.folder = check.root();
    HostStatus status("Serving " + options.folder + " on port " + std::to_string(options.port),
                      HostStatus::machineLinesWanted());
    net::Server server(options, status);
    status.setState("waiting for the PSP");
    status.event("Serving " + options.folder + " as the PSP's host0: on ports " + std::to_string(options.port) +
                 " to " + std::to_string(options.port + net::kPorts - 1) +
                 (options.password.empty() ? ", without a password" : ", with a password"));
    server.run();
  } catch (const ServedFolder::Error& e) {
    std::fprintf(stderr, "net: %s\n", e.message.c_str());
  } catch (const net::Server::Error& e) {
    std::fprintf(stderr, "net: %s\n", e.message.c_str());
  }
  return 2;
}

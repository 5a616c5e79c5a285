#include "logging.h"

#include <QLoggingCategory>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace kivo {

namespace {

bool debugging() { return qEnvironmentVariableIsSet("KIVO_DEBUG") && qgetenv("KIVO_DEBUG") != "0"; }

void writeAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t done = ::write(fd, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    data += done;
    n -= size_t(done);
  }
}

// The filter process: line by line from the pipe to the terminal, without the noise. A line
// longer than the buffer goes on in pieces, unfiltered.
[[noreturn]] void runFilter(int in, int out) {
  char buffer[8192];
  size_t held = 0;
  for (;;) {
    const ssize_t got = ::read(in, buffer + held, sizeof buffer - held);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    held += size_t(got);
    size_t start = 0;
    for (size_t i = 0; i < held; ++i) {
      if (buffer[i] != '\n') continue;
      if (!isTerminalNoise(buffer + start, i - start)) writeAll(out, buffer + start, i + 1 - start);
      start = i + 1;
    }
    if (start == 0 && held == sizeof buffer) {
      writeAll(out, buffer, held);
      held = 0;
    } else {
      std::memmove(buffer, buffer + start, held - start);
      held -= start;
    }
  }
  writeAll(out, buffer, held);
  ::_exit(0);
}

}  // namespace

bool isTerminalNoise(const char* line, size_t length) {
  static const char kFontconfig[] = "Fontconfig error: Cannot load default config file";
  return length >= sizeof kFontconfig - 1 && std::memcmp(line, kFontconfig, sizeof kFontconfig - 1) == 0;
}

void filterTerminalNoise() {
  if (debugging()) return;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  if (pid == 0) {
    ::close(fds[1]);
    // Nothing else of Kivo's stays open here: whoever reads Kivo's standard output must not wait
    // for the filter.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
      ::dup2(null, STDIN_FILENO);
      ::dup2(null, STDOUT_FILENO);
    }
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != fds[0]) ::close(fd);
    // Ctrl+C at the terminal ends Kivo; the filter ends once the last writer has gone.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    ::prctl(PR_SET_NAME, "kivo-terminal");
    runFilter(fds[0], STDERR_FILENO);
  }
  ::close(fds[0]);
  ::dup2(fds[1], STDERR_FILENO);  // without close-on-exec: the programs Kivo starts write here too
  ::close(fds[1]);
}

void quietStartupNoise() {
  if (debugging()) return;
  // Qt's libraries say what they miss of the desktop (no audio server, no runtime folder) in
  // uncategorised warnings; Kivo's own messages go to the user through its windows.
  // QT_LOGGING_RULES, when a user sets it, still has the last word.
  QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\n"
                                                  "qt.multimedia.*.warning=false\n"
                                                  "qt.multimedia.*.info=false\n"
                                                  "js=false\n"
                                                  "default.info=false\n"
                                                  "default.warning=false\n"));
  if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--log-level=3");
}

}  // namespace kivo

#include "hoststatus.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

namespace kivo::psplink {

bool startAsHost() {
  std::signal(SIGPIPE, SIG_IGN);
  if (!HostStatus::machineLinesWanted()) return true;
  const pid_t parent = ::getppid();
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  return ::getppid() == parent;  // Kivo may have ended before the tie was made
}

const char* startedAs(int argc, char** argv, const char* fallback) {
  if (argc < 1 || !argv[0]) return fallback;
  const char* slash = std::strrchr(argv[0], '/');
  return slash ? slash + 1 : argv[0];
}

HostStatus::HostStatus(std::string serving, bool machineLines, std::FILE* status, std::FILE* events)
    : serving_(std::move(serving)), machine_(machineLines), status_(status), events_(events) {
  if (machine_) writer_ = std::thread([this] { run(); });
}

HostStatus::~HostStatus() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
}

bool HostStatus::machineLinesWanted() {
  const char* env = std::getenv("KIVO_PROGRESS");
  return env && *env && std::strcmp(env, "0") != 0;
}

std::string HostStatus::text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t n = requests();
  return serving_ + ": " + (state_.empty() ? std::string() : state_ + ", ") + std::to_string(n) +
         (n == 1 ? " request" : " requests");
}

void HostStatus::setState(const std::string& state) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
  }
  poke();
}

void HostStatus::event(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(events_, "%s\n", line.c_str());
  std::fflush(events_);
}

void HostStatus::poke() {
  if (!machine_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dirty_) return;
    dirty_ = true;
  }
  wake_.notify_one();
}

// Sleeps until something changed, writes one line, and then waits a little before the next, so
// a busy PSP costs a few lines a second and an idle one nothing at all.
void HostStatus::run() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return dirty_ || stop_; });
      if (!dirty_ && stop_) return;
      dirty_ = false;
    }
    const std::string line = text();
    std::fprintf(status_, "%s %s\n", kStatusTag, line.c_str());
    std::fflush(status_);
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, std::chrono::milliseconds(400), [this] { return stop_; }) && !dirty_) return;
  }
}

}  // namespace kivo::psplink

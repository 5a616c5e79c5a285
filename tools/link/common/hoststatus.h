// What a running host tells the user: what it serves, whether a PSP is connected, and how many
// requests it has answered. Kivo starts it with KIVO_PROGRESS=1 and shows "KIVO-STATUS <text>"
// lines of standard error as the host's state in its tool activity; events ("PSP connected")
// go to standard output as lines for the user in either case.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace kivo::psplink {

inline constexpr const char* kStatusTag = "KIVO-STATUS";

/// What a host does first: ignore SIGPIPE and, when Kivo started it, end with Kivo (the host has
/// no window of its own, so it must not serve on unseen). False when Kivo has already ended.
bool startAsHost();
/// The name the host was started by (an installed host runs as kivo-usb or kivo-net too).
const char* startedAs(int argc, char** argv, const char* fallback);

class HostStatus {
public:
  /// serving: "Serving /home/me/psp"; machineLines: write status lines (KIVO_PROGRESS set).
  HostStatus(std::string serving, bool machineLines, std::FILE* status = stderr, std::FILE* events = stdout);
  ~HostStatus();
  HostStatus(const HostStatus&) = delete;
  HostStatus& operator=(const HostStatus&) = delete;

  /// Whether KIVO_PROGRESS asks for machine lines.
  static bool machineLinesWanted();

  void setState(const std::string& state);  ///< "PSP connected"; shown in the status line
  void event(const std::string& line);      ///< a line for the user, at once
  void request() {
    requests_.fetch_add(1, std::memory_order_relaxed);
    poke();
  }
  uint64_t requests() const { return requests_.load(std::memory_order_relaxed); }
  std::string text() const;

private:
  void poke();
  void run();

  const std::string serving_;
  const bool machine_;
  std::FILE* const status_;
  std::FILE* const events_;
  std::atomic<uint64_t> requests_{0};
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::string state_;
  bool dirty_ = true;
  bool stop_ = false;
  std::thread writer_;
};

}  // namespace kivo::psplink

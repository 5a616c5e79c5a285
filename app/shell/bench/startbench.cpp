// Start-up benchmark: time from process start to the first painted window, Kivo against a bare
// Qt Widgets window, alternating in one run so both see the same machine; also peak memory.
//   kivo_startbench KIVO BARE_WINDOW [RUNS]     (needs a display, e.g. under xvfb-run)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

struct Sample {
  double ms = -1;     // start to first paint
  long peakKiB = 0;   // peak resident memory
};

long long nowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

Sample runOnce(const char* program) {
  int out[2];
  if (pipe(out) != 0) return {};
  const long long start = nowNs();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    setenv("KIVO_REPORT_FIRST_PAINT", "1", 1);
    execl(program, program, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Sample sample;
  const size_t at = text.find("first-paint ");
  if (at != std::string::npos) sample.ms = (std::atoll(text.c_str() + at + 12) - start) / 1e6;
  sample.peakKiB = usage.ru_maxrss;
  return sample;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: kivo_startbench KIVO BARE_WINDOW [RUNS]\n");
    return 2;
  }
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
  std::vector<double> kivo, bare;
  long kivoPeak = 0, barePeak = 0;
  runOnce(argv[1]);  // warm the file cache for both, unmeasured
  runOnce(argv[2]);
  for (int i = 0; i < runs; ++i) {
    const Sample b = runOnce(argv[2]);
    const Sample k = runOnce(argv[1]);
    if (b.ms < 0 || k.ms < 0) {
      std::fprintf(stderr, "a run did not report its first paint\n");
      return 1;
    }
    bare.push_back(b.ms);
    kivo.push_back(k.ms);
    barePeak = std::max(barePeak, b.peakKiB);
    kivoPeak = std::max(kivoPeak, k.peakKiB);
  }
  const double ratio = median(kivo) / median(bare);
  std::printf("runs %d\n", runs);
  std::printf("bare window: first paint %.1f ms (median), peak memory %.1f MiB\n", median(bare), barePeak / 1024.0);
  std::printf("kivo:        first paint %.1f ms (median), peak memory %.1f MiB\n", median(kivo), kivoPeak / 1024.0);
  std::printf("ratio %.2f (target at most 1.50)\n", ratio);
  return ratio <= 1.5 ? 0 : 3;
}

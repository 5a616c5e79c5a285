#include "cores.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <thread>

namespace kivo {

unsigned cpusFromCgroupMax(const std::string& text) {
  std::istringstream in(text);
  std::string quota;
  long long period = 0;
  if (!(in >> quota >> period) || quota == "max" || period <= 0) return 0;
  char* end = nullptr;
  const long long q = std::strtoll(quota.c_str(), &end, 10);
  if (*end || q <= 0) return 0;
  return unsigned(std::min<long long>((q + period - 1) / period, 1 << 16));
}

namespace {

std::string readSmallFile(const char* path) {
  std::ifstream f(path);
  std::string text;
  std::getline(f, text);
  return text;
}

unsigned cgroupQuota() {
  if (unsigned n = cpusFromCgroupMax(readSmallFile("/sys/fs/cgroup/cpu.max"))) return n;
  // cgroup v1 keeps quota and period in two files.
  const std::string q = readSmallFile("/sys/fs/cgroup/cpu/cpu.cfs_quota_us");
  const std::string p = readSmallFile("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
  if (q.empty() || p.empty() || q[0] == '-') return 0;
  return cpusFromCgroupMax(q + " " + p);
}

} // namespace

unsigned usableCores() {
  if (const char* env = std::getenv("KIVO_THREADS")) {
    const int n = std::atoi(env);
    if (n > 0) return unsigned(std::min(n, 256));
  }
  cpu_set_t set;
  unsigned n = sched_getaffinity(0, sizeof set, &set) == 0 ? unsigned(CPU_COUNT(&set))
                                                           : std::thread::hardware_concurrency();
  if (unsigned quota = cgroupQuota()) n = std::min(n, quota);
  return std::max(n, 1u);
}

} // namespace kivo

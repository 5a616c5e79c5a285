// How many threads a tool should run: the cores this process may use, not all the machine has.
#pragma once

#include <string>

namespace kivo {

/// The CPUs of this process's affinity mask, lowered to the cgroup's CPU quota (rounded up),
/// at least 1. KIVO_THREADS, when set to a positive number, wins.
unsigned usableCores();

/// The quota in CPUs from a cgroup v2 "cpu.max" text ("max 100000" or "150000 100000"):
/// 0 when there is none. Pure, for tests.
unsigned cpusFromCgroupMax(const std::string& text);

} // namespace kivo

#include "temporary.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::filesafe {

namespace {

// Room for the suffix under the usual limit of 255 bytes a name.
constexpr size_t kMaxPrefix = 100;
constexpr char kMark[] = ".part";

uint32_t hashOf(const std::string& name) {
  uint32_t h = 2166136261u; // FNV-1a
  for (unsigned char c : name)
    h = (h ^ c) * 16777619u;
  return h;
}

std::string hex(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// The name cut to kMaxPrefix bytes, never inside a UTF-8 character.
std::string prefixOf(const std::string& name) {
  if (name.size() <= kMaxPrefix) return name;
  size_t n = kMaxPrefix;
  while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
    --n;
  return name.substr(0, n);
}

std::string keptFor(const std::string& prefix, uint32_t hash, const char* ending) {
  return prefix + kMark + "-" + hex(hash) + ending;
}

std::string beside(const std::string& target, const std::string& name) {
  if (target.find('/') == std::string::npos) return name;
  const std::string folder = folderOf(target);
  return folder == "/" ? "/" + name : folder + "/" + name;
}

bool allDigits(const std::string& s, size_t from, size_t to) {
  if (from >= to) return false;
  for (size_t i = from; i < to; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

bool processGone(long pid) { return pid != long(::getpid()) && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The temporaries in use, for the signal handler. Nodes are only read there, with atomic loads;
// they are added and taken out under a mutex, and one taken out is freed only when no handler can
// be walking the list (a handler marks the process as dying before it starts).
struct Node {
  std::atomic<Node*> next{nullptr};
  std::unique_ptr<char[]> path;
  pid_t pid = 0;
  dev_t device = 0;
  ino_t inode = 0;
};
std::atomic<Node*> gHead{nullptr};
std::atomic<bool> gDying{false};
std::mutex gMutex;
// Holds in force, and the signal that came meanwhile.
std::atomic<int> gHolds{0};
std::atomic<int> gPending{0};
// Numbers the temporaries of this process.
std::atomic<unsigned> gCounter{0};

void onSignal(int sig) {
  if (gHolds.load() > 0 && sig != SIGPIPE) {
    gPending.store(sig);
    return;
  }
  gDying.store(true);
  const pid_t self = ::getpid(); // a child between fork and exec must not touch its parent's files
  for (Node* n = gHead.load(); n; n = n->next.load())
    if (n->pid == self) ::unlink(n->path.get());
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
}

void watchSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) {
      struct sigaction old {};
      // What the program or its parent chose (nohup, a handler of its own) stays.
      if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
      struct sigaction sa {};
      sa.sa_handler = sig == SIGXFSZ ? SIG_IGN : onSignal;
      sigemptyset(&sa.sa_mask);
      ::sigaction(sig, &sa, nullptr);
    }
  });
}

Node* track(const std::string& path) {
  auto* node = new Node;
  node->path = std::make_unique<char[]>(path.size() + 1);
  std::memcpy(node->path.get(), path.c_str(), path.size() + 1);
  node->pid = ::getpid();
  std::lock_guard<std::mutex> lock(gMutex);
  node->next.store(gHead.load());
  gHead.store(node);
  return node;
}

void untrack(const std::string& path) {
  std::lock_guard<std::mutex> lock(gMutex);
  std::atomic<Node*>* link = &gHead;
  for (Node* n = link->load(); n; link = &n->next, n = link->load()) {
    if (std::strcmp(n->path.get(), path.c_str()) != 0) continue;
    link->store(n->next.load());
    if (!gDying.load()) delete n;
    return;
  }
}

bool inUse(dev_t device, ino_t inode) {
  const pid_t self = ::getpid();
  std::lock_guard<std::mutex> lock(gMutex);
  for (Node* n = gHead.load(); n; n = n->next.load())
    if (n->pid == self && n->device == device && n->inode == inode) return true;
  return false;
}

// Calls found(folder fd, entry, parsed name) for every name of a temporary in folder, until it
// returns false.
template <class F> void eachTemporary(const std::string& folder, F&& found) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* e = ::readdir(dir)) {
    const std::optional<TemporaryName> name = parseTemporaryName(e->d_name);
    if (name && !found(::dirfd(dir), e->d_name, *name)) break;
  }
  ::closedir(dir);
}

// A file or a link (the link step of the per-user folder makes its links as temporaries); never a
// folder that happens to have such a name.
bool removable(int dir, const char* entry, struct stat& st) {
  return ::fstatat(dir, entry, &st, AT_SYMLINK_NOFOLLOW) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
}

// Calls found for each temporary of target that no run is writing any more.
template <class F> void eachLeftover(const std::string& target, F&& found) {
  const std::string name = nameOf(target), prefix = prefixOf(name);
  const uint32_t hash = hashOf(name);
  eachTemporary(folderOf(target), [&](int dir, const char* entry, const TemporaryName& t) {
    struct stat st {};
    if (t.prefix != prefix || t.hash != hash || !removable(dir, entry, st)) return true;
    const bool over = t.pid == long(::getpid()) ? !inUse(st.st_dev, st.st_ino) : processGone(t.pid);
    return !over || found(dir, entry);
  });
}

} // namespace

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string absolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::unique_ptr<char, decltype(&std::free)> here(::getcwd(nullptr, 0), &std::free);
  if (!here) return path;
  const std::string folder = here.get();
  return folder == "/" ? "/" + path : folder + "/" + path;
}

std::string temporaryName(const std::string& target, long pid, unsigned n) {
  const std::string name = nameOf(target);
  return beside(target, prefixOf(name) + kMark + std::to_string(pid) + "-" + hex(hashOf(name)) + "-" + std::to_string(n));
}

std::string keptName(const std::string& target) {
  const std::string name = nameOf(target);
  return beside(target, keptFor(prefixOf(name), hashOf(name), ".old"));
}

std::string noneName(const std::string& target) {
  const std::string name = nameOf(target);
  return beside(target, keptFor(prefixOf(name), hashOf(name), ".none"));
}

std::optional<TemporaryName> parseTemporaryName(const std::string& entry) {
  const size_t mark = entry.rfind(kMark);
  if (mark == std::string::npos) return std::nullopt;
  const size_t pid = mark + sizeof kMark - 1, dash = entry.find('-', pid);
  if (dash == std::string::npos || !allDigits(entry, pid, dash) || dash - pid > 10) return std::nullopt;
  const size_t hash = dash + 1, dash2 = hash + 8;
  if (dash2 >= entry.size() || entry[dash2] != '-' || !allDigits(entry, dash2 + 1, entry.size()) ||
      entry.size() - dash2 - 1 > 10)
    return std::nullopt;
  TemporaryName t;
  for (size_t i = hash; i < dash2; ++i) {
    const char c = entry[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    t.hash = t.hash << 4 | uint32_t(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  t.pid = std::stol(entry.substr(pid, dash - pid));
  if (t.pid <= 0) return std::nullopt;
  t.prefix = entry.substr(0, mark);
  return t;
}

namespace {

// Makes a new temporary for target with make(path), which returns false with errno set; tracked
// from before it exists, so that a signal right after it was made still finds it.
template <class Make> bool makeTemporary(const std::string& target, std::string& path, Make&& make) {
  watchSignals();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    path = temporaryName(target, long(::getpid()), gCounter++);
    Node* node = track(path);
    struct stat st {};
    if (make(path)) {
      if (::lstat(path.c_str(), &st) == 0) {
        std::lock_guard<std::mutex> lock(gMutex);
        node->device = st.st_dev;
        node->inode = st.st_ino;
      }
      return true;
    }
    const int error = errno;
    untrack(path);
    errno = error;
    if (error != EEXIST) break;
  }
  path.clear();
  return false;
}

} // namespace

int createTemporary(const std::string& target, mode_t mode, std::string& path) {
  int fd = -1;
  makeTemporary(target, path, [&](const std::string& p) {
    fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    return fd >= 0;
  });
  return fd;
}

bool createTemporaryLink(const std::string& target, const std::string& linkText, std::string& path) {
  return makeTemporary(target, path, [&](const std::string& p) { return ::symlink(linkText.c_str(), p.c_str()) == 0; });
}

void forgetTemporary(const std::string& path) { untrack(path); }

void removeTemporary(const std::string& path) {
  ::unlink(path.c_str());
  untrack(path);
}

void sweepLeftovers(const std::string& target) {
  if (exists(keptName(target)) || exists(noneName(target))) return;
  eachLeftover(target, [](int dir, const char* entry) {
    ::unlinkat(dir, entry, 0);
    return true;
  });
}

bool hasLeftovers(const std::string& target) {
  bool any = false;
  eachLeftover(target, [&](int, const char*) { return !(any = true); });
  return any;
}

int removeTemporariesOf(const std::string& folder, long pid) {
  int removed = 0;
  if (pid <= 0 || !processGone(pid)) return 0;
  eachTemporary(folder, [&](int dir, const char* entry, const TemporaryName& t) {
    struct stat st {};
    if (t.pid != pid || !removable(dir, entry, st)) return true;
    // Outputs an interrupted joint replacement still has to put back stay for its recovery.
    for (const char* ending : {".old", ".none"})
      if (::fstatat(dir, keptFor(t.prefix, t.hash, ending).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (::unlinkat(dir, entry, 0) == 0) ++removed;
    return true;
  });
  return removed;
}

SignalHold::SignalHold() { gHolds.fetch_add(1); }

SignalHold::~SignalHold() {
  if (gHolds.fetch_sub(1) == 1)
    if (const int sig = gPending.exchange(0)) ::raise(sig);
}

} // namespace kivo::filesafe

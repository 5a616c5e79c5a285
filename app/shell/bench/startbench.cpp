// Start-up probe: times a program's first window from outside, as the user sees it. It watches
// the X server for the window's map, then reads the screen under the window every millisecond
// until a pixel that is not black appears. Kivo and a bare Qt window of the same size take turns,
// warm (file cache full) and cold (their files dropped from the cache before each start).
// With --memory it also compares the memory of Kivo with its web views loaded against a bare
// window that holds the same two views.
//   kivo_startbench [--runs N] [--verbose] [--memory BARE_VIEWS] KIVO BARE_WINDOW   (needs an X display)
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

constexpr int kWidth = 813, kHeight = 617;  // the main window's size
constexpr double kTimeoutMs = 30000;

double nowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  setpgid(0, 0);  // the program and its helpers end together
  const int null = open("/dev/null", O_RDWR);
  dup2(null, STDOUT_FILENO);
  dup2(null, STDERR_FILENO);
  for (const std::string& e : env) putenv(strdup(e.c_str()));
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

struct Ended {
  double cpuMs = 0;
  long peakKiB = 0;
};

Ended stop(pid_t pid) {
  kill(-pid, SIGKILL);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return {ms(usage.ru_utime) + ms(usage.ru_stime), usage.ru_maxrss};
}

// The files a process has mapped (its program, libraries, fonts, caches).
std::set<std::string> mappedFiles(pid_t pid) {
  std::set<std::string> files;
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  for (std::string line; std::getline(maps, line);) {
    const size_t slash = line.find(" /");
    if (slash == std::string::npos || line.find("(deleted)") != std::string::npos) continue;
    const std::string path = line.substr(slash + 1);
    if (path.rfind("/dev/", 0) != 0 && path.rfind("/memfd:", 0) != 0) files.insert(path);
  }
  return files;
}

// Drops the files' pages from the page cache (those no running process maps), so the next start
// reads them from disk as the first start after boot does.
void evict(const std::set<std::string>& files) {
  sync();
  for (const std::string& f : files) {
    const int fd = open(f.c_str(), O_RDONLY);
    if (fd < 0) continue;
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
}

class Screen {
public:
  Screen() {
    int number = 0;
    c_ = xcb_connect(nullptr, &number);
    if (xcb_connection_has_error(c_)) {
      std::fprintf(stderr, "cannot open the display (run under xvfb-run)\n");
      std::exit(2);
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (; number > 0; --number) xcb_screen_next(&it);
    root_ = it.data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c_);
  }
  ~Screen() { xcb_disconnect(c_); }

  void drain() {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) free(e);
  }

  // Waits for a window of the main window's size to be mapped; its place on the root, or false.
  bool waitForMap(double deadline, int* x, int* y) {
    const int fd = xcb_get_file_descriptor(c_);
    while (nowMs() < deadline) {
      while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
        const bool map = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
        const xcb_window_t w = map ? reinterpret_cast<xcb_map_notify_event_t*>(e)->window : 0;
        free(e);
        if (map && placeOf(w, x, y)) return true;
      }
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 1);
    }
    return false;
  }

  // True when any of a few rows across the rectangle holds a pixel that is not black.
  bool painted(int x, int y) {
    constexpr int kRows = 9;
    xcb_get_image_cookie_t cookies[kRows];
    for (int i = 0; i < kRows; ++i)
      cookies[i] = xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, int16_t(x), int16_t(y + (i + 1) * kHeight / (kRows + 1)),
                                 kWidth, 1, ~0u);
    bool found = false;
    for (xcb_get_image_cookie_t cookie : cookies) {
      xcb_get_image_reply_t* r = xcb_get_image_reply(c_, cookie, nullptr);
      if (!r) continue;
      const uint8_t* data = xcb_get_image_data(r);
      const int n = xcb_get_image_data_length(r);
      // 32 bits a pixel at depth 24: three colour bytes and one unused.
      for (int i = 0; i + 3 < n && !found; i += 4) found = data[i] | data[i + 1] | data[i + 2];
      free(r);
    }
    return found;
  }

private:
  bool placeOf(xcb_window_t w, int* x, int* y) {
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
    if (!g) return false;
    const bool ours = g->width == kWidth && g->height == kHeight;
    free(g);
    if (!ours) return false;
    xcb_translate_coordinates_reply_t* t =
        xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr);
    if (!t) return false;
    *x = t->dst_x;
    *y = t->dst_y;
    free(t);
    return true;
  }

  xcb_connection_t* c_;
  xcb_window_t root_;
};

struct Start {
  double mapMs = -1, paintMs = -1, cpuMs = 0;
  long peakKiB = 0;
};

Start startOnce(Screen& screen, const std::string& program, std::set<std::string>* files) {
  screen.drain();
  Start s;
  const double t0 = nowMs();
  const pid_t pid = spawn({program});
  int x = 0, y = 0;
  if (screen.waitForMap(t0 + kTimeoutMs, &x, &y)) {
    s.mapMs = nowMs() - t0;
    for (double next = nowMs(); next < t0 + kTimeoutMs; next += 1) {
      if (screen.painted(x, y)) {
        s.paintMs = nowMs() - t0;
        break;
      }
      const double wait = next + 1 - nowMs();
      if (wait > 0) usleep(useconds_t(wait * 1000));
    }
  }
  if (files) {
    const std::set<std::string> mapped = mappedFiles(pid);
    files->insert(mapped.begin(), mapped.end());
  }
  const Ended e = stop(pid);
  s.cpuMs = e.cpuMs;
  s.peakKiB = e.peakKiB;
  return s;
}

struct Series {
  std::vector<double> map, paint, cpu;
  long peakKiB = 0;
  void add(const Start& s) {
    map.push_back(s.mapMs);
    paint.push_back(s.paintMs);
    cpu.push_back(s.cpuMs);
    peakKiB = std::max(peakKiB, s.peakKiB);
  }
};

bool verbose = false;

bool startRound(Screen& screen, const char* label, const std::string& kivo, const std::string& bare, int runs,
                const std::set<std::string>* coldFiles) {
  Series k, b;
  for (int i = 0; i < runs; ++i) {
    // Alternate which one goes first, so neither always finds the other's pages in the cache.
    for (int turn = 0; turn < 2; ++turn) {
      const bool kivoTurn = (turn == 0) == (i % 2 == 0);
      if (coldFiles) evict(*coldFiles);
      const Start s = startOnce(screen, kivoTurn ? kivo : bare, nullptr);
      if (s.paintMs < 0) {
        std::fprintf(stderr, "%s did not paint its window within %.0f s\n", (kivoTurn ? kivo : bare).c_str(),
                     kTimeoutMs / 1000);
        return false;
      }
      (kivoTurn ? k : b).add(s);
      if (verbose)
        std::fprintf(stderr, "%s %s: mapped %.1f, first pixels %.1f, CPU %.1f ms\n", label, kivoTurn ? "kivo" : "bare",
                     s.mapMs, s.paintMs, s.cpuMs);
    }
  }
  std::printf("%s, %d runs each (medians):\n", label, runs);
  std::printf("  bare window: mapped %6.1f ms, first pixels %6.1f ms, CPU %5.1f ms, peak %.1f MiB\n", median(b.map),
              median(b.paint), median(b.cpu), b.peakKiB / 1024.0);
  std::printf("  kivo:        mapped %6.1f ms, first pixels %6.1f ms, CPU %5.1f ms, peak %.1f MiB\n", median(k.map),
              median(k.paint), median(k.cpu), k.peakKiB / 1024.0);
  std::printf("  ratio: first pixels %.2f, CPU %.2f\n", median(k.paint) / median(b.paint), median(k.cpu) / median(b.cpu));
  return true;
}

// --- memory with the two web views open ---

// Answers every request with a small page; counts the requests.
class PageServer {
public:
  PageServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 16);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~PageServer() {
    done_ = true;
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  std::string address() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int requests() const { return requests_; }

private:
  void serve() {
    while (!done_) {
      const int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      char buffer[4096];
      const ssize_t n = read(c, buffer, sizeof buffer - 1);
      if (n > 0 && std::strncmp(buffer, "GET ", 4) == 0) {
        buffer[n] = 0;
        const std::string path(buffer + 4, std::strcspn(buffer + 4, " "));
        const std::string body = "<html><body><h3>Page " + path + "</h3><p>" + std::string(400, 'x') + "</p></body></html>";
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                                  std::to_string(body.size()) + "\r\n\r\n" + body;
        if (write(c, reply.data(), reply.size()) > 0 && path.find("favicon") == std::string::npos) ++requests_;
      }
      close(c);
    }
  }
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> done_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

long statusKiB(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return 0;
}

// Proportional set size of the process and all its descendants (the engine's helper processes).
long treePssKiB(pid_t root) {
  std::vector<pid_t> tree{root};
  for (size_t i = 0; i < tree.size(); ++i) {
    DIR* proc = opendir("/proc");
    while (dirent* d = readdir(proc)) {
      const pid_t p = std::atoi(d->d_name);
      if (p <= 0) continue;
      std::ifstream stat("/proc/" + std::to_string(p) + "/stat");
      std::string s;
      std::getline(stat, s);
      const size_t close = s.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(s.substr(close + 2));
      char state;
      pid_t parent = 0;
      rest >> state >> parent;
      if (parent == tree[i]) tree.push_back(p);
    }
    closedir(proc);
  }
  long total = 0;
  for (pid_t p : tree) {
    std::ifstream in("/proc/" + std::to_string(p) + "/smaps_rollup");
    for (std::string line; std::getline(in, line);)
      if (line.rfind("Pss:", 0) == 0) total += std::atol(line.c_str() + 4);
  }
  return total;
}

struct Memory {
  long rssKiB = 0, treeKiB = 0;
};

// Starts the program, waits for both pages to be served and the views to settle, then measures.
bool memoryOnce(const std::vector<std::string>& argv, const std::vector<std::string>& env, PageServer& server,
                Memory* m) {
  const int before = server.requests();
  const pid_t pid = spawn(argv, env);
  const double deadline = nowMs() + 60000;
  while (server.requests() < before + 2 && nowMs() < deadline) usleep(10000);
  const bool loaded = server.requests() >= before + 2;
  if (loaded) {
    sleep(4);
    m->rssKiB = statusKiB(pid, "VmRSS:");
    m->treeKiB = treePssKiB(pid);
  }
  stop(pid);
  return loaded;
}

bool memoryRound(const std::string& kivo, const std::string& bareViews, int runs) {
  PageServer server;
  const std::string version = server.address() + "/Kivo/v.php?version=100";
  const std::string chat = server.address() + "/Kivo/chat.htm";
  const std::vector<std::string> env{"KIVO_SITE=" + server.address(), "QTWEBENGINE_DISABLE_SANDBOX=1"};
  std::vector<double> kRss, kTree, bRss, bTree;
  for (int i = 0; i < runs; ++i) {
    Memory k, b;
    if (!memoryOnce({kivo}, env, server, &k) || !memoryOnce({bareViews, version, chat}, env, server, &b)) {
      std::fprintf(stderr, "the web pages were not requested within 60 s\n");
      return false;
    }
    kRss.push_back(k.rssKiB / 1024.0);
    kTree.push_back(k.treeKiB / 1024.0);
    bRss.push_back(b.rssKiB / 1024.0);
    bTree.push_back(b.treeKiB / 1024.0);
  }
  std::printf("memory with both web views loaded, %d runs each (medians):\n", runs);
  std::printf("  bare window with two views: resident %.1f MiB, with its helper processes %.1f MiB\n", median(bRss),
              median(bTree));
  std::printf("  kivo:                       resident %.1f MiB, with its helper processes %.1f MiB\n", median(kRss),
              median(kTree));
  std::printf("  ratio: resident %.2f, with helpers %.2f\n", median(kRss) / median(bRss), median(kTree) / median(bTree));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 11;
  std::string bareViews;
  std::vector<std::string> programs;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (a == "--memory" && i + 1 < argc) bareViews = argv[++i];
    else if (a == "--verbose") verbose = true;
    else programs.push_back(a);
  }
  if (programs.size() != 2) {
    std::fprintf(stderr, "usage: kivo_startbench [--runs N] [--verbose] [--memory BARE_VIEWS] KIVO BARE_WINDOW\n");
    return 2;
  }
  Screen screen;
  // Unmeasured starts fill the cache and collect the files a cold start must read.
  std::set<std::string> files;
  for (const std::string& p : programs)
    if (startOnce(screen, p, &files).paintMs < 0) {
      std::fprintf(stderr, "%s did not paint a %d x %d window\n", p.c_str(), kWidth, kHeight);
      return 1;
    }
  if (!startRound(screen, "warm start", programs[0], programs[1], runs, nullptr)) return 1;
  if (!startRound(screen, "cold start", programs[0], programs[1], std::max(3, runs / 2), &files)) return 1;
  if (!bareViews.empty() && !memoryRound(programs[0], bareViews, 3)) return 1;
  return 0;
}

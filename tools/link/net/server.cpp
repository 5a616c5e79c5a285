#include "server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kivo::psplink::net {

namespace {

std::string addressText(uint32_t address) {
  in_addr a{htonl(address)};
  char text[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

}  // namespace

Server::Server(ServerOptions options, HostStatus& status) : options_(std::move(options)), status_(status) {
  for (int& l : listeners_) l = -1;
  for (int i = 0; i < kPorts; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw Error{std::string("cannot listen: ") + std::strerror(errno)};
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    // Port 0 (tests) takes any free port for the first and leaves the others out.
    at.sin_port = htons(uint16_t(options_.port == 0 ? 0 : options_.port + i));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(fd, 8) != 0) {
      const int err = errno;
      ::close(fd);
      if (i == 0) throw Error{"cannot listen on port " + std::to_string(options_.port) + ": " + std::strerror(err)};
      status_.event("Port " + std::to_string(options_.port + i) + " is taken; the PSP's connection there will fail");
      continue;
    }
    listeners_[i] = fd;
    if (i == 0) {
      socklen_t length = sizeof at;
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
      port_ = ntohs(at.sin_port);
    }
    if (options_.port == 0) break;
  }
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw Error{std::string("cannot start: ") + std::strerror(errno)};
}

Server::~Server() {
  stop();
  {
    // Connections still open are shut, and their threads are waited for.
    std::unique_lock<std::mutex> lock(mutex_);
    for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    idle_.wait(lock, [this] { return connections_ == 0; });
  }
  for (int fd : listeners_)
    if (fd >= 0) ::close(fd);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void Server::stop() {
  const char byte = 0;
  [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
}

std::shared_ptr<Client> Server::clientFor(uint32_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry& entry = clients_[address];
  if (!entry.client) {
    std::unique_ptr<ServedFolder> folder;
    if (!options_.folder.empty()) folder = std::make_unique<ServedFolder>(options_.folder);
    entry.client = std::make_shared<Client>(std::move(folder));
    status_.event("PSP connected from " + addressText(address));
  }
  ++entry.connections;
  status_.setState(std::to_string(clients_.size()) + (clients_.size() == 1 ? " PSP" : " PSPs") + " connected");
  return entry.client;
}

void Server::release(uint32_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = clients_.find(address);
  if (it != clients_.end() && --it->second.connections == 0) {
    clients_.erase(it);
    status_.event("PSP " + addressText(address) + " disconnected");
  }
  status_.setState(clients_.empty() ? "waiting for the PSP"
                                    : std::to_string(clients_.size()) + (clients_.size() == 1 ? " PSP" : " PSPs") +
                                          " connected");
  --connections_;
  idle_.notify_all();
}

void Server::serveConnection(int fd, uint32_t address) {
  try {
    std::shared_ptr<Client> client = clientFor(address);
    SocketStream stream(fd);
    Session session(stream, *client, options_.password, &status_, options_.keys);
    if (session.serve() == End::OutOfStep)
      status_.event("A request from " + addressText(address) + " was not understood; its connection was closed");
  } catch (const ServedFolder::Error& e) {
    status_.event(e.message);
    std::lock_guard<std::mutex> lock(mutex_);
    ++clients_[address].connections;  // release() takes it back
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(fd);
  }
  ::close(fd);
  release(address);
}

void Server::run() {
  std::vector<pollfd> watched;
  for (int fd : listeners_)
    if (fd >= 0) watched.push_back({fd, POLLIN, 0});
  watched.push_back({wake_[0], POLLIN, 0});
  for (;;) {
    if (::poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched.back().revents) return;
    for (size_t i = 0; i + 1 < watched.size(); ++i) {
      if (!(watched[i].revents & POLLIN)) continue;
      sockaddr_in peer{};
      socklen_t length = sizeof peer;
      const int fd = ::accept4(watched[i].fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
      if (fd < 0) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connections_ >= options_.maxConnections) {
          ::close(fd);
          continue;
        }
        ++connections_;
        open_.insert(fd);
      }
      const int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      std::thread([this, fd, peer] { serveConnection(fd, ntohl(peer.sin_addr.s_addr)); }).detach();
    }
  }
}

}  // namespace kivo::psplink::net

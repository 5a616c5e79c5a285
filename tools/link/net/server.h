// The listening side of the network host: the port and the three after it, one thread per
// connection, the connections of one PSP (one address) sharing a Client.
#pragma once

#include "nethostfs.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace kivo::psplink::net {

struct ServerOptions {
  uint16_t port = kDefaultPort;
  std::string password;
  std::string folder;  ///< empty: keys only
  KeySource* keys = nullptr;
  int maxConnections = 16;
};

class Server {
public:
  struct Error {
    std::string message;
  };
  /// Binds the ports (Error when the first cannot be had).
  Server(ServerOptions options, HostStatus& status);
  ~Server();
  /// Accepts connections until stop() (from another thread or a signal handler's thread).
  void run();
  void stop();
  /// The port actually bound first (useful when 0 asked for any).
  uint16_t port() const { return port_; }

private:
  void serveConnection(int fd, uint32_t address);
  std::shared_ptr<Client> clientFor(uint32_t address);
  void release(uint32_t address);

  ServerOptions options_;
  HostStatus& status_;
  int listeners_[kPorts];
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::mutex mutex_;
  struct Entry {
    std::shared_ptr<Client> client;
    int connections = 0;
  };
  std::map<uint32_t, Entry> clients_;
  int connections_ = 0;
  std::set<int> open_;  // connection sockets, shut when the server stops
  std::condition_variable idle_;
};

}  // namespace kivo::psplink::net

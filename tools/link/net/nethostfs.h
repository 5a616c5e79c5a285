// The PC side of the PSP's network host file system. The PSP connects over TCP (up to four
// connections, to the port and the three after it) and sends requests as a 32-bit command
// followed by that command's fixed-size fields; paths travel in 256-byte fields. The PC answers
// each with a 32-bit result, or a result record, and the data read. A password, when the host
// has one, is checked by a challenge: the host sends eight random bytes, the PSP returns them
// transformed with the password. Numbers are little endian. docs/link.md has the layouts.
#pragma once

#include "hoststatus.h"
#include "servedfolder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kivo::psplink::net {

inline constexpr uint16_t kDefaultPort = 7513;
inline constexpr int kPorts = 4;  ///< the PSP uses the port and the three after it
inline constexpr size_t kChallengeBytes = 8;
inline constexpr size_t kPathField = 256;
inline constexpr int32_t kWrongPassword = -2;
inline constexpr uint32_t kMaxTransfer = 32 * 1024 * 1024;  ///< more than a PSP can hold

enum Command : uint32_t {
  kHello = 0x00DA5800,
  kLogin,
  kLogout,
  kOpen,
  kClose,
  kRead,
  kWrite,
  kSeek,
  kIoctl,
  kRemove,
  kMakeFolder,
  kRemoveFolder,
  kOpenFolder,
  kCloseFolder,
  kReadFolder,
  kGetStat,
  kChangeStat,
  kRename,
  kDevctl,
  kGetKey,
};

/// The bytes of fields after the command, -1 for a command whose layout is unknown.
long requestBytes(uint32_t command);

/// The challenge as the PSP transforms it with the password (its first eight characters).
void answerChallenge(uint8_t* challenge, size_t size, const std::string& password);

/// A connection's byte stream.
class Stream {
public:
  virtual ~Stream() = default;
  /// Exactly size bytes; false when the connection ended first.
  virtual bool read(uint8_t* buffer, size_t size) = 0;
  virtual bool write(const uint8_t* data, size_t size) = 0;
};

class SocketStream : public Stream {
public:
  explicit SocketStream(int fd) : fd_(fd) {}
  bool read(uint8_t* buffer, size_t size) override;
  bool write(const uint8_t* data, size_t size) override;

private:
  int fd_;
};

/// The PSP's buttons and sticks, for a PSP-side shell that asks the host for them.
struct Keys {
  uint32_t buttons = 0, buttons2 = 0;
  uint8_t x = 127, y = 127, x2 = 127, y2 = 127;  ///< 127: the stick at rest
};

class KeySource {
public:
  virtual ~KeySource() = default;
  virtual Keys keys(int32_t secondPadType) = 0;
};

/// What the connections of one PSP share: the files and folders it has open (a handle opened
/// on one connection is used on another) and whether it gave the password.
struct Client {
  explicit Client(std::unique_ptr<ServedFolder> f) : folder(std::move(f)) {}
  std::unique_ptr<ServedFolder> folder;  ///< null for a host that serves keys only
  std::mutex lock;
  bool loggedIn = false;
};

enum class End { Closed, OutOfStep };

class Session {
public:
  /// password empty: any PSP may connect.
  Session(Stream& stream, Client& client, std::string password, HostStatus* status = nullptr,
          KeySource* keys = nullptr)
      : stream_(stream), client_(client), password_(std::move(password)), status_(status), keys_(keys) {}

  End serve();
  /// One request; false with why set when the connection is to end.
  bool step(End& why);

private:
  bool result(int32_t value);
  bool login();
  bool dispatch(uint32_t command, const uint8_t* fields);
  bool writeData(int32_t fid, uint32_t length);

  Stream& stream_;
  Client& client_;
  const std::string password_;
  HostStatus* status_;
  KeySource* keys_;
  std::vector<uint8_t> buffer_;
};

}  // namespace kivo::psplink::net

// The PC side of the PSP's USB host file system. The PSP runs the host file system module; the
// PC answers its requests over two bulk endpoints. Every request is one transfer from the PSP
// (a 12-byte header: magic, command, length of the data that follows, then the command's own
// fields), followed by a transfer with that data when there is any: a path, bytes to write.
// Every answer is one transfer to the PSP (the same header, then the result), followed by a
// transfer with its data: bytes read, a stat record, a directory entry. All numbers are little
// endian. docs/link.md lists the requests with their layouts.
#pragma once

#include "hoststatus.h"
#include "servedfolder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kivo::psplink::usb {

inline constexpr uint16_t kVendorId = 0x054C;
inline constexpr uint16_t kProductId = 0x01C9;
inline constexpr unsigned char kEndpointFromPsp = 0x81;
inline constexpr unsigned char kEndpointToPsp = 0x02;

inline constexpr uint32_t kMagic = 0x782F0812;       ///< requests and answers
inline constexpr uint32_t kAsyncMagic = 0x782F0813;  ///< console text from the PSP (not ours)
inline constexpr uint32_t kBulkMagic = 0x782F0814;   ///< bulk data from the PSP (not ours)

enum Command : uint32_t {
  kHello = 0x8FFC0000,
  kBye,
  kOpen,
  kClose,
  kRead,
  kWrite,
  kSeek,
  kRemove,
  kMakeFolder,
  kRemoveFolder,
  kOpenFolder,
  kReadFolder,
  kCloseFolder,
  kGetStat,
  kChangeStat,
  kRename,
  kChangeFolder,
  kIoctl,
  kDevctl,
};

inline constexpr size_t kHeaderBytes = 12;
inline constexpr size_t kMaxBlock = 64 * 1024;     ///< the most the PSP reads or writes at once
inline constexpr size_t kMaxPath = 4096;           ///< the longest path the PSP sends
inline constexpr size_t kMaxBulk = 1024 * 1024;    ///< the longest bulk transfer it may send
inline constexpr size_t kMaxRequest = 512;         ///< one packet: every request fits
inline constexpr uint32_t kDevctlGetInfo = 0x02425818;

/// The bytes a request's own transfer holds (header included), 0 for an unknown command.
size_t requestBytes(uint32_t command);
/// The bytes of the answer the PSP waits for (header included).
size_t answerBytes(uint32_t command);

/// The USB link to one PSP: bulk transfers each way.
class Link {
public:
  virtual ~Link() = default;
  /// One transfer from the PSP of at most capacity bytes: its length, or -1 when the link is
  /// gone or the PSP sent more than capacity.
  virtual long receive(uint8_t* buffer, size_t capacity) = 0;
  /// One transfer to the PSP; false when the link is gone.
  virtual bool send(const uint8_t* data, size_t size) = 0;
};

/// A Link over a socket that keeps message boundaries (SOCK_SEQPACKET): a PSP simulated in a
/// test, one transfer per message.
class SocketLink : public Link {
public:
  explicit SocketLink(int fd) : fd_(fd) {}
  long receive(uint8_t* buffer, size_t capacity) override;
  bool send(const uint8_t* data, size_t size) override;

private:
  int fd_;
};

enum class End {
  LinkLost,   ///< the PSP went away
  OutOfStep,  ///< the PSP sent what no request starts with; the link must be started again
};

/// Answers one PSP's requests for the served folder.
class Session {
public:
  Session(Link& link, ServedFolder& folder, HostStatus* status = nullptr)
      : link_(link), folder_(folder), status_(status) {}

  /// The start of a link: the magic word tells the PSP a host is there, and it says hello.
  /// False when it does not.
  bool greet();
  /// Answers requests until the link ends.
  End serve();
  /// Answers one request; false with why set when the link ended.
  bool step(End& why);

private:
  bool answer(uint32_t command, int32_t result, const uint8_t* data = nullptr, size_t size = 0,
              const int64_t* position = nullptr);
  bool receiveExactly(uint8_t* buffer, size_t size);
  bool drain(size_t size);
  bool dispatch(uint32_t command, const uint8_t* request, const std::vector<uint8_t>& extra);

  Link& link_;
  ServedFolder& folder_;
  HostStatus* status_;
  std::vector<uint8_t> buffer_;
};

}  // namespace kivo::psplink::usb

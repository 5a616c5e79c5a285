// Test PSPs: each sends its requests as the PSP's own host file system module does, byte for
// byte, and reads the answers the way it reads them, so a host that answers with a byte too
// many or too few fails here as it would on the PSP.
#pragma once

#include "psp.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::psplink::test {

using Bytes = std::vector<uint8_t>;

Bytes le32(uint32_t v);
Bytes le64(uint64_t v);
Bytes cat(std::initializer_list<Bytes> parts);
Bytes text(const std::string& s);    ///< with its terminating zero
Bytes field(const std::string& s, size_t size = 256);  ///< zero-padded
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::string pattern(size_t size, uint32_t seed);

/// A PSP on the USB link: its end of a SOCK_SEQPACKET pair, one message per bulk transfer.
class UsbPsp {
public:
  UsbPsp();
  ~UsbPsp();
  int hostFd() const { return host_; }
  void closeLink();

  /// As on attach: takes the host's magic word, then says hello.
  bool attach();
  /// One request: its transfer, its data, then the answer of answerBytes and, when the PSP has
  /// room for it (inRoom > 0), the data the answer announces. False when a step fails.
  bool exchange(const Bytes& request, const Bytes& data, size_t answerBytes, Bytes& answer, size_t inRoom,
                Bytes* in);
  /// The result field of the last answer.
  int32_t result() const { return result_; }

  int32_t open(const std::string& path, uint32_t flags, uint32_t mode = 0777, uint32_t unit = 0);
  int32_t close(int32_t fid);
  /// Reads as the PSP does: 64 KiB blocks, then the rest.
  int32_t read(int32_t fid, size_t length, std::string& out);
  int32_t write(int32_t fid, const std::string& bytes);
  int64_t seek(int32_t fid, int64_t offset, int32_t whence);
  int32_t remove(const std::string& path);
  int32_t makeFolder(const std::string& path, uint32_t mode = 0777);
  int32_t removeFolder(const std::string& path);
  int32_t openFolder(const std::string& path);
  int32_t readFolder(int32_t did, std::string& name, PspStat& stat);
  int32_t closeFolder(int32_t did);
  int32_t getStat(const std::string& path, PspStat& stat);
  int32_t rename(const std::string& from, const std::string& to);
  int32_t changeFolder(const std::string& path);
  /// The names in a folder, as a listing shows them.
  std::vector<std::string> list(const std::string& path);

  /// A raw transfer to the host; and one from it (-1 when none came).
  bool sendRaw(const Bytes& bytes);
  long receiveRaw(Bytes& bytes, size_t capacity);

private:
  int32_t simple(uint32_t command, const Bytes& fields, const Bytes& data);
  int psp_ = -1, host_ = -1;
  int32_t result_ = 0;
};

/// A PSP on the network link: one connection's end of a stream socket pair.
class NetPsp {
public:
  explicit NetPsp(int fd) : fd_(fd) {}
  bool send(const Bytes& bytes);
  bool receive(Bytes& bytes, size_t size);
  /// HELLO, then LOGIN with the password; the host's answer, or INT32_MIN when it ended.
  int32_t login(const std::string& password);
  int32_t call(uint32_t command, const Bytes& fields);  ///< a request answered by a result
  int32_t open(const std::string& path, uint32_t flags, uint32_t mode = 0777);
  int32_t read(int32_t fid, int32_t length, std::string& out);
  int32_t write(int32_t fid, const std::string& bytes);
  int32_t getStat(const std::string& path, PspStat& stat);
  std::vector<std::string> list(const std::string& path);
  /// True when the host closed the connection.
  bool closedByHost();

private:
  int fd_;
};

}  // namespace kivo::psplink::test

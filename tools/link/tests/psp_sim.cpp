#include "psp_sim.h"

#include "nethostfs.h"
#include "usbhostfs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace kivo::psplink::test {

Bytes le32(uint32_t v) {
  Bytes b(4);
  putLe32(b.data(), v);
  return b;
}

Bytes le64(uint64_t v) {
  Bytes b(8);
  putLe64(b.data(), v);
  return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

Bytes field(const std::string& s, size_t size) {
  Bytes b(size, 0);
  std::memcpy(b.data(), s.data(), std::min(s.size(), size));
  return b;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return in ? all.str() : std::string("<missing>");
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string pattern(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = char(seed >> 16);
  }
  return s;
}

namespace {

void timeout(int fd) {
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

}  // namespace

// ---- USB ----

UsbPsp::UsbPsp() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0) {
    psp_ = fds[0];
    host_ = fds[1];
    // Room for a 64 KiB transfer in one message, as on the bus.
    const int size = 512 * 1024;
    for (int fd : fds) {
      ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    timeout(psp_);
  }
}

UsbPsp::~UsbPsp() {
  if (psp_ >= 0) ::close(psp_);
  if (host_ >= 0) ::close(host_);
}

void UsbPsp::closeLink() {
  ::shutdown(psp_, SHUT_RDWR);
}

bool UsbPsp::sendRaw(const Bytes& bytes) {
  return ::send(psp_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

long UsbPsp::receiveRaw(Bytes& bytes, size_t capacity) {
  bytes.resize(capacity);
  const ssize_t n = ::recv(psp_, bytes.data(), capacity, MSG_TRUNC);
  if (n < 0 || size_t(n) > capacity) return -1;
  bytes.resize(size_t(n));
  return long(n);
}

bool UsbPsp::attach() {
  Bytes word;
  if (receiveRaw(word, 4) != 4 || getLe32(word.data()) != usb::kMagic) return false;
  Bytes answer;
  return exchange(cat({le32(usb::kMagic), le32(usb::kHello), le32(0)}), {}, 12, answer, 0, nullptr);
}

bool UsbPsp::exchange(const Bytes& request, const Bytes& data, size_t answerBytes, Bytes& answer, size_t inRoom,
                      Bytes* in) {
  if (!sendRaw(request)) return false;
  // The module writes its data in 64 KiB pieces.
  for (size_t at = 0; at < data.size(); at += usb::kMaxBlock) {
    const size_t n = std::min(data.size() - at, usb::kMaxBlock);
    if (!sendRaw(Bytes(data.begin() + long(at), data.begin() + long(at + n)))) return false;
  }
  // It reads the answer into a buffer of exactly the answer's size: a longer one is an error.
  if (receiveRaw(answer, answerBytes) != long(answerBytes)) return false;
  if (getLe32(answer.data()) != usb::kMagic || getLe32(answer.data() + 4) != getLe32(request.data() + 4)) return false;
  result_ = answerBytes >= 16 ? getLe32s(answer.data() + 12) : 0;
  const uint32_t extra = getLe32(answer.data() + 8);
  if (extra == 0) return true;
  // It only reads announced data when it has room for it, and never expects more than that.
  if (inRoom == 0 || extra > inRoom || !in) return false;
  in->clear();
  while (in->size() < extra) {
    Bytes part;
    const size_t want = std::min<size_t>(extra - in->size(), usb::kMaxBlock);
    if (receiveRaw(part, want) <= 0) return false;
    in->insert(in->end(), part.begin(), part.end());
  }
  return true;
}

int32_t UsbPsp::simple(uint32_t command, const Bytes& fields, const Bytes& data) {
  Bytes answer;
  const Bytes request = cat({le32(usb::kMagic), le32(command), le32(uint32_t(data.size())), fields});
  if (!exchange(request, data, 16, answer, 0, nullptr)) return INT32_MIN;
  return result_;
}

int32_t UsbPsp::open(const std::string& path, uint32_t flags, uint32_t mode, uint32_t unit) {
  return simple(usb::kOpen, cat({le32(flags), le32(mode), le32(unit)}), text(path));
}

int32_t UsbPsp::close(int32_t fid) { return simple(usb::kClose, le32(uint32_t(fid)), {}); }

int32_t UsbPsp::read(int32_t fid, size_t length, std::string& out) {
  out.clear();
  while (out.size() < length) {
    const size_t want = std::min(length - out.size(), usb::kMaxBlock);
    Bytes answer, in;
    const Bytes request =
        cat({le32(usb::kMagic), le32(usb::kRead), le32(0), le32(uint32_t(fid)), le32(uint32_t(want))});
    if (!exchange(request, {}, 16, answer, want, &in)) return INT32_MIN;
    if (result_ < 0) return out.empty() ? result_ : int32_t(out.size());
    if (size_t(result_) != in.size()) return INT32_MIN;
    out.append(in.begin(), in.end());
    if (result_ == 0) break;
  }
  return int32_t(out.size());
}

int32_t UsbPsp::write(int32_t fid, const std::string& bytes) {
  int32_t total = 0;
  for (size_t at = 0; at < bytes.size(); at += usb::kMaxBlock) {
    const size_t n = std::min(bytes.size() - at, usb::kMaxBlock);
    const int32_t r = simple(usb::kWrite, le32(uint32_t(fid)), Bytes(bytes.begin() + long(at), bytes.begin() + long(at + n)));
    if (r <= 0) return total ? total : r;
    total += r;
  }
  return total;
}

int64_t UsbPsp::seek(int32_t fid, int64_t offset, int32_t whence) {
  Bytes answer;
  const Bytes request = cat({le32(usb::kMagic), le32(usb::kSeek), le32(0), le32(uint32_t(fid)),
                             le64(uint64_t(offset)), le32(uint32_t(whence))});
  if (!exchange(request, {}, 24, answer, 0, nullptr)) return INT64_MIN;
  return result_ < 0 ? result_ : int64_t(getLe64(answer.data() + 16));
}

int32_t UsbPsp::remove(const std::string& path) { return simple(usb::kRemove, le32(0), text(path)); }
int32_t UsbPsp::makeFolder(const std::string& path, uint32_t mode) {
  return simple(usb::kMakeFolder, cat({le32(mode), le32(0)}), text(path));
}
int32_t UsbPsp::removeFolder(const std::string& path) { return simple(usb::kRemoveFolder, le32(0), text(path)); }
int32_t UsbPsp::openFolder(const std::string& path) { return simple(usb::kOpenFolder, le32(0), text(path)); }
int32_t UsbPsp::closeFolder(int32_t did) { return simple(usb::kCloseFolder, le32(uint32_t(did)), {}); }
int32_t UsbPsp::changeFolder(const std::string& path) { return simple(usb::kChangeFolder, le32(0), text(path)); }

int32_t UsbPsp::readFolder(int32_t did, std::string& name, PspStat& stat) {
  Bytes answer, in;
  const Bytes request = cat({le32(usb::kMagic), le32(usb::kReadFolder), le32(0), le32(uint32_t(did))});
  if (!exchange(request, {}, 16, answer, kDirentBytes, &in)) return INT32_MIN;
  if (result_ > 0) {
    if (in.size() != kDirentBytes) return INT32_MIN;
    stat = decodeStat(in.data());
    name.assign(reinterpret_cast<const char*>(in.data() + kStatBytes));
  }
  return result_;
}

int32_t UsbPsp::getStat(const std::string& path, PspStat& stat) {
  Bytes answer, in;
  const Bytes data = text(path);
  const Bytes request = cat({le32(usb::kMagic), le32(usb::kGetStat), le32(uint32_t(data.size())), le32(0)});
  if (!exchange(request, data, 16, answer, kStatBytes, &in)) return INT32_MIN;
  if (result_ >= 0) {
    if (in.size() != kStatBytes) return INT32_MIN;
    stat = decodeStat(in.data());
  }
  return result_;
}

int32_t UsbPsp::rename(const std::string& from, const std::string& to) {
  return simple(usb::kRename, le32(0), cat({text(from), text(to)}));
}

std::vector<std::string> UsbPsp::list(const std::string& path) {
  std::vector<std::string> names;
  const int32_t did = openFolder(path);
  if (did < 0) return {"<error " + std::to_string(did) + ">"};
  std::string name;
  PspStat stat;
  while (readFolder(did, name, stat) > 0) names.push_back(name);
  closeFolder(did);
  std::sort(names.begin(), names.end());
  return names;
}

// ---- network ----

bool NetPsp::send(const Bytes& bytes) {
  return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

bool NetPsp::receive(Bytes& bytes, size_t size) {
  timeout(fd_);
  bytes.assign(size, 0);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::recv(fd_, bytes.data() + done, size - done, 0);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool NetPsp::closedByHost() {
  timeout(fd_);
  uint8_t byte;
  return ::recv(fd_, &byte, 1, 0) == 0;
}

int32_t NetPsp::login(const std::string& password) {
  Bytes answer;
  if (!send(le32(net::kHello)) || !receive(answer, 4) || getLe32(answer.data()) != net::kHello) return INT32_MIN;
  if (!send(le32(net::kLogin)) || !receive(answer, net::kChallengeBytes)) return INT32_MIN;
  // As the PSP answers: the challenge transformed with its password, or zeros without one.
  Bytes response(net::kChallengeBytes, 0);
  if (!password.empty()) {
    response = answer;
    net::answerChallenge(response.data(), response.size(), password);
  }
  if (!send(response) || !receive(answer, 4)) return INT32_MIN;
  return getLe32s(answer.data());
}

int32_t NetPsp::call(uint32_t command, const Bytes& fields) {
  Bytes answer;
  if (!send(cat({le32(command), fields})) || !receive(answer, 4)) return INT32_MIN;
  return getLe32s(answer.data());
}

int32_t NetPsp::open(const std::string& path, uint32_t flags, uint32_t mode) {
  return call(net::kOpen, cat({field(path), le32(0), le32(flags), le32(mode)}));
}

int32_t NetPsp::read(int32_t fid, int32_t length, std::string& out) {
  Bytes answer;
  if (!send(cat({le32(net::kRead), le32(uint32_t(fid)), le32(uint32_t(length))})) || !receive(answer, 4))
    return INT32_MIN;
  const int32_t got = getLe32s(answer.data());
  out.clear();
  if (got > length) return INT32_MIN;  // more than the PSP asked for would overrun its buffer
  if (got > 0) {
    Bytes data;
    if (!receive(data, size_t(got))) return INT32_MIN;
    out.assign(data.begin(), data.end());
  }
  return got;
}

int32_t NetPsp::write(int32_t fid, const std::string& bytes) {
  Bytes answer;
  const Bytes head = cat({le32(net::kWrite), le32(uint32_t(fid)), le32(uint32_t(bytes.size()))});
  if (!send(cat({head, Bytes(bytes.begin(), bytes.end())})) || !receive(answer, 4)) return INT32_MIN;
  return getLe32s(answer.data());
}

int32_t NetPsp::getStat(const std::string& path, PspStat& stat) {
  Bytes answer;
  if (!send(cat({le32(net::kGetStat), field(path), le32(0)})) || !receive(answer, 4 + kStatBytes)) return INT32_MIN;
  const int32_t r = getLe32s(answer.data());
  if (r >= 0) stat = decodeStat(answer.data() + 4);
  return r;
}

std::vector<std::string> NetPsp::list(const std::string& path) {
  const int32_t did = call(net::kOpenFolder, cat({field(path), le32(0)}));
  if (did < 0) return {"<error " + std::to_string(did) + ">"};
  std::vector<std::string> names;
  for (;;) {
    Bytes answer;
    if (!send(cat({le32(net::kReadFolder), le32(uint32_t(did))})) || !receive(answer, 4 + kDirentBytes)) break;
    if (getLe32s(answer.data()) <= 0) break;
    names.emplace_back(reinterpret_cast<const char*>(answer.data() + 4 + kStatBytes));
  }
  call(net::kCloseFolder, le32(uint32_t(did)));
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kivo::psplink::test

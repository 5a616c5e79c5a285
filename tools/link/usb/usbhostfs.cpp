#include "usbhostfs.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace kivo::psplink::usb {

size_t requestBytes(uint32_t command) {
  switch (command) {
  case kHello:
  case kBye: return 12;
  case kClose:
  case kWrite:
  case kRemove:
  case kRemoveFolder:
  case kOpenFolder:
  case kReadFolder:
  case kCloseFolder:
  case kGetStat:
  case kRename:
  case kChangeFolder: return 16;
  case kRead:
  case kMakeFolder: return 20;
  case kOpen:
  case kIoctl:
  case kDevctl: return 24;
  case kSeek: return 28;
  case kChangeStat: return 56;
  default: return 0;
  }
}

size_t answerBytes(uint32_t command) {
  switch (command) {
  case kHello:
  case kBye: return 12;
  case kSeek: return 24;
  default: return 16;
  }
}

long SocketLink::receive(uint8_t* buffer, size_t capacity) {
  for (;;) {
    // MSG_TRUNC gives the whole message's length, so one too long shows as the overflow it
    // would be on the bus.
    const ssize_t n = ::recv(fd_, buffer, capacity, MSG_TRUNC);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || size_t(n) > capacity) return -1;
    return long(n);
  }
}

bool SocketLink::send(const uint8_t* data, size_t size) {
  for (;;) {
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    return n == ssize_t(size);
  }
}

namespace {

// How much data may follow each request; more than this is refused.
size_t dataLimit(uint32_t command) {
  switch (command) {
  case kOpen:
  case kRemove:
  case kMakeFolder:
  case kRemoveFolder:
  case kOpenFolder:
  case kGetStat:
  case kChangeStat:
  case kChangeFolder: return kMaxPath;
  case kRename: return 2 * kMaxPath;
  case kWrite:
  case kIoctl:
  case kDevctl: return kMaxBlock;
  default: return 0;
  }
}

// The path in a request's data: up to its terminating zero, which must be there.
bool pathOf(const std::vector<uint8_t>& extra, size_t from, std::string& path, size_t* next = nullptr) {
  if (from >= extra.size()) return false;
  const void* zero = std::memchr(extra.data() + from, 0, extra.size() - from);
  if (!zero) return false;
  const size_t end = size_t(static_cast<const uint8_t*>(zero) - extra.data());
  path.assign(reinterpret_cast<const char*>(extra.data() + from), end - from);
  if (next) *next = end + 1;
  return true;
}

PspTime timeAt(const uint8_t* p) {
  PspTime t;
  t.year = getLe16(p);
  t.month = getLe16(p + 2);
  t.day = getLe16(p + 4);
  t.hour = getLe16(p + 6);
  t.minute = getLe16(p + 8);
  t.second = getLe16(p + 10);
  return t;
}

}  // namespace

bool Session::answer(uint32_t command, int32_t result, const uint8_t* data, size_t size, const int64_t* position) {
  uint8_t head[24] = {};
  const size_t bytes = answerBytes(command);
  putLe32(head, kMagic);
  putLe32(head + 4, command);
  putLe32(head + 8, uint32_t(size));
  if (bytes >= 16) putLe32(head + 12, uint32_t(result));
  if (bytes >= 24) putLe64(head + 16, uint64_t(position ? *position : 0));
  if (!link_.send(head, bytes)) return false;
  return size == 0 || link_.send(data, size);
}

bool Session::receiveExactly(uint8_t* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const long n = link_.receive(buffer + done, std::min(size - done, kMaxBlock));
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool Session::drain(size_t size) {
  // Taken in as the PSP sends it, in pieces of up to a block each.
  std::vector<uint8_t> sink(std::min(size, kMaxBlock));
  while (size > 0) {
    const size_t part = std::min(size, sink.size());
    if (!receiveExactly(sink.data(), part)) return false;
    size -= part;
  }
  return true;
}

bool Session::greet() {
  uint8_t word[4];
  putLe32(word, kMagic);
  if (!link_.send(word, sizeof word)) return false;
  uint8_t hello[kMaxRequest];
  const long n = link_.receive(hello, sizeof hello);
  if (n != long(kHeaderBytes) || getLe32(hello) != kMagic || getLe32(hello + 4) != kHello) return false;
  folder_.reset();
  return answer(kHello, 0);
}

End Session::serve() {
  End why = End::LinkLost;
  while (step(why)) {
  }
  return why;
}

bool Session::step(End& why) {
  uint8_t request[kMaxRequest];
  const long n = link_.receive(request, sizeof request);
  why = End::LinkLost;
  if (n < 0) return false;
  why = End::OutOfStep;
  if (n < 4) return false;
  const uint32_t magic = getLe32(request);
  if (magic == kAsyncMagic) return true;  // text for a console on the PC: no business of a file host
  if (magic == kBulkMagic) {
    if (n < 12) return false;
    const uint32_t size = getLe32(request + 8);
    if (size > kMaxBulk) return false;
    why = End::LinkLost;
    return drain(size);
  }
  if (magic != kMagic || n < long(kHeaderBytes)) return false;

  const uint32_t command = getLe32(request + 4);
  const uint32_t extraLength = getLe32(request + 8);
  if (status_) status_->request();
  // Data beyond any request's size means the two sides no longer agree where a request starts.
  if (extraLength > kMaxBulk) return false;
  why = End::LinkLost;

  const size_t expected = requestBytes(command);
  if (expected == 0 || size_t(n) != expected || extraLength > dataLimit(command)) {
    // Refused, but the PSP is still answered, so both sides stay in step.
    if (!drain(extraLength)) return false;
    const int err = expected == 0 ? ENOSYS : extraLength > dataLimit(command) && dataLimit(command) == kMaxPath
                                                 ? ENAMETOOLONG
                                                 : EINVAL;
    return answer(command, pspError(err));
  }
  std::vector<uint8_t> extra(extraLength);
  if (!receiveExactly(extra.data(), extra.size())) return false;
  return dispatch(command, request, extra);
}

bool Session::dispatch(uint32_t command, const uint8_t* r, const std::vector<uint8_t>& extra) {
  std::string path;
  const bool hasPath = pathOf(extra, 0, path);
  const int32_t invalid = pspError(EINVAL);
  switch (command) {
  case kHello:
    // The PSP started over: whatever it had open is forgotten on its side too.
    folder_.reset();
    return answer(kHello, 0);
  case kBye: return answer(kBye, 0);
  case kOpen:
    return answer(command, hasPath ? folder_.open(getLe32(r + 20), path, getLe32(r + 12), getLe32(r + 16)) : invalid);
  case kClose: return answer(command, folder_.close(getLe32s(r + 12)));
  case kRead: {
    const int32_t length = getLe32s(r + 16);
    if (length < 0) return answer(command, invalid);
    buffer_.resize(std::min<size_t>(size_t(length), kMaxBlock));
    const int32_t got = folder_.read(getLe32s(r + 12), buffer_.data(), uint32_t(buffer_.size()));
    return answer(command, got, buffer_.data(), got > 0 ? size_t(got) : 0);
  }
  case kWrite: return answer(command, folder_.write(getLe32s(r + 12), extra.data(), uint32_t(extra.size())));
  case kSeek: {
    const int64_t at = folder_.seek(getLe32s(r + 12), int64_t(getLe64(r + 16)), getLe32s(r + 24));
    return at < 0 ? answer(command, int32_t(at)) : answer(command, 0, nullptr, 0, &at);
  }
  case kRemove: return answer(command, hasPath ? folder_.remove(getLe32(r + 12), path) : invalid);
  case kMakeFolder:
    return answer(command, hasPath ? folder_.makeFolder(getLe32(r + 16), path, getLe32(r + 12)) : invalid);
  case kRemoveFolder: return answer(command, hasPath ? folder_.removeFolder(getLe32(r + 12), path) : invalid);
  case kOpenFolder: return answer(command, hasPath ? folder_.openFolder(getLe32(r + 12), path) : invalid);
  case kReadFolder: {
    PspStat stat;
    std::string name;
    const int32_t got = folder_.readFolder(getLe32s(r + 12), stat, name);
    if (got <= 0) return answer(command, got);
    uint8_t entry[kDirentBytes];
    encodeDirent(stat, name, entry);
    return answer(command, got, entry, sizeof entry);
  }
  case kCloseFolder: return answer(command, folder_.closeFolder(getLe32s(r + 12)));
  case kGetStat: {
    PspStat stat;
    const int32_t got = hasPath ? folder_.getStat(getLe32(r + 12), path, stat) : invalid;
    if (got < 0) return answer(command, got);
    uint8_t record[kStatBytes];
    encodeStat(stat, record);
    return answer(command, got, record, sizeof record);
  }
  case kChangeStat: {
    PspStat stat;
    stat.mode = getLe32(r + 16);
    stat.size = int64_t(getLe64(r + 20));
    stat.atime = timeAt(r + 28);
    stat.mtime = timeAt(r + 40);
    return answer(command, hasPath ? folder_.changeStat(getLe32(r + 52), path, getLe32(r + 12), stat) : invalid);
  }
  case kRename: {
    size_t next = 0;
    std::string from, to;
    if (!pathOf(extra, 0, from, &next) || !pathOf(extra, next, to)) return answer(command, invalid);
    return answer(command, folder_.rename(getLe32(r + 12), from, to));
  }
  case kChangeFolder: return answer(command, hasPath ? folder_.changeFolder(getLe32(r + 12), path) : invalid);
  case kIoctl: return answer(command, pspError(ENOTSUP));
  case kDevctl: {
    if (getLe32(r + 12) != kDevctlGetInfo || getLe32s(r + 20) < 20) return answer(command, pspError(ENOTSUP));
    uint64_t total = 0, free = 0;
    if (int32_t err = folder_.space(total, free); err < 0) return answer(command, err);
    // Sizes in clusters of 64 sectors of 512 bytes, as a memory stick counts them.
    constexpr uint64_t cluster = 64 * 512;
    uint8_t info[20];
    putLe32(info, uint32_t(std::min<uint64_t>(total / cluster, UINT32_MAX)));
    putLe32(info + 4, uint32_t(std::min<uint64_t>(free / cluster, UINT32_MAX)));
    putLe32(info + 8, uint32_t(std::min<uint64_t>(free / cluster, UINT32_MAX)));
    putLe32(info + 12, 512);
    putLe32(info + 16, 64);
    return answer(command, 0, info, sizeof info);
  }
  default: return answer(command, pspError(ENOSYS));
  }
}

}  // namespace kivo::psplink::usb

#include "nethostfs.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <sys/socket.h>

namespace kivo::psplink::net {

long requestBytes(uint32_t command) {
  switch (command) {
  case kHello:
  case kLogin:
  case kLogout: return 0;
  case kClose:
  case kCloseFolder:
  case kReadFolder:
  case kGetKey: return 4;
  case kRead:
  case kWrite: return 8;
  case kSeek: return 16;
  case kRemove:
  case kRemoveFolder:
  case kOpenFolder:
  case kGetStat: return 260;
  case kMakeFolder: return 264;
  case kOpen: return 268;
  case kChangeStat: return 352;
  case kRename: return 516;
  default: return -1;  // ioctl and devctl among them: their fields are not known
  }
}

void answerChallenge(uint8_t* challenge, size_t size, const std::string& password) {
  const std::string key = password.substr(0, 8);
  if (key.empty()) return;
  const size_t n = key.size();
  auto at = [&](size_t i) { return uint8_t(key[i]); };
  uint8_t previous = at(0);
  for (size_t i = 0, j = 0; i < size; ++i) {
    uint8_t v = uint8_t((challenge[i] ^ at(j)) - j);
    const unsigned turn = previous % 8;
    v = uint8_t((v >> turn) | (v << (8 - turn)));
    v ^= uint8_t(previous + at(n - j - 1));
    challenge[i] = v;
    previous = at(j);
    j = (j + 1) % n;
  }
}

bool SocketStream::read(uint8_t* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::recv(fd_, buffer + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool SocketStream::write(const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::send(fd_, data + done, size - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

namespace {

// A 256-byte path field: its text up to the terminating zero, which must be inside.
bool pathField(const uint8_t* field, std::string& path) {
  const void* zero = std::memchr(field, 0, kPathField);
  if (!zero) return false;
  path.assign(reinterpret_cast<const char*>(field), size_t(static_cast<const uint8_t*>(zero) - field));
  return true;
}

}  // namespace

bool Session::result(int32_t value) {
  uint8_t word[4];
  putLe32(word, uint32_t(value));
  return stream_.write(word, sizeof word);
}

End Session::serve() {
  End why = End::Closed;
  while (step(why)) {
  }
  return why;
}

bool Session::login() {
  uint8_t challenge[kChallengeBytes];
  std::random_device random;
  for (uint8_t& b : challenge) b = uint8_t(random());
  uint8_t answer[kChallengeBytes];
  if (!stream_.write(challenge, sizeof challenge) || !stream_.read(answer, sizeof answer)) return false;
  answerChallenge(challenge, sizeof challenge, password_);
  if (!password_.empty() && std::memcmp(answer, challenge, sizeof answer) != 0) return result(kWrongPassword);
  {
    // A PSP that logs in starts over: what it had open before is closed.
    std::lock_guard<std::mutex> lock(client_.lock);
    client_.loggedIn = true;
    if (client_.folder) client_.folder->reset();
  }
  return result(0);
}

bool Session::step(End& why) {
  why = End::Closed;
  uint8_t word[4];
  if (!stream_.read(word, sizeof word)) return false;
  const uint32_t command = getLe32(word);
  why = End::OutOfStep;
  const long size = requestBytes(command);
  // Without a known layout the next request's start cannot be found: the connection ends.
  if (size < 0) return false;
  bool allowed;
  {
    std::lock_guard<std::mutex> lock(client_.lock);
    allowed = client_.loggedIn || password_.empty() || command == kHello || command == kLogin;
  }
  if (!allowed) return false;
  if (status_) status_->request();
  uint8_t fields[520];
  why = End::Closed;
  if (!stream_.read(fields, size_t(size))) return false;
  if (command == kLogout) return false;
  return dispatch(command, fields);
}

bool Session::writeData(int32_t fid, uint32_t length) {
  int32_t written = 0;
  bool failed = false;
  buffer_.resize(64 * 1024);
  while (length > 0) {
    const uint32_t part = std::min<uint32_t>(length, uint32_t(buffer_.size()));
    if (!stream_.read(buffer_.data(), part)) return false;
    length -= part;
    if (failed) continue;  // the rest is taken in to stay in step with the PSP
    int32_t r;
    {
      std::lock_guard<std::mutex> lock(client_.lock);
      r = client_.folder ? client_.folder->write(fid, buffer_.data(), part) : pspError(ENODEV);
    }
    if (r < 0) {
      if (written == 0) written = r;
      failed = true;
    } else {
      written += r;
      failed = uint32_t(r) < part;
    }
  }
  return result(written);
}

bool Session::dispatch(uint32_t command, const uint8_t* f) {
  if (command == kHello) return result(int32_t(kHello));
  if (command == kLogin) return login();
  if (command == kGetKey) {
    const Keys k = keys_ ? keys_->keys(getLe32s(f)) : Keys{};
    uint8_t record[12];
    putLe32(record, k.buttons);
    putLe32(record + 4, k.buttons2);
    record[8] = k.x;
    record[9] = k.y;
    record[10] = k.x2;
    record[11] = k.y2;
    return stream_.write(record, sizeof record);
  }
  if (command == kWrite) {
    const int32_t length = getLe32s(f + 4);
    // The PSP sends nothing after an empty write; a huge one is no PSP's.
    if (length <= 0) return result(0);
    if (uint32_t(length) > kMaxTransfer) return false;
    return writeData(getLe32s(f), uint32_t(length));
  }

  std::string path;
  const int32_t tooLong = pspError(ENAMETOOLONG);
  std::unique_lock<std::mutex> lock(client_.lock);
  ServedFolder* folder = client_.folder.get();
  if (!folder) {
    // A host for keys only: every file request fails, each with the answer the PSP waits for.
    lock.unlock();
    if (command == kReadFolder || command == kGetStat) {
      uint8_t record[4 + kDirentBytes] = {};
      putLe32(record, uint32_t(pspError(ENODEV)));
      return stream_.write(record, command == kReadFolder ? 4 + kDirentBytes : 4 + kStatBytes);
    }
    return result(pspError(ENODEV));
  }
  switch (command) {
  case kOpen: {
    const int32_t r = pathField(f, path) ? folder->open(0, path, getLe32(f + 260), getLe32(f + 264)) : tooLong;
    lock.unlock();
    return result(r);
  }
  case kClose: {
    const int32_t r = folder->close(getLe32s(f));
    lock.unlock();
    return result(r);
  }
  case kRead: {
    const int32_t length = getLe32s(f + 4);
    if (length <= 0) {
      lock.unlock();
      return result(0);
    }
    buffer_.resize(std::min<size_t>(size_t(length), 1024 * 1024));
    const int32_t got = folder->read(getLe32s(f), buffer_.data(), uint32_t(buffer_.size()));
    lock.unlock();
    return result(got) && (got <= 0 || stream_.write(buffer_.data(), size_t(got)));
  }
  case kSeek: {
    const int64_t at = folder->seek(getLe32s(f), int64_t(getLe64(f + 4)), getLe32s(f + 12));
    lock.unlock();
    // The answer has 32 bits: a place beyond them cannot be told.
    return result(at > INT32_MAX ? pspError(EOVERFLOW) : int32_t(at));
  }
  case kRemove:
  case kRemoveFolder:
  case kOpenFolder: {
    int32_t r = tooLong;
    if (pathField(f, path)) {
      r = command == kRemove         ? folder->remove(0, path)
          : command == kRemoveFolder ? folder->removeFolder(0, path)
                                     : folder->openFolder(0, path);
    }
    lock.unlock();
    return result(r);
  }
  case kMakeFolder: {
    const int32_t r = pathField(f, path) ? folder->makeFolder(0, path, getLe32(f + 260)) : tooLong;
    lock.unlock();
    return result(r);
  }
  case kCloseFolder: {
    const int32_t r = folder->closeFolder(getLe32s(f));
    lock.unlock();
    return result(r);
  }
  case kReadFolder: {
    PspStat stat;
    std::string name;
    const int32_t r = folder->readFolder(getLe32s(f), stat, name);
    lock.unlock();
    uint8_t record[4 + kDirentBytes] = {};
    putLe32(record, uint32_t(r));
    if (r > 0) encodeDirent(stat, name, record + 4);
    return stream_.write(record, sizeof record);
  }
  case kGetStat: {
    PspStat stat;
    const int32_t r = pathField(f, path) ? folder->getStat(0, path, stat) : tooLong;
    lock.unlock();
    uint8_t record[4 + kStatBytes] = {};
    putLe32(record, uint32_t(r));
    if (r >= 0) encodeStat(stat, record + 4);
    return stream_.write(record, sizeof record);
  }
  case kChangeStat: {
    const int32_t r =
        pathField(f, path) ? folder->changeStat(0, path, getLe32(f + 348), decodeStat(f + 260)) : tooLong;
    lock.unlock();
    return result(r);
  }
  case kRename: {
    std::string to;
    const int32_t r = pathField(f, path) && pathField(f + 256, to) ? folder->rename(0, path, to) : tooLong;
    lock.unlock();
    return result(r);
  }
  default: lock.unlock(); return false;
  }
}

}  // namespace kivo::psplink::net

// The USB host's request handling on hostile transfers. The input is a series of transfers from
// the PSP, each a 16-bit little-endian length and its bytes; the host answers them against a
// real folder, which nothing may lead out of.
#include "sandbox.h"
#include "usbhostfs.h"

#include <cstring>
#include <vector>

using namespace kivo::psplink;

namespace {

class FuzzLink : public usb::Link {
public:
  FuzzLink(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  long receive(uint8_t* buffer, size_t capacity) override {
    if (at_ + 2 > size_) return -1;
    const size_t length = size_t(data_[at_]) | size_t(data_[at_ + 1]) << 8;
    at_ += 2;
    const size_t n = std::min(length, size_ - at_);
    if (n > capacity) return -1;
    std::memcpy(buffer, data_ + at_, n);
    at_ += n;
    return long(n);
  }
  bool send(const uint8_t* data, size_t size) override {
    // Read every byte handed over, so a sanitizer sees an answer built from too short a buffer.
    for (size_t i = 0; i < size; ++i) sum_ += data[i];
    return true;
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  unsigned sum_ = 0;
};

void put(std::vector<uint8_t>& out, std::initializer_list<uint32_t> words, const std::string& data = {}) {
  std::vector<uint8_t> transfer;
  for (uint32_t w : words)
    for (int i = 0; i < 4; ++i) transfer.push_back(uint8_t(w >> (8 * i)));
  for (const auto& bytes : {transfer, std::vector<uint8_t>(data.begin(), data.end())}) {
    if (bytes.empty()) continue;
    out.push_back(uint8_t(bytes.size()));
    out.push_back(uint8_t(bytes.size() >> 8));
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::Sandbox sandbox;
  {
    ServedFolder folder(sandbox.served());
    FuzzLink link(data, size);
    usb::Session session(link, folder);
    session.serve();
  }
  sandbox.check();
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  using namespace usb;
  std::vector<uint8_t> s;
  const std::string path("/d/new\0", 7), from("/f\0/d/g\0", 8);
  put(s, {kMagic, kHello, 0});
  put(s, {kMagic, kOpen, 7, 0x602, 0777, 0}, path);
  put(s, {kMagic, kWrite, 3, 1}, "abc");
  put(s, {kMagic, kSeek, 0, 1, 0, 0, 0});
  put(s, {kMagic, kRead, 0, 1, 100});
  put(s, {kMagic, kClose, 0, 1});
  put(s, {kMagic, kOpenFolder, 3, 0}, std::string("/d\0", 3));
  put(s, {kMagic, kReadFolder, 0, 1});
  put(s, {kMagic, kCloseFolder, 0, 1});
  put(s, {kMagic, kGetStat, 7, 0}, path);
  put(s, {kMagic, kRename, 8, 0}, from);
  put(s, {kMagic, kChangeFolder, 4, 0}, std::string("/in\0", 4));
  put(s, {kMagic, kChangeStat, 2, 0x25, 0644, 5, 0, 0x000107D8, 1, 0, 0x000107D8, 1, 0, 0}, std::string("g\0", 2));
  put(s, {kMagic, kDevctl, 0, kDevctlGetInfo, 0, 20});
  put(s, {kMagic, kRemove, 7, 0}, path);
  const size_t n = std::min(s.size(), capacity);
  std::memcpy(out, s.data(), n);
  return n;
}

// The network host's request handling on a hostile byte stream, answered against a real folder
// that nothing may lead out of. The first byte chooses whether the host asks for a password.
#include "nethostfs.h"
#include "sandbox.h"

#include <cstring>
#include <vector>

using namespace kivo::psplink;

namespace {

class FuzzStream : public net::Stream {
public:
  FuzzStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool read(uint8_t* buffer, size_t size) override {
    if (size > size_ - at_) return false;
    std::memcpy(buffer, data_ + at_, size);
    at_ += size;
    return true;
  }
  bool write(const uint8_t* data, size_t size) override {
    for (size_t i = 0; i < size; ++i) sum_ += data[i];
    return true;
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  unsigned sum_ = 0;
};

void word(std::vector<uint8_t>& out, uint32_t w) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(w >> (8 * i)));
}

void path(std::vector<uint8_t>& out, const std::string& p) {
  std::vector<uint8_t> field(256, 0);
  std::memcpy(field.data(), p.data(), std::min<size_t>(p.size(), 255));
  out.insert(out.end(), field.begin(), field.end());
  word(out, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::Sandbox sandbox;
  if (size == 0) return 0;
  {
    net::Client client(std::make_unique<ServedFolder>(sandbox.served()));
    FuzzStream stream(data + 1, size - 1);
    net::Session session(stream, client, data[0] & 1 ? "6195" : "");
    session.serve();
  }
  sandbox.check();
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  using namespace net;
  std::vector<uint8_t> s{0};
  word(s, kHello);
  word(s, kOpen);
  path(s, "/d/new");
  word(s, 0x602);
  word(s, 0666);
  word(s, kWrite);
  word(s, 1);
  word(s, 3);
  s.insert(s.end(), {'a', 'b', 'c'});
  word(s, kSeek);
  word(s, 1);
  word(s, 0);
  word(s, 0);
  word(s, 0);
  word(s, kRead);
  word(s, 1);
  word(s, 100);
  word(s, kClose);
  word(s, 1);
  word(s, kOpenFolder);
  path(s, "/d");
  word(s, kReadFolder);
  word(s, 1);
  word(s, kGetStat);
  path(s, "/d/new");
  word(s, kRename);
  std::vector<uint8_t> names(512, 0);
  std::memcpy(names.data(), "/d/new", 6);
  std::memcpy(names.data() + 256, "/in/x", 5);
  s.insert(s.end(), names.begin(), names.end());
  word(s, 0);
  word(s, kGetKey);
  word(s, 0);
  word(s, kRemove);
  path(s, "/in/x");
  word(s, kLogout);
  const size_t n = std::min(s.size(), capacity);
  std::memcpy(out, s.data(), n);
  return n;
}

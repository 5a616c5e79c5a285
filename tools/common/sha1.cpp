#include "sha1.h"

#include <new>
#include <openssl/evp.h>

namespace kivo {

std::array<uint8_t, 20> sha1(const uint8_t* data, size_t size) {
  // Fetched once: an implicit fetch on every call takes a lock, and psx hashes on every thread.
  static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  std::array<uint8_t, 20> out{};
  unsigned len = 0;
  if (!md || !EVP_Digest(data, size, out.data(), &len, md, nullptr) || len != out.size()) throw std::bad_alloc();
  return out;
}

} // namespace kivo

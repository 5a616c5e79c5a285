#include "sha1.h"

#include <new>
#include <openssl/evp.h>

namespace kivo {

namespace {

// Fetched once: an implicit fetch on every call takes a lock, and psx hashes on every thread.
const EVP_MD* sha1Method() {
  static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  return md;
}

} // namespace

std::array<uint8_t, 20> sha1(const uint8_t* data, size_t size) {
  const EVP_MD* md = sha1Method();
  std::array<uint8_t, 20> out{};
  unsigned len = 0;
  if (!md || !EVP_Digest(data, size, out.data(), &len, md, nullptr) || len != out.size()) throw std::bad_alloc();
  return out;
}

Sha1::Sha1() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || !sha1Method() || !EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), sha1Method(), nullptr)) {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
    throw std::bad_alloc();
  }
}

Sha1::~Sha1() {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
}

void Sha1::update(const uint8_t* data, size_t size) {
  if (size && !EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size)) throw std::bad_alloc();
}

std::array<uint8_t, 20> Sha1::finish() {
  std::array<uint8_t, 20> out{};
  unsigned len = 0;
  if (!EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), out.data(), &len) || len != out.size())
    throw std::bad_alloc();
  return out;
}

} // namespace kivo

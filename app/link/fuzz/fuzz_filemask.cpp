// Mask and name from one input, split at the first zero byte: the matcher must neither crash
// nor take time beyond the product of the two lengths, and "*" must match every name.
#include "link/filemask.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto* text = reinterpret_cast<const char*>(data);
  const void* zero = size ? std::memchr(data, 0, size) : nullptr;  // data may be null when empty
  const size_t maskLength = zero ? static_cast<const uint8_t*>(zero) - data : size;
  const QString mask = QString::fromUtf8(text, static_cast<qsizetype>(maskLength));
  const QString name = zero ? QString::fromUtf8(text + maskLength + 1, static_cast<qsizetype>(size - maskLength - 1))
                            : QString();
  const std::optional<kivo::FileMask> compiled = kivo::FileMask::compile(mask);
  if (compiled) {
    const bool hit = compiled->matches(name);
    // A mask is its own match when it holds nothing but plain characters.
    if (!mask.contains(QLatin1Char('[')) && !mask.contains(QLatin1Char('*')) && !mask.contains(QLatin1Char('?')) &&
        !compiled->matches(mask))
      std::abort();
    (void)hit;
  }
  if (!kivo::FileMask::compile(QStringLiteral("*"))->matches(name)) std::abort();
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  static const char seed[] = "[!a-c]*x?.[0-9]*\0bx1.9readme";
  const size_t n = sizeof seed - 1;
  if (capacity < n) return 0;
  std::memcpy(out, seed, n);
  return n;
}

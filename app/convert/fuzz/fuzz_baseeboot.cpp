// Feeds arbitrary bytes to the page's look at a base EBOOT: it must name a problem or accept them,
// never read outside the file.
#include "convert/ebootmaker.h"

#include <QBuffer>

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  kivo::baseEbootProblem(buffer);
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  // A PBP header, an ELF-looking DATA.PSP and a DATA.PSAR that starts like a disc image.
  QByteArray file(40, 0);
  file.replace(0, 4, QByteArray("\0PBP", 4));
  for (int s = 0; s < 8; ++s) file[8 + 4 * s] = char(s < 7 ? 40 : 60);
  file += QByteArray("\x7F" "ELF", 4) + QByteArray(16, 1) + QByteArray("PSISOIMG0000") + QByteArray(20, 0);
  const size_t n = std::min<size_t>(capacity, size_t(file.size()));
  std::memcpy(out, file.constData(), n);
  return n;
}

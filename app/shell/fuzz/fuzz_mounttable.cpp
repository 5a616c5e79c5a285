// Any bytes as a mount table: the reader must neither crash nor read past the table, and every
// mount point it gives is an absolute path.
#include "shell/mounts.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray table = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  for (const kivo::MountPoint& m : kivo::parseMountTable(table)) {
    if (!m.path.startsWith(QLatin1Char('/')) || m.type.isEmpty()) std::abort();
    (void)kivo::mayHoldPspFolders(m);
  }
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  static const char seed[] =
      "sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0\n"
      "/dev/sdb1 /media/ana/PSP\\040STICK vfat rw,nosuid,nodev,uid=1000 0 0\n"
      "//host/share /mnt/share cifs rw 0 0\n"
      "/dev/sdc1 /run/media/ana/flash\\0111 fuseblk rw 0 0\n";
  const size_t n = sizeof seed - 1;
  if (capacity < n) return 0;
  std::memcpy(out, seed, n);
  return n;
}

// Hostile bytes for the plug-in list round trip: whatever a list holds, the rewrite uses CR LF
// only, keeps every line and puts the new entry on a line of its own.
#include "pluginlist.h"

#include <cstdlib>
#include <cstring>

using namespace kivo::stick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  const QString box = boxTextFromList(bytes);
  if (box.contains(QLatin1Char('\r'))) std::abort();
  const QByteArray out = composeList(box, QStringLiteral("x.prx"));
  if (!out.endsWith("ms0:/seplugins/x.prx\r\n")) std::abort();
  for (qsizetype i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && (i + 1 >= out.size() || out[i + 1] != '\n')) std::abort();
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) std::abort();
  }
  // Reading the rewritten list gives back the box text, then the entry.
  QString expected = box;
  if (!expected.isEmpty() && !expected.endsWith(QLatin1Char('\n'))) expected += QLatin1Char('\n');
  expected += QStringLiteral("ms0:/seplugins/x.prx\n");
  if (boxTextFromList(out) != expected) std::abort();
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  const char seed[] = "ms0:/seplugins/a.prx 1\r\nms0:/seplugins/b.prx 0\nms0:/seplugins/c.prx\r\xE9\r\n";
  const size_t n = sizeof seed - 1 < capacity ? sizeof seed - 1 : capacity;
  std::memcpy(out, seed, n);
  return n;
}

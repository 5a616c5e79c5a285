// Hostile bytes for the TrueType name reader: every name must stay within its buffer.
#include "tests/ttfbuilder.h"
#include "ttfcomp.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TTtfComp ttf;
  ttf.InclCopyright = ttf.InclFontVersion = ttf.InclPostScriptName = ttf.InclTrademarkInfo = true;
  TtfBufferSource source(data, size);
  const bool ok = ttf.ReadFontNames(source);
  if (ok != (ttf.Status() == 0) || ttf.Status() > 1) std::abort();
  for (const std::string* s : {&ttf.CopyrightNotice(), &ttf.FontFamilyName(), &ttf.FontSubFamName(),
                               &ttf.FontFullName(), &ttf.FontVersion(), &ttf.PostScriptName(), &ttf.TrademarkInfo()})
    if (s->size() >= TTtfComp::kNameUnits || s->find('\0') != std::string::npos) std::abort();
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  ttftest::FontLayout layout;
  layout.names = {{3, 1, 0x0409, 0, u"(c)"}, {3, 1, 0x0409, 1, u"Fam"}, {3, 1, 0x0409, 2, u"Sub"},
                {3, 1, 0x0409, 4, u"Full name"}, {3, 1, 0x0411, 4, u"\u6A19"}, {3, 1, 0x0409, 5, u"1.0"}};
  const auto font = ttftest::buildFont(layout);
  const size_t n = font.size() < capacity ? font.size() : capacity;
  std::memcpy(out, font.data(), n);
  return n;
}

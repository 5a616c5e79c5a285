#pragma once
// TTtfComp: reads the names stored in a TrueType font's "name" table. Plain C++: the font's
// bytes come through a small reader, and every offset taken from the file is checked before use.

#include <cstddef>
#include <cstdint>
#include <string>

/// Random access to a font's bytes; readAt returns how many bytes it could read (0 at the end).
class TtfSource {
public:
  virtual ~TtfSource() = default;
  virtual size_t readAt(uint64_t pos, uint8_t* dst, size_t n) = 0;
};

/// Bytes already in memory.
class TtfBufferSource : public TtfSource {
public:
  TtfBufferSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t readAt(uint64_t pos, uint8_t* dst, size_t n) override;

private:
  const uint8_t* data_;
  size_t size_;
};

class TTtfComp {
public:
  enum : uint8_t { StatusDone = 0, StatusNoNameTable = 1, StatusCannotOpen = 2, StatusReading = 3 };

  bool InclCopyright = false;
  bool InclFontFamilyName = true;
  bool InclFontSubFamName = true;
  bool InclFontFullName = true;
  bool InclFontVersion = false;
  bool InclPostScriptName = false;
  bool InclTrademarkInfo = false;

  /// Names of the last read, in the 8-bit code page (Windows-1252; '?' for what it lacks).
  const std::string& CopyrightNotice() const { return copyright_; }
  const std::string& FontFamilyName() const { return family_; }
  const std::string& FontSubFamName() const { return subFamily_; }
  const std::string& FontFullName() const { return fullName_; }
  const std::string& FontVersion() const { return version_; }
  const std::string& PostScriptName() const { return postScript_; }
  const std::string& TrademarkInfo() const { return trademark_; }
  uint8_t Status() const { return status_; }

  /// Reads the names of the font file at path; true when every name record was read.
  bool ReadFontNames(const std::string& path);
  /// The same over any byte source (a buffer in tests and the fuzzer).
  bool ReadFontNames(TtfSource& source);

  /// A name string holds at most this many UTF-16 units, its terminating zero included.
  static constexpr size_t kNameUnits = 150;

private:
  std::string* target(uint16_t nameId);

  std::string copyright_, family_, subFamily_, fullName_, version_, postScript_, trademark_;
  uint8_t status_ = StatusDone;
};

/// Windows-1252 <-> Unicode for the names above.
char cp1252FromUnicode(char32_t c);
char32_t cp1252ToUnicode(unsigned char c);

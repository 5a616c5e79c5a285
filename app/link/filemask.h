#pragma once
// File-name masks of the folder copy: "*", "?", sets "[a-z_]" and "[!0-9]"; every other
// character, the dot included, stands for itself. Letters a to z match either case.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kivo {

class FileMask {
public:
  /// The mask compiled, or nothing when it is invalid (a set not closed, empty, or starting
  /// with "-").
  static std::optional<FileMask> compile(const QString& mask);

  /// Whether the whole name matches.
  bool matches(const QString& name) const;

private:
  struct Range {
    char32_t low, high;
  };
  struct Token {
    enum Kind { Literal, AnyChar, AnyRun, Set } kind;
    char32_t ch = 0;
    bool negated = false;
    std::vector<Range> ranges;
  };
  bool matchesOne(const Token& token, char32_t c) const;
  std::vector<Token> tokens_;
};

/// One-shot form: true or false, or nothing when the mask is invalid.
std::optional<bool> matchesMask(const QString& mask, const QString& name);

}  // namespace kivo

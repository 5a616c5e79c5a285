#include "filemask.h"

#include <QList>

namespace kivo {

namespace {

char32_t foldAscii(char32_t c) { return c >= U'A' && c <= U'Z' ? c + 32 : c; }
char32_t upperAscii(char32_t c) { return c >= U'a' && c <= U'z' ? c - 32 : c; }

}  // namespace

std::optional<FileMask> FileMask::compile(const QString& mask) {
  const QList<uint> text = mask.toUcs4();
  const size_t n = static_cast<size_t>(text.size());
  FileMask result;
  for (size_t i = 0; i < n;) {
    const char32_t c = text[i];
    Token token;
    if (c == U'*') {
      // "**", "*?" and "*?*" all say "any run": a "?" right after a "*" adds nothing.
      while (i < n && (text[i] == U'*' || text[i] == U'?')) ++i;
      token.kind = Token::AnyRun;
    } else if (c == U'?') {
      token.kind = Token::AnyChar;
      ++i;
    } else if (c == U'[') {
      token.kind = Token::Set;
      ++i;
      if (i < n && text[i] == U'!') {
        token.negated = true;
        ++i;
      }
      if (i >= n || text[i] == U']' || text[i] == U'-') return std::nullopt;
      bool closed = false;
      while (i < n) {
        const char32_t low = text[i];
        if (low == U']') {
          closed = true;
          ++i;
          break;
        }
        if (i + 2 < n && text[i + 1] == U'-' && text[i + 2] != U']') {
          token.ranges.push_back(Range{low, static_cast<char32_t>(text[i + 2])});
          i += 3;
        } else {
          token.ranges.push_back({low, low});
          ++i;
        }
      }
      if (!closed) return std::nullopt;
    } else {
      token.kind = Token::Literal;
      token.ch = foldAscii(c);
      ++i;
    }
    result.tokens_.push_back(std::move(token));
  }
  return result;
}

bool FileMask::matchesOne(const Token& token, char32_t c) const {
  switch (token.kind) {
  case Token::Literal: return foldAscii(c) == token.ch;
  case Token::AnyChar: return true;
  case Token::AnyRun: return false;
  case Token::Set: {
    bool in = false;
    for (const char32_t probe : {c, foldAscii(c), upperAscii(c)}) {
      for (const Range& r : token.ranges) {
        if (probe >= r.low && probe <= r.high) in = true;
      }
    }
    return in != token.negated;
  }
  }
  return false;
}

bool FileMask::matches(const QString& name) const {
  const QList<uint> text = name.toUcs4();
  const size_t n = static_cast<size_t>(text.size()), m = tokens_.size();
  // Greedy walk that backs up to the last "*": linear in practice, never exponential.
  size_t t = 0, s = 0;
  size_t starToken = m, starText = 0;
  while (s < n) {
    if (t < m && tokens_[t].kind == Token::AnyRun) {
      starToken = t++;
      starText = s;
    } else if (t < m && matchesOne(tokens_[t], text[s])) {
      ++t;
      ++s;
    } else if (starToken < m) {
      t = starToken + 1;
      s = ++starText;
    } else {
      return false;
    }
  }
  while (t < m && tokens_[t].kind == Token::AnyRun) ++t;
  return t == m;
}

std::optional<bool> matchesMask(const QString& mask, const QString& name) {
  const std::optional<FileMask> compiled = FileMask::compile(mask);
  if (!compiled) return std::nullopt;
  return compiled->matches(name);
}

}  // namespace kivo

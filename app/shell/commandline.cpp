#include "commandline.h"

#include "failure.h"

namespace kivo {

namespace {
bool blank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::vector<std::string> splitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = line.size();

  // Program name.
  while (i < n && blank(line[i])) ++i;
  if (i >= n) return args;
  std::string program;
  bool quoted = false;
  for (; i < n; ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (blank(c) && !quoted) {
      break;
    } else {
      program += c;
    }
  }
  args.push_back(program);

  for (;;) {
    while (i < n && blank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    quoted = false;
    while (i < n && (quoted || !blank(line[i]))) {
      if (line[i] == '\\') {
        size_t slashes = 0;
        while (i < n && line[i] == '\\') ++slashes, ++i;
        if (i < n && line[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg += '"';
            ++i;
          }
          // An even count leaves the quote to the code below, which toggles quoting.
        } else {
          arg.append(slashes, '\\');
        }
        continue;
      }
      if (line[i] == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(arg);
  }
  return args;
}

QString commandArgument(const QString& text, Quoting quoting) {
  // A NUL would end the program's argument early; broken UTF-16 would not survive the trip
  // through UTF-8. Either way the tool would get another name than the one shown.
  if (text.contains(QChar(0)) || QString::fromUtf8(text.toUtf8()) != text)
    throw Failure(QStringLiteral("This text cannot be passed to a tool: it holds a character that no command line "
                                 "can carry.\n\n%1")
                      .arg(QString(text).replace(QChar(0), QStringLiteral("\\0"))));

  const bool bare = quoting == Quoting::AsNeeded && !text.isEmpty() && !text.contains(QLatin1Char(' ')) &&
                    !text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('"'));
  if (bare) return text;  // no quote in it, so its backslashes are all literal

  QString out = QStringLiteral("\"");
  qsizetype slashes = 0;
  for (const QChar c : text) {
    if (c == QLatin1Char('\\')) {
      ++slashes;
      continue;
    }
    if (c == QLatin1Char('"')) {
      out += QString(slashes * 2 + 1, QLatin1Char('\\'));  // each backslash doubled, then the quote escaped
      out += c;
    } else {
      out += QString(slashes, QLatin1Char('\\'));
      out += c;
    }
    slashes = 0;
  }
  out += QString(slashes * 2, QLatin1Char('\\'));  // so the closing quote stays a quote
  out += QLatin1Char('"');
  return out;
}

}  // namespace kivo

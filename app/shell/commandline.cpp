#include "commandline.h"

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

}  // namespace kivo

#include "cli.h"

#include "io.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace kivo {

int runTool(const char* name, const std::function<int()>& body) {
  try {
    return body();
  } catch (...) {
    return reportFailure(name);
  }
}

namespace {

int answerWord(const char* name, const char* word, const char* usage) {
  if (std::strcmp(word, "--help") == 0) {
    std::printf("%s\n", usage);
    return 0;
  }
  if (std::strcmp(word, "--version") == 0) {
    std::printf("%s (Kivo Workbench) %s\n", name, KIVO_VERSION);
    return 0;
  }
  return -1;
}

} // namespace

int answerHelpOrVersion(const char* name, int argc, char** argv, const char* usage) {
  return argc == 2 ? answerWord(name, argv[1], usage) : -1;
}

int answerHelpOrVersionAnywhere(const char* name, int argc, char** argv, const char* usage) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (const int answered = answerWord(name, argv[i], usage); answered >= 0) return answered;
  return -1;
}

int reportFailure(const char* name) {
  try {
    throw;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.message.c_str());
    return 1;
  } catch (const ToolError& e) {
    std::fprintf(stderr, "%s: error: %s\n", name, e.what());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: error: out of memory\n", name);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: error: %s\n", name, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: error: unexpected failure\n", name);
  }
  return 2;
}

int parseLevel(const std::string& text, int lowest, int highest) {
  if (text.size() == 1 && text[0] >= '0' + lowest && text[0] <= '0' + highest) return text[0] - '0';
  throw UsageError{"invalid compression level '" + text + "' (expected a digit from " +
                   std::to_string(lowest) + " to " + std::to_string(highest) + ")"};
}

int parseLevel(const std::string& text, int lowest, int highest, const char* usage) {
  try {
    return parseLevel(text, lowest, highest);
  } catch (const UsageError& e) {
    throw UsageError{e.message + "\n" + usage};
  }
}

std::string describeSize(uint64_t bytes) {
  char buf[64];
  if (bytes < 10 * 1024)
    std::snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
  else if (bytes < 10ull * 1024 * 1024)
    std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024.0);
  else
    std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / 1048576.0);
  return buf;
}

} // namespace kivo

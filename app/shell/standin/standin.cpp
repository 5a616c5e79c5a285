// kivo_standin: stands in for an outside tool in tests. It appends what it was started with
// (its own path, its current folder and its arguments) to the file named by KIVO_STANDIN_LOG
// and can leave an output file behind, as the real tool would:
//   KIVO_STANDIN_OUTPUT      a file to write, relative to its current folder
//   KIVO_STANDIN_OUTPUT_ARG  N or "last": write the file named by that argument
//   KIVO_STANDIN_EXIT        its exit status (default 0)
//   KIVO_STANDIN_SLEEP_MS    how long to run before it ends, reporting progress meanwhile when
//                            KIVO_PROGRESS asks for it (four steps, then the end if it succeeds)
//   KIVO_STANDIN_SAY         a message for standard error, said just before it ends
//   KIVO_STANDIN_FINISHED    a file to write as the very last thing, to show it ran to its end
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string escaped(const char* text) {
  std::string out;
  for (const char* c = text; *c; ++c) {
    if (*c == '\\') out += "\\\\";
    else if (*c == '\n') out += "\\n";
    else out += *c;
  }
  return out;
}

void writeFile(const char* path, const char* text) {
  if (FILE* f = std::fopen(path, "wb")) {
    std::fputs(text, f);
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  char cwd[PATH_MAX] = "";
  if (!getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
  char self[PATH_MAX] = "";
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = '\0';

  if (const char* log = std::getenv("KIVO_STANDIN_LOG")) {
    if (FILE* f = std::fopen(log, "ab")) {
      std::string record = "run\nself " + escaped(self) + "\nprogram " + escaped(argc > 0 ? argv[0] : "") +
                           "\ncwd " + escaped(cwd) + "\n";
      for (int i = 1; i < argc; ++i) record += "arg " + escaped(argv[i]) + "\n";
      record += "end\n";
      std::fputs(record.c_str(), f);
      std::fclose(f);
    }
  }
  if (const char* out = std::getenv("KIVO_STANDIN_OUTPUT")) writeFile(out, "written by kivo_standin\n");
  if (const char* which = std::getenv("KIVO_STANDIN_OUTPUT_ARG")) {
    const int index = std::string(which) == "last" ? argc - 1 : std::atoi(which);
    if (index >= 1 && index < argc) writeFile(argv[index], "written by kivo_standin\n");
  }
  const char* asked = std::getenv("KIVO_PROGRESS");
  const bool progress = asked && *asked && std::strcmp(asked, "0") != 0;
  const char* ms = std::getenv("KIVO_STANDIN_SLEEP_MS");
  for (int step = 0; step < 4; ++step) {
    if (progress) std::fprintf(stderr, "KIVO-PROGRESS %d 400\n", step * 100);
    std::fflush(stderr);
    if (ms) std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ms) / 4));
  }
  const char* status = std::getenv("KIVO_STANDIN_EXIT");
  const int code = status ? std::atoi(status) : 0;
  if (progress && code == 0) std::fprintf(stderr, "KIVO-PROGRESS 400 400\n");
  if (const char* say = std::getenv("KIVO_STANDIN_SAY")) std::fprintf(stderr, "%s\n", say);
  std::fflush(stderr);
  if (const char* finished = std::getenv("KIVO_STANDIN_FINISHED")) writeFile(finished, "finished\n");
  return code;
}

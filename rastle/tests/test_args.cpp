// The argument scan, the default output name and wildcard expansion.
#include "cli.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using rastle::Invocation;
using rastle::parseArgs;

namespace {

struct Row {
  std::vector<std::string> args;
  bool usage;
  std::string input, output;
};

} // namespace

TEST(Args, ScanFollowsTheOptionRules) {
  const Row rows[] = {
      {{}, true, "", ""},
      {{"-o", "out.iso"}, true, "", ""},
      {{"EBOOT.PBP", "-o"}, true, "", ""},
      {{"-o", "", "EBOOT.PBP"}, false, "EBOOT.PBP", "EBOOT.iso"},
      {{""}, true, "", ""},
      {{"a.pbp", "b.pbp"}, false, "b.pbp", "b.iso"},
      {{"-o", "x.iso", "-o", "y.iso", "in.pbp"}, false, "in.pbp", "y.iso"},
      {{"in.pbp", "-o", "x.iso"}, false, "in.pbp", "x.iso"},
      {{"-O", "out.iso", "in.pbp"}, false, "in.pbp", "in.iso"},
      {{"-o", "-dash.iso", "-in.pbp"}, false, "-in.pbp", "-dash.iso"},
      {{"in.pbp", "-o", "-o"}, false, "in.pbp", "-o"},
      {{"-o", "-o"}, true, "", ""},
      {{"in.pbp", "-o", "x.iso", "-o"}, true, "", ""},
      {{"in.pbp", ""}, true, "", ""}, // the last input counts, even when empty
      {{"games/EBOOT.PBP"}, false, "games/EBOOT.PBP", "games/EBOOT.iso"},
  };
  for (const Row& row : rows) {
    std::string where;
    for (const auto& a : row.args)
      where += "[" + a + "] ";
    Invocation inv = parseArgs(row.args);
    EXPECT_EQ(inv.usage, row.usage) << where;
    if (!row.usage) {
      EXPECT_EQ(inv.input, row.input) << where;
      EXPECT_EQ(inv.output, row.output) << where;
    }
  }
}

TEST(Args, DefaultNameDropsTheLastFourCharactersWhateverTheyAre) {
  EXPECT_EQ(rastle::defaultOutputPath("abc"), "abc.iso");
  EXPECT_EQ(rastle::defaultOutputPath("abcd"), ".iso");
  EXPECT_EQ(rastle::defaultOutputPath("a"), "a.iso");
  EXPECT_EQ(rastle::defaultOutputPath("game.pbp"), "game.iso");
  EXPECT_EQ(rastle::defaultOutputPath("dir.v2/EBOOT"), "dir.v2/E.iso");
  EXPECT_EQ(rastle::defaultOutputPath("C:\\games\\EBOOT.PBP"), "C:\\games\\EBOOT.iso");
}

std::vector<std::string> texts(const std::vector<rastle::Argument>& args) {
  std::vector<std::string> out;
  for (const auto& a : args)
    out.push_back(a.text);
  return out;
}

TEST(Args, OnlyInputsThatNameNoFileAreExpanded) {
  namespace fs = std::filesystem;
  char tmpl[] = "/tmp/rastle-args-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  fs::path dir = tmpl;
  for (const char* name : {"b.pbp", "a.pbp", "c.iso", "[x].pbp", "Millionaire?.pbp", "Millionaire1.pbp",
                           "gameA.iso", "gameB.iso", "-o"})
    std::ofstream(dir / name) << "x";
  const std::string d = dir.string() + "/";
  using Args = std::vector<std::string>;
  struct Case {
    Args in, out;
  };
  const Case cases[] = {
      // Sorted matches; brackets and backslashes are no pattern.
      {{d + "?.pbp"}, {d + "a.pbp", d + "b.pbp"}},
      {{d + "[x].p?p"}, {d + "[x].pbp"}},
      {{d + "[ab].pbp"}, {d + "[ab].pbp"}},
      // Matching nothing, a pattern stays as it is.
      {{d + "none*"}, {d + "none*"}},
      // A name that exists as written is taken as written, though it could match others.
      {{d + "Millionaire?.pbp"}, {d + "Millionaire?.pbp"}},
      {{d + "Millionaire*.pbp"}, {d + "Millionaire1.pbp", d + "Millionaire?.pbp"}},
      // The output is never expanded, wherever "-o" stands and whatever exists.
      {{"-o", d + "game?.iso", d + "?.pbp"}, {"-o", d + "game?.iso", d + "a.pbp", d + "b.pbp"}},
      {{d + "c.iso", "-o", d + "*.iso"}, {d + "c.iso", "-o", d + "*.iso"}},
      {{"-o", "-o", d + "?.iso"}, {"-o", "-o", d + "c.iso"}},
      // A trailing "-o" has no value to protect; a pattern is expanded before the scan sees it.
      {{d + "a.pbp", "-o"}, {d + "a.pbp", "-o"}},
  };
  for (const Case& c : cases) {
    std::string where;
    for (const auto& a : c.in)
      where += "[" + a + "] ";
    EXPECT_EQ(texts(rastle::expandWildcards(c.in)), c.out) << where;
  }
  // Relative names expand relative to the current folder, and "-o" names a file there: a file
  // like any other, never the option.
  fs::path cwd = fs::current_path();
  fs::current_path(dir);
  EXPECT_EQ(rastle::expandWildcards({"-?"}), (std::vector<rastle::Argument>{{"-o", true}}));
  EXPECT_EQ(rastle::expandWildcards({"-o", "game*"}), (std::vector<rastle::Argument>{{"-o", false}, {"game*", false}}));
  const Invocation all = parseArgs(rastle::expandWildcards({"*"}));
  EXPECT_EQ(all.input, "gameB.iso");
  EXPECT_EQ(all.output, "gameB.iso");  // the scan never saw an option: its default name
  const Invocation named = parseArgs(rastle::expandWildcards({"-?", "c.iso"}));
  EXPECT_EQ(named.input, "c.iso");
  EXPECT_FALSE(named.usage);
  fs::current_path(cwd);
  fs::remove_all(dir);
}

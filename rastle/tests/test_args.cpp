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

TEST(Args, WildcardsExpandToSortedMatchesOrStayAsTheyAre) {
  namespace fs = std::filesystem;
  char tmpl[] = "/tmp/rastle-args-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  fs::path dir = tmpl;
  for (const char* name : {"b.pbp", "a.pbp", "c.iso", "[x].pbp"})
    std::ofstream(dir / name) << "x";
  std::string d = dir.string() + "/";

  auto expanded = rastle::expandWildcards({"-o", d + "*.iso", d + "?.pbp", d + "none*", d + "[x].p?p"});
  std::vector<std::string> expected = {"-o",        d + "c.iso", d + "a.pbp",
                                       d + "b.pbp", d + "none*", d + "[x].pbp"};
  EXPECT_EQ(expanded, expected);
  // Without wildcards nothing is looked up, brackets included.
  EXPECT_EQ(rastle::expandWildcards({d + "[ab].pbp"}), std::vector<std::string>{d + "[ab].pbp"});
  fs::remove_all(dir);
}

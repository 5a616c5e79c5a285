// Splitting a command line by the Windows C run-time's rules.
#include "shell/commandline.h"

#include <gtest/gtest.h>

using kivo::splitCommandLine;
using Args = std::vector<std::string>;

TEST(SplitCommandLine, BlanksSeparateWords) {
  EXPECT_EQ(splitCommandLine(""), Args{});
  EXPECT_EQ(splitCommandLine("   \t "), Args{});
  EXPECT_EQ(splitCommandLine("  tool  a\tb   c  "), (Args{"tool", "a", "b", "c"}));
  EXPECT_EQ(splitCommandLine(R"("bin/ciso.exe" 9 "My Games/a.iso" "My Games/a.cso")"),
            (Args{"bin/ciso.exe", "9", "My Games/a.iso", "My Games/a.cso"}));
}

TEST(SplitCommandLine, EmptyQuotesAreAnEmptyArgument) {
  EXPECT_EQ(splitCommandLine(R"(tool "" b)"), (Args{"tool", "", "b"}));
  EXPECT_EQ(splitCommandLine(R"(tool a "")"), (Args{"tool", "a", ""}));
  EXPECT_EQ(splitCommandLine(R"(tool """")"), (Args{"tool", "\""}));
}

TEST(SplitCommandLine, BlanksInsideQuotesStay) {
  EXPECT_EQ(splitCommandLine(R"(tool "a b  c" d)"), (Args{"tool", "a b  c", "d"}));
  EXPECT_EQ(splitCommandLine(R"(tool a"b c"d)"), (Args{"tool", "ab cd"}));
  EXPECT_EQ(splitCommandLine("tool \"a\tb\""), (Args{"tool", "a\tb"}));
}

TEST(SplitCommandLine, AQuoteThatBreaksTheQuoting) {
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(splitCommandLine(R"(tool "a b)"), (Args{"tool", "a b"}));
  // A path typed with a quote inside it: the quoting flips there, and the rest joins on.
  EXPECT_EQ(splitCommandLine(R"(tool "my"file.iso" out)"), (Args{"tool", "myfile.iso out"}));
  // Two quotes inside quotes give one literal quote and quoting goes on.
  EXPECT_EQ(splitCommandLine(R"(tool "a"" b" c)"), (Args{"tool", "a\" b", "c"}));
}

TEST(SplitCommandLine, BackslashesBeforeQuotes) {
  EXPECT_EQ(splitCommandLine(R"(tool a\\b c\d)"), (Args{"tool", R"(a\\b)", R"(c\d)"}));
  EXPECT_EQ(splitCommandLine(R"(tool a\"b)"), (Args{"tool", "a\"b"}));
  EXPECT_EQ(splitCommandLine(R"(tool a\\"b c")"), (Args{"tool", R"(a\b c)"}));
  EXPECT_EQ(splitCommandLine(R"(tool a\\\"b)"), (Args{"tool", R"(a\"b)"}));
  // The usual trap: a quoted folder that ends in a backslash swallows its closing quote.
  EXPECT_EQ(splitCommandLine(R"(tool "C:\dir\" x)"), (Args{"tool", R"(C:\dir" x)"}));
  EXPECT_EQ(splitCommandLine(R"(tool "C:\dir\\" x)"), (Args{"tool", R"(C:\dir\)", "x"}));
}

TEST(SplitCommandLine, TheProgramNameKeepsItsBackslashes) {
  // The first word has rules of its own: quotes group, backslashes are plain characters.
  EXPECT_EQ(splitCommandLine(R"("C:\my tools\" -x)"), (Args{R"(C:\my tools\)", "-x"}));
  EXPECT_EQ(splitCommandLine(R"(bin\psx.exe "a")"), (Args{R"(bin\psx.exe)", "a"}));
  EXPECT_EQ(splitCommandLine(R"(  "my tool"x   y)"), (Args{"my toolx", "y"}));
}

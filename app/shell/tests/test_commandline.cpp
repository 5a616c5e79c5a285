// Splitting a command line by the Windows C run-time's rules, and writing texts into one so
// that the split gives them back.
#include "shell/commandline.h"
#include "shell/failure.h"
#include "shell/tests/kit/fakes.h"

#include <gtest/gtest.h>

#include <random>

using kivo::commandArgument;
using kivo::Quoting;
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

namespace {
std::string arg(const QString& text, Quoting q = Quoting::Always) { return commandArgument(text, q).toStdString(); }

/// Puts the texts between a program name and a last word, splits the line and checks that
/// every text came back as one argument equal to itself.
void expectCarried(const QStringList& texts, Quoting q) {
  QString line = QStringLiteral("\"bin/tool\"");
  Args expected{"bin/tool"};
  for (const QString& t : texts) {
    line += QLatin1Char(' ') + commandArgument(t, q);
    expected.push_back(t.toStdString());
  }
  line += QStringLiteral(" end");
  expected.push_back("end");
  EXPECT_EQ(splitCommandLine(line.toStdString()), expected) << line.toStdString();
}
}  // namespace

TEST(CommandArgument, OrdinaryTextsKeepTheLinesTheyAlwaysGave) {
  EXPECT_EQ(arg("/g/My Games/a.iso"), R"("/g/My Games/a.iso")");
  EXPECT_EQ(arg(R"(C:\Games\a.iso)"), R"("C:\Games\a.iso")");
  EXPECT_EQ(arg(""), R"("")");
  EXPECT_EQ(arg("9", Quoting::AsNeeded), "9");
  EXPECT_EQ(arg("-l9", Quoting::AsNeeded), "-l9");
  EXPECT_EQ(arg(R"(a\b)", Quoting::AsNeeded), R"(a\b)");
  // Bare only when it stays one argument.
  EXPECT_EQ(arg("", Quoting::AsNeeded), R"("")");
  EXPECT_EQ(arg("75 13", Quoting::AsNeeded), R"("75 13")");
  EXPECT_EQ(arg("6\"1", Quoting::AsNeeded), R"("6\"1")");
}

TEST(CommandArgument, QuotesAndBackslashesAreEscapedOnlyWhereTheSplitNeedsIt) {
  EXPECT_EQ(arg("FF7.PBP\" -o \"ciso"), R"("FF7.PBP\" -o \"ciso")");
  EXPECT_EQ(arg(R"(C:\Games\)"), R"("C:\Games\\")");
  EXPECT_EQ(arg(R"(a\"b)"), R"("a\\\"b")");
  EXPECT_EQ(arg(R"(a\\b)"), R"("a\\b")");
}

TEST(CommandArgument, EveryHostileTextComesBackFromTheSplit) {
  const QStringList hostile = kivo::testing::hostileTexts();
  expectCarried(hostile, Quoting::Always);
  expectCarried(hostile, Quoting::AsNeeded);
  for (const QString& t : hostile) {
    expectCarried({t}, Quoting::Always);
    expectCarried({t, t}, Quoting::AsNeeded);
  }
}

TEST(CommandArgument, RandomTextsOfTheTrickyCharactersComeBack) {
  const char16_t alphabet[] = u"ab \t\"\\\n;$`*?-\u00e9";
  std::mt19937 random(13);
  for (int round = 0; round < 3000; ++round) {
    QStringList texts;
    for (int n = 1 + int(random() % 3); n > 0; --n) {
      QString t;
      for (int len = int(random() % 9); len > 0; --len) t += QChar(alphabet[random() % (std::size(alphabet) - 1)]);
      texts << t;
    }
    expectCarried(texts, round % 2 ? Quoting::Always : Quoting::AsNeeded);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(CommandArgument, RefusesTextsNoCommandLineCarries) {
  EXPECT_THROW(commandArgument(QStringLiteral("a") + QChar(0) + QStringLiteral("b")), kivo::Failure);
  EXPECT_THROW(commandArgument(QString(QChar(0xD800)) + QStringLiteral("x"), Quoting::AsNeeded), kivo::Failure);
  try {
    commandArgument(QStringLiteral("game") + QChar(0));
  } catch (const kivo::Failure& f) {
    EXPECT_TRUE(f.text().contains(QStringLiteral("game\\0"))) << f.what();
  }
}

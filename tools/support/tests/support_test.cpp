#include "cores.h"
#include "progress.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace kivo {
namespace {

std::string captured(std::FILE* f) {
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;)
    text += char(c);
  return text;
}

TEST(ProgressBar, ShowsShareRateAndTimeLeft) {
  EXPECT_EQ(formatBar(50'000'000, 100'000'000, 5.0, 10), "[#####.....]  50%  10.0 MB/s  0:05 left");
  EXPECT_EQ(formatBar(100'000'000, 100'000'000, 8.0, 4), "[####] 100%  12.5 MB/s  0:08 total");
  // Nothing done yet: no rate, so no estimate, only the time so far.
  EXPECT_EQ(formatBar(0, 1000, 0.0, 4), "[....]   0%  0:00");
  // An unknown total still shows the rate and the elapsed time.
  EXPECT_EQ(formatBar(3'000'000, 0, 3725.0, 2), "[..]  0.0 MB/s  1:02:05");
  // A tool that reads past what it announced never draws more than a full bar.
  EXPECT_EQ(formatBar(300, 200, 1.0, 4).substr(0, 11), "[####] 100%");
}

TEST(ProgressLines, AreTheMachineFormatAndParseBack) {
  std::FILE* f = std::tmpfile();
  ASSERT_TRUE(f);
  {
    ProgressReport p(4096, "Packing", ProgressReport::Mode::Lines, f);
    p.update(1024); // within the first 100 ms of the start line: dropped
    p.finish();
    p.finish(); // only once
  }
  EXPECT_EQ(captured(f), "KIVO-PROGRESS 0 4096\nKIVO-PROGRESS 4096 4096\n");
  std::fclose(f);

  uint64_t done = 1, total = 1;
  EXPECT_TRUE(parseProgressLine("KIVO-PROGRESS 12 345\n", done, total));
  EXPECT_EQ(done, 12u);
  EXPECT_EQ(total, 345u);
  for (const char* bad : {"KIVO-PROGRESS", "KIVO-PROGRESS 1", "KIVO-PROGRESS -1 5", "KIVO-PROGRESS 1 5x",
                          "KIVO-PROGRESSS 1 5", "Extracting 1 5", "KIVO-PROGRESS  1 5",
                          "KIVO-PROGRESS 99999999999999999999999 1"})
    EXPECT_FALSE(parseProgressLine(bad, done, total)) << bad;
}

TEST(ProgressBar, EndsItsLineBeforeAnErrorMessage) {
  std::FILE* f = std::tmpfile();
  ASSERT_TRUE(f);
  {
    ProgressReport p(100, "Packing", ProgressReport::Mode::Bar, f);
    p.update(10);
  } // destroyed unfinished, as when a tool fails
  const std::string text = captured(f);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.rfind("\rPacking [", 0), 0u);
  EXPECT_EQ(text.back(), '\n');
  std::fclose(f);

  std::FILE* quiet = std::tmpfile();
  {
    ProgressReport p(100, {}, ProgressReport::Mode::Off, quiet);
    p.update(50);
    p.finish();
  }
  EXPECT_EQ(captured(quiet), "");
  std::fclose(quiet);
}

TEST(Cores, CgroupQuotaRoundsUpAndMaxMeansNone) {
  EXPECT_EQ(cpusFromCgroupMax("max 100000"), 0u);
  EXPECT_EQ(cpusFromCgroupMax("150000 100000"), 2u);
  EXPECT_EQ(cpusFromCgroupMax("100000 100000"), 1u);
  EXPECT_EQ(cpusFromCgroupMax("50000 100000"), 1u);
  EXPECT_EQ(cpusFromCgroupMax(""), 0u);
  EXPECT_EQ(cpusFromCgroupMax("abc 100000"), 0u);
  EXPECT_EQ(cpusFromCgroupMax("100000 0"), 0u);
  EXPECT_GE(usableCores(), 1u);
}

} // namespace
} // namespace kivo

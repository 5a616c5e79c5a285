// The TrueType name reader against fonts built here, a real font and bytes that are no font.
#include "tests/ttfbuilder.h"
#include "ttfcomp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

using ttftest::buildFont;
using ttftest::FontLayout;
using ttftest::Name;

namespace {

bool readBytes(TTtfComp& ttf, const std::vector<uint8_t>& bytes) {
  TtfBufferSource source(bytes.data(), bytes.size());
  return ttf.ReadFontNames(source);
}

FontLayout sampleFont() {
  FontLayout layout;
  layout.names = {{1, 0, 0, 4, u"Mac Name"},
                {3, 1, 0x0409, 0, u"(c) Someone"},
                {3, 1, 0x0409, 1, u"Sample"},
                {3, 1, 0x0409, 2, u"Bold"},
                {3, 1, 0x0409, 3, u"Unique id"},
                {3, 1, 0x0409, 4, u"Sample Bold"},
                {3, 1, 0x0409, 5, u"Version 1.0"},
                {3, 1, 0x0409, 6, u"Sample-Bold"},
                {3, 1, 0x0409, 7, u"Sample is a mark"}};
  return layout;
}

}  // namespace

TEST(TtfComp, ReadsTheFlaggedNamesOfPlatform3) {
  const auto font = buildFont(sampleFont());
  TTtfComp ttf;
  EXPECT_TRUE(readBytes(ttf, font));
  EXPECT_EQ(ttf.Status(), 0);
  EXPECT_EQ(ttf.FontFullName(), "Sample Bold");  // the Macintosh record is not used
  EXPECT_EQ(ttf.FontFamilyName(), "Sample");
  EXPECT_EQ(ttf.FontSubFamName(), "Bold");
  EXPECT_EQ(ttf.CopyrightNotice(), "");
  EXPECT_EQ(ttf.FontVersion(), "");

  TTtfComp all;
  all.InclCopyright = all.InclFontVersion = all.InclPostScriptName = all.InclTrademarkInfo = true;
  all.InclFontFamilyName = false;
  EXPECT_TRUE(readBytes(all, font));
  EXPECT_EQ(all.CopyrightNotice(), "(c) Someone");
  EXPECT_EQ(all.FontVersion(), "Version 1.0");
  EXPECT_EQ(all.PostScriptName(), "Sample-Bold");
  EXPECT_EQ(all.TrademarkInfo(), "Sample is a mark");
  EXPECT_EQ(all.FontFamilyName(), "");
}

TEST(TtfComp, LastRecordOfANameWinsAndIsConvertedToTheCodePage) {
  FontLayout layout;
  layout.names = {{3, 1, 0x0409, 4, u"Sample Regular"},
                {3, 1, 0x040C, 4, u"Sample Fran\u00e7ais \u20ac"},
                {3, 1, 0x0409, 2, u"\u6A19\u6E96"},
                {3, 1, 0x0409, 1, u"Cut\u0000here"}};
  TTtfComp ttf;
  EXPECT_TRUE(readBytes(ttf, buildFont(layout)));
  EXPECT_EQ(ttf.FontFullName(), "Sample Fran\xE7" "ais \x80");
  EXPECT_EQ(ttf.FontSubFamName(), "??");
  EXPECT_EQ(ttf.FontFamilyName(), "Cut");
}

TEST(TtfComp, OnlyTheFirst24DirectoryEntriesAreSearched) {
  FontLayout layout = sampleFont();
  layout.tables = 30;
  layout.nameIndex = 23;
  TTtfComp ttf;
  EXPECT_TRUE(readBytes(ttf, buildFont(layout)));
  EXPECT_EQ(ttf.FontFullName(), "Sample Bold");
  layout.nameIndex = 24;
  EXPECT_FALSE(readBytes(ttf, buildFont(layout)));
  EXPECT_EQ(ttf.Status(), 1);
  EXPECT_EQ(ttf.FontFullName(), "");  // the names of the previous read are gone
}

TEST(TtfComp, UnusableNameTablesGiveStatus1) {
  TTtfComp ttf;
  FontLayout none = sampleFont();
  none.nameIndex = -1;
  FontLayout zero = sampleFont();
  zero.zeroOffset = true;
  FontLayout empty;
  FontLayout noStorage = sampleFont();
  noStorage.storageOverride = 0;
  noStorage.names.clear();
  for (const FontLayout& layout : {none, zero, empty, noStorage}) {
    EXPECT_FALSE(readBytes(ttf, buildFont(layout)));
    EXPECT_EQ(ttf.Status(), 1);
  }
  // A bitmap, an empty file and a truncated record list are no usable font either.
  std::vector<uint8_t> bmp{'B', 'M', 0x36, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 40, 0, 0, 0};
  bmp.resize(200, 0x6E);
  for (const auto& bytes : {bmp, std::vector<uint8_t>{}}) {
    EXPECT_FALSE(readBytes(ttf, bytes));
    EXPECT_EQ(ttf.Status(), 1);
    EXPECT_EQ(ttf.FontFullName(), "");
  }
  auto font = buildFont(sampleFont());
  font.resize(12 + 16 * 4 + 6 + 12 * 3);
  EXPECT_FALSE(readBytes(ttf, font));
  EXPECT_EQ(ttf.Status(), 1);
}

TEST(TtfComp, LongAndTruncatedStringsStayInsideTheBuffer) {
  FontLayout layout;
  layout.names = {{3, 1, 0x0409, 4, std::u16string(400, u'x')}, {3, 1, 0x0409, 2, std::u16string(149, u'y')}};
  TTtfComp ttf;
  EXPECT_TRUE(readBytes(ttf, buildFont(layout)));
  EXPECT_EQ(ttf.FontFullName(), std::string(149, 'x'));
  EXPECT_EQ(ttf.FontSubFamName(), std::string(149, 'y'));

  // The string storage ends early: what is there is used, to a whole unit.
  layout.names = {{3, 1, 0x0409, 4, u"Sample"}};
  auto font = buildFont(layout);
  font.resize(font.size() - 5);
  EXPECT_TRUE(readBytes(ttf, font));
  EXPECT_EQ(ttf.FontFullName(), "Sam");  // 7 of 12 bytes: three whole units
}

TEST(TtfComp, ReadsFilesAndReportsOnesThatCannotBeOpened) {
  TTtfComp ttf;
  EXPECT_FALSE(ttf.ReadFontNames("/nonexistent/font.ttf"));
  EXPECT_EQ(ttf.Status(), 2);
  EXPECT_FALSE(ttf.ReadFontNames(""));
  EXPECT_EQ(ttf.Status(), 2);

  // A FIFO or a device is refused at once instead of blocking or reading forever.
  const std::string fifo = ::testing::TempDir() + "ttfcomp_pipe.ttf";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(ttf.ReadFontNames(fifo));
  EXPECT_EQ(ttf.Status(), 2);
  std::remove(fifo.c_str());
  EXPECT_FALSE(ttf.ReadFontNames("/dev/zero"));
  EXPECT_EQ(ttf.Status(), 2);

  const std::string path = ::testing::TempDir() + "ttfcomp_sample.ttf";
  const auto font = buildFont(sampleFont());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(font.data()), font.size());
  EXPECT_TRUE(ttf.ReadFontNames(path));
  EXPECT_EQ(ttf.FontFullName(), "Sample Bold");
  std::remove(path.c_str());

  const char* dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
  if (std::ifstream(dejavu).good()) {
    EXPECT_TRUE(ttf.ReadFontNames(dejavu));
    EXPECT_EQ(ttf.FontFullName(), "DejaVu Serif Bold");
    EXPECT_EQ(ttf.FontSubFamName(), "Bold");
  }
}

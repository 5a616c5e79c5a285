// pgf end to end: fonts converted by the shipped program and read back with the test's own
// reader, glyph by glyph against FreeType's own drawing; options; fonts that are not fonts.
#include "../../tests/support.h"
#include "io.h"
#include "pgffile.h"
#include "pgfreader.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>

using namespace kivo::test;
namespace fs = std::filesystem;

namespace {

const std::string kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string kLiberation = "/usr/share/fonts/truetype/liberation2/LiberationSerif-Regular.ttf";

struct FreeType {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  FreeType(const std::string& path, int em) {
    EXPECT_EQ(FT_Init_FreeType(&lib), 0);
    EXPECT_EQ(FT_New_Face(lib, path.c_str(), 0, &face), 0);
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    FT_Set_Pixel_Sizes(face, 0, FT_UInt(em));
  }
  ~FreeType() {
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
  }
  bool has(uint32_t code) { return FT_Get_Char_Index(face, code) != 0; }
  // Default hinting, outlines only, 256 grey levels; then 4 bits, rounded.
  pgftest::Char draw(uint32_t code) {
    EXPECT_EQ(FT_Load_Char(face, code, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL), 0);
    EXPECT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL), 0);
    const FT_Bitmap& b = face->glyph->bitmap;
    pgftest::Char c;
    c.image.w = int(b.width);
    c.image.h = int(b.rows);
    c.image.left = face->glyph->bitmap_left;
    c.image.top = face->glyph->bitmap_top;
    for (unsigned y = 0; y < b.rows; ++y)
      for (unsigned x = 0; x < b.width; ++x) c.image.px.push_back(uint8_t((b.buffer[y * b.pitch + x] * 15 + 127) / 255));
    const FT_Glyph_Metrics& m = face->glyph->metrics;
    const FT_Pos values[4][2] = {{m.width, m.height},
                                 {m.horiBearingX, m.vertBearingX},
                                 {m.horiBearingY, m.vertBearingY},
                                 {m.horiAdvance, m.vertAdvance}};
    for (int t = 0; t < 4; ++t)
      for (int k = 0; k < 2; ++k) c.metric[t][k] = int32_t(values[t][k]);
    return c;
  }
};

std::vector<std::pair<uint32_t, uint32_t>> kDefault = {
    {0x20, 0x7E},     {0xA0, 0x17F},    {0x192, 0x192},   {0x2C6, 0x2C7},   {0x2D8, 0x2DD},
    {0x2013, 0x2014}, {0x2018, 0x201E}, {0x2020, 0x2022}, {0x2026, 0x2026}, {0x2030, 0x2030},
    {0x2039, 0x203A}, {0x20AC, 0x20AC}, {0x2122, 0x2122}};

// Every code of the ranges that the font has is in the file, drawn and measured as FreeType does.
void expectFaithful(const std::string& fontPath, const pgftest::Face& pgf,
                    const std::vector<std::pair<uint32_t, uint32_t>>& ranges) {
  ASSERT_EQ(pgf.hRes, 128 * 64);
  ASSERT_EQ(pgf.hSize % 36, 0);
  FreeType ft(fontPath, pgf.hSize / 36);
  EXPECT_EQ(pgf.family, ft.face->family_name);
  size_t expected = 0;
  for (auto [lo, hi] : ranges) {
    for (uint32_t code = lo; code <= hi; ++code) {
      SCOPED_TRACE(code);
      if (!ft.has(code)) {
        EXPECT_EQ(pgf.chars.count(code), 0u);
        continue;
      }
      ++expected;
      ASSERT_EQ(pgf.chars.count(code), 1u);
      const pgftest::Char& got = pgf.chars.at(code);
      const pgftest::Char want = ft.draw(code);
      EXPECT_EQ(got.image.w, want.image.w);
      EXPECT_EQ(got.image.h, want.image.h);
      EXPECT_EQ(got.image.left, want.image.left);
      EXPECT_EQ(got.image.top, want.image.top);
      EXPECT_EQ(got.image.px, want.image.px);
      for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 2; ++k) EXPECT_EQ(got.metric[t][k], want.metric[t][k]) << "metric " << t << "," << k;
      // Every drawn glyph has a shadow around it.
      EXPECT_TRUE(got.hasShadow);
      if (got.image.w > 0 && got.image.h > 0) {
        EXPECT_GT(got.shadow.w, 0);
      }
    }
  }
  EXPECT_EQ(pgf.chars.size(), expected);
}

pgftest::Face convert(const std::vector<std::string>& args, const fs::path& dir, std::string* output = nullptr) {
  const ToolRun run = runTool("pgf", args, dir);
  EXPECT_EQ(run.status, 0) << run.output;
  if (output) *output = run.output;
  return pgftest::parse(readFile(dir / args.back()));
}

} // namespace

TEST(Pgf, DejaVuSansEveryGlyphAsFreeTypeDrawsItAtThePspLatinSize) {
  TempDir dir;
  std::string said;
  const pgftest::Face pgf = convert({kDejaVu, "ltn0.pgf"}, dir.path, &said);
  EXPECT_NE(said.find("written to ltn0.pgf"), std::string::npos) << said;
  EXPECT_EQ(pgf.family, "DejaVu Sans");
  EXPECT_EQ(pgf.style, "Book");
  EXPECT_EQ(pgf.shadowScale, 32u);
  // Capitals as tall as the PSP's own Latin font draws them.
  EXPECT_NEAR(pgf.chars.at('H').image.h, 17, 1);
  expectFaithful(kDejaVu, pgf, kDefault);
  for (uint32_t code = 0x20; code <= 0x17F; ++code) {
    if (code < 0x7F || code >= 0xA0) {
      EXPECT_EQ(pgf.chars.count(code), 1u) << code; // DejaVu has all of them
    }
  }
  EXPECT_FALSE(hasPartFiles(dir.path));
}

TEST(Pgf, ASecondFontAtAnotherSizeAndRange) {
  TempDir dir;
  const std::vector<std::pair<uint32_t, uint32_t>> ranges = {{0x30, 0x5A}, {0xE9, 0xE9}, {0x3B1, 0x3C9}};
  const pgftest::Face pgf = convert({"--size", "12", "-r", "30-5A,U+E9,3B1-3C9", kLiberation, "small.pgf"}, dir.path);
  EXPECT_EQ(pgf.family, "Liberation Serif");
  EXPECT_NEAR(pgf.chars.at('H').image.h, 12, 1);
  EXPECT_EQ(pgf.first, 0x30u);
  EXPECT_EQ(pgf.last, 0x3C9u);
  EXPECT_EQ(pgf.chars.count('a'), 0u);
  expectFaithful(kLiberation, pgf, ranges);
}

TEST(Pgf, MoreGlyphsThanShadowIdsShareShadowsAndStillReadBack) {
  TempDir dir;
  std::string said;
  const pgftest::Face pgf = convert({"-r", "20-7E,A0-24F,370-3FF,400-4FF", kDejaVu, "wide.pgf"}, dir.path, &said);
  EXPECT_GT(pgf.chars.size(), 511u);
  EXPECT_NE(said.find("share the shadow"), std::string::npos) << said;
  expectFaithful(kDejaVu, pgf, {{0x20, 0x7E}, {0xA0, 0x24F}, {0x370, 0x3FF}, {0x400, 0x4FF}});

  // The tool's own reader (its --info) agrees with the test's on what is there.
  const ToolRun info = runTool("pgf", {"--info", "wide.pgf"}, dir.path);
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find("Characters: " + std::to_string(pgf.chars.size())), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("Name: DejaVu Sans"), std::string::npos);
}

TEST(Pgf, TheToolsReaderRejectsEveryCutOfAFont) {
  TempDir dir;
  convert({"-r", "41-5A", kDejaVu, "az.pgf"}, dir.path);
  const std::vector<uint8_t> whole = readFile(dir / "az.pgf");
  EXPECT_EQ(kivo::pgf::read(whole.data(), whole.size()).glyphs.size(), 26u);
  for (size_t cut = 0; cut < whole.size(); cut += 7)
    EXPECT_THROW(kivo::pgf::read(whole.data(), cut), kivo::ToolError) << cut;
}

TEST(Pgf, FilesThatAreNoUsableFontGiveAMessageAndNoOutput) {
  TempDir dir;
  const std::vector<uint8_t> font = readFile(kDejaVu);
  auto u32be = [&](const std::vector<uint8_t>& f, size_t at) {
    return uint32_t(f[at]) << 24 | uint32_t(f[at + 1]) << 16 | uint32_t(f[at + 2]) << 8 | f[at + 3];
  };
  auto tableEntry = [&](const std::vector<uint8_t>& f, const char* tag) -> size_t {
    const size_t tables = size_t(f[4]) << 8 | f[5];
    for (size_t i = 0; i < tables; ++i)
      if (!std::memcmp(&f[12 + i * 16], tag, 4)) return 12 + i * 16;
    return 0;
  };
  std::vector<uint8_t> cut(font.begin(), font.begin() + 20000);
  writeFile(dir / "cut.ttf", cut);
  std::vector<uint8_t> outside = font;
  const size_t name = tableEntry(outside, "name");
  ASSERT_NE(name, 0u);
  for (int k = 0; k < 4; ++k) outside[name + 8 + size_t(k)] = uint8_t(0x7F0000F0u >> (24 - 8 * k)); // far past the end
  writeFile(dir / "outside.ttf", outside);
  std::vector<uint8_t> many = font;
  const size_t maxp = u32be(many, tableEntry(many, "maxp") + 8);
  many[maxp + 4] = many[maxp + 5] = 0xFF; // 65,535 glyphs claimed
  writeFile(dir / "many.ttf", many);
  writeText(dir / "text.ttf", "not a font at all\n");
  fs::create_directory(dir / "folder.ttf");

  for (const std::string input : {"cut.ttf", "outside.ttf", "many.ttf", "text.ttf", "folder.ttf", "missing.ttf", ""}) {
    SCOPED_TRACE(input);
    fs::remove(dir / "out.pgf");
    const ToolRun run = runTool("pgf", {input, "out.pgf"}, dir.path);
    ASSERT_NE(run.status, -1) << "killed: " << run.output;
    if (run.status == 0) {
      // Whatever FreeType still draws of it is a font that reads back.
      EXPECT_NO_THROW(pgftest::parse(readFile(dir / "out.pgf")));
    } else {
      EXPECT_TRUE(run.status == 1 || run.status == 2) << run.output;
      EXPECT_EQ(run.output.rfind("pgf: ", 0), 0u) << run.output;
      EXPECT_FALSE(fs::exists(dir / "out.pgf"));
    }
  }
  EXPECT_NE(runTool("pgf", {"cut.ttf", "out.pgf"}, dir.path).output.find("'cut.ttf': the font cannot be read: it is "
                                                                          "damaged or cut short"),
            std::string::npos);
  EXPECT_NE(runTool("pgf", {"text.ttf", "out.pgf"}, dir.path).output.find("not a TrueType or OpenType font"),
            std::string::npos);
  for (const std::string input : {"folder.ttf", "missing.ttf"})
    EXPECT_NE(runTool("pgf", {input, "out.pgf"}, dir.path).status, 0) << input;
  // A name table outside the file: FreeType reads the outlines without names; the font is named
  // after its file, and the user told.
  const ToolRun named = runTool("pgf", {"outside.ttf", "out.pgf"}, dir.path);
  if (named.status == 0) {
    EXPECT_NE(named.output.find("note: the font's names cannot be read; it is called 'outside'"), std::string::npos)
        << named.output;
    EXPECT_EQ(pgftest::parse(readFile(dir / "out.pgf")).family, "outside");
  }

  // The font is never written over, and options are checked before anything is read.
  EXPECT_NE(runTool("pgf", {kDejaVu, kDejaVu}, dir.path).status, 0);
  EXPECT_EQ(readFile(kDejaVu), font);
  EXPECT_EQ(runTool("pgf", {"--size", "99", kDejaVu, "out.pgf"}, dir.path).status, 1);
  EXPECT_EQ(runTool("pgf", {"--range", "7E-20", kDejaVu, "out.pgf"}, dir.path).status, 1);
  EXPECT_EQ(runTool("pgf", {"--range", "10000-10010", kDejaVu, "out.pgf"}, dir.path).status, 1);
  const ToolRun help = runTool("pgf", {"--help"}, dir.path);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output.rfind("usage: pgf", 0), 0u);
  EXPECT_EQ(runTool("pgf", {"--version"}, dir.path).output.rfind("pgf (Kivo Workbench) ", 0), 0u);
}

TEST(Pgf, ProgressLinesForKivo) {
  TempDir dir;
  const ToolRun run = runTool("pgf", {"-r", "41-5A", kDejaVu, "p.pgf"}, dir.path, {.env = {"KIVO_PROGRESS=1"}});
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string size = std::to_string(fs::file_size(kDejaVu));
  EXPECT_NE(run.output.find("KIVO-PROGRESS 0 " + size + "\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("KIVO-PROGRESS " + size + " " + size + "\n"), std::string::npos) << run.output;
}

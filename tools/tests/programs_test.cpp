// The shipped programs, started with the command lines the Convert page builds.
#include "pbp.h"
#include "support.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
namespace fs = std::filesystem;

TEST(Programs, MalformedCommandLinesAreUsageErrors) {
  TempDir dir;
  writeFile(dir / "a.iso", mixedBytes(4096));
  for (std::string level : {"", "x", "10", "-1", " 9", "9 "}) {
    ToolRun r = runTool("ciso", {level, "a.iso", "a.cso"}, dir.path);
    EXPECT_EQ(r.status, 1) << "level '" << level << "'";
    EXPECT_NE(r.output.find("invalid compression level"), std::string::npos) << r.output;
  }
  for (std::string mode : {"-l", "-lx", "-l10", "-x", "d"}) {
    ToolRun r = runTool("dax", {mode, "a.iso", "a.dax"}, dir.path);
    EXPECT_EQ(r.status, 1) << "mode '" << mode << "'";
    EXPECT_NE(r.output.find("usage: dax"), std::string::npos) << r.output;
  }
  EXPECT_EQ(runTool("ciso", {"9", "a.iso"}, dir.path).status, 1);
  EXPECT_EQ(runTool("dax", {}, dir.path).status, 1);
  EXPECT_EQ(runTool("psx", {"T", "ID", "9"}, dir.path).status, 1);
  EXPECT_EQ(runTool("psx", {"T", "ID", "", "a.iso"}, dir.path).status, 1);
  EXPECT_FALSE(fs::exists(dir / "a.cso"));
  EXPECT_FALSE(fs::exists(dir / "a.dax"));
  EXPECT_FALSE(fs::exists(dir / "EBOOT.PBP"));
}

TEST(Programs, EveryConversionOfTheConvertPageRoundTrips) {
  TempDir dir;
  auto iso = discBytes(5'000'000 + 1234);
  writeFile(dir / "a.iso", iso);
  auto ok = [&](const std::string& tool, const std::vector<std::string>& args) {
    ToolRun r = runTool(tool, args, dir.path);
    EXPECT_EQ(r.status, 0) << tool << ": " << r.output;
  };
  ok("ciso", {"9", "a.iso", "a.cso"});
  ok("ciso", {"0", "a.cso", "from-cso.iso"});
  EXPECT_EQ(readFile(dir / "from-cso.iso"), iso);
  ok("dax", {"-l9", "a.iso", "a.dax"});
  ok("dax", {"-d", "a.dax", "from-dax.iso"});
  EXPECT_EQ(readFile(dir / "from-dax.iso"), iso);

  // CSO to DAX and DAX to CSO go through temp.iso in the current folder.
  ok("ciso", {"0", "a.cso", "temp.iso"});
  ok("dax", {"-l9", "temp.iso", "b.dax"});
  EXPECT_EQ(readFile(dir / "b.dax"), readFile(dir / "a.dax"));
  ok("dax", {"-d", "a.dax", "temp.iso"});
  ok("ciso", {"9", "temp.iso", "b.cso"});
  EXPECT_EQ(readFile(dir / "b.cso"), readFile(dir / "a.cso"));
  EXPECT_LT(fs::file_size(dir / "a.cso"), iso.size());
  EXPECT_FALSE(hasPartFiles(dir.path));
}

TEST(Programs, FailuresLeaveNothingUnderTheOutputName) {
  TempDir dir;
  writeFile(dir / "a.iso", discBytes(200000));
  ASSERT_EQ(runTool("ciso", {"9", "a.iso", "a.cso"}, dir.path).status, 0);
  ASSERT_EQ(runTool("dax", {"-l9", "a.iso", "a.dax"}, dir.path).status, 0);

  ToolRun r = runTool("ciso", {"0", "missing.cso", "out.iso"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("cannot open 'missing.cso'"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir / "out.iso"));

  r = runTool("dax", {"-l9", ".", "out.dax"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("folder"), std::string::npos) << r.output;

  // A damaged block is found only after part of the image was written.
  auto cso = readFile(dir / "a.cso");
  size_t block = 50;
  while (getLe32(&cso[24 + 4 * block]) & 0x80000000u)
    ++block; // a deflated one
  std::fill_n(cso.begin() + getLe32(&cso[24 + 4 * block]), 64, 0xFF);
  writeFile(dir / "bad.cso", cso);
  writeFile(dir / "keep.iso", {1, 2, 3});
  r = runTool("ciso", {"0", "bad.cso", "keep.iso"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("corrupt CSO"), std::string::npos) << r.output;
  EXPECT_EQ(readFile(dir / "keep.iso"), (std::vector<uint8_t>{1, 2, 3}));

  auto dax = readFile(dir / "a.dax");
  dax.resize(dax.size() / 2);
  writeFile(dir / "cut.dax", dax);
  r = runTool("dax", {"-d", "cut.dax", "out.iso"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("past the end"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir / "out.iso"));

  r = runTool("ciso", {"9", "a.iso", "no/such/folder/a.cso"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("cannot write"), std::string::npos) << r.output;
  EXPECT_FALSE(hasPartFiles(dir.path));
}

TEST(Programs, OutputsThroughLinksAndDevicesKeepThem) {
  TempDir dir;
  auto iso = discBytes(100000);
  writeFile(dir / "a.iso", iso);
  fs::create_directory(dir / "real");
  writeFile(dir / "real" / "a.cso", {1});
  fs::create_symlink("real/a.cso", dir / "link.cso");
  ASSERT_EQ(runTool("ciso", {"9", "a.iso", "link.cso"}, dir.path).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.cso"));
  EXPECT_EQ(runTool("ciso", {"0", "real/a.cso", "b.iso"}, dir.path).status, 0);
  EXPECT_EQ(readFile(dir / "b.iso"), iso);

  // Run as root, a file renamed over /dev/null would replace the device.
  ASSERT_EQ(runTool("ciso", {"9", "a.iso", "/dev/null"}, dir.path).status, 0);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_EQ(runTool("dax", {"-l1", "a.iso", dir.path.string()}, dir.path).status, 2);
}

TEST(Programs, PsxWritesEbootIntoTheToolFolderWithStagedArtwork) {
  TempDir dir;
  fs::create_directory(dir / "bin");
  auto iso = isoImage(200, 200);
  writeFile(dir / "game.iso", iso);
  writeFile(dir / "bin" / "ICON0.PNG", {0x89, 'P', 'N', 'G'});
  writeFile(dir / "bin" / "pic1.png", {5, 6}); // another letter case is found too
  writeFile(dir / "bin" / "SND0.AT3", {7});

  ToolRun r = runTool("psx", {"My Game", "SLES12345", "9", "../game.iso"}, dir / "bin");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("signed tool"), std::string::npos) << r.output;
  auto eboot = readFile(dir / "bin" / "EBOOT.PBP");
  MemorySource src(eboot.data(), eboot.size());
  pbp::Reader reader(src);
  EXPECT_EQ(reader.section(pbp::Icon0), (std::vector<uint8_t>{0x89, 'P', 'N', 'G'}));
  EXPECT_EQ(reader.section(pbp::Pic1), (std::vector<uint8_t>{5, 6}));
  EXPECT_EQ(reader.section(pbp::Snd0), (std::vector<uint8_t>{7}));
  EXPECT_EQ(reader.sectionSize(pbp::Pic0), 0u);
  auto sfo = reader.section(pbp::Sfo);
  auto fields = pbp::parseSfo(sfo.data(), sfo.size());
  EXPECT_EQ(fields.strings["TITLE"], "My Game");
  EXPECT_EQ(fields.strings["DISC_ID"], "SLES12345");
  MemorySink image;
  reader.extractImage(image);
  EXPECT_EQ(image.bytes.size(), 200u * 2352);
  // The staged files are the page's to remove.
  EXPECT_TRUE(fs::exists(dir / "bin" / "ICON0.PNG"));

  // A bad image leaves the previous EBOOT.PBP alone.
  writeFile(dir / "odd.bin", std::vector<uint8_t>(3000, 1));
  r = runTool("psx", {"", "SCUS", "0", "../odd.bin"}, dir / "bin");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("not a disc image"), std::string::npos) << r.output;
  EXPECT_EQ(readFile(dir / "bin" / "EBOOT.PBP"), eboot);
  EXPECT_FALSE(hasPartFiles(dir / "bin"));
}

TEST(Programs, ImageToEbootToRastleIsExact) {
  TempDir dir;
  auto iso = isoImage(333, 333, 4);
  writeFile(dir / "game.iso", iso);
  auto raw = rawImage(iso);
  writeFile(dir / "game.bin", raw);

  for (std::string input : {"game.iso", "game.bin"}) {
    for (std::string level : {"0", "9"}) {
      ASSERT_EQ(runTool("psx", {"T", "SCUS00001", level, input}, dir.path).status, 0);
      ToolRun r = runTool("rastle", {"-o", "out.bin", "EBOOT.PBP"}, dir.path);
      EXPECT_EQ(r.status, 0) << r.output;
      EXPECT_EQ(readFile(dir / "out.bin"), raw) << input << " at level " << level;
    }
  }
}

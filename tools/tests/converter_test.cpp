// ciso and dax beyond the Convert page's command lines: any input format, output formats,
// several inputs, verification and the options' errors.
#include "image.h"
#include "support.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
namespace fs = std::filesystem;

namespace {

Format formatOfFile(const fs::path& path) {
  auto bytes = readFile(path);
  MemorySource src(bytes.data(), bytes.size());
  return openImage(src)->format();
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

} // namespace

TEST(Converter, ThePageCommandLinesUnpackWhateverContainerTheyAreGiven) {
  TempDir dir;
  const auto iso = discBytes(700000, 4);
  writeFile(dir / "a.iso", iso);
  ASSERT_EQ(runTool("ciso", {"-f", "zso", "9", "a.iso", "a.zso"}, dir.path).status, 0);
  ASSERT_EQ(runTool("ciso", {"--format=cso2", "9", "a.iso", "a2.cso"}, dir.path).status, 0);
  ASSERT_EQ(runTool("dax", {"-l9", "a.iso", "a.dax"}, dir.path).status, 0);
  for (std::string in : {"a.zso", "a2.cso", "a.dax"}) {
    ToolRun r = runTool("ciso", {"0", in, "out.iso"}, dir.path);
    ASSERT_EQ(r.status, 0) << in << ": " << r.output;
    EXPECT_EQ(r.output, "Decompressed " + in + " into out.iso (683.6 KiB)\n");
    EXPECT_EQ(readFile(dir / "out.iso"), iso) << in;
    r = runTool("dax", {"-d", in, "out2.iso"}, dir.path);
    ASSERT_EQ(r.status, 0) << in << ": " << r.output;
    EXPECT_EQ(readFile(dir / "out2.iso"), iso) << in;
  }
  // A compressed input goes straight into another container.
  ASSERT_EQ(runTool("dax", {"-l5", "a.zso", "b.dax"}, dir.path).status, 0);
  ASSERT_EQ(runTool("ciso", {"5", "b.dax", "b.cso"}, dir.path).status, 0);
  EXPECT_EQ(formatOfFile(dir / "b.cso"), Format::Cso1);
  ASSERT_EQ(runTool("ciso", {"0", "b.cso", "b.iso"}, dir.path).status, 0);
  EXPECT_EQ(readFile(dir / "b.iso"), iso);
  // A name that starts with a dash is a name in the three-argument form.
  writeFile(dir / "-x.iso", iso);
  EXPECT_EQ(runTool("ciso", {"1", "-x.iso", "-x.cso"}, dir.path).status, 0);
  EXPECT_EQ(formatOfFile(dir / "-x.cso"), Format::Cso1);
}

TEST(Converter, UnpackingAPlainFileCopiesADiscImageAndRefusesAnythingElse) {
  TempDir dir;
  auto iso = mixedBytes(40000, 3);
  std::memcpy(&iso[16 * 2048 + 1], "CD001", 5);
  writeFile(dir / "plain.iso", iso);
  ToolRun r = runTool("ciso", {"0", "plain.iso", "copy.iso"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "copy.iso"), iso);
  // A text file picked as a CSO by mistake must not turn into an "ISO".
  writeFile(dir / "notes.cso", std::vector<uint8_t>(50000, 'x'));
  for (const char* tool : {"ciso", "dax"}) {
    r = runTool(tool, {std::string(tool) == "ciso" ? "0" : "-d", "notes.cso", "notes.iso"}, dir.path);
    EXPECT_EQ(r.status, 2) << tool;
    EXPECT_NE(r.output.find("is not a CSO, ZSO, DAX or CHD file, nor a disc image"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir / "notes.iso"));
  }
}

TEST(Converter, OptionsChooseFormatBlockSizeThreadsAndVerify) {
  TempDir dir;
  const auto iso = discBytes(500000, 7);
  writeFile(dir / "a.iso", iso);
  ToolRun r = runTool("ciso", {"--verify", "-t", "3", "-b", "16k", "-f", "cso2", "9", "a.iso", "a.cso"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Verified a.cso: it reads back identical to a.iso"), std::string::npos) << r.output;
  auto file = readFile(dir / "a.cso");
  EXPECT_EQ(file[20], 2);
  EXPECT_EQ(getLe32(&file[16]), 16384u);
  r = runTool("dax", {"-d", "--verify", "--", "a.cso", "back.iso"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir / "back.iso"), iso);
  r = runTool("dax", {"--format", "zso", "--slowest", "-l9", "a.iso", "a.zso"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(formatOfFile(dir / "a.zso"), Format::Zso);

  r = runTool("ciso", {"--help"}, dir.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output.rfind("usage: ciso LEVEL IN OUT\n", 0), 0u) << r.output;
  r = runTool("dax", {"--version"}, dir.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output.rfind("dax (Kivo Workbench) ", 0), 0u) << r.output;
}

TEST(Converter, SeveralInputsEachGetTheirOwnOutputAndReport) {
  TempDir dir;
  writeFile(dir / "a.iso", discBytes(300000, 1));
  writeFile(dir / "b.iso", discBytes(200000, 2));
  RunOptions machine;
  machine.env = {"KIVO_PROGRESS=1"};
  ToolRun r = runTool("ciso", {"-O", "out/cso", "9", "a.iso", "missing.iso", "b.iso"}, dir.path, machine);
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("ciso: error: cannot open 'missing.iso'"), std::string::npos) << r.output;
  EXPECT_EQ(formatOfFile(dir / "out/cso/a.cso"), Format::Cso1);
  EXPECT_EQ(formatOfFile(dir / "out/cso/b.cso"), Format::Cso1);
  EXPECT_FALSE(fs::exists(dir / "out/cso/missing.cso"));
  // One report per converted input, each from 0 to its own total.
  EXPECT_EQ(count(r.output, "KIVO-PROGRESS 0 "), 2u) << r.output;
  EXPECT_EQ(count(r.output, "KIVO-PROGRESS 0 300000\n"), 1u) << r.output;
  EXPECT_GE(count(r.output, "KIVO-PROGRESS 300000 300000\n"), 1u) << r.output;
  EXPECT_GE(count(r.output, "KIVO-PROGRESS 200000 200000\n"), 1u) << r.output;

  // A check reads the whole image a second time, in the same report.
  r = runTool("dax", {"--verify", "-O", "out", "-d", "out/cso/a.cso", "out/cso/b.cso"}, dir.path, machine);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(count(r.output, "KIVO-PROGRESS 0 600000\n"), 1u) << r.output;
  EXPECT_GE(count(r.output, "KIVO-PROGRESS 600000 600000\n"), 1u) << r.output;
  EXPECT_EQ(readFile(dir / "out/a.iso"), readFile(dir / "a.iso"));
  EXPECT_EQ(readFile(dir / "out/b.iso"), readFile(dir / "b.iso"));
  EXPECT_FALSE(hasPartFiles(dir / "out"));
}

TEST(Converter, ContradictoryOrMalformedOptionsAreUsageErrors) {
  TempDir dir;
  writeFile(dir / "a.iso", mixedBytes(4096));
  const std::vector<std::vector<std::string>> ciso = {
      {"-b", "3000", "9", "a.iso", "a.cso"}, {"-b", "512", "9", "a.iso", "a.cso"},
      {"-f", "dax", "-b", "4096", "9", "a.iso", "a.dax"}, {"-f", "zso", "0", "a.iso", "a.zso"},
      {"-f", "rar", "9", "a.iso", "a.cso"}, {"-t", "0", "9", "a.iso", "a.cso"},
      {"--threads=x", "9", "a.iso", "a.cso"}, {"-t"}, {"--bogus", "9", "a.iso", "a.cso"},
      {"9", "a.iso", "b.iso", "c.cso", "--verify"}, {"-O", "o", "9", "a.iso", "a.iso"}, {"--verify", "a.iso", "a.cso"}};
  for (const auto& args : ciso) {
    ToolRun r = runTool("ciso", args, dir.path);
    EXPECT_EQ(r.status, 1) << args[0] << " " << args[1] << ": " << r.output;
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-l9", "-d", "--verify", "a.iso", "x"}, {"--verify", "a.iso", "x.dax"},
        {"-b", "4096", "-l9", "a.iso", "x.dax"}}) {
    ToolRun r = runTool("dax", args, dir.path);
    EXPECT_EQ(r.status, 1) << args[0] << ": " << r.output;
  }
  EXPECT_EQ(fs::directory_iterator(dir.path)->path().filename(), "a.iso");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

// doit end to end: resource files made by the test's own writer (a tree with seven pictures, a
// sound, labels), rebuilt by the shipped program from six bitmaps in a tool folder, and read
// back by the test itself; bitmaps that do not suit and a missing base.
#include "../../tests/support.h"
#include "io.h"
#include "rco.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

using namespace kivo::test;
namespace fs = std::filesystem;

namespace {

void le32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

std::vector<uint8_t> deflate(const std::vector<uint8_t>& in) {
  uLongf n = compressBound(uLong(in.size()));
  std::vector<uint8_t> out(n);
  EXPECT_EQ(compress(out.data(), &n, in.data(), uLong(in.size())), Z_OK);
  out.resize(n);
  return out;
}
std::vector<uint8_t> inflate(const uint8_t* p, size_t n, size_t size) {
  std::vector<uint8_t> out(size);
  uLongf got = uLongf(size);
  EXPECT_EQ(uncompress(out.data(), &got, p, uLong(n)), Z_OK);
  return out;
}

// A bitmap as the page writes them: 64 x 64 by default, 256 colours, bottom-up.
std::vector<uint8_t> bitmap(int width, int height, int bits, uint8_t seed) {
  const size_t palette = bits == 8 ? 1024 : 0;
  const size_t stride = (size_t(width) * size_t(bits) / 8 + 3) / 4 * 4;
  std::vector<uint8_t> b(54 + palette + stride * size_t(std::abs(height)), 0);
  b[0] = 'B';
  b[1] = 'M';
  le32(b, 2, uint32_t(b.size()));
  le32(b, 10, uint32_t(54 + palette));
  le32(b, 14, 40);
  le32(b, 18, uint32_t(width));
  le32(b, 22, uint32_t(height));
  b[26] = 1;
  b[28] = uint8_t(bits);
  for (size_t i = 54; i < b.size(); ++i) b[i] = uint8_t(i * 7 + seed);
  return b;
}

// The test's own resource writer: main table -> picture table (seven pictures) and sound table
// (one sound); labels; the picture list; then the picture and sound data.
struct TestRco {
  bool packToc = false;
  std::vector<std::vector<uint8_t>> pictures;
  std::vector<bool> packed;
  std::vector<std::string> labels;
  std::vector<uint8_t> sound = std::vector<uint8_t>(300, 0x5A);

  std::vector<uint8_t> build() const {
    std::vector<uint8_t> toc(0xA4, 0xFF);
    std::memcpy(toc.data(), "\0PRF", 4);
    le32(toc, 4, 0x71);
    le32(toc, 8, 0);
    le32(toc, 12, packToc ? 0x10 : 0);
    auto entry = [&](uint8_t type, uint8_t id, uint32_t label, uint32_t children) {
      const size_t at = toc.size();
      toc.resize(at + 40, 0);
      toc[at] = type;
      toc[at + 1] = id;
      le32(toc, at + 4, label);
      le32(toc, at + 16, children);
      return at;
    };
    // Labels first, so entries can name them.
    std::vector<uint8_t> labelData;
    std::vector<uint32_t> labelAt;
    for (const std::string& l : labels) {
      labelAt.push_back(uint32_t(labelData.size()));
      labelData.insert(labelData.end(), l.begin(), l.end());
      labelData.push_back(0);
    }
    while (labelData.size() % 4) labelData.push_back(0);

    const size_t main = entry(1, 1, 0xFFFFFFFF, 2);
    le32(toc, 0x10, uint32_t(main));
    const size_t imageTable = entry(0, 4, 0xFFFFFFFF, uint32_t(pictures.size()));
    le32(toc, 0x24, uint32_t(imageTable));
    std::vector<uint8_t> imageData;
    std::vector<uint32_t> entries;
    for (size_t i = 0; i < pictures.size(); ++i) {
      const size_t at = entry(1, 4, labelAt[i], 0);
      entries.push_back(uint32_t(at));
      const std::vector<uint8_t> stored = packed[i] ? deflate(pictures[i]) : pictures[i];
      toc.resize(at + 40 + (packed[i] ? 16 : 12), 0);
      toc[at + 40] = 4; // BMP
      toc[at + 42] = packed[i] ? 1 : 0;
      le32(toc, at + 44, uint32_t(stored.size()));
      le32(toc, at + 48, uint32_t(imageData.size()));
      if (packed[i]) le32(toc, at + 52, uint32_t(pictures[i].size()));
      le32(toc, at + 20, uint32_t(toc.size() - at)); // to the next sibling
      imageData.insert(imageData.end(), stored.begin(), stored.end());
      while (imageData.size() % 4) imageData.push_back(0);
    }
    le32(toc, entries.back() + 20, 0);
    const size_t soundTable = entry(0, 6, 0xFFFFFFFF, 1);
    le32(toc, 0x1C, uint32_t(soundTable));
    const size_t soundEntry = entry(1, 6, labelAt.back(), 0);
    toc.resize(soundEntry + 40 + 28, 0);
    toc[soundEntry + 40] = 1; // VAG
    toc[soundEntry + 42] = 1; // one channel
    le32(toc, soundEntry + 44, uint32_t(sound.size()));
    le32(toc, soundEntry + 48, 0);
    le32(toc, soundEntry + 52, uint32_t(sound.size()));
    le32(toc, soundEntry + 56, 0);
    const size_t labelsAt = toc.size();
    toc.insert(toc.end(), labelData.begin(), labelData.end());
    le32(toc, 0x40, uint32_t(labelsAt));
    le32(toc, 0x44, uint32_t(labelData.size()));
    const size_t list = toc.size();
    for (uint32_t e : entries) {
      toc.resize(toc.size() + 4);
      le32(toc, toc.size() - 4, e);
    }
    le32(toc, 0x58, uint32_t(list));
    le32(toc, 0x5C, uint32_t(entries.size() * 4));
    const size_t soundList = toc.size();
    toc.resize(toc.size() + 4);
    le32(toc, soundList, uint32_t(soundEntry));
    le32(toc, 0x68, uint32_t(soundList));
    le32(toc, 0x6C, 4);
    for (size_t f : {0x3Cu, 0x4Cu, 0x54u, 0x64u, 0x74u, 0x7Cu, 0x94u}) le32(toc, f, 0);

    std::vector<uint8_t> file;
    if (packToc) {
      file.assign(toc.begin(), toc.begin() + 0xA4);
      const std::vector<uint8_t> body(toc.begin() + 0xA4, toc.end());
      const std::vector<uint8_t> z = deflate(body);
      file.resize(0xA4 + 12);
      le32(file, 0xA4, uint32_t(z.size()));
      le32(file, 0xA8, uint32_t(body.size()));
      le32(file, 0xAC, 0);
      file.insert(file.end(), z.begin(), z.end());
      while (file.size() % 4) file.push_back(0);
    } else {
      file = toc;
    }
    le32(file, 0x80, uint32_t(file.size()));
    le32(file, 0x84, uint32_t(imageData.size()));
    file.insert(file.end(), imageData.begin(), imageData.end());
    le32(file, 0x88, uint32_t(file.size()));
    le32(file, 0x8C, uint32_t(sound.size()));
    file.insert(file.end(), sound.begin(), sound.end());
    return file;
  }
};

// The test's reading of a file: the table of contents as the entries address it, pictures by
// entry, the sound's bytes.
struct Read {
  std::vector<uint8_t> toc;
  std::vector<std::vector<uint8_t>> pictures;
  std::vector<uint8_t> sound;
};

Read readBack(const std::vector<uint8_t>& f) {
  Read r;
  if (le32(f, 12) & 0xF0) {
    r.toc.assign(f.begin(), f.begin() + 0xA4);
    const std::vector<uint8_t> body = inflate(&f[0xB0], le32(f, 0xA4), le32(f, 0xA8));
    r.toc.insert(r.toc.end(), body.begin(), body.end());
  } else {
    r.toc.assign(f.begin(), f.begin() + le32(f, 0x80));
  }
  const uint32_t images = le32(f, 0x80);
  for (uint32_t i = 0; i < le32(r.toc, 0x5C) / 4; ++i) {
    const uint32_t e = le32(r.toc, le32(r.toc, 0x58) + i * 4);
    const bool z = r.toc[e + 42] == 1;
    const uint8_t* at = &f.at(images + le32(r.toc, e + 48));
    const uint32_t size = le32(r.toc, e + 44);
    r.pictures.push_back(z ? inflate(at, size, le32(r.toc, e + 52)) : std::vector<uint8_t>(at, at + size));
  }
  r.sound.assign(f.begin() + le32(f, 0x88), f.begin() + le32(f, 0x88) + le32(f, 0x8C));
  return r;
}

// The table of contents with each picture entry's packing, size and place blanked.
std::vector<uint8_t> withoutPicturePlaces(std::vector<uint8_t> toc) {
  for (uint32_t i = 0; i < le32(toc, 0x5C) / 4; ++i) {
    const uint32_t e = le32(toc, le32(toc, 0x58) + i * 4);
    std::fill(toc.begin() + e + 42, toc.begin() + e + (toc[e + 42] ? 56 : 52), 0);
  }
  for (size_t f : {0x80u, 0x84u, 0x88u}) le32(toc, f, 0);
  return toc;
}

struct Folder {
  TempDir dir;
  fs::path bin = dir / "bin";
  Folder() { fs::create_directories(bin); }
  void icons(uint8_t seed) {
    for (int n = 1; n <= 6; ++n) writeFile(bin / (std::to_string(n) + ".bmp"), bitmap(64, 64, 8, uint8_t(seed + n)));
  }
};

TestRco sampleBase(bool packToc) {
  TestRco base;
  base.packToc = packToc;
  // Six icons and, among them, a wider picture that is not one.
  const char* names[] = {"tex_setting", "tex_photo", "tex_wide", "tex_music", "tex_video", "tex_game", "tex_network",
                         "snd_move"};
  for (int i = 0; i < 7; ++i) {
    base.pictures.push_back(i == 2 ? bitmap(128, 32, 8, 99) : bitmap(64, 64, 8, uint8_t(200 + i)));
    base.packed.push_back(i % 2 == 0);
    base.labels.push_back(names[i]);
  }
  base.labels.push_back(names[7]);
  return base;
}

} // namespace

TEST(Doit, RebuildsTheBaseWithTheSixNewPicturesAndNothingElseChanged) {
  for (bool packToc : {false, true}) {
    SCOPED_TRACE(packToc);
    Folder f;
    const TestRco base = sampleBase(packToc);
    const std::vector<uint8_t> baseFile = base.build();
    writeFile(f.bin / "topmenu_plugin.rco", baseFile);
    f.icons(10);
    // As Kivo starts it: the bare name doit.cmd, through /bin/sh, in the tool folder.
    fs::copy_file(fs::path(KIVO_TOOL_DIR) / "doit.cmd", f.bin / "doit.cmd");
    fs::copy_file(fs::path(KIVO_TOOL_DIR) / "doit", f.bin / "doit");
    const std::string command = "cd '" + f.bin.string() + "' && /bin/sh doit.cmd > out.txt 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << readFile(f.bin / "out.txt").size();

    const std::vector<uint8_t> built = readFile(f.dir / "topmenu_plugin.rco");
    const Read before = readBack(baseFile), after = readBack(built);
    ASSERT_EQ(after.pictures.size(), 7u);
    const int slotOf[7] = {1, 2, 0, 3, 4, 5, 6};
    for (int i = 0; i < 7; ++i) {
      if (slotOf[i])
        EXPECT_EQ(after.pictures[size_t(i)], bitmap(64, 64, 8, uint8_t(10 + slotOf[i]))) << i;
      else
        EXPECT_EQ(after.pictures[size_t(i)], before.pictures[size_t(i)]);
    }
    EXPECT_EQ(after.sound, base.sound);
    EXPECT_EQ(withoutPicturePlaces(after.toc), withoutPicturePlaces(before.toc));
    // Pictures stay packed as they were.
    for (uint32_t i = 0; i < 7; ++i) {
      const uint32_t e = le32(after.toc, le32(after.toc, 0x58) + i * 4);
      EXPECT_EQ(after.toc[e + 42], base.packed[i] ? 1 : 0);
    }
    // The base is the user's: untouched; and the tool's reader sees the same.
    EXPECT_EQ(readFile(f.bin / "topmenu_plugin.rco"), baseFile);
    const kivo::rco::Resource tool(built);
    EXPECT_EQ(tool.pictures()[3].label, "tex_music");
    EXPECT_EQ(tool.pictureData(tool.pictures()[3]), bitmap(64, 64, 8, 13));
    EXPECT_FALSE(hasPartFiles(f.dir.path));
  }
}

TEST(Doit, BitmapsThatDoNotSuitAreRefusedNamingTheirSlots) {
  Folder f;
  writeFile(f.bin / "topmenu_plugin.rco", sampleBase(false).build());
  f.icons(1);
  writeFile(f.bin / "2.bmp", bitmap(32, 32, 8, 1));
  writeFile(f.bin / "3.bmp", bitmap(64, 64, 24, 1));
  writeFile(f.bin / "5.bmp", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0});
  fs::remove(f.bin / "6.bmp");
  const ToolRun run = runTool("doit", {}, f.bin);
  EXPECT_EQ(run.status, 2);
  for (const char* said : {"slot 2 (Photo): 2.bmp is 32 x 32 pixels; the top menu takes 64 x 64",
                           "slot 3 (Music): 3.bmp has 24 bits per pixel; the top menu takes 256-colour (8-bit) bitmaps",
                           "slot 5 (Game): 5.bmp is not a bitmap (it is a PNG picture)",
                           "doit: error: slot 6 (Network): 6.bmp is missing\n"})
    EXPECT_NE(run.output.find(said), std::string::npos) << said << "\n" << run.output;
  EXPECT_EQ(run.output.find("slot 1"), std::string::npos);
  EXPECT_FALSE(fs::exists(f.dir / "topmenu_plugin.rco"));
}

TEST(Doit, AMissingOrForeignBaseSaysWhatIsMissingAndWhereItGoes) {
  Folder f;
  f.icons(1);
  ToolRun run = runTool("doit", {}, f.bin);
  EXPECT_EQ(run.status, 2);
  const std::string last = run.output.substr(run.output.rfind("doit: error: "));
  EXPECT_EQ(last, "doit: error: the PSP's own topmenu_plugin.rco is missing: the top menu is built on it, and Kivo "
                  "ships none. Copy flash0:/vsh/resource/topmenu_plugin.rco from your PSP into " +
                      fs::canonical(f.bin).string() + "/\n");
  EXPECT_FALSE(fs::exists(f.dir / "topmenu_plugin.rco"));

  // Spelt in capitals, as a memory stick may give it: found.
  writeFile(f.bin / "TOPMENU_PLUGIN.RCO", sampleBase(true).build());
  run = runTool("doit", {}, f.bin);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("tex_setting, tex_photo, tex_music, tex_video, tex_game, tex_network replaced"),
            std::string::npos)
      << run.output;

  // Some other resource file, with too few pictures of the size: refused, and --list shows why.
  TestRco other = sampleBase(false);
  other.pictures.resize(3);
  other.packed.resize(3);
  other.labels.erase(other.labels.begin() + 3, other.labels.end() - 1);
  writeFile(f.bin / "TOPMENU_PLUGIN.RCO", other.build());
  run = runTool("doit", {}, f.bin);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("holds 2 pictures of 64 x 64 pixels, not the top menu's six"), std::string::npos) << run.output;
  run = runTool("doit", {"--list", "TOPMENU_PLUGIN.RCO"}, f.bin);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("tex_wide"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("BMP 128 x 32, 8 bits, zlib"), std::string::npos) << run.output;

  writeFile(f.bin / "TOPMENU_PLUGIN.RCO", std::vector<uint8_t>(400, 0));
  run = runTool("doit", {}, f.bin);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("not a PSP resource container"), std::string::npos) << run.output;
  EXPECT_EQ(runTool("doit", {"--bogus"}, f.bin).status, 1);
  EXPECT_EQ(runTool("doit", {"--help"}, f.bin).output.rfind("usage: doit", 0), 0u);
}

TEST(Doit, TheReaderRefusesDamageInsteadOfReadingPastIt) {
  std::vector<uint8_t> file = sampleBase(true).build();
  EXPECT_EQ(kivo::rco::Resource(file).pictures().size(), 7u);
  for (size_t cut = 0; cut < file.size(); cut += 13) {
    std::vector<uint8_t> part(file.begin(), file.begin() + long(cut));
    EXPECT_THROW(
        {
          kivo::rco::Resource r(part);
          for (const auto& p : r.pictures()) r.pictureData(p);
        },
        kivo::ToolError)
        << cut;
  }
  file = sampleBase(false).build();
  le32(file, 0x58 + 0, 0x7FFFFFF0); // the picture list far outside
  EXPECT_THROW(kivo::rco::Resource{file}, kivo::ToolError);
  file = sampleBase(false).build();
  le32(file, 12, 0x20); // RLZ
  EXPECT_THROW(kivo::rco::Resource{file}, kivo::ToolError);
}

// Discs telling what they are: ISO 9660 file systems made by genisoimage, read through every
// container; PARAM.SFO and SYSTEM.CNF; hostile file systems and tables.
#include "cdrom.h"
#include "cso.h"
#include "dax.h"
#include "identity.h"
#include "pbp.h"
#include "ps1image.h"
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>

using namespace kivo;
using namespace kivo::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> pspSfo(uint32_t licenceRoom = 512) {
  return sfo::build({{"CATEGORY", false, "UG", 0, 4},
                     {"DISC_ID", false, "ULUS10041", 0, 16},
                     {"DISC_VERSION", false, "1.02", 0, 8},
                     {"LICENSE", false, "Test licence", 0, licenceRoom},
                     {"PARENTAL_LEVEL", true, "", 3, 4},
                     {"PSP_SYSTEM_VER", false, "1.50", 0, 8},
                     {"REGION", true, "", 0x8000, 4},
                     {"TITLE", false, "Die Straße \xE2\x80\x93 \"Test\"", 0, 128}});
}

// Runs genisoimage on folder; the image's sectors.
std::vector<uint8_t> makeIso(const fs::path& folder, const std::string& volume, const std::string& extra = "") {
  const fs::path out = folder.string() + ".iso";
  const std::string cmd = "genisoimage -quiet " + extra + " -V '" + volume + "' -o '" + out.string() + "' '" +
                          folder.string() + "' 2>&1";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("genisoimage failed: " + cmd);
  return readFile(out);
}

// A UMD's layout: PSP_GAME with PARAM.SFO and ICON0.PNG, and a game file that fills some sectors.
std::vector<uint8_t> umdIso(const TempDir& dir, const std::vector<uint8_t>& sfo = pspSfo()) {
  const fs::path root = dir / "umd";
  fs::create_directories(root / "PSP_GAME" / "USRDIR");
  writeFile(root / "PSP_GAME" / "PARAM.SFO", sfo);
  writeFile(root / "PSP_GAME" / "ICON0.PNG", mixedBytes(5000, 7));
  writeFile(root / "PSP_GAME" / "USRDIR" / "DATA.BIN", mixedBytes(40000, 3));
  writeText(root / "UMD_DATA.BIN", "ULUS-10041|0000000000000001|0001|G");
  return makeIso(root, "TEST_UMD");
}

// A PS1 disc: SYSTEM.CNF booting SLUS_005.94.
std::vector<uint8_t> ps1Iso(const TempDir& dir) {
  const fs::path root = dir / "ps1";
  fs::create_directories(root);
  writeText(root / "SYSTEM.CNF", "BOOT = cdrom:\\SLUS_005.94;1\r\nTCB = 4\r\nEVENT = 10\r\nSTACK = 801FFFF0\r\n");
  writeFile(root / "SLUS_005.94", mixedBytes(30000, 5));
  return makeIso(root, "CRASH");
}

std::vector<uint8_t> packed(const std::vector<uint8_t>& iso, Format format) {
  MemorySource src(iso.data(), iso.size());
  MemorySink out;
  if (format == Format::Dax) {
    dax::compress(src, out, 9, 1);
  } else {
    cso::WriteOptions o;
    o.format = format;
    o.threads = 1;
    cso::write(src, out, o);
  }
  return out.bytes;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return getLe32(&b[at]);
}

// The byte offset of the record called name in the folder at sector (ISO 9660 bytes, not ours).
size_t recordOf(const std::vector<uint8_t>& img, uint32_t sector, const std::string& name) {
  for (size_t at = size_t(sector) * 2048; at < size_t(sector + 1) * 2048 && img[at]; at += img[at])
    if (std::string(reinterpret_cast<const char*>(&img[at + 33]), img[at + 32]).rfind(name, 0) == 0) return at;
  ADD_FAILURE() << name << " not in the folder at sector " << sector;
  return 0;
}

uint32_t rootSector(const std::vector<uint8_t>& img) {
  return le32(img, 16 * 2048 + 156 + 2);
}

struct Image {
  std::vector<uint8_t> bytes;
  MemorySource src{nullptr, 0};
  std::unique_ptr<iso::SectorSource> sectors;
  std::unique_ptr<iso::FileSystem> fs;
  explicit Image(std::vector<uint8_t> b) : bytes(std::move(b)), src(bytes.data(), bytes.size()) {
    sectors = iso::sectorsOf(src);
    fs = std::make_unique<iso::FileSystem>(*sectors);
  }
};

template <class F> std::string errorOf(F&& f) {
  try {
    f();
  } catch (const ToolError& e) {
    return e.what();
  }
  return "(no error)";
}

} // namespace

TEST(Identity, UmdSaysTheSameThroughEveryContainer) {
  TempDir dir;
  const std::vector<uint8_t> iso = umdIso(dir);
  writeFile(dir / "g.iso", iso);
  writeFile(dir / "g.cso", packed(iso, Format::Cso1));
  writeFile(dir / "g2.cso", packed(iso, Format::Cso2));
  writeFile(dir / "g.zso", packed(iso, Format::Zso));
  writeFile(dir / "g.dax", packed(iso, Format::Dax));
  writeFile(dir / "g.bin", rawImage(iso));
  const std::vector<std::pair<std::string, std::string>> files{
      {"g.iso", "ISO"}, {"g.cso", "CSO v1"}, {"g2.cso", "CSO v2"}, {"g.zso", "ZSO"}, {"g.dax", "DAX"}, {"g.bin", "raw image"}};
  std::string created;
  for (const auto& [name, format] : files) {
    SCOPED_TRACE(name);
    const DiscIdentity id = identifyFile((dir / name).string(), true);
    EXPECT_EQ(id.format, format);
    EXPECT_EQ(id.imageSize, name == "g.bin" ? iso.size() / 2048 * 2352 : iso.size());
    EXPECT_EQ(id.blockSize, name == "g.dax" ? 8192u : name == "g.bin" ? 2352u : 2048u);
    EXPECT_TRUE(id.psp);
    EXPECT_EQ(id.discId(), "ULUS10041");
    EXPECT_EQ(id.title(), "Die Straße \xE2\x80\x93 \"Test\"");
    EXPECT_EQ(id.sfo.text("PSP_SYSTEM_VER"), "1.50");
    EXPECT_EQ(id.sfo.numbers.at("REGION"), 0x8000u);
    EXPECT_EQ(id.sfo.numbers.at("PARENTAL_LEVEL"), 3u);
    ASSERT_TRUE(id.icon0.has_value());
    EXPECT_EQ(*id.icon0, 5000u);
    EXPECT_EQ(id.icon0Png, mixedBytes(5000, 7));
    EXPECT_FALSE(id.pic1.has_value());
    EXPECT_EQ(id.volume.name, "TEST_UMD");
    EXPECT_EQ(id.volume.sectors, iso.size() / 2048);
    EXPECT_EQ(id.volume.created.size(), 19u);
    if (created.empty()) created = id.volume.created;
    EXPECT_EQ(id.volume.created, created);
    EXPECT_TRUE(id.problems.empty()) << id.problems.front();
  }
  // What scripts get: the same fields, and text that stays valid JSON.
  const std::string json = identityJson("a\"b.iso", identifyFile((dir / "g.cso").string()));
  for (const char* part : {"\"file\": \"a\\\"b.iso\"", "\"discId\": \"ULUS10041\"",
                           "\"title\": \"Die Straße \xE2\x80\x93 \\\"Test\\\"\"", "\"systemVersion\": \"1.50\"",
                           "\"region\": 32768", "\"parentalLevel\": 3", "\"icon0\": true", "\"pic1\": false",
                           "\"DISC_VERSION\": \"1.02\"", "\"serial\": null"})
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  EXPECT_EQ(jsonString("a\x01\xFF\xC3\xA9\xED\xA0\x80z"), "\"a\\u0001\\ufffd\xC3\xA9\\ufffd\\ufffd\\ufffdz\"");
}

TEST(Identity, Ps1DiscSaysTheSameThroughEveryContainer) {
  TempDir dir;
  const std::vector<uint8_t> iso = ps1Iso(dir);
  writeFile(dir / "c.iso", iso);
  writeFile(dir / "c.bin", rawImage(iso));
  writeFile(dir / "c.cso", packed(iso, Format::Cso1));
  // A CUE sheet with the data track and an audio track in files of their own.
  writeFile(dir / "t1.bin", rawImage(iso));
  writeFile(dir / "t2.bin", mixedBytes(2352 * 300, 9));
  writeText(dir / "c.cue", "FILE \"t1.bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n"
                           "FILE \"t2.bin\" BINARY\r\n  TRACK 02 AUDIO\r\n    INDEX 00 00:00:00\r\n"
                           "    INDEX 01 00:02:00\r\n");
  for (const char* name : {"c.iso", "c.bin", "c.cso", "c.cue"}) {
    SCOPED_TRACE(name);
    const DiscIdentity id = identifyFile((dir / name).string());
    EXPECT_FALSE(id.psp);
    EXPECT_EQ(id.serial, "SLUS00594");
    EXPECT_EQ(id.discId(), "SLUS00594");
    EXPECT_EQ(id.volume.name, "CRASH");
    EXPECT_FALSE(id.volume.created.empty());
    EXPECT_TRUE(id.problems.empty());
  }
  const DiscIdentity cue = identifyFile((dir / "c.cue").string());
  ASSERT_EQ(cue.tracks.size(), 2u);
  EXPECT_EQ(cue.tracks[1].mode, TrackMode::Audio);
  EXPECT_EQ(cue.fileSize, iso.size() / 2048 * 2352 + 2352 * 300);
  const std::string text = describeIdentity("c.cue", cue);
  EXPECT_NE(text.find("  Serial:         SLUS00594 (SYSTEM.CNF)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("02  AUDIO"), std::string::npos) << text;

  // The same disc inside an EBOOT.
  MemorySource src(iso.data(), iso.size());
  const pbp::DiscImage disc(src);
  MemorySink eboot;
  pbp::write(disc, "Crash", "SLUS00594", {}, 1, eboot, 1);
  MemorySource ebootSrc(eboot.bytes.data(), eboot.bytes.size());
  const std::string info = ps1::describeEboot(ebootSrc);
  EXPECT_NE(info.find("  Serial:   SLUS00594 (SYSTEM.CNF)\n  Volume:   CRASH, created "), std::string::npos) << info;
  EXPECT_EQ(readDiscId(disc), "SLUS00594");
  EXPECT_EQ(readVolumeName(disc), "CRASH");
}

TEST(Iso9660, FindsFilesAsRecordedAndInParts) {
  TempDir dir;
  // A PARAM.SFO of three sectors, which the test then records as two parts.
  const std::vector<uint8_t> sfo = pspSfo(5000);
  Image img(umdIso(dir, sfo));
  for (const char* path : {"PSP_GAME/PARAM.SFO", "/psp_game/param.sfo;1", "PSP_GAME\\PARAM.SFO.", "psp_game//Param.Sfo"}) {
    auto e = img.fs->find(path);
    ASSERT_TRUE(e) << path;
    EXPECT_EQ(e->path, "/PSP_GAME/PARAM.SFO");
    EXPECT_EQ(img.fs->read(*e, 1 << 16), sfo);
  }
  EXPECT_FALSE(img.fs->find("PSP_GAME/PIC1.PNG"));
  EXPECT_FALSE(img.fs->find("UMD_DATA.BIN/PARAM.SFO")); // a file is no folder
  EXPECT_TRUE(img.fs->find("PSP_GAME")->folder);
  EXPECT_NE(errorOf([&] { img.fs->read(*img.fs->find("PSP_GAME/PARAM.SFO"), 100); }).find("more than the 100"),
            std::string::npos);
  EXPECT_EQ(img.fs->readStart(*img.fs->find("PSP_GAME/PARAM.SFO"), 100), std::vector<uint8_t>(sfo.begin(), sfo.begin() + 100));

  // Split the record in two: 2048 bytes, then the rest from the next sector on.
  std::vector<uint8_t> bytes = img.bytes;
  const uint32_t game = le32(bytes, recordOf(bytes, rootSector(bytes), "PSP_GAME") + 2);
  const size_t r = recordOf(bytes, game, "PARAM.SFO"), len = bytes[r];
  const size_t sectorEnd = size_t(game + 1) * 2048;
  std::copy_backward(bytes.begin() + long(r), bytes.begin() + long(sectorEnd - len), bytes.begin() + long(sectorEnd));
  bytes[r + 25] |= 0x80;
  putLe32(&bytes[r + 10], 2048);
  putLe32(&bytes[r + len + 2], le32(bytes, r + 2) + 1);
  putLe32(&bytes[r + len + 10], uint32_t(sfo.size() - 2048));
  {
    Image parts(bytes);
    auto e = parts.fs->find("PSP_GAME/PARAM.SFO");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->extents.size(), 2u);
    EXPECT_EQ(parts.fs->read(*e, 1 << 16), sfo);
  }
  bytes[r + len + 25] |= 0x80; // the last part says more follow, and none does
  Image cut(bytes);
  EXPECT_NE(errorOf([&] { cut.fs->find("PSP_GAME/PARAM.SFO"); }).find("last part is missing"), std::string::npos);
}

TEST(Iso9660, HostileImagesGiveClearMessages) {
  TempDir dir;
  const std::vector<uint8_t> good = umdIso(dir);
  const uint32_t root = rootSector(good);
  const size_t gameRecord = recordOf(good, root, "PSP_GAME");
  const uint32_t game = le32(good, gameRecord + 2);
  const size_t sfoRecord = recordOf(good, game, "PARAM.SFO");
  const size_t pathTable = size_t(le32(good, 16 * 2048 + 140)) * 2048;
  auto patched = [&](auto&& edit) {
    std::vector<uint8_t> b = good;
    edit(b);
    return b;
  };
  auto findError = [](std::vector<uint8_t> bytes, const char* path = "PSP_GAME/PARAM.SFO") {
    return errorOf([&] {
      Image img(std::move(bytes));
      if (auto e = img.fs->find(path)) img.fs->read(*e, 1 << 16);
    });
  };

  // PSP_GAME leads back to the root folder: the path table still knows where it is...
  auto loop = patched([&](auto& b) { putLe32(&b[gameRecord + 2], root); });
  EXPECT_TRUE(Image(loop).fs->find("PSP_GAME/PARAM.SFO"));
  // ...and without a path table the loop is named.
  std::fill(loop.begin() + long(pathTable), loop.begin() + long(pathTable) + 2048, 0);
  EXPECT_EQ(findError(loop), "the folder /PSP_GAME leads back to a folder above it");

  // A folder whose records are lost is still found through the path table.
  auto renamed = patched([&](auto& b) { b[gameRecord + 33] = 'X'; });
  EXPECT_TRUE(Image(renamed).fs->find("PSP_GAME/PARAM.SFO"));

  EXPECT_NE(findError(patched([&](auto& b) { putLe32(&b[sfoRecord + 2], 0x00FFFFFF); }))
                .find("/PSP_GAME/PARAM.SFO lies past the end of the image"),
            std::string::npos);
  EXPECT_NE(findError(patched([&](auto& b) { putLe32(&b[sfoRecord + 10], 0xFFFFFFF0); })).find("more than the 65536"),
            std::string::npos);
  EXPECT_NE(findError(patched([&](auto& b) { b[sfoRecord + 32] = 255; }))
                .find("has a name of 255 bytes, longer than the record"),
            std::string::npos);
  EXPECT_NE(findError(patched([&](auto& b) { b[sfoRecord] = 20; })).find("is cut short"), std::string::npos);
  const auto hugeFolder = patched([&](auto& b) {
    putLe32(&b[gameRecord + 10], 0xFFFFF800);
    std::fill(b.begin() + long(pathTable), b.begin() + long(pathTable) + 2048, 0);
  });
  EXPECT_NE(findError(hugeFolder).find("claims 4294965248 bytes"), std::string::npos);
  EXPECT_NE(findError(patched([&](auto& b) { putLe32(&b[gameRecord + 2], 0x7FFFFFFF);
                                             std::fill(b.begin() + long(pathTable), b.begin() + long(pathTable) + 2048, 0); }))
                .find("the folder /PSP_GAME lies past the end of the image"),
            std::string::npos);
  EXPECT_NE(findError(patched([&](auto& b) { b[16 * 2048 + 1] = 'X'; })).find("no ISO 9660 file system"),
            std::string::npos);
  EXPECT_NE(findError(std::vector<uint8_t>(good.begin(), good.begin() + 20 * 2048))
                .find("the root folder lies past the end of the image"),
            std::string::npos);

  // What --info makes of a damaged PARAM.SFO: the rest of the disc, and the damage named.
  writeFile(dir / "bad.iso", patched([&](auto& b) { putLe32(&b[le32(b, sfoRecord + 2) * size_t(2048) + 16], 5000); }));
  const DiscIdentity id = identifyFile((dir / "bad.iso").string());
  EXPECT_FALSE(id.psp);
  EXPECT_EQ(id.volume.name, "TEST_UMD");
  ASSERT_EQ(id.problems.size(), 1u);
  EXPECT_EQ(id.problems[0], "damaged PARAM.SFO: its index runs past the end of the file");
}

TEST(Iso9660, TenThousandEntriesInOneFolder) {
  TempDir dir;
  const fs::path root = dir / "big";
  fs::create_directories(root / "PSP_GAME");
  for (int i = 0; i < 10000; ++i)
    std::ofstream(root / "PSP_GAME" / ("F" + std::to_string(i) + ".DAT"));
  writeFile(root / "PSP_GAME" / "PARAM.SFO", pspSfo());
  Image img(makeIso(root, "BIG"));
  const auto start = std::chrono::steady_clock::now();
  auto e = img.fs->find("PSP_GAME/PARAM.SFO");
  EXPECT_FALSE(img.fs->find("PSP_GAME/PIC1.PNG")); // every record read
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(e);
  EXPECT_EQ(img.fs->read(*e, 1 << 16), pspSfo());
  EXPECT_LT(ms, 2000.0);
  std::printf("two lookups in a folder of 10,001 entries: %.1f ms\n", ms);
}

TEST(Sfo, ReadsWhatIsWrittenAndRefusesDamage) {
  const std::vector<uint8_t> good = pspSfo();
  const sfo::Fields f = sfo::parse(good.data(), good.size());
  EXPECT_EQ(f.text("TITLE"), "Die Straße \xE2\x80\x93 \"Test\"");
  EXPECT_EQ(f.numbers.at("REGION"), 0x8000u);
  EXPECT_EQ(f.text("REGION"), "");
  // The PS1 EBOOT's table goes through the same writer and reader.
  const std::vector<uint8_t> ps1 = pbp::buildSfo(std::string(300, 'x'), "SLUS00594");
  EXPECT_EQ(pbp::parseSfo(ps1.data(), ps1.size()).text("TITLE"), std::string(127, 'x'));

  // Index entry i (0-based, in key order: CATEGORY DISC_ID DISC_VERSION LICENSE PARENTAL_LEVEL
  // PSP_SYSTEM_VER REGION TITLE) at 20 + 16 i.
  auto damaged = [&](auto&& edit) {
    std::vector<uint8_t> b = good;
    edit(b.data());
    return errorOf([&] { sfo::parse(b.data(), b.size()); });
  };
  EXPECT_EQ(damaged([](uint8_t* b) { putLe16(b + 20 + 16 * 7, getLe16(b + 20 + 16 * 1)); }),
            "damaged PARAM.SFO: the key DISC_ID appears twice");
  EXPECT_EQ(damaged([](uint8_t* b) { putLe16(b + 20 + 16 * 1, getLe16(b + 20 + 16 * 0) + 1); }),
            "damaged PARAM.SFO: the keys of CATEGORY and ATEGORY overlap");
  EXPECT_EQ(damaged([](uint8_t* b) { putLe32(b + 20 + 16 * 7 + 12, getLe32(b + 20 + 16 * 1 + 12) + 4); }),
            "damaged PARAM.SFO: the values of DISC_ID and TITLE overlap");
  EXPECT_EQ(damaged([](uint8_t* b) { putLe32(b + 20 + 16 * 7 + 12, 0x7FFFFFFF); }),
            "damaged PARAM.SFO: the value of TITLE lies past the end of the file");
  EXPECT_EQ(damaged([](uint8_t* b) { putLe32(b + 20 + 16 * 7 + 4, 129); }),
            "damaged PARAM.SFO: the value of TITLE is longer than its room");
  EXPECT_EQ(damaged([](uint8_t* b) { putLe32(b + 16, 0xFFFFFFFF); }),
            "damaged PARAM.SFO: its index runs past the end of the file");
  EXPECT_EQ(damaged([](uint8_t* b) { putLe32(b + 8, 24); }),
            "damaged PARAM.SFO: its index, key and value tables are out of order or outside the file");
  EXPECT_EQ(damaged([](uint8_t* b) { putLe32(b + 20 + 16 * 6 + 4, 2); }),
            "damaged PARAM.SFO: the number REGION is not 4 bytes long");
  EXPECT_EQ(damaged([](uint8_t* b) { b[1] = 'X'; }), "damaged PARAM.SFO: no PSF signature");
}

TEST(InfoPrograms, DescribeDiscsForPeopleAndScripts) {
  TempDir dir;
  const std::vector<uint8_t> umd = umdIso(dir), ps1 = ps1Iso(dir);
  writeFile(dir / "g.iso", umd);
  writeFile(dir / "g.dax", packed(umd, Format::Dax));
  writeFile(dir / "c.bin", rawImage(ps1));
  writeText(dir / "c.cue", "FILE \"c.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n");
  writeText(dir / "two.m3u", "c.cue\nc.bin\n");
  writeText(dir / "notes.txt", std::string(40000, 'x'));

  ToolRun r = runTool("ciso", {"--info", "g.iso", "g.dax"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  for (const char* line : {"g.iso\n  Format:         ISO, 2048-byte sectors\n", "\n\ng.dax\n  Format:         DAX, 8192-byte blocks\n",
                           "  DISC_ID:        ULUS10041\n", "  PSP_SYSTEM_VER: 1.50\n", "  REGION:         32768 (0x8000)\n",
                           "  PARENTAL_LEVEL: 3\n", "  ICON0.PNG:      yes, 5000 bytes\n", "  PIC1.PNG:       no\n",
                           "  Volume:         TEST_UMD, created "})
    EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
  EXPECT_EQ(runTool("dax", {"--info", "g.dax"}, dir.path).output, runTool("ciso", {"--info", "g.dax"}, dir.path).output);

  // One JSON array, a failure in it too; the status tells a script that one failed.
  r = runTool("ciso", {"--info", "--json", "g.iso", "notes.txt", "missing.iso"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("[\n  {\"file\": \"g.iso\", \"format\": \"ISO\""), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("{\"file\": \"notes.txt\", \"error\": \"no ISO 9660 file system: sector 16 holds no primary "
                          "volume descriptor\"}"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("ciso: error: 'notes.txt': no ISO 9660 file system"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("ciso: error: cannot open 'missing.iso'"), std::string::npos) << r.output;
  EXPECT_EQ(runTool("ciso", {"--json", "g.iso", "x"}, dir.path).status, 1);
  EXPECT_EQ(runTool("dax", {"--info"}, dir.path).status, 1);

  r = runTool("psx", {"--info", "two.m3u"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("c.cue\n  Format:         CUE sheet, 2352-byte sectors\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("c.bin\n  Format:         raw image, 2352-byte sectors\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  Serial:         SLUS00594 (SYSTEM.CNF)\n  Tracks:         01  MODE2/2352  starts 00:00:00"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("  Volume:         CRASH, created "), std::string::npos) << r.output;
  EXPECT_EQ(runTool("psx", {"--info", "--json", "c.cue"}, dir.path).status, 0);
  std::vector<uint8_t> pbpFile = umd;
  std::copy_n("\0PBP", 4, pbpFile.begin());
  writeFile(dir / "EBOOT.PBP", pbpFile);
  EXPECT_NE(runTool("psx", {"--info", "EBOOT.PBP"}, dir.path).output.find("psxdisc info describes"), std::string::npos);
  EXPECT_EQ(runTool("psx", {"--info", "--bogus", "c.cue"}, dir.path).status, 1);
}

TEST(InfoPrograms, PsxTakesWhatTheUserLeftOutFromTheDisc) {
  TempDir dir;
  writeFile(dir / "c.bin", rawImage(ps1Iso(dir)));
  auto sfoOf = [&] {
    InputFile in((dir / "EBOOT.PBP").string());
    const auto bytes = pbp::Reader(in).section(pbp::Sfo);
    return sfo::parse(bytes.data(), bytes.size());
  };
  ToolRun r = runTool("psx", {"", "", "1", "c.bin"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Game ID: SLUS00594, read from the first disc's SYSTEM.CNF\n"
                          "Title: \"CRASH\", the first disc's volume name\n"
                          "Wrote EBOOT.PBP"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(sfoOf().text("DISC_ID"), "SLUS00594");
  EXPECT_EQ(sfoOf().text("TITLE"), "CRASH");
  fs::remove(dir / "EBOOT.PBP");
  ASSERT_EQ(runTool("psx", {"Crash Bandicoot", "-", "1", "c.bin"}, dir.path).status, 0);
  EXPECT_EQ(sfoOf().text("DISC_ID"), "SLUS00594");
  EXPECT_EQ(sfoOf().text("TITLE"), "Crash Bandicoot");
  fs::remove(dir / "EBOOT.PBP");
  // What the user typed stands, even a bare prefix.
  ASSERT_EQ(runTool("psx", {"-", "SCUS", "1", "c.bin"}, dir.path).status, 0);
  EXPECT_EQ(sfoOf().text("DISC_ID"), "SCUS");
  EXPECT_EQ(sfoOf().text("TITLE"), "CRASH");
}

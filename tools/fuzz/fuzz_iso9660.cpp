// Feeds damaged file systems to the ISO 9660 reader and to what --info makes of them. The input is
// the image from sector 16 on (the sectors before it are empty), so that it starts at the volume
// descriptor; the seed is a small UMD layout with a PS1 SYSTEM.CNF beside it.
#include "identity.h"
#include "seeds.h"

using namespace kivo;

namespace {

// Whole UTF-8 sequences and no control characters: what a JSON reader accepts.
bool cleanJson(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20) return false;
    if (c < 0x80) continue;
    const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    for (size_t k = 1; k < len; ++k)
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len - 1;
  }
  return true;
}

std::vector<uint8_t> sampleDisc() {
  constexpr uint32_t kSectors = 24;
  std::vector<uint8_t> img(kSectors * iso::kSector);
  auto at = [&](uint32_t sector) { return &img[size_t(sector) * iso::kSector]; };
  auto record = [](uint8_t*& r, const std::string& name, uint32_t extent, uint32_t bytes, bool folder) {
    const size_t len = (33 + name.size() + 1) & ~size_t(1);
    r[0] = uint8_t(len);
    putLe32(r + 2, extent);
    putLe32(r + 10, bytes);
    r[25] = folder ? 2 : 0;
    r[32] = uint8_t(name.size());
    std::memcpy(r + 33, name.data(), name.size());
    r += len;
  };
  const std::vector<uint8_t> sfo = pbp::buildSfo("Title", "ULUS10041");
  const std::string cnf = "BOOT = cdrom:\\SLUS_005.94;1\r\n";
  uint8_t* pvd = at(16);
  pvd[0] = 1;
  std::memcpy(pvd + 1, "CD001\1", 6);
  std::memcpy(pvd + 40, "FUZZ", 4);
  putLe32(pvd + 80, kSectors);
  putLe16(pvd + 128, 2048);
  putLe32(pvd + 132, 22);
  putLe32(pvd + 140, 18);
  uint8_t* root = pvd + 156;
  record(root, std::string(1, '\0'), 19, 2048, true);
  std::memcpy(pvd + 813, "2005031512000000", 16);
  at(17)[0] = 255;
  std::memcpy(at(17) + 1, "CD001\1", 6);
  uint8_t* table = at(18);
  table[0] = 1, putLe32(table + 2, 19), putLe16(table + 6, 1);
  table[10] = 8, putLe32(table + 12, 20), putLe16(table + 16, 1), std::memcpy(table + 18, "PSP_GAME", 8);
  uint8_t* r = at(19);
  record(r, std::string(1, '\0'), 19, 2048, true);
  record(r, std::string(1, '\1'), 19, 2048, true);
  record(r, "PSP_GAME", 20, 2048, true);
  record(r, "SYSTEM.CNF;1", 23, uint32_t(cnf.size()), false);
  r = at(20);
  record(r, std::string(1, '\0'), 20, 2048, true);
  record(r, std::string(1, '\1'), 19, 2048, true);
  record(r, "ICON0.PNG;1", 22, 8, false);
  record(r, "PARAM.SFO;1", 21, uint32_t(sfo.size()), false);
  std::memcpy(at(21), sfo.data(), sfo.size());
  std::memcpy(at(22), "\x89PNG\r\n\x1A\n", 8);
  std::memcpy(at(23), cnf.data(), cnf.size());
  return std::vector<uint8_t>(img.begin() + 16 * iso::kSector, img.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> img(16 * iso::kSector);
  img.insert(img.end(), data, data + size);
  img.resize((img.size() + iso::kSector - 1) / iso::kSector * iso::kSector);
  MemorySource src(img.data(), img.size());
  const auto sectors = iso::sectorsOf(src);
  DiscIdentity id;
  try {
    readIdentity(*sectors, id, true);
    if (!cleanJson(identityJson("x", id))) std::abort();
    describeIdentity("x", id);
  } catch (const ToolError&) {
  }
  try {
    const iso::FileSystem fs(*sectors);
    for (const char* path : {"SYSTEM.CNF", "PSP_GAME/USRDIR/A/B/C/D/E/F/G", "/"}) {
      try {
        if (auto e = fs.find(path); e && !e->folder) fs.readStart(*e, 1 << 20);
      } catch (const ToolError&) {
      }
    }
  } catch (const ToolError&) {
  }
  return 0;
}

extern "C" size_t KivoFuzzSeed(uint8_t* out, size_t capacity) {
  return fuzz::copySeed(sampleDisc(), out, capacity);
}

#include "chddisc.h"

#include "cdrom.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace kivo::chd {

namespace {

// Bytes of a stored frame that hold the sector, by track type; 0 for a type Kivo cannot
// turn back into raw sectors.
uint32_t dataBytesOf(const std::string& type) {
  if (type == "MODE1" || type == "MODE2_FORM1") return 2048;
  if (type == "MODE2" || type == "MODE2_FORM_MIX") return 2336;
  if (type == "MODE1_RAW" || type == "MODE2_RAW" || type == "AUDIO") return kCdSector;
  return 0;
}

TrackMode modeOf(const std::string& type) {
  if (type == "AUDIO") return TrackMode::Audio;
  return type.compare(0, 5, "MODE1") == 0 ? TrackMode::Mode1 : TrackMode::Mode2;
}

const char* typeOf(TrackMode mode) {
  switch (mode) {
  case TrackMode::Audio: return "AUDIO";
  case TrackMode::Mode1: return "MODE1_RAW";
  case TrackMode::Mode2: return "MODE2_RAW";
  }
  return "MODE2_RAW";
}

uint32_t padded(uint32_t frames) {
  return (frames + 3) / 4 * 4;
}

// Audio is stored with the high byte of each sample first; BIN files have it last.
void swapPairs(uint8_t* p, size_t n) {
  for (size_t i = 0; i + 1 < n; i += 2)
    std::swap(p[i], p[i + 1]);
}

} // namespace

CdTrack parseCdTrack(const std::string& text) {
  std::map<std::string, std::string> fields;
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == ' ')
      ++pos;
    const size_t end = std::min(text.find(' ', pos), text.size());
    const std::string word = text.substr(pos, end - pos);
    pos = end;
    if (word.empty()) continue;
    const size_t colon = word.find(':');
    if (colon == std::string::npos) throw ToolError("CD track metadata '" + text + "' is not understood");
    fields[word.substr(0, colon)] = word.substr(colon + 1);
  }
  auto number = [&](const char* key, bool needed) -> uint32_t {
    const auto it = fields.find(key);
    if (it == fields.end()) {
      if (needed) throw ToolError("CD track metadata '" + text + "' lacks " + key);
      return 0;
    }
    const std::string& v = it->second;
    if (v.empty() || v.size() > 9 || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
      throw ToolError("CD track metadata '" + text + "': " + key + " is no number");
    return uint32_t(std::stoul(v));
  };
  CdTrack t;
  t.number = number("TRACK", true);
  t.frames = number("FRAMES", true);
  t.pregap = number("PREGAP", false);
  t.postgap = number("POSTGAP", false);
  if (!fields.count("TYPE")) throw ToolError("CD track metadata '" + text + "' lacks TYPE");
  t.type = fields["TYPE"];
  if (fields.count("SUBTYPE")) t.subtype = fields["SUBTYPE"];
  if (fields.count("PGTYPE")) {
    const std::string& pg = fields["PGTYPE"];
    t.pregapStored = !pg.empty() && pg[0] == 'V';
    t.pregapType = t.pregapStored ? pg.substr(1) : pg;
  }
  if (fields.count("PGSUB")) t.pregapSubtype = fields["PGSUB"];
  return t;
}

std::string formatCdTrack(const CdTrack& t) {
  return "TRACK:" + std::to_string(t.number) + " TYPE:" + t.type + " SUBTYPE:" + t.subtype +
         " FRAMES:" + std::to_string(t.frames) + " PREGAP:" + std::to_string(t.pregap) +
         " PGTYPE:" + (t.pregapStored ? "V" : "") + t.pregapType + " PGSUB:" + t.pregapSubtype +
         " POSTGAP:" + std::to_string(t.postgap);
}

ChdDisc::ChdDisc(const ByteSource& file) : reader_(file) {
  std::vector<CdTrack> list;
  for (const Metadata& m : reader_.metadata())
    if (m.tag == kMetaCdTracks || m.tag == kMetaCdTracksOld) list.push_back(parseCdTrack(m.text()));
  if (list.empty()) {
    if (reader_.hasMetadata(kMetaCdBinary))
      throw ToolError("the CHD file records its tracks the old way; chdman copy brings it up to date");
    if (reader_.hasMetadata(kMetaGdTracks)) throw ToolError("the CHD file holds a GD-ROM, not a PS1 disc");
    throw ToolError("the CHD file holds no CD (no track metadata): a UMD image is converted with ciso");
  }
  std::sort(list.begin(), list.end(), [](const CdTrack& a, const CdTrack& b) { return a.number < b.number; });
  uint64_t lba = 0, frame = 0;
  for (size_t k = 0; k < list.size(); ++k) {
    const CdTrack& t = list[k];
    const std::string which = "track " + std::to_string(t.number);
    if (t.number != k + 1) throw ToolError("the CHD file's CD tracks are not numbered 1 to " + std::to_string(list.size()));
    const uint32_t bytes = dataBytesOf(t.type);
    if (bytes == 0) throw ToolError(which + " of the CHD file is of the type " + t.type + ", which Kivo does not read");
    if (t.pregapStored && t.pregap > t.frames) throw ToolError(which + " of the CHD file has a pregap longer than itself");
    if (t.frames == 0) throw ToolError(which + " of the CHD file is empty");
    const TrackMode mode = modeOf(t.type);
    DiscTrack d;
    d.number = t.number;
    d.mode = mode;
    d.begin = uint32_t(lba);
    auto gap = [&](uint32_t count) {
      if (count) segments_.push_back({uint32_t(lba), count, -1, mode, bytes});
      lba += count;
    };
    if (!t.pregapStored) gap(t.pregap);
    segments_.push_back({uint32_t(lba), t.frames, int64_t(frame), mode, bytes});
    lba += t.frames;
    gap(t.postgap);
    d.start = d.begin + t.pregap;
    d.end = uint32_t(lba);
    frame += padded(t.frames);
    if (lba > 0x7FFFFFFF / cdrom::kRawSector) throw ToolError("the CHD file describes a disc far too large");
    tracks_.push_back(d);
  }
  if (frame * kCdFrame > reader_.size())
    throw ToolError("the CHD file's tracks take more frames than it holds");
  if (tracks_.front().mode == TrackMode::Audio)
    throw ToolError("track 1 is an audio track; a PS1 disc starts with its data track");
  sectors_ = uint32_t(lba);
}

void ChdDisc::readRaw(uint32_t first, uint32_t count, uint8_t* out) const {
  thread_local std::vector<uint8_t> frames;
  static const uint8_t zeros[cdrom::kUserSector] = {};
  while (count > 0) {
    auto it = std::upper_bound(segments_.begin(), segments_.end(), first,
                               [](uint32_t lba, const Segment& s) { return lba < s.lba; });
    if (it == segments_.begin()) throw ToolError("internal error: sector outside the disc");
    const Segment& s = *--it;
    const uint32_t skip = first - s.lba;
    if (skip >= s.count) throw ToolError("internal error: sector outside the disc");
    const uint32_t n = std::min(count, s.count - skip);
    if (s.frame >= 0) {
      frames.resize(size_t(n) * kCdFrame);
      reader_.readAt(uint64_t(s.frame + skip) * kCdFrame, frames.data(), frames.size());
    }
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t* raw = out + size_t(i) * cdrom::kRawSector;
      const uint32_t lba = first + i;
      const uint8_t* data = s.frame >= 0 ? &frames[size_t(i) * kCdFrame] : nullptr;
      if (!data) {
        if (s.mode == TrackMode::Audio) std::memset(raw, 0, cdrom::kRawSector);
        else if (s.mode == TrackMode::Mode1) cdrom::makeMode1(raw, zeros, lba);
        else cdrom::makeMode2Form1(raw, zeros, lba);
      } else if (s.dataBytes == cdrom::kRawSector) {
        std::memcpy(raw, data, cdrom::kRawSector);
        if (s.mode == TrackMode::Audio) swapPairs(raw, cdrom::kRawSector);
      } else if (s.dataBytes == cdrom::kUserSector) {
        if (s.mode == TrackMode::Mode1) cdrom::makeMode1(raw, data, lba);
        else cdrom::makeMode2Form1(raw, data, lba);
      } else { // 2336: everything after the header
        std::memset(raw, 0xFF, 12);
        raw[0] = raw[11] = 0;
        cdrom::toBcdMsf(lba + cdrom::kLeadIn, raw + 12);
        raw[15] = 2;
        std::memcpy(raw + 16, data, 2336);
      }
    }
    out += size_t(n) * cdrom::kRawSector;
    first += n;
    count -= n;
  }
}

uint64_t cdFrames(const std::vector<DiscTrack>& tracks) {
  uint64_t frames = 0;
  for (const DiscTrack& t : tracks)
    frames += padded(t.end - t.begin);
  return frames;
}

void writeCd(const DiscSource& disc, ByteSink& out, const WriteOptions& options, const Progress& progress) {
  const std::vector<DiscTrack> tracks = disc.tracks();
  struct Run {
    uint64_t frame;      // first frame of the track in the file
    uint32_t begin, end; // its sectors on the disc
    bool audio;
  };
  std::vector<Run> runs;
  Content c;
  c.unitBytes = kCdFrame;
  uint64_t frame = 0;
  uint32_t expected = 0;
  for (const DiscTrack& t : tracks) {
    if (t.begin != expected || t.end <= t.begin || t.start < t.begin || t.start >= t.end)
      throw ToolError("internal error: the disc's tracks do not follow each other");
    expected = t.end;
    CdTrack m;
    m.number = t.number;
    m.type = typeOf(t.mode);
    m.frames = t.end - t.begin;
    m.pregap = t.start - t.begin;
    m.pregapStored = m.pregap > 0;
    if (m.pregapStored) m.pregapType = m.type;
    c.metadata.push_back(Metadata::ofText(kMetaCdTracks, formatCdTrack(m)));
    runs.push_back({frame, t.begin, t.end, t.mode == TrackMode::Audio});
    frame += padded(m.frames);
  }
  if (tracks.empty() || expected != disc.sectors()) throw ToolError("internal error: the tracks do not cover the disc");
  c.bytes = frame * kCdFrame;
  c.read = [&runs, &disc](uint64_t off, uint8_t* buf, size_t n) {
    if (off % kCdFrame || n % kCdFrame) throw ToolError("internal error: CD frames read out of step");
    std::memset(buf, 0, n);
    thread_local std::vector<uint8_t> sectors;
    const uint64_t first = off / kCdFrame, end = first + n / kCdFrame;
    for (const Run& r : runs) {
      const uint64_t from = std::max(first, r.frame), to = std::min(end, r.frame + (r.end - r.begin));
      if (from >= to) continue;
      const uint32_t count = uint32_t(to - from);
      sectors.resize(size_t(count) * cdrom::kRawSector);
      disc.readRaw(r.begin + uint32_t(from - r.frame), count, sectors.data());
      for (uint32_t i = 0; i < count; ++i) {
        uint8_t* dst = buf + size_t(from - first + i) * kCdFrame;
        std::memcpy(dst, &sectors[size_t(i) * cdrom::kRawSector], cdrom::kRawSector);
        if (r.audio) swapPairs(dst, cdrom::kRawSector);
      }
    }
  };
  WriteOptions o = options;
  if (o.codecs.empty()) o.codecs = cdCodecs();
  o.hunkBytes = kCdHunkFrames * kCdFrame;
  write(c, out, o, progress);
}

} // namespace kivo::chd

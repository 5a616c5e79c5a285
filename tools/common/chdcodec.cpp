#include "chdcodec.h"

#include "cdrom.h"
#include "chdhuff.h"

#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>
#include <libdeflate.h>
#include <lzma.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kivo::chd {

std::string codecName(uint32_t codec) {
  if (codec == 0) return "none";
  std::string name;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned char c = uint8_t(codec >> shift);
    if (c < 0x20 || c > 0x7E) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", codec);
      return hex;
    }
    name += char(c);
  }
  return name;
}

bool knownCodec(uint32_t codec) {
  switch (codec) {
  case kZlib: case kLzma: case kHuff: case kFlac: case kZstd:
  case kCdZlib: case kCdLzma: case kCdFlac: case kCdZstd: return true;
  }
  return false;
}

bool isCdCodec(uint32_t codec) {
  return codec == kCdZlib || codec == kCdLzma || codec == kCdFlac || codec == kCdZstd;
}

namespace {

// One compression method on a buffer of any size. pack returns 0 when the result does not fit
// in cap; unpack must produce exactly n bytes and, where asked, says how many it read.
class Engine {
public:
  virtual ~Engine() = default;
  virtual size_t pack(const uint8_t* in, size_t n, uint8_t* out, size_t cap) = 0;
  virtual bool unpack(const uint8_t* in, size_t inSize, uint8_t* out, size_t n, size_t* used) = 0;
};

class DeflateEngine : public Engine {
public:
  explicit DeflateEngine(int level) : level_(level) {}
  ~DeflateEngine() override {
    if (c_) libdeflate_free_compressor(c_);
    if (d_) libdeflate_free_decompressor(d_);
  }
  size_t pack(const uint8_t* in, size_t n, uint8_t* out, size_t cap) override {
    if (!c_) c_ = libdeflate_alloc_compressor(level_);
    return c_ ? libdeflate_deflate_compress(c_, in, n, out, cap) : 0;
  }
  bool unpack(const uint8_t* in, size_t inSize, uint8_t* out, size_t n, size_t* used) override {
    if (!d_) d_ = libdeflate_alloc_decompressor();
    size_t read = 0;
    if (!d_ || libdeflate_deflate_decompress_ex(d_, in, inSize, out, n, &read, nullptr) != LIBDEFLATE_SUCCESS)
      return false;
    if (used) *used = read;
    return true;
  }

private:
  int level_;
  libdeflate_compressor* c_ = nullptr;
  libdeflate_decompressor* d_ = nullptr;
};

// LZMA1 without a header or an end marker: lc 3, lp 0, pb 2, and a dictionary that the size of
// the data sets.
class LzmaEngine : public Engine {
public:
  explicit LzmaEngine(int level) : level_(level) {}
  ~LzmaEngine() override { lzma_end(&s_); }
  static uint32_t dictionaryFor(size_t n) {
    for (int i = 11; i <= 30; ++i) {
      if (n <= (size_t(2) << i)) return uint32_t(2) << i;
      if (n <= (size_t(3) << i)) return uint32_t(3) << i;
    }
    return uint32_t(1) << 26;
  }
  size_t pack(const uint8_t* in, size_t n, uint8_t* out, size_t cap) override {
    lzma_options_lzma opt;
    if (lzma_lzma_preset(&opt, uint32_t(level_))) return 0;
    setShape(opt, n);
    opt.ext_flags = 0; // no end marker
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_raw_encoder(&s_, filters) != LZMA_OK) return 0;
    s_.next_in = in;
    s_.avail_in = n;
    s_.next_out = out;
    s_.avail_out = cap;
    return lzma_code(&s_, LZMA_FINISH) == LZMA_STREAM_END ? cap - s_.avail_out : 0;
  }
  bool unpack(const uint8_t* in, size_t inSize, uint8_t* out, size_t n, size_t* used) override {
    lzma_options_lzma opt;
    if (lzma_lzma_preset(&opt, 0)) return false;
    setShape(opt, n);
    opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    lzma_set_ext_size(opt, n);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_raw_decoder(&s_, filters) != LZMA_OK) return false;
    s_.next_in = in;
    s_.avail_in = inSize;
    s_.next_out = out;
    s_.avail_out = n;
    if (lzma_code(&s_, LZMA_FINISH) != LZMA_STREAM_END || s_.avail_out != 0) return false;
    if (used) *used = inSize - s_.avail_in;
    return true;
  }

private:
  static void setShape(lzma_options_lzma& opt, size_t n) {
    opt.lc = 3;
    opt.lp = 0;
    opt.pb = 2;
    opt.dict_size = std::max<uint32_t>(LZMA_DICT_SIZE_MIN, dictionaryFor(n));
  }
  int level_;
  lzma_stream s_ = LZMA_STREAM_INIT;
};

class ZstdEngine : public Engine {
public:
  explicit ZstdEngine(int level) : level_(level) {}
  ~ZstdEngine() override {
    ZSTD_freeCCtx(c_);
    ZSTD_freeDCtx(d_);
  }
  size_t pack(const uint8_t* in, size_t n, uint8_t* out, size_t cap) override {
    if (!c_) c_ = ZSTD_createCCtx();
    const size_t r = c_ ? ZSTD_compressCCtx(c_, out, cap, in, n, level_) : 0;
    return ZSTD_isError(r) ? 0 : r;
  }
  bool unpack(const uint8_t* in, size_t inSize, uint8_t* out, size_t n, size_t* used) override {
    if (!d_) d_ = ZSTD_createDCtx();
    if (!d_) return false;
    ZSTD_DCtx_reset(d_, ZSTD_reset_session_only);
    ZSTD_inBuffer src{in, inSize, 0};
    ZSTD_outBuffer dst{out, n, 0};
    while (dst.pos < n) {
      const size_t before = src.pos + dst.pos;
      const size_t r = ZSTD_decompressStream(d_, &dst, &src);
      if (ZSTD_isError(r) || (r == 0 && dst.pos < n) || src.pos + dst.pos == before) return false;
    }
    if (used) *used = src.pos;
    return true;
  }

private:
  int level_;
  ZSTD_CCtx* c_ = nullptr;
  ZSTD_DCtx* d_ = nullptr;
};

class HuffEngine : public Engine {
public:
  size_t pack(const uint8_t* in, size_t n, uint8_t* out, size_t cap) override {
    const size_t got = huffCompress(in, n, buf_);
    if (got == 0 || got > cap) return 0;
    std::memcpy(out, buf_.data(), got);
    return got;
  }
  bool unpack(const uint8_t* in, size_t inSize, uint8_t* out, size_t n, size_t* used) override {
    if (used) *used = inSize;
    return huffDecompress(in, inSize, out, n);
  }

private:
  std::vector<uint8_t> buf_;
};

// 16-bit stereo samples at 44.1 kHz as bare FLAC frames, without the stream's header. The
// decoder is handed a made-up header with the block size the writer used.
class FlacEngine : public Engine {
public:
  FlacEngine(bool bigEndian, int level) : big_(bigEndian), level_(level) {}
  ~FlacEngine() override {
    if (enc_) FLAC__stream_encoder_delete(enc_);
    if (dec_) FLAC__stream_decoder_delete(dec_);
  }
  void setBigEndian(bool big) { big_ = big; }
  // Blocks of at most 2048 samples for general data; CD hunks use a frame's worth, 2352.
  static uint32_t blockSize(size_t bytes, bool cd) {
    uint32_t samples = uint32_t(bytes / 4);
    const uint32_t most = cd ? kCdSector : 2048;
    while (samples > most)
      samples /= 2;
    return samples;
  }
  void setCd(bool cd) { cd_ = cd; }

  size_t pack(const uint8_t* in, size_t n, uint8_t* out, size_t cap) override {
    if (n % 4 != 0 || n == 0) return 0;
    if (!enc_) enc_ = FLAC__stream_encoder_new();
    if (!enc_) return 0;
    const uint32_t block = blockSize(n, cd_);
    if (block < 16) return 0;
    FLAC__stream_encoder_set_compression_level(enc_, unsigned(level_));
    FLAC__stream_encoder_set_channels(enc_, 2);
    FLAC__stream_encoder_set_bits_per_sample(enc_, 16);
    FLAC__stream_encoder_set_sample_rate(enc_, 44100);
    FLAC__stream_encoder_set_blocksize(enc_, block);
    FLAC__stream_encoder_set_streamable_subset(enc_, false);
    Sink sink{out, cap, 0, false};
    if (FLAC__stream_encoder_init_stream(enc_, &Sink::write, nullptr, nullptr, nullptr, &sink) !=
        FLAC__STREAM_ENCODER_INIT_STATUS_OK)
      return 0;
    samples_.resize(n / 2);
    for (size_t i = 0; i < n / 2; ++i) {
      const uint8_t* p = in + 2 * i;
      samples_[i] = int16_t(big_ ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
    }
    const bool ok = FLAC__stream_encoder_process_interleaved(enc_, samples_.data(), unsigned(n / 4));
    const bool finished = FLAC__stream_encoder_finish(enc_);
    // An encoder stopped by a full buffer stays in its error state: the next hunk gets a new one.
    if (FLAC__stream_encoder_get_state(enc_) != FLAC__STREAM_ENCODER_UNINITIALIZED) {
      FLAC__stream_encoder_delete(enc_);
      enc_ = nullptr;
    }
    return ok && finished && !sink.full ? sink.size : 0;
  }

  bool unpack(const uint8_t* in, size_t inSize, uint8_t* out, size_t n, size_t* used) override {
    if (n % 4 != 0 || n == 0) return false;
    if (!dec_) dec_ = FLAC__stream_decoder_new();
    if (!dec_) return false;
    const uint32_t block = blockSize(n, cd_);
    uint8_t header[42] = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
    uint8_t* info = header + 8;
    info[0] = uint8_t(block >> 8);
    info[1] = uint8_t(block);
    info[2] = uint8_t(block >> 8);
    info[3] = uint8_t(block);
    // frame sizes unknown (0); then 20 bits of rate, 3 of channels - 1, 5 of bits - 1, 36 of
    // total samples (unknown), and no MD5
    const uint64_t word = uint64_t(44100) << 44 | uint64_t(1) << 41 | uint64_t(15) << 36;
    for (int i = 0; i < 8; ++i)
      info[10 + i] = uint8_t(word >> (56 - 8 * i));
    Source src{header, sizeof header, in, inSize, 0, out, n / 4, 0, big_, false};
    if (FLAC__stream_decoder_init_stream(dec_, &Source::read, nullptr, &Source::tell, nullptr, nullptr,
                                         &Source::write, nullptr, &Source::error,
                                         &src) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
      return false;
    bool ok = true;
    // Each step consumes input, so the loop ends; the bound only guards against a decoder stuck.
    for (size_t steps = 0; ok && src.done < src.wanted; ++steps) {
      ok = steps <= inSize + 64 && FLAC__stream_decoder_process_single(dec_) && !src.failed;
      const FLAC__StreamDecoderState st = FLAC__stream_decoder_get_state(dec_);
      if (st == FLAC__STREAM_DECODER_END_OF_STREAM || st == FLAC__STREAM_DECODER_ABORTED) ok = ok && src.done == src.wanted;
    }
    FLAC__uint64 position = 0;
    if (ok && used) {
      ok = FLAC__stream_decoder_get_decode_position(dec_, &position) && position >= sizeof header &&
           position - sizeof header <= inSize;
      *used = size_t(position - sizeof header);
    }
    FLAC__stream_decoder_finish(dec_);
    if (FLAC__stream_decoder_get_state(dec_) != FLAC__STREAM_DECODER_UNINITIALIZED) {
      FLAC__stream_decoder_delete(dec_);
      dec_ = nullptr;
    }
    return ok && src.done == src.wanted;
  }

private:
  struct Sink {
    uint8_t* out;
    size_t cap, size;
    bool full;
    static FLAC__StreamEncoderWriteStatus write(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                                unsigned samples, unsigned, void* data) {
      auto* s = static_cast<Sink*>(data);
      if (samples == 0) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK; // the stream's header: left out
      if (bytes > s->cap - s->size) {
        s->full = true;
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
      }
      std::memcpy(s->out + s->size, buffer, bytes);
      s->size += bytes;
      return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }
  };
  struct Source {
    const uint8_t* header;
    size_t headerSize;
    const uint8_t* in;
    size_t inSize;
    size_t pos; // over the header and the data
    uint8_t* out;
    size_t wanted, done; // stereo samples
    bool big, failed;
    static FLAC__StreamDecoderReadStatus read(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                              void* data) {
      auto* s = static_cast<Source*>(data);
      size_t n = 0;
      while (n < *bytes && s->pos < s->headerSize + s->inSize) {
        const bool head = s->pos < s->headerSize;
        const uint8_t* from = head ? s->header + s->pos : s->in + (s->pos - s->headerSize);
        const size_t left = head ? s->headerSize - s->pos : s->headerSize + s->inSize - s->pos;
        const size_t k = std::min(left, *bytes - n);
        std::memcpy(buffer + n, from, k);
        n += k;
        s->pos += k;
      }
      *bytes = n;
      return n ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    static FLAC__StreamDecoderTellStatus tell(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data) {
      *offset = static_cast<Source*>(data)->pos;
      return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderWriteStatus write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* data) {
      auto* s = static_cast<Source*>(data);
      const unsigned count = frame->header.blocksize;
      if (frame->header.channels != 2 || frame->header.bits_per_sample != 16 || count > s->wanted - s->done) {
        s->failed = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
      }
      for (unsigned i = 0; i < count; ++i) {
        uint8_t* p = s->out + 4 * (s->done + i);
        for (int ch = 0; ch < 2; ++ch, p += 2) {
          const uint16_t v = uint16_t(buffer[ch][i]);
          p[s->big ? 0 : 1] = uint8_t(v >> 8);
          p[s->big ? 1 : 0] = uint8_t(v);
        }
      }
      s->done += count;
      return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
      static_cast<Source*>(data)->failed = true;
    }
  };

  bool big_, cd_ = false;
  int level_;
  FLAC__StreamEncoder* enc_ = nullptr;
  FLAC__StreamDecoder* dec_ = nullptr;
  std::vector<FLAC__int32> samples_;
};

uint32_t getBe(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i)
    v = v << 8 | p[i];
  return v;
}

// The CD frame layout of a hunk: how many frames, and the bytes before the compressed sectors
// (a bit per frame whose sync and parity were left out, then the sectors' compressed length).
struct CdLayout {
  uint32_t frames, eccBytes, lengthBytes;
  explicit CdLayout(uint32_t hunkBytes)
      : frames(hunkBytes / kCdFrame), eccBytes((frames + 7) / 8), lengthBytes(hunkBytes < 65536 ? 2 : 3) {}
  uint32_t header() const { return eccBytes + lengthBytes; }
};

const uint8_t kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};

// Where the P and Q parity of a sector lie: regenerated, not stored, when they hold.
constexpr size_t kParityAt = 2076, kParityBytes = kCdSector - kParityAt;

} // namespace

struct HunkDecoder::Engines {
  DeflateEngine deflate{6};
  LzmaEngine lzma{0};
  ZstdEngine zstd{0};
  HuffEngine huff;
  FlacEngine flac{false, 0};
  std::vector<uint8_t> sectors, subcode;
};

HunkDecoder::HunkDecoder(uint32_t hunkBytes) : hunkBytes_(hunkBytes), e_(std::make_unique<Engines>()) {}
HunkDecoder::~HunkDecoder() = default;

bool HunkDecoder::decode(uint32_t codec, const uint8_t* in, size_t inSize, uint8_t* out) {
  const size_t n = hunkBytes_;
  Engines& e = *e_;
  switch (codec) {
  case kZlib: return e.deflate.unpack(in, inSize, out, n, nullptr);
  case kLzma: return e.lzma.unpack(in, inSize, out, n, nullptr);
  case kZstd: return e.zstd.unpack(in, inSize, out, n, nullptr);
  case kHuff: return e.huff.unpack(in, inSize, out, n, nullptr);
  case kFlac:
    if (inSize < 1 || (in[0] != 'L' && in[0] != 'B')) return false;
    e.flac.setCd(false);
    e.flac.setBigEndian(in[0] == 'B');
    return e.flac.unpack(in + 1, inSize - 1, out, n, nullptr);
  case kCdZlib:
  case kCdLzma:
  case kCdZstd:
  case kCdFlac: break;
  default: return false;
  }

  const CdLayout cd(hunkBytes_);
  if (cd.frames == 0 || n % kCdFrame != 0) return false;
  e.sectors.resize(size_t(cd.frames) * kCdSector);
  e.subcode.resize(size_t(cd.frames) * kCdSubcode);
  size_t at = 0;
  if (codec == kCdFlac) {
    e.flac.setCd(true);
    e.flac.setBigEndian(true);
    if (!e.flac.unpack(in, inSize, e.sectors.data(), e.sectors.size(), &at)) return false;
    if (!e.deflate.unpack(in + at, inSize - at, e.subcode.data(), e.subcode.size(), nullptr)) return false;
  } else {
    if (inSize < cd.header()) return false;
    const size_t base = getBe(in + cd.eccBytes, int(cd.lengthBytes));
    at = cd.header();
    if (base > inSize - at) return false;
    Engine& first = codec == kCdZlib ? static_cast<Engine&>(e.deflate)
                    : codec == kCdLzma ? static_cast<Engine&>(e.lzma)
                                       : static_cast<Engine&>(e.zstd);
    Engine& second = codec == kCdZstd ? static_cast<Engine&>(e.zstd) : static_cast<Engine&>(e.deflate);
    if (!first.unpack(in + at, base, e.sectors.data(), e.sectors.size(), nullptr)) return false;
    if (!second.unpack(in + at + base, inSize - at - base, e.subcode.data(), e.subcode.size(), nullptr)) return false;
  }
  for (uint32_t f = 0; f < cd.frames; ++f) {
    uint8_t* frame = out + size_t(f) * kCdFrame;
    std::memcpy(frame, &e.sectors[size_t(f) * kCdSector], kCdSector);
    std::memcpy(frame + kCdSector, &e.subcode[size_t(f) * kCdSubcode], kCdSubcode);
    if (codec != kCdFlac && (in[f / 8] >> (f % 8) & 1)) {
      std::memcpy(frame, kSync, sizeof kSync);
      cdrom::writeParity(frame);
    }
  }
  return true;
}

struct HunkEncoder::Engines {
  explicit Engines(int level)
      : deflate(level >= 8 ? 12 : level), lzma(level), zstd(std::min(19, 2 * level + 1)),
        flac(false, std::min(level, 8)) {}
  DeflateEngine deflate;
  LzmaEngine lzma;
  ZstdEngine zstd;
  HuffEngine huff;
  FlacEngine flac;
  std::vector<uint8_t> sectors, subcode, other;
};

HunkEncoder::HunkEncoder(const std::vector<uint32_t>& codecs, uint32_t hunkBytes, int level)
    : codecs_(codecs), hunkBytes_(hunkBytes), e_(std::make_unique<Engines>(std::clamp(level, 1, 9))) {}
HunkEncoder::~HunkEncoder() = default;

int HunkEncoder::compress(const uint8_t* hunk, std::vector<uint8_t>& out) {
  const size_t n = hunkBytes_;
  Engines& e = *e_;
  int best = -1;
  trial_.resize(n);
  out.resize(n);
  size_t bestSize = n; // a result must be smaller than the hunk itself
  for (size_t k = 0; k < codecs_.size(); ++k) {
    const uint32_t codec = codecs_[k];
    // Each codec gets the whole buffer: some need room to spare even when the result is small.
    const size_t cap = n;
    size_t got = 0;
    uint8_t* dst = trial_.data();
    switch (codec) {
    case kZlib: got = e.deflate.pack(hunk, n, dst, cap); break;
    case kLzma: got = e.lzma.pack(hunk, n, dst, cap); break;
    case kZstd: got = e.zstd.pack(hunk, n, dst, cap); break;
    case kHuff: got = e.huff.pack(hunk, n, dst, cap); break;
    case kFlac: {
      // Both byte orders; the first byte says which.
      e.flac.setCd(false);
      e.other.resize(n);
      for (bool big : {false, true}) {
        e.flac.setBigEndian(big);
        const size_t size = e.flac.pack(hunk, n, e.other.data() + 1, n - 1);
        if (size && (!got || size + 1 < got)) {
          e.other[0] = big ? 'B' : 'L';
          got = size + 1;
          std::memcpy(dst, e.other.data(), got);
        }
      }
      break;
    }
    default: {
      const CdLayout cd(hunkBytes_);
      if (!isCdCodec(codec) || cd.frames == 0 || n % kCdFrame != 0) break;
      e.sectors.resize(size_t(cd.frames) * kCdSector);
      e.subcode.resize(size_t(cd.frames) * kCdSubcode);
      const bool flac = codec == kCdFlac;
      const size_t head = flac ? 0 : cd.header();
      if (cap <= head) break;
      std::memset(dst, 0, head);
      for (uint32_t f = 0; f < cd.frames; ++f) {
        const uint8_t* frame = hunk + size_t(f) * kCdFrame;
        uint8_t* sector = &e.sectors[size_t(f) * kCdSector];
        std::memcpy(sector, frame, kCdSector);
        std::memcpy(&e.subcode[size_t(f) * kCdSubcode], frame + kCdSector, kCdSubcode);
        // A sector whose sync and parity can be made again leaves them out.
        if (!flac && cdrom::hasSync(sector) && cdrom::parityHolds(sector)) {
          dst[f / 8] = uint8_t(dst[f / 8] | 1 << (f % 8));
          std::memset(sector, 0, sizeof kSync);
          std::memset(sector + kParityAt, 0, kParityBytes);
        }
      }
      size_t base = 0;
      if (flac) {
        e.flac.setCd(true);
        e.flac.setBigEndian(true);
        base = e.flac.pack(e.sectors.data(), e.sectors.size(), dst, cap);
      } else {
        Engine& first = codec == kCdZlib ? static_cast<Engine&>(e.deflate)
                        : codec == kCdLzma ? static_cast<Engine&>(e.lzma)
                                           : static_cast<Engine&>(e.zstd);
        base = first.pack(e.sectors.data(), e.sectors.size(), dst + head, cap - head);
        if (base >> (8 * cd.lengthBytes)) base = 0;
        for (uint32_t i = 0; i < cd.lengthBytes; ++i)
          dst[cd.eccBytes + i] = uint8_t(base >> (8 * (cd.lengthBytes - 1 - i)));
      }
      if (base == 0) break;
      Engine& second = codec == kCdZstd ? static_cast<Engine&>(e.zstd) : static_cast<Engine&>(e.deflate);
      const size_t used = head + base;
      if (used >= cap) break;
      const size_t sub = second.pack(e.subcode.data(), e.subcode.size(), dst + used, cap - used);
      got = sub ? used + sub : 0;
    }
    }
    if (got && got < bestSize) {
      bestSize = got;
      best = int(k);
      std::swap(out, trial_);
      trial_.resize(n);
    }
  }
  out.resize(best < 0 ? 0 : bestSize);
  return best;
}

} // namespace kivo::chd

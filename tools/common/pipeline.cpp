#include "pipeline.h"

#include "cores.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace kivo {

namespace {

constexpr size_t kChunkBytes = 256 * 1024;

struct Chunk {
  std::vector<uint8_t> in, out;
  std::vector<uint32_t> sizes; // encoded size per block, 0 = stored
  std::vector<Codec> codecs;
  std::exception_ptr error;
  bool ready = false;
};

struct Layout {
  uint64_t blocks, chunks;
  size_t perChunk;
};

Layout layoutOf(const BlockStream& s) {
  Layout l{};
  l.blocks = (s.totalBytes + s.blockSize - 1) / s.blockSize;
  l.perChunk = std::max<size_t>(1, kChunkBytes / s.blockSize);
  l.chunks = (l.blocks + l.perChunk - 1) / l.perChunk;
  return l;
}

void encodeChunk(const BlockStream& s, const Layout& l, BlockEncoder& enc, uint64_t c, Chunk& chunk) {
  uint64_t first = c * l.perChunk;
  size_t count = size_t(std::min<uint64_t>(l.perChunk, l.blocks - first));
  uint64_t off = first * s.blockSize;
  size_t bytes = size_t(std::min<uint64_t>(uint64_t(count) * s.blockSize, s.totalBytes - off));
  chunk.in.resize(bytes);
  s.read(off, chunk.in.data(), bytes);
  size_t bound = enc.bound(s.blockSize);
  chunk.out.resize(bound * count);
  chunk.sizes.assign(count, 0);
  chunk.codecs.assign(count, Codec::Plain);
  size_t outPos = 0;
  for (size_t b = 0; b < count; ++b) {
    size_t at = b * s.blockSize;
    size_t n = std::min(s.blockSize, bytes - at);
    size_t got = enc.encode(chunk.in.data() + at, n, chunk.out.data() + outPos, bound);
    chunk.sizes[b] = uint32_t(got);
    if (got) chunk.codecs[b] = enc.codec();
    outPos += got;
  }
}

void deliver(const BlockStream& s, const Chunk& chunk) {
  size_t inPos = 0, outPos = 0;
  for (size_t b = 0; b < chunk.sizes.size(); ++b) {
    const uint32_t size = chunk.sizes[b];
    size_t n = std::min(s.blockSize, chunk.in.size() - inPos);
    const uint8_t* data = size ? chunk.out.data() + outPos : chunk.in.data() + inPos;
    if (s.put)
      s.put(data, size ? size : n, size ? chunk.codecs[b] : Codec::Plain);
    else
      s.sink(data, size ? size : n, size == 0);
    outPos += size;
    inPos += n;
  }
}

} // namespace

unsigned defaultThreads() {
  return usableCores();
}

void encodeBlocks(const BlockStream& s, unsigned threads) {
  if (threads == 0) threads = defaultThreads();
  Layout l = layoutOf(s);
  uint64_t done = 0;
  auto report = [&](const Chunk& chunk) {
    done += chunk.in.size();
    if (s.progress) s.progress(done);
  };

  if (threads == 1 || l.chunks <= 1) {
    auto enc = s.makeEncoder();
    Chunk chunk;
    for (uint64_t c = 0; c < l.chunks; ++c) {
      encodeChunk(s, l, *enc, c, chunk);
      deliver(s, chunk);
      report(chunk);
    }
    return;
  }

  // A ring of chunks bounds memory: a worker may run at most ring chunks ahead of the writer.
  const uint64_t ring = uint64_t(threads) * 4;
  std::vector<Chunk> slots(ring);
  std::mutex mu;
  std::condition_variable cv;
  uint64_t next = 0, written = 0;
  bool stop = false;

  auto worker = [&](BlockEncoder& enc) {
    for (;;) {
      uint64_t c;
      {
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return stop || next >= l.chunks || next < written + ring; });
        if (stop || next >= l.chunks) return;
        c = next++;
      }
      Chunk& slot = slots[c % ring];
      try {
        encodeChunk(s, l, enc, c, slot);
      } catch (...) {
        slot.error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mu);
        slot.ready = true;
      }
      cv.notify_all();
    }
  };

  std::vector<std::unique_ptr<BlockEncoder>> encoders; // outlive the workers
  std::vector<std::thread> pool;
  auto finish = [&] {
    {
      std::lock_guard<std::mutex> lock(mu);
      stop = true;
    }
    cv.notify_all();
    for (auto& t : pool)
      t.join();
    pool.clear();
  };
  try {
    for (unsigned i = 0; i < threads; ++i)
      encoders.push_back(s.makeEncoder());
    for (auto& enc : encoders)
      pool.emplace_back(worker, std::ref(*enc));
    for (uint64_t c = 0; c < l.chunks; ++c) {
      Chunk& slot = slots[c % ring];
      {
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return slot.ready; });
      }
      if (slot.error) std::rethrow_exception(slot.error);
      deliver(s, slot);
      report(slot);
      {
        std::lock_guard<std::mutex> lock(mu);
        slot.ready = false;
        ++written;
      }
      cv.notify_all();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

} // namespace kivo

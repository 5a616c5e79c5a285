#include "extract.h"

#include "cores.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace rastle {

bool ByteSink::writePieces(const Piece* pieces, size_t count) {
  if (count == 1) return write(pieces[0].data, pieces[0].size);
  std::vector<uint8_t> joined;
  for (size_t i = 0; i < count; ++i)
    joined.insert(joined.end(), pieces[i].data, pieces[i].data + pieces[i].size);
  return joined.empty() || write(joined.data(), joined.size());
}

namespace {

// Reads through to the source and remembers whether any read since the last reset met an error,
// so an error is pinned to the block that read it even while other threads read too.
class Tracked : public ByteSource {
public:
  explicit Tracked(ByteSource& src) : src_(src), checked_(dynamic_cast<CheckedSource*>(&src)) {}
  size_t readAt(uint64_t pos, uint8_t* dst, size_t n) override {
    if (!checked_) return src_.readAt(pos, dst, n);
    bool failed = false;
    size_t got = checked_->readAtChecked(pos, dst, n, &failed);
    failed_ = failed_ || failed;
    return got;
  }
  bool failed() const { return failed_; }
  void reset() { failed_ = false; }

private:
  ByteSource& src_;
  CheckedSource* checked_;
  bool failed_ = false;
};

// Reads no further than this in one go: a run of blocks lying side by side is one read, blocks
// scattered by a hostile index are read one by one.
constexpr size_t kMaxRead = 1u << 20;

// Room for bytes that are always written before they are read: growing it keeps nothing and
// clears nothing.
class Scratch {
public:
  uint8_t* reserve(size_t n) {
    if (n > size_) {
      bytes_.reset(new uint8_t[n]);
      size_ = n;
    }
    return bytes_.get();
  }
  uint8_t* data() { return bytes_.get(); }

private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t size_ = 0;
};

// A run of consecutive blocks on its way through: read, decoded, then written in order.
struct Run {
  size_t first = 0, count = 0;
  Scratch in;  // the stored bytes read for the run
  Scratch out; // decoded contents, kBlockSize apart
  struct Block {
    const uint8_t* content = nullptr; // in `out`, or in `in` for a block stored plain
    size_t length = 0;
    BlockStatus status = BlockStatus::Ok;
    bool readFailed = false;
  };
  std::vector<Block> blocks;
};

class Extraction {
public:
  Extraction(ByteSource& src, ByteSink& sink, ExtractListener& listener, const ExtractOptions& options,
             const BlockIndex& index, ExtractResult& result)
      : src_(src), sink_(sink), listener_(listener), options_(options), index_(index), result_(result),
        perRun_(std::max<size_t>(1, options.writeBuffer / kBlockSize)),
        runs_(index.blocks.empty() ? 0 : 1 + (index.blocks.size() - 1 + perRun_ - 1) / perRun_) {
    for (size_t k = 0; k < index_.blocks.size(); ++k)
      total_ += storedBytes(k);
  }

  void run(unsigned threads) {
    listener_.progress(0, total_);
    // Two runs per thread keep every thread busy while one writes; no more, so memory stays flat.
    buffers_.resize(std::min<size_t>(2 * size_t(threads), std::max<size_t>(runs_, 1)));
    for (auto& b : buffers_)
      free_.push_back(&b);
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < threads; ++i) {
      try {
        helpers.emplace_back([this] { guardedWork(); });
      } catch (const std::system_error&) {
        break; // fewer threads, same result: the calling thread alone can do it all
      }
    }
    guardedWork();
    for (std::thread& t : helpers)
      t.join();
    if (outOfMemory_) result_.writeFailed = true;
  }

private:
  // The bytes block k stands for in the progress count: none when out of reach, and no more
  // than the input holds from its position.
  uint64_t storedBytes(size_t k) const {
    int32_t pos = wrap32(index_.psar + kDataStart + index_.blocks[k].offset);
    if (pos < 0) return 0;
    uint64_t length = index_.blocks[k].length;
    if (options_.inputSize == 0) return length;
    return uint64_t(pos) >= options_.inputSize ? 0 : std::min(length, options_.inputSize - uint64_t(pos));
  }

  // Out of memory for a buffer, a thread gives up the run and everyone stops; the output is then
  // as incomplete as after a failed write.
  void guardedWork() {
    try {
      work();
    } catch (const std::bad_alloc&) {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = outOfMemory_ = true;
      changed_.notify_all();
    }
  }

  void work() {
    BlockDecoder decoder;
    decoder.setFastPath(options_.fastInflate);
    Tracked source(src_);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (stop_ || nextToWrite_ == runs_) break;
      auto ready = done_.find(nextToWrite_);
      if (!writing_ && ready != done_.end()) {
        Run* run = ready->second;
        done_.erase(ready);
        writing_ = true;
        lock.unlock();
        bool goOn = write(*run);
        lock.lock();
        writing_ = false;
        ++nextToWrite_;
        if (!goOn) stop_ = true;
        free_.push_back(run);
        changed_.notify_all();
        continue;
      }
      if (nextToRead_ < runs_ && !free_.empty()) {
        Run* run = free_.back();
        free_.pop_back();
        size_t r = nextToRead_++;
        lock.unlock();
        read(r, *run, decoder, source);
        lock.lock();
        done_[r] = run;
        changed_.notify_all();
        continue;
      }
      changed_.wait(lock);
    }
    changed_.notify_all();
  }

  // Reads run r's stored bytes, side by side in as few reads as they allow, and decodes them.
  void read(size_t r, Run& run, BlockDecoder& decoder, Tracked& source) {
    run.first = r == 0 ? 0 : 1 + (r - 1) * perRun_;
    run.count = r == 0 ? 1 : std::min(perRun_, index_.blocks.size() - run.first);
    run.blocks.assign(run.count, {});
    // Where each block's first bytes go in `in`: blocks that follow each other in the file share
    // one read, up to kMaxRead.
    struct Want {
      uint64_t pos = 0;
      size_t size = 0, at = 0;
    };
    Want wants[64];
    Want* want = run.count <= 64 ? wants : nullptr;
    std::vector<Want> many;
    if (!want) {
      many.resize(run.count);
      want = many.data();
    }
    size_t inSize = 0;
    for (size_t i = 0; i < run.count; ++i) {
      const BlockRef& ref = index_.blocks[run.first + i];
      int32_t pos = wrap32(index_.psar + kDataStart + ref.offset);
      want[i].pos = pos < 0 ? 0 : uint64_t(pos);
      want[i].size = pos < 0 ? 0 : ref.length == kBlockSize ? kBlockSize : std::min<size_t>(ref.length, kInputSlice);
      want[i].at = inSize;
      inSize += want[i].size;
    }
    run.in.reserve(std::max<size_t>(inSize, 1));
    for (size_t i = 0; i < run.count;) {
      size_t j = i + 1, bytes = want[i].size;
      while (j < run.count && want[j].pos == want[j - 1].pos + want[j - 1].size && bytes + want[j].size <= kMaxRead)
        bytes += want[j++].size;
      source.reset();
      size_t got = bytes == 0 ? 0 : source.readAt(want[i].pos, run.in.data() + want[i].at, bytes);
      bool failed = source.failed();
      for (size_t k = i; k < j; ++k) {
        size_t start = want[k].at - want[i].at;
        size_t have = got > start ? std::min(got - start, want[k].size) : 0;
        // A block whose bytes reach past where the read met its error would have met it too.
        run.blocks[k].readFailed = failed && start + want[k].size > got;
        decode(run, k, want[k].pos, run.in.data() + want[k].at, have, decoder, source);
      }
      i = j;
    }
  }

  void decode(Run& run, size_t i, uint64_t pos, const uint8_t* in, size_t have, BlockDecoder& decoder,
              Tracked& source) {
    Run::Block& b = run.blocks[i];
    if (b.readFailed) return;
    const BlockRef& ref = index_.blocks[run.first + i];
    if (wrap32(index_.psar + kDataStart + ref.offset) < 0) {
      b.status = BlockStatus::OutOfReach;
      return;
    }
    if (ref.length == kBlockSize) {
      b.content = in; // written straight from what was read
      b.length = have;
      if (have < kBlockSize) b.status = BlockStatus::Truncated;
      return;
    }
    uint8_t* out = run.out.reserve(run.count * kBlockSize) + i * kBlockSize;
    b.content = out;
    source.reset();
    b.length = decoder.decodeRead(source, pos, ref, in, have, out, &b.status);
    b.readFailed = source.failed();
  }

  // Runs in block order, one at a time: the messages, the cut and the write. False stops it all.
  bool write(Run& run) {
    Piece pieces[64];
    std::vector<Piece> many;
    Piece* piece = run.count <= 64 ? pieces : (many.resize(run.count), many.data());
    size_t count = 0;
    bool readFailed = false;
    for (size_t i = 0; i < run.count; ++i) {
      const Run::Block& b = run.blocks[i];
      size_t k = run.first + i;
      if (b.readFailed) {
        readFailed = true;
        break;
      }
      if (b.status != BlockStatus::Ok) listener_.blockProblem(k, b.status);
      size_t length = b.length;
      if (k == 1) {
        result_.imageSize = imageSizeFromBlock1(b.content, length);
        size_ = result_.imageSize;
        listener_.extracting(result_.imageSize);
      }
      if (size_ > 0 && int64_t(result_.written + length) > size_)
        length = size_t(std::max<int64_t>(size_ - int64_t(result_.written), 0));
      if (length > 0) piece[count++] = {b.content, length};
      result_.written += length;
      done_bytes_ += storedBytes(k);
      if (!readFailed) listener_.progress(done_bytes_, total_);
    }
    bool written = count == 0 || sink_.writePieces(piece, count);
    if (readFailed) {
      // What came before the unreadable block is kept, as far as it can be.
      result_.readFailed = true;
      return false;
    }
    if (!written) result_.writeFailed = true;
    return written;
  }

  ByteSource& src_;
  ByteSink& sink_;
  ExtractListener& listener_;
  const ExtractOptions& options_;
  const BlockIndex& index_;
  ExtractResult& result_;
  const size_t perRun_;
  const size_t runs_;
  uint64_t total_ = 0, done_bytes_ = 0;
  int64_t size_ = 0; // S; only a positive one cuts

  std::vector<Run> buffers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Run*> free_;
  std::map<size_t, Run*> done_; // decoded, waiting for their turn to be written
  size_t nextToRead_ = 0, nextToWrite_ = 0;
  bool writing_ = false, stop_ = false, outOfMemory_ = false;
};

unsigned decodingThreads(const ExtractOptions& options, size_t blocks) {
  unsigned n = options.threads == 0 ? kivo::usableCores() : options.threads;
  // More threads than this would only cost memory: writing the output keeps up with few.
  n = std::min(n, 8u);
  // A handful of blocks is over before threads would be started.
  return blocks < 4 ? 1 : std::max(n, 1u);
}

} // namespace

ExtractResult extract(ByteSource& src, ByteSink& sink, ExtractListener& listener,
                      const ExtractOptions& options) {
  ExtractResult result;
  Tracked source(src);
  BlockIndex index = readIndex(source);
  result.blocks = index.blocks.size();
  if (source.failed()) {
    result.readFailed = true;
    return result;
  }
  if (index.status != BlockIndex::Status::Complete) listener.indexProblem(index.status);
  Extraction(src, sink, listener, options, index, result).run(decodingThreads(options, index.blocks.size()));
  return result;
}

} // namespace rastle

#include "extract.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <sched.h>
#include <system_error>
#include <thread>
#include <vector>

namespace rastle {
namespace {

// Serves the stored bytes of one block, read ahead on the calling thread, to a decoder running
// elsewhere. It answers exactly the one read that read ahead, so the decoder sees what it would
// have read from the file itself.
class ReadAhead : public ByteSource {
public:
  void set(uint64_t base, const uint8_t* data, size_t n) {
    base_ = base;
    data_ = data;
    size_ = n;
  }
  size_t readAt(uint64_t pos, uint8_t* dst, size_t n) override {
    if (pos < base_ || pos - base_ >= size_) return 0;
    size_t count = std::min<uint64_t>(n, size_ - (pos - base_));
    std::memcpy(dst, data_ + (pos - base_), count);
    return count;
  }

private:
  uint64_t base_ = 0;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// One block on its way through the decoding threads.
struct Slot {
  BlockRef ref{};
  uint64_t pos = 0;
  std::vector<uint8_t> in;
  size_t have = 0;
  std::vector<uint8_t> out = std::vector<uint8_t>(kBlockSize);
  size_t length = 0;
  BlockStatus status = BlockStatus::Ok;
  bool readFailed = false;
  bool done = false;
};

// Decodes blocks on a few threads while the calling thread does all the reading and writing.
// Every read of the input happens on the calling thread and in block order, so a read error is
// pinned to the same block as when decoding alone; later blocks are then never read.
class ParallelBlocks {
public:
  ParallelBlocks(ByteSource& src, const BlockIndex& index, bool (*failed)(ByteSource&), bool fast,
                 unsigned threads)
      : src_(src), index_(index), failed_(failed), slots_(2 * size_t(threads) + 8) {
    local_.setFastPath(fast);
    try {
      for (unsigned i = 0; i < threads; ++i)
        workers_.emplace_back([this, fast] { work(fast); });
    } catch (...) {
      // Nothing has been read yet, so the caller can still decode alone.
      stopWorkers();
      throw;
    }
    while (submitted_ < index_.blocks.size() && submitted_ < slots_.size() && !stopReading_)
      submit(submitted_++);
  }

  ~ParallelBlocks() { stopWorkers(); }

  // Block k's content, copied to dst; false when reading it failed. Blocks are taken in order.
  bool take(size_t k, uint8_t* dst, size_t* length, BlockStatus* status) {
    Slot& s = slots_[k % slots_.size()];
    {
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [&] { return s.done; });
    }
    if (s.readFailed) return false;
    std::memcpy(dst, s.out.data(), s.length);
    *length = s.length;
    *status = s.status;
    s.done = false;
    // The slot is free again: read ahead the block that goes in it.
    if (submitted_ < index_.blocks.size() && !stopReading_) submit(submitted_++);
    return true;
  }

private:
  void stopWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : workers_)
      t.join();
  }

  void submit(size_t k) {
    Slot& s = slots_[k % slots_.size()];
    s.ref = index_.blocks[k];
    int32_t pos = wrap32(index_.psar + kDataStart + s.ref.offset);
    bool queued = pos >= 0 && s.ref.length != 0 && s.ref.length != kBlockSize && s.ref.length <= kInputSlice;
    if (queued) {
      // A compressed block that the decoder reads in one piece: read it now, decode it elsewhere.
      s.pos = uint64_t(pos);
      s.in.resize(s.ref.length);
      s.have = src_.readAt(s.pos, s.in.data(), s.ref.length);
    } else {
      // Stored, empty, unreachable or over-long blocks are decoded here, reading as they go.
      s.length = local_.decode(src_, index_.psar, s.ref, s.out.data(), &s.status);
    }
    s.readFailed = failed_(src_);
    if (s.readFailed) {
      stopReading_ = true;
      queued = false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (queued) {
      queue_.push_back(k);
      work_.notify_one();
    } else {
      s.done = true;
    }
  }

  void work(bool fast) {
    BlockDecoder decoder;
    decoder.setFastPath(fast);
    ReadAhead source;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      Slot& s = slots_[queue_.front() % slots_.size()];
      queue_.pop_front();
      lock.unlock();
      source.set(s.pos, s.in.data(), s.have);
      s.length = decoder.decode(source, index_.psar, s.ref, s.out.data(), &s.status);
      lock.lock();
      s.done = true;
      done_.notify_all();
    }
  }

  ByteSource& src_;
  const BlockIndex& index_;
  bool (*failed_)(ByteSource&);
  BlockDecoder local_;
  // Block k lives in slot k % size until it is taken. A few slots beyond one per thread keep the
  // decoders busy while the calling thread writes; no more, so memory stays small.
  std::vector<Slot> slots_;
  size_t submitted_ = 0;
  bool stopReading_ = false;

  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<size_t> queue_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

bool sourceFailed(ByteSource& src) {
  auto* checked = dynamic_cast<CheckedSource*>(&src);
  return checked && checked->failed();
}

unsigned decodingThreads(const ExtractOptions& options, size_t blocks) {
  unsigned n = options.threads;
  if (n == 0) {
    // The cores this process may run on, which a container or taskset can make fewer than all.
    cpu_set_t set;
    n = sched_getaffinity(0, sizeof set, &set) == 0 ? unsigned(CPU_COUNT(&set))
                                                    : std::thread::hardware_concurrency();
  }
  // More threads than this would only cost memory: writing the output keeps up with few.
  n = std::min(n, 8u);
  // A handful of blocks is over before threads would be started.
  return blocks < 4 ? 1 : std::max(n, 1u);
}

// The stored bytes block k stands for in the progress count: none when out of reach, and no more
// than the input holds from its position.
uint64_t storedBytes(const BlockIndex& index, size_t k, uint64_t inputSize) {
  int32_t pos = wrap32(index.psar + kDataStart + index.blocks[k].offset);
  if (pos < 0) return 0;
  uint64_t length = index.blocks[k].length;
  if (inputSize == 0) return length;
  return uint64_t(pos) >= inputSize ? 0 : std::min(length, inputSize - uint64_t(pos));
}

} // namespace

ExtractResult extract(ByteSource& src, ByteSink& sink, ExtractListener& listener,
                      const ExtractOptions& options) {
  ExtractResult result;
  BlockIndex index = readIndex(src);
  result.blocks = index.blocks.size();
  if (sourceFailed(src)) {
    result.readFailed = true;
    return result;
  }
  if (index.status != BlockIndex::Status::Complete) listener.indexProblem(index.status);
  uint64_t total = 0, done = 0;
  for (size_t k = 0; k < index.blocks.size(); ++k)
    total += storedBytes(index, k, options.inputSize);
  listener.progress(0, total);

  // With one thread, blocks are decoded straight into the write buffer and never copied.
  std::vector<uint8_t> buffer(std::max(options.writeBuffer, kBlockSize));
  size_t fill = 0;
  auto flush = [&] {
    bool ok = fill == 0 || sink.write(buffer.data(), fill);
    fill = 0;
    return ok;
  };

  unsigned threads = decodingThreads(options, index.blocks.size());
  BlockDecoder decoder;
  decoder.setFastPath(options.fastInflate);
  std::unique_ptr<ParallelBlocks> parallel;
  if (threads > 1) {
    try {
      parallel = std::make_unique<ParallelBlocks>(src, index, sourceFailed, options.fastInflate, threads);
    } catch (const std::system_error&) {
      // No threads to be had: decode here instead.
    }
  }

  int64_t size = 0; // S; only a positive one cuts
  for (size_t k = 0; k < index.blocks.size(); ++k) {
    if (buffer.size() - fill < kBlockSize && !flush()) {
      result.writeFailed = true;
      return result;
    }
    uint8_t* content = buffer.data() + fill;
    BlockStatus status;
    size_t length = 0;
    bool readOk;
    if (parallel) {
      readOk = parallel->take(k, content, &length, &status);
    } else {
      length = decoder.decode(src, index.psar, index.blocks[k], content, &status);
      readOk = !sourceFailed(src);
    }
    if (!readOk) {
      result.readFailed = true;
      flush();
      return result;
    }
    if (status != BlockStatus::Ok) listener.blockProblem(k, status);
    if (k == 1) {
      result.imageSize = imageSizeFromBlock1(content, length);
      size = result.imageSize;
      listener.extracting(result.imageSize);
    }
    if (size > 0 && int64_t(result.written + length) > size)
      length = size_t(std::max<int64_t>(size - int64_t(result.written), 0));
    fill += length;
    result.written += length;
    // Block 0 goes out before block 1's content is used and the image size is announced.
    if (k == 0 && !flush()) {
      result.writeFailed = true;
      return result;
    }
    done += storedBytes(index, k, options.inputSize);
    listener.progress(done, total);
  }
  if (!flush()) result.writeFailed = true;
  return result;
}

} // namespace rastle

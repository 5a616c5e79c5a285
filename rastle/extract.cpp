#include "extract.h"

#include <algorithm>
#include <vector>

namespace rastle {

ExtractResult extract(ByteSource& src, ByteSink& sink, ExtractListener& listener,
                      const ExtractOptions& options) {
  ExtractResult result;
  auto* checked = dynamic_cast<CheckedSource*>(&src);
  auto readFailed = [&] { return checked && checked->failed(); };

  BlockIndex index = readIndex(src);
  result.blocks = index.blocks.size();
  if (readFailed()) {
    result.readFailed = true;
    return result;
  }
  if (index.status != BlockIndex::Status::Complete) listener.indexProblem(index.status);

  // Blocks are decoded straight into the write buffer, so a block's bytes are never copied.
  std::vector<uint8_t> buffer(std::max(options.writeBuffer, kBlockSize));
  size_t fill = 0;
  auto flush = [&] {
    bool ok = fill == 0 || sink.write(buffer.data(), fill);
    fill = 0;
    return ok;
  };

  BlockDecoder decoder;
  decoder.setFastPath(options.fastInflate);
  int64_t size = 0; // S; only a positive one cuts
  for (size_t k = 0; k < index.blocks.size(); ++k) {
    if (buffer.size() - fill < kBlockSize && !flush()) {
      result.writeFailed = true;
      return result;
    }
    uint8_t* content = buffer.data() + fill;
    BlockStatus status;
    size_t length = decoder.decode(src, index.psar, index.blocks[k], content, &status);
    if (readFailed()) {
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
    // Block 0 goes out before block 1 is decoded and the image size is announced.
    if (k == 0 && !flush()) {
      result.writeFailed = true;
      return result;
    }
  }
  if (!flush()) result.writeFailed = true;
  return result;
}

} // namespace rastle

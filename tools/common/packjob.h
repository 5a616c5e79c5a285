// The two jobs of the container tools (ciso, dax): unpack a container into a disc image, or pack
// an image into a container, each with its progress line and closing report.
#pragma once

#include "cli.h"
#include "io.h"

#include <cstdio>
#include <functional>
#include <string>

namespace kivo {

template <class Reader> void unpackImage(const std::string& inPath, const std::string& outPath) {
  InputFile in(inPath);
  OutputFile out(outPath, {inPath});
  Reader reader(in);
  ProgressLine progress("Decompressing", reader.imageSize());
  reader.decompress(out, std::ref(progress));
  out.commit();
  progress.finish();
  std::printf("Decompressed %s into %s (%s)\n", inPath.c_str(), outPath.c_str(),
              describeSize(reader.imageSize()).c_str());
}

/// `compress` is the container's compress(src, out, level, threads, progress).
template <class Compress>
void packImage(const std::string& inPath, const std::string& outPath, int level, Compress compress) {
  InputFile in(inPath);
  OutputFile out(outPath, {inPath});
  ProgressLine progress("Compressing", in.size());
  compress(in, out, level, 0, std::ref(progress));
  const uint64_t size = out.position();
  out.commit();
  progress.finish();
  std::printf("Compressed %s (%s) into %s (%s, %.1f%%)\n", inPath.c_str(), describeSize(in.size()).c_str(),
              outPath.c_str(), describeSize(size).c_str(), in.size() ? 100.0 * size / in.size() : 100.0);
}

} // namespace kivo

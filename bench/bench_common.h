// What every benchmark shares: the photo-like source image and the loops that
// write it to memory and read it back.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "image/bitmap.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik::bench {

constexpr int kSide = 4096;

// Smooth gradients plus noise of +-2^(noiseBits-1), as a photograph gives a
// coder: neither run-length coders, exact-colour tables nor one-pixel caches
// get an easy ride. Mild noise (2 bits) leaves the short runs that run-length
// coders see in real photographs.
inline std::unique_ptr<TIEBitmap> MakePhotoLike(int width, int height, int noiseBits = 4) {
  auto b = std::make_unique<TIEBitmap>(width, height, ie24RGB);
  std::uint32_t seed = 12345;
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<TRGB*>(b->GetScanLine(y));
    const double fy = double(y) / height;
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> (32 - noiseBits)) - (1 << (noiseBits - 1));
      const double fx = double(x) / width;
      const auto c = [&](double v) { return static_cast<std::uint8_t>(std::clamp(int(v) + noise, 0, 255)); };
      row[x] = CreateRGB(c(255 * fx * (1 - 0.3 * fy)), c(128 + 120 * std::sin(5 * fy + 2 * fx)),
                         c(255 * (1 - fx) * fy + 40 * std::cos(9 * fx)));
    }
  }
  return b;
}

// The kSide x kSide photo, built once for all benchmarks.
inline TIEBitmap& Photo() {
  static const std::unique_ptr<TIEBitmap> photo = MakePhotoLike(kSide, kSide);
  return *photo;
}

// The same with mild noise, for the run-length coders.
inline TIEBitmap& MildPhoto() {
  static const std::unique_ptr<TIEBitmap> photo = MakePhotoLike(kSide, kSide, 2);
  return *photo;
}

// A progress record with its own abort flag, as the front hands one to a codec.
struct BenchProgress {
  bool abort = false;
  TProgressRec rec;
  BenchProgress() { rec.AbortFlag = &abort; }
  BenchProgress(const BenchProgress&) = delete;
  BenchProgress& operator=(const BenchProgress&) = delete;
};

// Runs write(stream, progress) once into memory and returns the file.
template <class Writer>
std::vector<std::uint8_t> EncodeToMemory(Writer&& write) {
  TMemoryStream out;
  BenchProgress progress;
  write(out, progress.rec);
  return std::move(out.Bytes());
}

// Times write(stream, progress) into a fresh memory stream per iteration (its
// growth is part of what a writer costs unless `reserve` bytes are set aside
// first); returns the size of the last file written.
template <class Writer>
std::int64_t WriteLoop(benchmark::State& state, Writer&& write, std::size_t reserve = 0) {
  std::int64_t bytes = 0;
  for (auto _ : state) {
    TMemoryStream out;
    if (reserve > 0) out.Bytes().reserve(reserve);
    BenchProgress progress;
    write(out, progress.rec);
    bytes = out.GetSize();
    benchmark::DoNotOptimize(out.Memory());
    if (progress.abort) {
      state.SkipWithError("write failed");
      break;
    }
  }
  return bytes;
}

// Times read(stream, progress) over a fresh read-only view of `file` per iteration.
template <class Reader>
void ReadLoop(benchmark::State& state, const std::vector<std::uint8_t>& file, Reader&& read) {
  for (auto _ : state) {
    TReadOnlyMemoryStream in(file.data(), std::int64_t(file.size()));
    BenchProgress progress;
    read(in, progress.rec);
    if (progress.abort) {
      state.SkipWithError("read failed");
      break;
    }
  }
}

}  // namespace pravik::bench

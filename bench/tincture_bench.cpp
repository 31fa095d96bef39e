// Dominant colours of a 600 x 600 synthetic artwork at the quality the Now
// Playing card uses, by both algorithms, and ImageMagick's colour clustering
// of the same image run next to ours for comparison.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Tincture/DominantColors.h"
#include "platform/image/PNG.h"

namespace {

using Clock = std::chrono::steady_clock;

// A gradient sky, a sun, two hills and some grain: many distinct colours
// gathered around a few dominant ones, like album artwork.
img::Image syntheticArtwork() {
  constexpr int kSize = 600;
  auto bitmap = img::Bitmap::create(kSize, kSize);
  uint32_t seed = 12345;
  auto grain = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>((seed >> 24) % 9) - 4;
  };
  auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double t = static_cast<double>(x + y) / (2.0 * kSize);
      int r = static_cast<int>(30 + 120 * t), g = static_cast<int>(20 + 40 * t), b = static_cast<int>(90 + 60 * t);
      const double sun = std::hypot(x - 420.0, y - 170.0);
      if (sun < 90) {
        r = 250;
        g = static_cast<int>(170 + sun / 3);
        b = 40;
      }
      const double hill1 = 420 + 60 * std::sin(x / 90.0);
      const double hill2 = 480 + 40 * std::cos(x / 70.0);
      if (y > hill1) {
        r = 40;
        g = 110 + (y - static_cast<int>(hill1)) / 8;
        b = 60;
      }
      if (y > hill2) {
        r = 20;
        g = 60;
        b = 35;
      }
      const int n = grain();
      bitmap->setPixel(x, y, img::Pixel{clamp(r + n), clamp(g + n), clamp(b + n), 255});
    }
  }
  return img::Image::withBitmap(std::move(*bitmap));
}

const img::Image& artwork() {
  static const img::Image image = syntheticArtwork();
  return image;
}

// The artwork as a PNG in a temporary directory, removed at exit.
struct ArtworkFile {
  std::filesystem::path directory;
  std::string path;

  ArtworkFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tincture-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      directory = pattern;
      path = (directory / "artwork.png").string();
      if (!img::savePNG(*artwork().cgImage(), path)) path.clear();
    }
  }
  ~ArtworkFile() {
    std::error_code ignored;
    if (!directory.empty()) std::filesystem::remove_all(directory, ignored);
  }
};

const ArtworkFile& artworkFile() {
  static const ArtworkFile file;
  return file;
}

double secondsOf(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double runSeconds(const std::string& command) {
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = secondsOf(Clock::now() - start);
  return status == 0 ? seconds : -1;
}

void BM_DominantColors_Iterative_Fair(benchmark::State& state) {
  const img::Image& image = artwork();
  for (auto _ : state) {
    benchmark::DoNotOptimize(tincture::dominantColors(image, tincture::DominantColorQuality::fair,
                                                      tincture::DominantColorAlgorithm::iterative));
  }
}
BENCHMARK(BM_DominantColors_Iterative_Fair)->Unit(benchmark::kMillisecond);

void BM_DominantColors_KMeans_Fair(benchmark::State& state) {
  const img::Image& image = artwork();
  for (auto _ : state) {
    benchmark::DoNotOptimize(tincture::dominantColors(image, tincture::DominantColorQuality::fair,
                                                      tincture::DominantColorAlgorithm::kMeansClustering));
  }
}
BENCHMARK(BM_DominantColors_KMeans_Fair)->Unit(benchmark::kMillisecond);

// One row with both figures: our k-means (8 clusters, fair) and ImageMagick
// reducing the same PNG to 8 colours, each timed per iteration. ImageMagick
// runs as a process, so its time includes start-up and PNG decoding; the
// "convert IMAGE null:" baseline measures that overhead on its own.
void BM_KMeans_vs_ImageMagick(benchmark::State& state) {
  const ArtworkFile& file = artworkFile();
  if (file.path.empty()) {
    state.SkipWithError("could not write the artwork PNG");
    return;
  }
  const std::string quoted = "'" + file.path + "'";
  // -kmeans needs ImageMagick 7 or a late 6.9; otherwise its colour
  // quantization (-colors 8) is the nearest equivalent.
  std::string clustering = "-kmeans 8";
  if (runSeconds("convert " + quoted + " -kmeans 8 null: >/dev/null 2>&1") < 0) clustering = "+dither -colors 8";
  const std::string command = "convert " + quoted + " " + clustering + " null: >/dev/null 2>&1";
  const std::string baseline = "convert " + quoted + " null: >/dev/null 2>&1";
  if (runSeconds(command) < 0) {
    state.SkipWithError("ImageMagick's convert is not available");
    return;
  }

  const img::Image& image = artwork();
  double ours = 0, theirs = 0, overhead = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(tincture::kMeansDominantColors(image, tincture::DominantColorQuality::fair));
    ours += secondsOf(Clock::now() - start);
    theirs += runSeconds(command);
    overhead += runSeconds(baseline);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["tincture_ms"] = ours / n * 1e3;
  state.counters["imagemagick_ms"] = theirs / n * 1e3;
  state.counters["im_startup_ms"] = overhead / n * 1e3;
  state.counters["im_over_tincture"] = theirs / ours;
  state.counters["im_net_over_tincture"] = (theirs - overhead) / ours;
  state.SetLabel("convert " + clustering);
}
BENCHMARK(BM_KMeans_vs_ImageMagick)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

}  // namespace

// Spotify artwork as it arrives: an 8000 x 8000 cover, PNG, JPEG or
// progressive JPEG, decoded to fit the showcase at twice its size (what the
// provider keeps on a 2x screen), against decoding it whole and shrinking it
// afterwards. Besides the time, each run reports the peak growth of the
// process's resident memory during one decode ("peak_MiB", from VmHWM after
// resetting it) and the bytes kept (none for a refused image).

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/nowplaying/SpotifyNowPlayingProvider.h"
#include "platform/image/Decode.h"
#include "platform/image/PNG.h"
#include "platform/image/Resample.h"
#include "platform/image/tests/EncodeSupport.h"

namespace {

constexpr int kCover = 8000;

enum Kind { kPNG, kJPEG, kProgressiveJPEG };

const std::vector<uint8_t>& cover(Kind kind) {
  static const auto encode = [](Kind as) {
    // Soft diagonal bands, as a photograph would compress.
    auto bitmap = img::Bitmap::create(kCover, kCover);
    for (int y = 0; y < kCover; ++y) {
      auto row = bitmap->row(y);
      for (int x = 0; x < kCover; ++x) {
        const auto v = static_cast<uint8_t>((x + y) / 64);
        row[4 * x] = v;
        row[4 * x + 1] = static_cast<uint8_t>(255 - v);
        row[4 * x + 2] = static_cast<uint8_t>(y / 32);
        row[4 * x + 3] = 255;
      }
    }
    return as == kPNG ? imagetest::encodePNG(*bitmap) : imagetest::encodeJPEG(*bitmap, 85, as == kProgressiveJPEG);
  };
  static const std::vector<uint8_t> covers[] = {encode(kPNG), encode(kJPEG), encode(kProgressiveJPEG)};
  return covers[kind];
}

long statusKiB(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return 0;
}

// Resets the peak resident size to the current one.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

template <class Decode>
void measure(benchmark::State& state, Decode decode) {
  double peak = 0;
  std::size_t kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    resetPeak();
    const long before = statusKiB("VmRSS");
    state.ResumeTiming();
    std::optional<img::Bitmap> bitmap = decode();
    state.PauseTiming();
    peak = std::max(peak, static_cast<double>(statusKiB("VmHWM") - before) / 1024.0);
    kept = bitmap ? bitmap->bytes().size() : 0;
    benchmark::DoNotOptimize(bitmap);
    bitmap.reset();
    state.ResumeTiming();
  }
  state.counters["peak_MiB"] = peak;
  state.counters["kept_KiB"] = static_cast<double>(kept) / 1024.0;
}

void BM_CoverToShowcase(benchmark::State& state) {
  const auto kind = static_cast<Kind>(state.range(0));
  const auto& data = cover(kind);
  const int pixels = static_cast<int>(2 * kNowPlayingArtworkPoints);
  measure(state, [&] { return img::decodeImageFitting(data, pixels, pixels); });
  state.SetLabel(kind == kPNG ? "png" : kind == kJPEG ? "jpeg" : "progressive jpeg");
}
BENCHMARK(BM_CoverToShowcase)->DenseRange(kPNG, kProgressiveJPEG)->Unit(benchmark::kMillisecond)->Iterations(3);

// The earlier way: the PNG decoded whole through cairo, then shrunk.
void BM_CoverWholeThenShrunk(benchmark::State& state) {
  const auto& data = cover(kPNG);
  measure(state, [&]() -> std::optional<img::Bitmap> {
    auto whole = img::decodePNG(data);
    if (!whole) return std::nullopt;
    return img::redraw(*whole, 160, 160);
  });
}
BENCHMARK(BM_CoverWholeThenShrunk)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

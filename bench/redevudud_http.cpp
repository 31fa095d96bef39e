// Uploads of the telemetry client: batches of 50 logs per second through the
// Red Evudud ingestion and the HTTP client to the local sink on 127.0.0.1
// (gzip on), and the client's gzip against plain zlib on the same bodies.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACCompression.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClient.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRedEvududIngestion.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogContainer.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "tools/ingestion-sink/IngestionSink.h"

namespace {

constexpr size_t kLogsPerBatch = 50;

std::shared_ptr<DVACDevice> device() {
  auto device = std::make_shared<DVACDevice>();
  device->sdkName = "redevudud.macos";
  device->sdkVersion = "4.4.3";
  device->model = "Mac14,2";
  device->oemName = "Apple";
  device->osName = "macOS";
  device->osVersion = "14.1.0";
  device->osBuild = "23B74";
  device->locale = "en-US";
  device->timeZoneOffset = 60;
  device->screenSize = "2560x1664";
  device->appVersion = "1.4.2";
  device->appBuild = "142";
  device->appNamespace = "com.morvalent.app";
  return device;
}

// A batch shaped like the analytics service's: 50 event logs with a few
// properties each.
std::shared_ptr<DVACLogContainer> batch(int number) {
  std::vector<std::shared_ptr<DVACLog>> logs;
  auto shared = device();
  for (size_t i = 0; i < kLogsPerBatch; ++i) {
    auto log = std::make_shared<DVACLogWithProperties>();
    log->setType("event");
    log->setTimestamp(ns::Date::fromTimeIntervalSince1970(1'700'000'000 + static_cast<double>(i)));
    log->setSid(ns::UUID::random().UUIDString());
    log->setDevice(shared);
    log->setProperties(DVACPropertiesDictionary{{"name", "dockPreview_SelectWindow"},
                                                {"window_ScreenDisplayMode", i % 2 ? "current" : "left"},
                                                {"window_SpaceDisplayMode", "normal"},
                                                {"sequence", std::to_string(i)}});
    logs.push_back(std::move(log));
  }
  return std::make_shared<DVACLogContainer>("batch-" + std::to_string(number), std::move(logs));
}

class Waiter {
 public:
  void done() {
    std::lock_guard lock(mutex_);
    ++completed_;
    cv_.notify_all();
  }
  bool waitFor(long count) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return completed_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long completed_ = 0;
};

// Batches per second, with 1 or 3 (a channel unit's default limit) in flight.
void BM_RedEvududIngestionBatchesToLocalSink(benchmark::State& state) {
  const long inFlight = state.range(0);
  ingestion_sink::Options options;
  options.maxSeconds = 600;
  ingestion_sink::Sink sink(options);
  if (!sink.start()) {
    state.SkipWithError("the sink did not start");
    return;
  }
  auto client = DVACHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt, nullptr);
  auto ingestion =
      DVACRedEvududIngestion::initWithHttpClient(client, sink.baseURL(), "5A6B7C8D-0000-4E1F-8A2B-3C4D5E6F7A8B");
  ingestion->setAppSecret("1f2e3d4c-5b6a-4978-8695-a4b3c2d1e0f9");
  std::vector<std::shared_ptr<DVACLogContainer>> batches;
  for (int i = 0; i < 8; ++i) batches.push_back(batch(i));

  auto waiter = std::make_shared<Waiter>();
  long sent = 0;
  long failed = 0;
  std::mutex failedMutex;
  for (auto _ : state) {
    for (long i = 0; i < inFlight; ++i) {
      ingestion->sendAsync(batches[static_cast<size_t>(sent % 8)],
                           [waiter, &failed, &failedMutex](const std::optional<std::string>&,
                                                           std::shared_ptr<const net::HTTPURLResponse> response,
                                                           std::optional<ns::Data>, std::optional<ns::Error>) {
                             if (!response || response->statusCode() != 200) {
                               std::lock_guard lock(failedMutex);
                               ++failed;
                             }
                             waiter->done();
                           });
      ++sent;
    }
    if (!waiter->waitFor(sent)) {
      state.SkipWithError("a batch did not complete within 30 s");
      break;
    }
  }
  if (failed > 0) state.SkipWithError("a batch was not answered with 200");
  state.SetItemsProcessed(sent);
  state.counters["batches/s"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
  state.counters["logs/s"] =
      benchmark::Counter(static_cast<double>(sent * static_cast<long>(kLogsPerBatch)), benchmark::Counter::kIsRate);
  auto requests = sink.requests();
  if (!requests.empty() && requests.back().header("Content-Encoding") != "gzip") {
    state.SkipWithError("batches were not compressed");
  }
  state.counters["wire_bytes/batch"] = requests.empty() ? 0 : static_cast<double>(requests.back().body.size());
  state.counters["json_bytes/batch"] = static_cast<double>(batches[0]->serializeLog()->size());
}
BENCHMARK(BM_RedEvududIngestionBatchesToLocalSink)->Arg(1)->Arg(3)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same gzip as the client, written the plain way: one deflate into a
// buffer of deflateBound bytes.
ns::Data zlibGzip(const ns::Data& input) {
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  ns::Data output(deflateBound(&stream, static_cast<uLong>(input.size())));
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = output.data();
  stream.avail_out = static_cast<uInt>(output.size());
  deflate(&stream, Z_FINISH);
  output.resize(stream.total_out);
  deflateEnd(&stream);
  return output;
}

std::vector<ns::Data> bodies() {
  std::vector<ns::Data> out;
  for (int i = 0; i < 8; ++i) {
    auto json = *batch(i)->serializeLog();
    out.emplace_back(json.begin(), json.end());
  }
  // A body just at the compression threshold.
  out.emplace_back(out[0].begin(), out[0].begin() + 1400);
  return out;
}

size_t totalSize(const std::vector<ns::Data>& data) {
  size_t total = 0;
  for (const auto& d : data) total += d.size();
  return total;
}

void BM_ClientCompression(benchmark::State& state) {
  const auto input = bodies();
  for (auto _ : state) {
    for (const auto& body : input) benchmark::DoNotOptimize(DVACCompression::compressData(body));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * totalSize(input)));
}
BENCHMARK(BM_ClientCompression)->Unit(benchmark::kMicrosecond);

void BM_PlainZlibCompression(benchmark::State& state) {
  const auto input = bodies();
  for (auto _ : state) {
    for (const auto& body : input) benchmark::DoNotOptimize(zlibGzip(body));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * totalSize(input)));
}
BENCHMARK(BM_PlainZlibCompression)->Unit(benchmark::kMicrosecond);

// Both on the same bodies, interleaved in one run; "client/zlib" is the
// client's throughput over plain zlib's (1.0 means no overhead).
void BM_ClientOverPlainZlibCompression(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto input = bodies();
  Clock::duration clientTime{};
  Clock::duration zlibTime{};
  size_t clientBytes = 0;
  size_t zlibBytes = 0;
  bool clientFirst = true;
  auto timeClient = [&](const ns::Data& body) {
    const auto start = Clock::now();
    auto compressed = DVACCompression::compressData(body);
    clientTime += Clock::now() - start;
    clientBytes += compressed ? compressed->size() : 0;
  };
  auto timeZlib = [&](const ns::Data& body) {
    const auto start = Clock::now();
    auto compressed = zlibGzip(body);
    zlibTime += Clock::now() - start;
    zlibBytes += compressed.size();
  };
  for (auto _ : state) {
    // Alternating which goes first keeps the warm-cache advantage even.
    for (const auto& body : input) {
      if (clientFirst) {
        timeClient(body);
        timeZlib(body);
      } else {
        timeZlib(body);
        timeClient(body);
      }
      clientFirst = !clientFirst;
    }
  }
  const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(totalSize(input));
  const double clientSeconds = std::chrono::duration<double>(clientTime).count();
  const double zlibSeconds = std::chrono::duration<double>(zlibTime).count();
  state.counters["client_MB/s"] = bytes / clientSeconds / 1e6;
  state.counters["zlib_MB/s"] = bytes / zlibSeconds / 1e6;
  state.counters["client/zlib"] = zlibSeconds / clientSeconds;
  state.counters["same_output"] = clientBytes == zlibBytes ? 1 : 0;
  state.counters["gzip_ratio"] = static_cast<double>(zlibBytes) / bytes;
}
BENCHMARK(BM_ClientOverPlainZlibCompression)->Unit(benchmark::kMicrosecond);

}  // namespace

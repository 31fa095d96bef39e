#pragma once
// Shared by the HTTP client and ingestion tests: a recorder of completion
// handlers, runs of the main queue with a deadline (never sleeps), the local
// sink, and logs of a chosen size; the log recorder and waits come from
// DVACTestSupport.h.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClientProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogContainer.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"
#include "RedEvudud/RedEvudud/tests/DVACTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "tools/ingestion-sink/IngestionSink.h"
#include "tools/ingestion-sink/tests/SinkTestSupport.h"

namespace dvac_http_test {

using dvac_test::kWait;
using dvac_test::LogRecorder;
using dvac_test::waitUntil;
using sinktest::startSink;

// Runs the main queue (reachability callbacks and notifications) until the
// condition holds.
inline bool runMainUntil(const std::function<bool()>& condition, double timeoutSeconds = kWait) {
  return dispatch::Scheduler::shared().runMainUntil(condition, timeoutSeconds);
}

// Runs every block queued on the main queue so far.
inline bool drainMain() {
  auto done = std::make_shared<std::atomic<bool>>(false);
  dispatch::Queue::main()->async([done] { done->store(true); });
  return runMainUntil([done] { return done->load(); });
}

// One outcome of an HTTP client call or an ingestion send.
struct Outcome {
  std::optional<std::string> callId;
  std::optional<ns::Data> data;
  std::shared_ptr<const net::HTTPURLResponse> response;
  std::optional<ns::Error> error;
  std::thread::id thread;

  int64_t statusCode() const { return response ? response->statusCode() : -1; }
  std::optional<int64_t> errorCode() const { return error ? std::optional<int64_t>(error->code) : std::nullopt; }
  std::string body() const { return data ? std::string(data->begin(), data->end()) : std::string(); }
};

// Collects completion handler calls, in the order they happen.
class Completions {
 public:
  DVACHttpRequestCompletionHandler handler() {
    auto state = state_;
    return [state](std::optional<ns::Data> data, std::shared_ptr<const net::HTTPURLResponse> response,
                   std::optional<ns::Error> error) {
      record(*state, {std::nullopt, std::move(data), std::move(response), std::move(error), std::this_thread::get_id()});
    };
  }
  DVACSendAsyncCompletionHandler sendHandler() {
    auto state = state_;
    return [state](const std::optional<std::string>& callId, std::shared_ptr<const net::HTTPURLResponse> response,
                   std::optional<ns::Data> data, std::optional<ns::Error> error) {
      record(*state, {callId, std::move(data), std::move(response), std::move(error), std::this_thread::get_id()});
    };
  }

  bool waitFor(size_t count, double timeoutSeconds = kWait) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                    [&] { return state_->outcomes.size() >= count; });
  }
  size_t count() const {
    std::lock_guard lock(state_->mutex);
    return state_->outcomes.size();
  }
  Outcome at(size_t index) const {
    std::lock_guard lock(state_->mutex);
    return state_->outcomes.at(index);
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Outcome> outcomes;
  };
  static void record(State& state, Outcome outcome) {
    std::lock_guard lock(state.mutex);
    state.outcomes.push_back(std::move(outcome));
    state.changed.notify_all();
  }
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The wait the last "Call attempt" warning announced, in seconds: on the
// virtual clock a test moves time that far and no further, so that what the
// retry's answer arms (the next retry, a back-off) cannot come due within
// the same step while the answer is on its way.
inline double announcedRetryDelay(const LogRecorder& log) {
  const std::string marker = "it will be retried in ";
  const auto warnings = log.messages(DVACLogLevelWarning);
  for (auto it = warnings.rbegin(); it != warnings.rend(); ++it) {
    if (const auto at = it->find(marker); at != std::string::npos) {
      return std::stod(it->substr(at + marker.size())) / 1000.0 + 0.001;
    }
  }
  ADD_FAILURE() << "no retry was announced";
  return 0;
}

inline void setScript(ingestion_sink::Sink& sink, const std::string& scriptJson) {
  std::string error;
  auto script = ingestion_sink::Script::fromJson(scriptJson, &error);
  ASSERT_TRUE(script) << error;
  sink.setScript(*script);
}

inline ns::URL urlOf(const std::string& text) {
  auto url = ns::URL::URLWithString(text);
  EXPECT_TRUE(url) << text;
  return url ? *url : *ns::URL::URLWithString("http://127.0.0.1:9/");
}

using dvac_test::bytes;

// A body of exactly `size` bytes of JSON-ish text that compresses well.
inline ns::Data bodyOfSize(size_t size) {
  std::string text;
  text.reserve(size);
  const std::string pattern = "{\"name\":\"dockPreview_SelectWindow\",\"value\":42},";
  while (text.size() < size) text += pattern;
  text.resize(size);
  return bytes(text);
}

// A valid log whose "properties" carry `payload`, so a batch can be made as
// large as a test needs.
inline std::shared_ptr<DVACLogWithProperties> validLog(const std::string& payload = "value") {
  auto log = std::make_shared<DVACLogWithProperties>();
  log->setType("event");
  log->setTimestamp(ns::Date::fromTimeIntervalSince1970(1'700'000'000));
  log->setDevice(dvac_test::testDevice());
  log->setProperties(DVACPropertiesDictionary{{"payload", payload}, {"url", "https://example.test/a/b"}});
  return log;
}

inline std::shared_ptr<DVACLogContainer> containerOf(std::string batchId, size_t logs, const std::string& payload = "v") {
  std::vector<std::shared_ptr<DVACLog>> list;
  for (size_t i = 0; i < logs; ++i) list.push_back(validLog(payload));
  return std::make_shared<DVACLogContainer>(std::move(batchId), std::move(list));
}

}  // namespace dvac_http_test

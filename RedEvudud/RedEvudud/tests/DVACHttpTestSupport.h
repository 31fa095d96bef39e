#pragma once
// Shared by the HTTP client and ingestion tests: a recorder of the SDK's log
// lines, a recorder of completion handlers, waits on conditions with a
// deadline (never sleeps), the local sink, and logs of a chosen size.

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
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "platform/dispatch/Dispatch.h"
#include "tools/ingestion-sink/IngestionSink.h"

namespace dvac_http_test {

// Generous bound for anything that should happen within milliseconds.
inline constexpr double kWait = 20.0;

// Polls a condition until it holds or the timeout passes, yielding between
// polls; for state owned by other threads that has no notification.
inline bool waitUntil(const std::function<bool()>& condition, double timeoutSeconds = kWait) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

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

// Every SDK log line at every level, from any thread.
class LogRecorder {
 public:
  struct Line {
    DVACLogLevel level;
    std::string message;
  };

  explicit LogRecorder(DVACLogLevel level = DVACLogLevelVerbose) {
    DVACLogger::resetForTesting();
    DVACLogger::setCurrentLogLevel(level);
    auto state = state_;
    DVACLogger::setLogHandler([state, level](const DVACLogMessageProvider& provider, DVACLogLevel lineLevel,
                                             const std::string&, const char*, const char*, unsigned int) {
      if (lineLevel < level) return;
      std::string message = provider();
      std::lock_guard lock(state->mutex);
      state->lines.push_back({lineLevel, std::move(message)});
      state->changed.notify_all();
    });
  }
  ~LogRecorder() { DVACLogger::resetForTesting(); }
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  std::vector<Line> lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
  }
  std::vector<std::string> messages(DVACLogLevel level) const {
    std::vector<std::string> out;
    for (const auto& line : lines()) {
      if (line.level == level) out.push_back(line.message);
    }
    return out;
  }
  size_t count(const std::string& text) const {
    size_t n = 0;
    for (const auto& line : lines()) n += line.message.find(text) != std::string::npos;
    return n;
  }
  bool contains(const std::string& text) const { return count(text) > 0; }
  bool waitForCount(const std::string& text, size_t n, double timeoutSeconds = kWait) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] {
      size_t found = 0;
      for (const auto& line : state_->lines) found += line.message.find(text) != std::string::npos;
      return found >= n;
    });
  }
  void clear() {
    std::lock_guard lock(state_->mutex);
    state_->lines.clear();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Line> lines;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

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

// A sink on 127.0.0.1 that answers from the script and stops within a minute.
inline std::unique_ptr<ingestion_sink::Sink> startSink(const std::string& scriptJson = "[]") {
  ingestion_sink::Options options;
  options.maxSeconds = 60;
  std::string error;
  auto script = ingestion_sink::Script::fromJson(scriptJson, &error);
  EXPECT_TRUE(script) << error;
  if (script) options.script = *script;
  auto sink = std::make_unique<ingestion_sink::Sink>(options);
  EXPECT_TRUE(sink->start(&error)) << error;
  return sink;
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

inline ns::Data bytes(const std::string& text) { return ns::Data(text.begin(), text.end()); }

// A body of exactly `size` bytes of JSON-ish text that compresses well.
inline ns::Data bodyOfSize(size_t size) {
  std::string text;
  text.reserve(size);
  const std::string pattern = "{\"name\":\"dockPreview_SelectWindow\",\"value\":42},";
  while (text.size() < size) text += pattern;
  text.resize(size);
  return bytes(text);
}

inline std::shared_ptr<DVACDevice> validDevice() {
  auto device = std::make_shared<DVACDevice>();
  device->sdkName = "redevudud.macos";
  device->sdkVersion = "4.4.3";
  device->osName = "macOS";
  device->osVersion = "14.1.0";
  device->locale = "en-US";
  device->timeZoneOffset = 60;
  device->appVersion = "1.0";
  device->appBuild = "1";
  return device;
}

// A valid log whose "properties" carry `payload`, so a batch can be made as
// large as a test needs.
inline std::shared_ptr<DVACLogWithProperties> validLog(const std::string& payload = "value") {
  auto log = std::make_shared<DVACLogWithProperties>();
  log->setType("event");
  log->setTimestamp(ns::Date::fromTimeIntervalSince1970(1'700'000'000));
  log->setDevice(validDevice());
  log->setProperties(DVACPropertiesDictionary{{"payload", payload}, {"url", "https://example.test/a/b"}});
  return log;
}

inline std::shared_ptr<DVACLogContainer> containerOf(std::string batchId, size_t logs, const std::string& payload = "v") {
  std::vector<std::shared_ptr<DVACLog>> list;
  for (size_t i = 0; i < logs; ++i) list.push_back(validLog(payload));
  return std::make_shared<DVACLogContainer>(std::move(batchId), std::move(list));
}

}  // namespace dvac_http_test

#pragma once
// A local stand-in for the telemetry ingestion servers: plain HTTP on
// 127.0.0.1, every request recorded (and appended to a JSON-lines log when a
// path is given), every answer taken from a script. It stops by itself after
// a bounded time so a forgotten instance never lingers.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ingestion_sink {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct ScriptedResponse {
  int status = 200;
  HeaderList headers;
  std::string body;
  // Held back this long before answering (the request is recorded at once).
  std::chrono::milliseconds delay{0};
  // Close the connection without any answer (after the delay), as a server
  // that goes away mid-request would; recorded with status 0.
  bool drop = false;
};

// Responses consumed one per request, in order; then the default for ever.
struct Script {
  std::vector<ScriptedResponse> responses;
  ScriptedResponse fallback;

  // {"responses": [R...], "default": R} or a bare [R...], where R is
  // {"status": 503, "headers": {"x-dv-retry-after-ms": "2500"}, "body": "...",
  //  "delayMs": 1500, "drop": false, "repeat": 1}; every key optional, and
  // "repeat" (in the list only) stands for that many answers in a row.
  // nullopt and a message on bad input.
  static std::optional<Script> fromJson(std::string_view text, std::string* error = nullptr);
};

struct RecordedRequest {
  uint64_t sequence = 0;  // 1, 2, ... in arrival order
  double time = 0;        // seconds since 1970
  std::string method;
  std::string path;  // as sent, with the query
  // In the HTTP library's order (alphabetical); it drops fields with an empty
  // value and decodes percent escapes in values.
  HeaderList headers;
  std::string body;  // raw bytes as received
  // The body inflated, when "Content-Encoding" is "gzip" and it inflates.
  std::optional<std::string> inflatedBody;
  // Why a gzip body did not inflate.
  std::optional<std::string> inflateError;
  // 0 when the connection was dropped without an answer.
  int answeredStatus = 0;

  // Case-insensitive; the first field of that name.
  std::optional<std::string> header(std::string_view name) const;
  bool hasHeader(std::string_view name) const { return header(name).has_value(); }
  // The inflated body when there is one, else the raw body.
  const std::string& content() const { return inflatedBody ? *inflatedBody : body; }

  // One line of the log: {"seq", "time", "method", "path", "headers": [[n, v]...],
  // "bodyBase64", "bodyLength", "body" (when UTF-8), "inflatedBase64" and
  // "inflated" (when UTF-8) or "inflateError", "status"}.
  std::string toJsonLine() const;
  static std::optional<RecordedRequest> fromJsonLine(std::string_view line);
};

// Every request recorded in a log file, in order; malformed lines are skipped.
std::vector<RecordedRequest> readLog(const std::string& path);

// gzip-inflates data; nullopt and a message when it is not a complete gzip
// stream or inflates past maxSize.
std::optional<std::string> gunzip(std::string_view data, std::string* error = nullptr,
                                  std::size_t maxSize = std::size_t{256} << 20);

struct Options {
  int port = 0;         // 0: any free port
  std::string logPath;  // empty: keep the records in memory only
  Script script;
  double maxSeconds = 300;  // stops by itself after this long
};

class Sink {
 public:
  explicit Sink(Options options = {});
  ~Sink();
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // Binds 127.0.0.1 and starts serving. False and a message when the port
  // cannot be bound, the log cannot be opened or maxSeconds is not a
  // positive finite number.
  bool start(std::string* error = nullptr);
  // Stops serving; delayed answers are cut short. Idempotent.
  void stop();

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string baseURL() const;

  // Replaces the script (and starts it from its first response).
  void setScript(Script script);

  // True once at least `count` requests have been recorded.
  bool waitForRequests(std::size_t count, double timeoutSeconds) const;
  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;

  // True once the sink has stopped (by stop() or its time limit).
  bool waitUntilStopped(double timeoutSeconds) const;
  bool isRunning() const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
  int port_ = 0;
};

}  // namespace ingestion_sink

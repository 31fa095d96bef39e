#include "tools/ingestion-sink/IngestionSink.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Utf16.h"

namespace ingestion_sink {

using Json = nlohmann::json;

namespace {

constexpr std::size_t kMaxRequestBody = std::size_t{64} << 20;
constexpr int64_t kMaxDelayMs = 3'600'000;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

double secondsSince1970() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

constexpr int64_t kMaxRepeat = 100'000;

// `repeat` is set only where the caller allows the key (answers in the list).
std::optional<ScriptedResponse> responseFromJson(const Json& j, std::string* error, int64_t* repeat = nullptr) {
  auto fail = [&](std::string message) -> std::optional<ScriptedResponse> {
    if (error) *error = std::move(message);
    return std::nullopt;
  };
  if (!j.is_object()) return fail("a response must be an object");
  ScriptedResponse r;
  for (const auto& [key, value] : j.items()) {
    if (key == "drop") {
      if (!value.is_boolean()) return fail("\"drop\" must be true or false");
      r.drop = value.get<bool>();
      continue;
    }
    if (key == "repeat" && repeat) {
      if (!value.is_number_integer() || value.get<int64_t>() < 1 || value.get<int64_t>() > kMaxRepeat) {
        return fail("\"repeat\" must be an integer from 1 to 100000");
      }
      *repeat = value.get<int64_t>();
      continue;
    }
    if (key == "status") {
      if (!value.is_number_integer() || value.get<int64_t>() < 100 || value.get<int64_t>() > 999) {
        return fail("\"status\" must be an integer from 100 to 999");
      }
      r.status = value.get<int>();
    } else if (key == "headers") {
      if (!value.is_object()) return fail("\"headers\" must be an object of strings");
      for (const auto& [name, v] : value.items()) {
        if (!v.is_string()) return fail("header \"" + name + "\" must be a string");
        const auto& text = v.get_ref<const std::string&>();
        if (name.empty() || name.find_first_of(":\r\n") != std::string::npos ||
            text.find_first_of("\r\n") != std::string::npos) {
          return fail("header \"" + name + "\" is not a valid header field");
        }
        r.headers.emplace_back(name, text);
      }
    } else if (key == "body") {
      if (!value.is_string()) return fail("\"body\" must be a string");
      r.body = value.get<std::string>();
    } else if (key == "delayMs") {
      if (!value.is_number() || !std::isfinite(value.get<double>()) || value.get<double>() < 0 ||
          value.get<double>() > static_cast<double>(kMaxDelayMs)) {
        return fail("\"delayMs\" must be a number from 0 to 3600000");
      }
      r.delay = std::chrono::milliseconds(static_cast<int64_t>(value.get<double>()));
    } else {
      return fail("unknown response key \"" + key + "\"");
    }
  }
  return r;
}

}  // namespace

// ---------------------------------------------------------------------- Script

std::optional<Script> Script::fromJson(std::string_view text, std::string* error) {
  auto fail = [&](std::string message) -> std::optional<Script> {
    if (error) *error = std::move(message);
    return std::nullopt;
  };
  Json j = Json::parse(text.begin(), text.end(), nullptr, false);
  if (j.is_discarded()) return fail("the script is not valid JSON");

  Script script;
  const Json* list = nullptr;
  if (j.is_array()) {
    list = &j;
  } else if (j.is_object()) {
    for (const auto& [key, value] : j.items()) {
      if (key == "responses") {
        if (!value.is_array()) return fail("\"responses\" must be an array");
        list = &value;
      } else if (key == "default") {
        std::string why;
        auto fallback = responseFromJson(value, &why);
        if (!fallback) return fail("default: " + why);
        script.fallback = std::move(*fallback);
      } else {
        return fail("unknown script key \"" + key + "\"");
      }
    }
  } else {
    return fail("the script must be an object or an array");
  }
  if (list) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      std::string why;
      int64_t repeat = 1;
      auto response = responseFromJson((*list)[i], &why, &repeat);
      if (!response) return fail("response " + std::to_string(i) + ": " + why);
      script.responses.insert(script.responses.end(), static_cast<std::size_t>(repeat), *response);
    }
  }
  return script;
}

// ------------------------------------------------------------- RecordedRequest

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (equalsIgnoringCase(n, name)) return v;
  }
  return std::nullopt;
}

std::string RecordedRequest::toJsonLine() const {
  Json j = Json::object();
  j["seq"] = sequence;
  j["time"] = time;
  j["method"] = method;
  j["path"] = path;
  Json fields = Json::array();
  for (const auto& [n, v] : headers) fields.push_back(Json::array({n, v}));
  j["headers"] = std::move(fields);
  j["bodyLength"] = body.size();
  j["bodyBase64"] = ns::base64Encode(std::string_view(body));
  if (ns::isValidUtf8(body)) j["body"] = body;
  if (inflatedBody) {
    j["inflatedBase64"] = ns::base64Encode(std::string_view(*inflatedBody));
    if (ns::isValidUtf8(*inflatedBody)) j["inflated"] = *inflatedBody;
  }
  if (inflateError) j["inflateError"] = *inflateError;
  j["status"] = answeredStatus;
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<RecordedRequest> RecordedRequest::fromJsonLine(std::string_view line) {
  Json j = Json::parse(line.begin(), line.end(), nullptr, false);
  if (!j.is_object()) return std::nullopt;
  auto str = [&](const char* key) -> std::optional<std::string> {
    auto it = j.find(key);
    if (it == j.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  auto bytes = [&](const char* key) -> std::optional<std::string> {
    auto text = str(key);
    if (!text) return std::nullopt;
    auto data = ns::base64Decode(*text);
    if (!data) return std::nullopt;
    return std::string(data->begin(), data->end());
  };
  RecordedRequest r;
  auto method = str("method");
  auto path = str("path");
  auto body = bytes("bodyBase64");
  if (!method || !path || !body) return std::nullopt;
  r.method = *method;
  r.path = *path;
  r.body = *body;
  if (auto it = j.find("seq"); it != j.end() && it->is_number_unsigned()) r.sequence = it->get<uint64_t>();
  if (auto it = j.find("time"); it != j.end() && it->is_number()) r.time = it->get<double>();
  if (auto it = j.find("status"); it != j.end() && it->is_number_integer()) r.answeredStatus = it->get<int>();
  if (auto it = j.find("headers"); it != j.end() && it->is_array()) {
    for (const auto& pair : *it) {
      if (pair.is_array() && pair.size() == 2 && pair[0].is_string() && pair[1].is_string()) {
        r.headers.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
      }
    }
  }
  r.inflatedBody = bytes("inflatedBase64");
  r.inflateError = str("inflateError");
  return r;
}

std::vector<RecordedRequest> readLog(const std::string& path) {
  std::vector<RecordedRequest> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (auto r = RecordedRequest::fromJsonLine(line)) out.push_back(std::move(*r));
  }
  return out;
}

std::optional<std::string> gunzip(std::string_view data, std::string* error, std::size_t maxSize) {
  auto fail = [&](std::string message) -> std::optional<std::string> {
    if (error) *error = std::move(message);
    return std::nullopt;
  };
  z_stream zs{};
  if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) return fail("inflateInit2 failed");
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  std::string out;
  char buffer[16384];
  int rc = Z_OK;
  for (;;) {
    zs.next_out = reinterpret_cast<Bytef*>(buffer);
    zs.avail_out = sizeof buffer;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - zs.avail_out);
    if (out.size() > maxSize) {
      inflateEnd(&zs);
      return fail("the inflated body is larger than " + std::to_string(maxSize) + " bytes");
    }
    if (rc == Z_STREAM_END) {
      if (zs.avail_in == 0) break;
      // Concatenated gzip members inflate to the concatenation.
      if (inflateReset(&zs) != Z_OK) break;
      continue;
    }
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR && zs.avail_in == 0) {
      inflateEnd(&zs);
      return fail("the gzip stream is truncated");
    }
    std::string message = zs.msg ? zs.msg : "inflate failed (" + std::to_string(rc) + ")";
    inflateEnd(&zs);
    return fail(message);
  }
  inflateEnd(&zs);
  return out;
}

// ------------------------------------------------------------------------ Sink

namespace {

// The server inflates gzip bodies itself; the pre-routing hook hides the
// encoding from it (so the body arrives raw) after keeping the fields as sent.
thread_local httplib::Headers wireHeaders;
thread_local bool haveWireHeaders = false;

bool isServerAddedField(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

}  // namespace

struct Sink::Impl {
  explicit Impl(Options options) : options(std::move(options)), script(this->options.script) {}

  Options options;
  httplib::Server server;
  std::thread listener;
  std::thread watchdog;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<RecordedRequest> records;
  Script script;
  std::size_t scriptPosition = 0;
  std::FILE* log = nullptr;
  bool started = false;
  bool stopping = false;
  bool listenerDone = false;
  int port = 0;

  ~Impl() {
    if (log) std::fclose(log);
  }

  void handle(const httplib::Request& req, httplib::Response& res) {
    RecordedRequest r;
    r.method = req.method;
    r.path = req.target.empty() ? req.path : req.target;
    const httplib::Headers& fields = haveWireHeaders ? wireHeaders : req.headers;
    for (const auto& [name, value] : fields) {
      if (!isServerAddedField(name)) r.headers.emplace_back(name, value);
    }
    haveWireHeaders = false;
    r.body = req.body;
    if (auto encoding = r.header("Content-Encoding"); encoding && equalsIgnoringCase(trimmed(*encoding), "gzip")) {
      std::string why;
      r.inflatedBody = gunzip(r.body, &why);
      if (!r.inflatedBody) r.inflateError = why;
    }

    ScriptedResponse answer;
    {
      std::lock_guard lock(mutex);
      if (scriptPosition < script.responses.size()) {
        answer = script.responses[scriptPosition++];
      } else {
        answer = script.fallback;
      }
      r.sequence = records.size() + 1;
      r.time = secondsSince1970();
      r.answeredStatus = answer.drop ? 0 : answer.status;
      if (log) {
        const std::string line = r.toJsonLine() + "\n";
        std::fwrite(line.data(), 1, line.size(), log);
        std::fflush(log);
      }
      records.push_back(std::move(r));
    }
    changed.notify_all();

    if (answer.delay.count() > 0) {
      std::unique_lock lock(mutex);
      changed.wait_for(lock, answer.delay, [&] { return stopping; });
    }

    if (answer.drop) {
      dropConnection(req);
      return;
    }
    res.status = answer.status;
    std::string contentType = "text/plain; charset=utf-8";
    for (const auto& [name, value] : answer.headers) {
      if (equalsIgnoringCase(name, "Content-Type")) {
        contentType = value;
      } else {
        res.set_header(name, value);
      }
    }
    if (!answer.body.empty()) res.set_content(answer.body, contentType);
  }

  // The server does not hand its handlers the connection, so it is found by
  // its two ends and shut: the client sees it close without a byte of answer
  // (and what the server then writes goes nowhere).
  void dropConnection(const httplib::Request& req) const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ignored)) {
      int fd = -1;
      const std::string name = entry.path().filename().string();
      if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc()) continue;
      sockaddr_in local{};
      sockaddr_in peer{};
      socklen_t localLength = sizeof local;
      socklen_t peerLength = sizeof peer;
      if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 || local.sin_family != AF_INET ||
          ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 || peer.sin_family != AF_INET) {
        continue;
      }
      if (ntohs(local.sin_port) == port && ntohs(peer.sin_port) == req.remote_port) {
        ::shutdown(fd, SHUT_RDWR);
        return;
      }
    }
  }

  // Stops the server, also when it has not entered its accept loop yet (a
  // stop that early would otherwise be lost).
  void requestStop() {
    std::unique_lock lock(mutex);
    stopping = true;
    changed.notify_all();
    if (!started) return;
    while (!listenerDone) {
      lock.unlock();
      server.stop();
      lock.lock();
      changed.wait_for(lock, std::chrono::milliseconds(10), [&] { return listenerDone; });
    }
  }
};

Sink::Sink(Options options) : impl_(std::make_shared<Impl>(std::move(options))) {}

Sink::~Sink() { stop(); }

bool Sink::start(std::string* error) {
  auto fail = [&](std::string message) {
    if (error) *error = std::move(message);
    return false;
  };
  Impl& impl = *impl_;
  if (impl.started) return fail("the sink was already started");
  const double maxSeconds = impl.options.maxSeconds;
  if (!std::isfinite(maxSeconds) || maxSeconds <= 0) return fail("max seconds must be a positive number");
  if (impl.options.port < 0 || impl.options.port > 65535) return fail("the port must be from 0 to 65535");

  if (!impl.options.logPath.empty()) {
    impl.log = std::fopen(impl.options.logPath.c_str(), "a");
    if (!impl.log) return fail("cannot open the log " + impl.options.logPath);
  }

  httplib::Server& server = impl.server;
  server.set_payload_max_length(kMaxRequestBody);
  server.set_keep_alive_timeout(2);
  server.set_read_timeout(10);
  server.set_write_timeout(10);
  // The library's default also sets SO_REUSEPORT, which would let a second
  // server share the port and take part of the traffic.
  server.set_socket_options([](int sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
    wireHeaders = req.headers;
    haveWireHeaders = true;
    // The request object is the server's own, non-const one.
    const_cast<httplib::Request&>(req).headers.erase("Content-Encoding");
    return httplib::Server::HandlerResponse::Unhandled;
  });
  Impl* raw = impl_.get();
  auto handler = [raw](const httplib::Request& req, httplib::Response& res) { raw->handle(req, res); };
  server.Get(".*", handler);
  server.Post(".*", handler);
  server.Put(".*", handler);
  server.Patch(".*", handler);
  server.Delete(".*", handler);
  server.Options(".*", handler);

  int port = impl.options.port;
  if (port == 0) {
    port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) return fail("cannot bind a port on 127.0.0.1");
  } else if (!server.bind_to_port("127.0.0.1", port)) {
    return fail("cannot bind 127.0.0.1:" + std::to_string(port));
  }
  port_ = port;
  impl.port = port;

  {
    std::lock_guard lock(impl.mutex);
    impl.started = true;
  }
  impl.listener = std::thread([raw] {
    raw->server.listen_after_bind();
    {
      std::lock_guard lock(raw->mutex);
      raw->listenerDone = true;
    }
    raw->changed.notify_all();
  });
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(std::min(maxSeconds, 1e9)));
  impl.watchdog = std::thread([raw, deadline] {
    {
      std::unique_lock lock(raw->mutex);
      raw->changed.wait_until(lock, deadline, [&] { return raw->stopping; });
    }
    raw->requestStop();
  });
  return true;
}

void Sink::stop() {
  Impl& impl = *impl_;
  impl.requestStop();
  if (impl.listener.joinable()) impl.listener.join();
  if (impl.watchdog.joinable()) impl.watchdog.join();
}

std::string Sink::baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

void Sink::setScript(Script script) {
  std::lock_guard lock(impl_->mutex);
  impl_->script = std::move(script);
  impl_->scriptPosition = 0;
}

bool Sink::waitForRequests(std::size_t count, double timeoutSeconds) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                 [&] { return impl_->records.size() >= count; });
}

std::vector<RecordedRequest> Sink::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->records;
}

std::size_t Sink::requestCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->records.size();
}

bool Sink::waitUntilStopped(double timeoutSeconds) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                 [&] { return !impl_->started || impl_->listenerDone; });
}

bool Sink::isRunning() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->started && !impl_->listenerDone;
}

}  // namespace ingestion_sink

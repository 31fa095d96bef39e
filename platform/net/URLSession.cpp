#include "platform/net/URLSession.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/net/URLError.h"

namespace net {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kPlatformDefaultTimeout = 60.0;
constexpr double kDefaultResourceTimeout = 7.0 * 24 * 3600;
constexpr long kMaxRedirects = 16;
// Larger bodies fail with NSURLErrorDataLengthExceedsMaximum instead of
// exhausting memory.
constexpr std::size_t kMaxResponseBytes = 256u << 20;
// Upper bound of one wait on the sockets, so deadlines are checked even when
// libcurl has nothing to say.
constexpr int kMaxPollMilliseconds = 1000;

std::atomic<uint64_t> nextTaskIdentifier{1};

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

double effectiveTimeout(double requested, double fallback, double platformDefault) {
  if (std::isfinite(requested) && requested > 0) return requested;
  if (std::isfinite(fallback) && fallback > 0) return fallback;
  return platformDefault;
}

bool isTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool isToken(std::string_view s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](char c) { return isTokenChar(static_cast<unsigned char>(c)); });
}

bool isFieldValue(std::string_view s) {
  return std::none_of(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

std::string_view trimmedWhitespace(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// Fields libcurl must own: it frames the body itself, and a caller's copy
// could contradict what is actually sent.
bool isReservedField(std::string_view name) {
  for (std::string_view reserved : {"Content-Length", "Transfer-Encoding", "Connection", "Expect", "Host"}) {
    if (HTTPHeaderFields::namesEqual(name, reserved)) return true;
  }
  return false;
}

// Proxies from the environment are honoured, but loopback never goes through one.
std::string noProxyList() {
  std::string list;
  for (const char* var : {"no_proxy", "NO_PROXY"}) {
    if (const char* v = std::getenv(var); v && *v) {
      list = v;
      break;
    }
  }
  if (!list.empty()) list += ",";
  return list + "localhost,127.0.0.1,::1";
}

ns::Error cancelledError(const URLRequest& request, std::string_view why) {
  return makeURLError(ns::NSURLErrorCancelled, request.url().absoluteString(), why);
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

struct Origin {
  std::string scheme;
  std::string host;
  int port = 0;
  friend bool operator==(const Origin&, const Origin&) = default;
};

Origin originOf(const ns::URL& url) {
  Origin origin{lower(url.scheme().value_or("")), lower(url.host().value_or("")), 0};
  origin.port = url.port().value_or(origin.scheme == "https" ? 443 : origin.scheme == "http" ? 80 : 0);
  return origin;
}

bool isRedirectStatus(int64_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// What may go along to another origin: the description of the body and of
// what the client takes in return.
bool travelsToOtherOrigins(std::string_view name) {
  for (std::string_view kept :
       {"Accept", "Accept-Language", "Content-Type", "Content-Encoding", "Content-Language", "User-Agent"}) {
    if (HTTPHeaderFields::namesEqual(name, kept)) return true;
  }
  return false;
}

bool describesBody(std::string_view name) {
  for (std::string_view field : {"Content-Type", "Content-Encoding", "Content-Language", "Content-Length"}) {
    if (HTTPHeaderFields::namesEqual(name, field)) return true;
  }
  return false;
}

}  // namespace

RedirectOutcome redirectedRequest(const URLRequest& original, const URLRequest& current, int64_t statusCode,
                                  const ns::URL& location) {
  if (!isRedirectStatus(statusCode)) return {};
  const std::string from = lower(current.url().scheme().value_or(""));
  const std::string to = lower(location.scheme().value_or(""));
  if (to != "http" && to != "https") return {std::nullopt, ns::NSURLErrorUnsupportedURL, {}};
  if (from == "https" && to == "http")
    return {std::nullopt, ns::NSURLErrorAppTransportSecurityRequiresSecureConnection, {}};

  const std::string method = upper(current.HTTPMethod());
  if (method != "GET" && method != "HEAD" && statusCode < 307) {
    // Re-sent as GET without its body, an upload would be taken as delivered
    // by whatever answers there (a captive portal's page, for one).
    return {std::nullopt, ns::NSURLErrorBadServerResponse,
            "Redirect of a " + method + " refused: a " + std::to_string(statusCode) + " to " +
                location.absoluteString() +
                " may turn it into a GET without its body; only 307 and 308 keep the method and the body."};
  }
  URLRequest next = current;
  next.setURL(location);
  if (statusCode == 303 && method == "GET") next.setHTTPBody(std::nullopt);
  // Every hop starts again from the caller's own fields, so a return to the
  // original origin gets them back.
  HTTPHeaderFields fields;
  const bool sameOrigin = originOf(location) == originOf(original.url());
  for (const auto& [name, value] : original.allHTTPHeaderFields()) {
    if (!sameOrigin && !travelsToOtherOrigins(name)) continue;
    if (!next.HTTPBody() && describesBody(name)) continue;
    fields.set(name, value);
  }
  next.setAllHTTPHeaderFields(std::move(fields));
  return {std::move(next), 0, {}};
}

// ------------------------------------------------------------------- Engine

struct URLSessionDataTask::Engine : std::enable_shared_from_this<Engine> {
  struct Transfer {
    Transfer(std::shared_ptr<URLSessionDataTask> task, URLRequest request, long redirects)
        : task(std::move(task)), request(std::move(request)), redirects(redirects) {}
    std::shared_ptr<URLSessionDataTask> task;
    // This hop: the task's request, or where a redirect led.
    URLRequest request;
    long redirects = 0;
    CURL* easy = nullptr;
    curl_slist* fields = nullptr;
    ns::Data body;
    ns::Data received;
    HTTPHeaderFields responseFields;
    std::string responseVersion;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    Clock::time_point lastActivity = Clock::now();
    Clock::duration idleTimeout{};
    curl_off_t lastDownloaded = 0;
    curl_off_t lastUploaded = 0;
    bool tooLarge = false;

    ~Transfer() {
      if (easy) curl_easy_cleanup(easy);
      if (fields) curl_slist_free_all(fields);
    }
    void touch() { lastActivity = Clock::now(); }
  };

  struct Command {
    enum class Kind { Add, Abandon } kind;
    std::shared_ptr<URLSessionDataTask> task;
    uint64_t identifier = 0;
  };

  explicit Engine(const URLSessionConfiguration& configuration) : configuration(configuration) {
    initialiseCurlOnce();
    multi = curl_multi_init();
    if (multi && configuration.HTTPMaximumConnectionsPerHost > 0) {
      curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                        static_cast<long>(std::min<int64_t>(configuration.HTTPMaximumConnectionsPerHost, 1 << 20)));
    }
  }

  ~Engine() {
    for (auto& [id, transfer] : active) curl_multi_remove_handle(multi, transfer->easy);
    active.clear();
    if (multi) curl_multi_cleanup(multi);
  }

  void start() {
    if (!multi) return;  // every submit fails, so tasks complete as cancelled
    auto self = shared_from_this();
    thread = std::thread([self] { self->run(); });
  }

  // --- any thread

  void registerTask(const std::shared_ptr<URLSessionDataTask>& task) {
    std::lock_guard lock(mutex);
    if (!invalidated) outstanding.emplace(task->taskIdentifier(), task);
  }

  void forget(uint64_t identifier) {
    std::lock_guard lock(mutex);
    outstanding.erase(identifier);
  }

  bool submit(std::shared_ptr<URLSessionDataTask> task) {
    {
      std::lock_guard lock(mutex);
      if (invalidated || !multi) return false;
      commands.push_back({Command::Kind::Add, std::move(task), 0});
    }
    curl_multi_wakeup(multi);
    return true;
  }

  void abandon(uint64_t identifier) {
    {
      std::lock_guard lock(mutex);
      commands.push_back({Command::Kind::Abandon, nullptr, identifier});
    }
    if (multi) curl_multi_wakeup(multi);
  }

  void invalidate(bool cancelRunning) {
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    {
      std::lock_guard lock(mutex);
      invalidated = true;
      for (auto& [id, task] : outstanding) tasks.push_back(task);
    }
    if (multi) curl_multi_wakeup(multi);
    for (auto& task : tasks) {
      if (cancelRunning || task->state() == URLSessionTaskState::Suspended) task->cancel();
    }
  }

  bool isInvalidated() {
    std::lock_guard lock(mutex);
    return invalidated;
  }

  std::size_t outstandingCount() {
    std::lock_guard lock(mutex);
    return outstanding.size();
  }

  bool hasWork() {
    std::lock_guard lock(mutex);
    return !commands.empty() || activeCount.load() > 0;
  }

  // Called when the session object goes away: wait for the thread only when
  // it is about to end anyway; otherwise it finishes its transfers on its own
  // and keeps the engine alive until then.
  void release() {
    if (!thread.joinable()) return;
    if (std::this_thread::get_id() != thread.get_id() && !hasWork()) {
      thread.join();
    } else {
      thread.detach();
    }
  }

  // --- network thread

  void run() {
    for (;;) {
      std::deque<Command> pending;
      {
        std::lock_guard lock(mutex);
        pending.swap(commands);
      }
      for (auto& command : pending) {
        if (command.kind == Command::Kind::Add) {
          add(std::move(command.task));
        } else {
          remove(command.identifier);
        }
      }

      int running = 0;
      curl_multi_perform(multi, &running);
      collectFinished();
      expireIdle();
      activeCount.store(active.size());

      {
        std::lock_guard lock(mutex);
        if (invalidated && commands.empty() && active.empty()) break;
      }
      curl_multi_poll(multi, nullptr, 0, pollTimeout(), nullptr);
    }
  }

  int pollTimeout() const {
    auto wait = std::chrono::milliseconds(kMaxPollMilliseconds);
    const auto now = Clock::now();
    for (const auto& [id, transfer] : active) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(transfer->lastActivity + transfer->idleTimeout - now);
      wait = std::min(wait, std::max(left, std::chrono::milliseconds(0)));
    }
    return static_cast<int>(wait.count());
  }

  void add(std::shared_ptr<URLSessionDataTask> task) {
    if (task->state() == URLSessionTaskState::Completed) return;  // cancelled before it got here
    URLRequest request = task->originalRequest();
    startTransfer(std::move(task), std::move(request), 0);
  }

  void startTransfer(std::shared_ptr<URLSessionDataTask> task, URLRequest hop, long redirects) {
    auto transfer = std::make_unique<Transfer>(task, std::move(hop), redirects);
    const URLRequest& request = transfer->request;
    const std::string url = request.url().absoluteString();

    auto fail = [&](int64_t code, std::string_view why) {
      task->complete(std::nullopt, nullptr, makeURLError(code, url, why));
    };

    const auto& scheme = request.url().scheme();
    const std::string schemeName = scheme ? upper(*scheme) : std::string();
    if (schemeName != "HTTP" && schemeName != "HTTPS") {
      fail(scheme ? ns::NSURLErrorUnsupportedURL : ns::NSURLErrorBadURL, "only http and https URLs are supported");
      return;
    }
    const std::string method = upper(request.HTTPMethod());
    if (!isToken(method)) {
      fail(ns::NSURLErrorUnknown, "invalid HTTP method \"" + request.HTTPMethod() + "\"");
      return;
    }

    // Header fields: the request's, then the session's additional ones.
    HTTPHeaderFields fields = request.allHTTPHeaderFields();
    for (const auto& [name, value] : configuration.HTTPAdditionalHeaders) {
      if (!fields.contains(name)) fields.set(name, value);
    }
    for (const auto& [name, value] : fields) {
      if (!isToken(name) || !isFieldValue(value)) {
        fail(ns::NSURLErrorUnknown, "invalid header field \"" + name + "\"");
        return;
      }
      if (isReservedField(name)) continue;
      // "Name:" would tell libcurl to drop the field; "Name;" sends it empty.
      std::string line = value.empty() ? name + ";" : name + ": " + value;
      transfer->fields = curl_slist_append(transfer->fields, line.c_str());
    }
    transfer->fields = curl_slist_append(transfer->fields, "Expect:");
    const bool hasBody = request.HTTPBody().has_value();
    if (hasBody && !fields.contains("Content-Type")) {
      // Otherwise libcurl labels every body as a form.
      transfer->fields = curl_slist_append(transfer->fields, "Content-Type:");
    }

    CURL* easy = curl_easy_init();
    if (!easy || !transfer->fields) {
      fail(ns::NSURLErrorUnknown, "out of memory");
      return;
    }
    transfer->easy = easy;
    Transfer* t = transfer.get();

    curl_easy_setopt(easy, CURLOPT_PRIVATE, t);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Redirects are followed here, hop by hop, so that every hop's fields
    // can be chosen (libcurl would send custom fields to any host).
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    const std::string noProxy = noProxyList();
    curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.c_str());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t->errorBuffer);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t->fields);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Engine::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Engine::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Engine::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, t);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

    const double idle =
        effectiveTimeout(request.timeoutInterval(), configuration.timeoutIntervalForRequest, kPlatformDefaultTimeout);
    const double total = effectiveTimeout(configuration.timeoutIntervalForResource, 0, kDefaultResourceTimeout);
    t->idleTimeout = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::min(idle, total)));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::min(total, 1e9) * 1000));

    if (hasBody) {
      t->body = *request.HTTPBody();
      static const char kEmpty[] = "";
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t->body.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS,
                       t->body.empty() ? kEmpty : reinterpret_cast<const char*>(t->body.data()));
      if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "GET") {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method == "POST") {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
    } else {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    t->touch();
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
      fail(ns::NSURLErrorUnknown, "the transfer could not be started");
      return;
    }
    active.emplace(task->taskIdentifier(), std::move(transfer));
  }

  void remove(uint64_t identifier) {
    auto it = active.find(identifier);
    if (it == active.end()) return;
    curl_multi_remove_handle(multi, it->second->easy);
    active.erase(it);
  }

  void collectFinished() {
    std::vector<std::pair<Transfer*, CURLcode>> done;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      Transfer* t = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
      if (t) done.emplace_back(t, message->data.result);
    }
    for (auto [t, result] : done) finish(t, result);
  }

  void finish(Transfer* t, CURLcode result) {
    auto task = t->task;
    const URLRequest& request = task->originalRequest();
    if (result == CURLE_OK) {
      long status = 0;
      curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
      if (followRedirect(t, status)) return;
      char* effective = nullptr;
      curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &effective);
      std::optional<ns::URL> url = effective ? ns::URL::URLWithString(effective) : std::nullopt;
      auto response = std::make_shared<HTTPURLResponse>(url.value_or(request.url()), status, t->responseVersion,
                                                        std::move(t->responseFields));
      ns::Data body = std::move(t->received);
      remove(task->taskIdentifier());
      task->complete(std::move(body), std::move(response), std::nullopt);
      return;
    }
    long osErrno = 0;
    long verifyResult = 0;
    curl_easy_getinfo(t->easy, CURLINFO_OS_ERRNO, &osErrno);
    curl_easy_getinfo(t->easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    int64_t code =
        t->tooLarge ? ns::NSURLErrorDataLengthExceedsMaximum : URLErrorCodeForCurlCode(result, osErrno, verifyResult);
    // The scheme was checked up front, so this is an answer without a status
    // line (HTTP/0.9, or TLS bytes from a TLS-only port), not an unsupported URL.
    if (result == CURLE_UNSUPPORTED_PROTOCOL &&
        std::string_view(t->errorBuffer).find("HTTP/0.9") != std::string_view::npos) {
      code = ns::NSURLErrorBadServerResponse;
    }
    std::string debug = t->errorBuffer[0] ? t->errorBuffer : curl_easy_strerror(result);
    debug = "curl error " + std::to_string(static_cast<int>(result)) + ": " + debug;
    remove(task->taskIdentifier());
    task->complete(std::nullopt, nullptr, makeURLError(code, request.url().absoluteString(), debug));
  }

  // Goes on to where a redirect answer points, or fails the task when that
  // hop is not allowed. False when the answer stands as the response.
  bool followRedirect(Transfer* t, long status) {
    char* target = nullptr;
    if (!isRedirectStatus(status) || curl_easy_getinfo(t->easy, CURLINFO_REDIRECT_URL, &target) != CURLE_OK ||
        !target) {
      return false;
    }
    std::optional<ns::URL> location = ns::URL::URLWithString(target);
    if (!location) return false;
    auto task = t->task;
    const long redirects = t->redirects + 1;
    const std::string from = t->request.url().absoluteString();
    RedirectOutcome next = redirectedRequest(task->originalRequest(), t->request, status, *location);
    remove(task->taskIdentifier());  // t is gone from here on
    if (redirects > kMaxRedirects) next = {std::nullopt, ns::NSURLErrorHTTPTooManyRedirects, {}};
    if (!next.request) {
      const std::string why = "redirect from " + from + " to " + location->absoluteString() + " refused";
      ns::Error error = makeURLError(next.errorCode, location->absoluteString(), why);
      if (!next.description.empty()) error.userInfo[ns::NSLocalizedDescriptionKey] = next.description;
      task->complete(std::nullopt, nullptr, std::move(error));
      return true;
    }
    startTransfer(std::move(task), std::move(*next.request), redirects);
    return true;
  }

  void expireIdle() {
    const auto now = Clock::now();
    std::vector<uint64_t> expired;
    for (const auto& [id, transfer] : active) {
      if (now - transfer->lastActivity >= transfer->idleTimeout) expired.push_back(id);
    }
    for (uint64_t id : expired) {
      auto task = active[id]->task;
      remove(id);
      task->complete(std::nullopt, nullptr,
                     makeURLError(ns::NSURLErrorTimedOut, task->originalRequest().url().absoluteString(),
                                  "no data within the request's timeout interval"));
    }
  }

  static size_t onHeader(char* buffer, size_t size, size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    const size_t length = size * count;
    t->touch();
    std::string_view line = trimmedWhitespace(std::string_view(buffer, length));
    if (line.starts_with("HTTP/")) {
      // A new response head (after a redirect or an interim 1xx) replaces the last.
      t->responseFields.clear();
      t->responseVersion = std::string(line.substr(0, line.find(' ')));
    } else if (auto colon = line.find(':'); colon != std::string_view::npos && colon > 0) {
      t->responseFields.add(trimmedWhitespace(line.substr(0, colon)), trimmedWhitespace(line.substr(colon + 1)));
    }
    return length;
  }

  static size_t onBody(char* buffer, size_t size, size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    const size_t length = size * count;
    t->touch();
    t->task->countOfBytesReceived_.fetch_add(static_cast<int64_t>(length));
    const std::size_t taskLimit = t->task->maximumResponseBytes();
    const std::size_t limit = taskLimit > 0 ? std::min(taskLimit, kMaxResponseBytes) : kMaxResponseBytes;
    if (t->received.size() + length > limit) {
      t->tooLarge = true;
      return 0;
    }
    t->received.insert(t->received.end(), reinterpret_cast<uint8_t*>(buffer),
                       reinterpret_cast<uint8_t*>(buffer) + length);
    return length;
  }

  static int onProgress(void* userdata, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto* t = static_cast<Transfer*>(userdata);
    if (downloaded != t->lastDownloaded || uploaded != t->lastUploaded) {
      t->lastDownloaded = downloaded;
      t->lastUploaded = uploaded;
      t->touch();
    }
    return 0;
  }

  const URLSessionConfiguration configuration;
  CURLM* multi = nullptr;
  std::thread thread;

  std::mutex mutex;
  std::deque<Command> commands;
  bool invalidated = false;
  std::unordered_map<uint64_t, std::shared_ptr<URLSessionDataTask>> outstanding;
  std::atomic<std::size_t> activeCount{0};

  // Network thread only.
  std::unordered_map<uint64_t, std::unique_ptr<Transfer>> active;
};

// ------------------------------------------------------------ URLSessionDataTask

URLSessionDataTask::URLSessionDataTask(uint64_t identifier, URLRequest request, DataTaskCompletionHandler handler,
                                       std::weak_ptr<Engine> engine, std::shared_ptr<dispatch::Queue> delegateQueue)
    : identifier_(identifier),
      request_(std::move(request)),
      engine_(std::move(engine)),
      delegateQueue_(std::move(delegateQueue)),
      handler_(std::move(handler)) {}

URLSessionDataTask::~URLSessionDataTask() = default;

URLSessionTaskState URLSessionDataTask::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::shared_ptr<const HTTPURLResponse> URLSessionDataTask::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}

std::optional<ns::Error> URLSessionDataTask::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

void URLSessionDataTask::resume() {
  {
    std::lock_guard lock(mutex_);
    if (state_ != URLSessionTaskState::Suspended) return;
    state_ = URLSessionTaskState::Running;
  }
  auto engine = engine_.lock();
  if (!engine || !engine->submit(shared_from_this())) {
    complete(std::nullopt, nullptr, cancelledError(request_, "the session was invalidated"));
  }
}

void URLSessionDataTask::cancel() {
  bool wasRunning = false;
  {
    std::lock_guard lock(mutex_);
    if (state_ == URLSessionTaskState::Completed) return;
    wasRunning = state_ == URLSessionTaskState::Running;
    state_ = URLSessionTaskState::Canceling;
  }
  if (complete(std::nullopt, nullptr, cancelledError(request_, "the task was cancelled")) && wasRunning) {
    if (auto engine = engine_.lock()) engine->abandon(identifier_);
  }
}

bool URLSessionDataTask::complete(std::optional<ns::Data> data, std::shared_ptr<const HTTPURLResponse> response,
                                  std::optional<ns::Error> error) {
  DataTaskCompletionHandler handler;
  {
    std::lock_guard lock(mutex_);
    if (state_ == URLSessionTaskState::Completed) return false;
    state_ = URLSessionTaskState::Completed;
    response_ = response;
    error_ = error;
    handler = std::move(handler_);
    handler_ = nullptr;
  }
  if (handler) {
    delegateQueue_->async(
        [handler = std::move(handler), data = std::move(data), response = std::move(response),
         error = std::move(error)]() mutable { handler(std::move(data), std::move(response), std::move(error)); });
  }
  if (auto engine = engine_.lock()) engine->forget(identifier_);
  return true;
}

// ------------------------------------------------------------------ URLSession

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(URLSessionConfiguration configuration,
                                                                 std::shared_ptr<dispatch::Queue> delegateQueue) {
  return std::shared_ptr<URLSession>(new URLSession(std::move(configuration), std::move(delegateQueue)));
}

URLSession::URLSession(URLSessionConfiguration configuration, std::shared_ptr<dispatch::Queue> delegateQueue)
    : configuration_(std::move(configuration)),
      delegateQueue_(delegateQueue ? std::move(delegateQueue)
                                   : dispatch::Queue::makeSerial("com.morvalent.net.URLSession.delegate")),
      engine_(std::make_shared<URLSessionDataTask::Engine>(configuration_)) {
  engine_->start();
}

URLSession::~URLSession() {
  invalidate(false);
  engine_->release();
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithRequest(const URLRequest& request,
                                                                    DataTaskCompletionHandler completionHandler) {
  auto task = std::shared_ptr<URLSessionDataTask>(new URLSessionDataTask(
      nextTaskIdentifier.fetch_add(1), request, std::move(completionHandler), engine_, delegateQueue_));
  engine_->registerTask(task);
  return task;
}

void URLSession::finishTasksAndInvalidate() { invalidate(false); }

void URLSession::invalidateAndCancel() { invalidate(true); }

void URLSession::invalidate(bool cancelRunning) { engine_->invalidate(cancelRunning); }

bool URLSession::isInvalidated() const { return engine_->isInvalidated(); }

std::size_t URLSession::outstandingTaskCount() const { return engine_->outstandingCount(); }

}  // namespace net

#include "platform/net/URLRequest.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace net {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Without leading and trailing spaces and tabs.
std::string_view trimmedBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

HTTPHeaderFields::HTTPHeaderFields(std::initializer_list<Field> fields) {
  for (const auto& [name, value] : fields) set(name, value);
}

bool HTTPHeaderFields::namesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

const HTTPHeaderFields::Field* HTTPHeaderFields::find(std::string_view name) const {
  for (const auto& field : fields_) {
    if (namesEqual(field.first, name)) return &field;
  }
  return nullptr;
}

HTTPHeaderFields::Field* HTTPHeaderFields::find(std::string_view name) {
  return const_cast<Field*>(std::as_const(*this).find(name));
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const {
  if (const Field* f = find(name)) return f->second;
  return std::nullopt;
}

void HTTPHeaderFields::set(std::string_view name, std::string value) {
  if (Field* f = find(name)) {
    f->second = std::move(value);
  } else {
    fields_.emplace_back(std::string(name), std::move(value));
  }
}

void HTTPHeaderFields::add(std::string_view name, std::string_view value) {
  if (Field* f = find(name)) {
    f->second.append(", ").append(value);
  } else {
    fields_.emplace_back(std::string(name), std::string(value));
  }
}

bool HTTPHeaderFields::remove(std::string_view name) {
  auto it = std::find_if(fields_.begin(), fields_.end(), [&](const Field& f) { return namesEqual(f.first, name); });
  if (it == fields_.end()) return false;
  fields_.erase(it);
  return true;
}

// ------------------------------------------------------------------ URLRequest

URLRequest::URLRequest(ns::URL url, URLRequestCachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), timeoutInterval_(timeoutInterval), cachePolicy_(cachePolicy) {}

void URLRequest::setHTTPMethod(std::string method) {
  // An empty method would otherwise reach the wire as a malformed request line.
  method_ = method.empty() ? std::string("GET") : std::move(method);
}

void URLRequest::setValue(std::optional<std::string> value, std::string_view forHTTPHeaderField) {
  if (value) {
    headers_.set(forHTTPHeaderField, std::move(*value));
  } else {
    headers_.remove(forHTTPHeaderField);
  }
}

void URLRequest::addValue(std::string_view value, std::string_view forHTTPHeaderField) {
  headers_.add(forHTTPHeaderField, value);
}

// ------------------------------------------------------------- HTTPURLResponse

HTTPURLResponse::HTTPURLResponse(ns::URL url, int64_t statusCode, std::string HTTPVersion,
                                 HTTPHeaderFields headerFields)
    : url_(std::move(url)),
      statusCode_(statusCode),
      version_(std::move(HTTPVersion)),
      headers_(std::move(headerFields)) {}

int64_t HTTPURLResponse::expectedContentLength() const {
  auto text = headers_.value("Content-Length");
  if (!text) return -1;
  std::string_view t = trimmedBlanks(*text);
  int64_t n = -1;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
  if (ec != std::errc() || ptr != t.data() + t.size() || n < 0) return -1;
  return n;
}

std::optional<std::string> HTTPURLResponse::MIMEType() const {
  auto type = headers_.value("Content-Type");
  if (!type) return std::nullopt;
  std::string_view t(*type);
  t = trimmedBlanks(t.substr(0, t.find(';')));
  if (t.empty()) return std::nullopt;
  std::string out(t);
  std::transform(out.begin(), out.end(), out.begin(), lower);
  return out;
}

std::string HTTPURLResponse::localizedStringForStatusCode(int64_t statusCode) {
  switch (statusCode) {
    case 100:
      return "continue";
    case 101:
      return "switching protocols";
    case 200:
      return "no error";
    case 201:
      return "created";
    case 202:
      return "accepted";
    case 203:
      return "non-authoritative information";
    case 204:
      return "no content";
    case 205:
      return "reset content";
    case 206:
      return "partial content";
    case 300:
      return "multiple choices";
    case 301:
      return "moved permanently";
    case 302:
      return "found";
    case 303:
      return "see other";
    case 304:
      return "not modified";
    case 307:
      return "temporary redirect";
    case 308:
      return "permanent redirect";
    case 400:
      return "bad request";
    case 401:
      return "unauthorized";
    case 402:
      return "payment required";
    case 403:
      return "forbidden";
    case 404:
      return "not found";
    case 405:
      return "method not allowed";
    case 406:
      return "unacceptable";
    case 408:
      return "request timed out";
    case 409:
      return "conflict";
    case 410:
      return "no longer exists";
    case 411:
      return "length required";
    case 413:
      return "request too large";
    case 414:
      return "requested URL too long";
    case 415:
      return "unsupported media type";
    case 429:
      return "too many requests";
    case 500:
      return "internal server error";
    case 501:
      return "unimplemented";
    case 502:
      return "bad gateway";
    case 503:
      return "service unavailable";
    case 504:
      return "gateway timed out";
    case 505:
      return "unsupported version";
    default:
      break;
  }
  if (statusCode >= 100 && statusCode < 200) return "informational";
  if (statusCode >= 200 && statusCode < 300) return "success";
  if (statusCode >= 300 && statusCode < 400) return "redirected";
  if (statusCode >= 400 && statusCode < 500) return "client error";
  if (statusCode >= 500 && statusCode < 600) return "server error";
  return "unknown";
}

}  // namespace net

#pragma once
// NSURLRequest (mutable, as NSMutableURLRequest) and NSHTTPURLResponse
// stand-ins, with the header-field list both of them use.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace net {

// HTTP header fields in the order they were first set. Names compare without
// regard to letter case, as HTTP says; the spelling first used is kept.
class HTTPHeaderFields {
 public:
  using Field = std::pair<std::string, std::string>;

  HTTPHeaderFields() = default;
  HTTPHeaderFields(std::initializer_list<Field> fields);

  std::optional<std::string> value(std::string_view name) const;
  bool contains(std::string_view name) const { return find(name) != nullptr; }
  // Replaces the value of an existing field (keeping its place), else appends.
  void set(std::string_view name, std::string value);
  // Appends to an existing field's value after ", " (how repeated fields
  // combine), else adds the field.
  void add(std::string_view name, std::string_view value);
  bool remove(std::string_view name);
  void clear() { fields_.clear(); }

  const std::vector<Field>& fields() const { return fields_; }
  std::size_t size() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }
  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }

  static bool namesEqual(std::string_view a, std::string_view b);

  friend bool operator==(const HTTPHeaderFields& a, const HTTPHeaderFields& b) { return a.fields_ == b.fields_; }

 private:
  const Field* find(std::string_view name) const;
  Field* find(std::string_view name);
  std::vector<Field> fields_;
};

enum class URLRequestCachePolicy {
  UseProtocolCachePolicy = 0,
  ReloadIgnoringLocalCacheData = 1,
  ReturnCacheDataElseLoad = 2,
  ReturnCacheDataDontLoad = 3,
};

// A request as a value. Nothing here is cached, so the cache policy is kept
// for callers that read it back and has no other effect.
class URLRequest {
 public:
  static constexpr double kDefaultTimeoutInterval = 60.0;

  explicit URLRequest(ns::URL url, URLRequestCachePolicy cachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy,
                      double timeoutInterval = kDefaultTimeoutInterval);

  const ns::URL& url() const { return url_; }
  void setURL(ns::URL url) { url_ = std::move(url); }

  // "GET" until set. Set as given; the transport sends methods in upper case.
  const std::string& HTTPMethod() const { return method_; }
  void setHTTPMethod(std::string method);

  const HTTPHeaderFields& allHTTPHeaderFields() const { return headers_; }
  void setAllHTTPHeaderFields(HTTPHeaderFields fields) { headers_ = std::move(fields); }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const { return headers_.value(field); }
  // nullopt removes the field.
  void setValue(std::optional<std::string> value, std::string_view forHTTPHeaderField);
  void addValue(std::string_view value, std::string_view forHTTPHeaderField);

  const std::optional<ns::Data>& HTTPBody() const { return body_; }
  void setHTTPBody(std::optional<ns::Data> body) { body_ = std::move(body); }

  // Seconds without any progress after which the request fails with
  // NSURLErrorTimedOut. Zero or less means the session's default, never
  // "wait forever".
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }

  URLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(URLRequestCachePolicy policy) { cachePolicy_ = policy; }

  // The transport keeps no cookie store at all; the flag is kept for callers
  // that read it back. A "Cookie" field set by hand is sent as it is.
  bool HTTPShouldHandleCookies() const { return shouldHandleCookies_; }
  void setHTTPShouldHandleCookies(bool handle) { shouldHandleCookies_ = handle; }

 private:
  ns::URL url_;
  std::string method_ = "GET";
  HTTPHeaderFields headers_;
  std::optional<ns::Data> body_;
  double timeoutInterval_;
  URLRequestCachePolicy cachePolicy_;
  bool shouldHandleCookies_ = true;
};

class HTTPURLResponse {
 public:
  HTTPURLResponse(ns::URL url, int64_t statusCode, std::string HTTPVersion, HTTPHeaderFields headerFields);

  // The URL that answered (after redirects).
  const ns::URL& url() const { return url_; }
  int64_t statusCode() const { return statusCode_; }
  // "HTTP/1.1", "HTTP/2"...
  const std::string& HTTPVersion() const { return version_; }
  // Repeated fields are combined into one, their values joined by ", ".
  const HTTPHeaderFields& allHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const { return headers_.value(field); }
  // From "Content-Length"; -1 when absent or not a number.
  int64_t expectedContentLength() const;
  // The media type of "Content-Type", lower case, without parameters.
  std::optional<std::string> MIMEType() const;

  static std::string localizedStringForStatusCode(int64_t statusCode);

 private:
  ns::URL url_;
  int64_t statusCode_;
  std::string version_;
  HTTPHeaderFields headers_;
};

}  // namespace net

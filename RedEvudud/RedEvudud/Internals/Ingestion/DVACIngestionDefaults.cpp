#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionDefaults.h"

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "platform/foundation/URL.h"

#ifndef MORVALENT_DEFAULT_INGESTION_URL
#define MORVALENT_DEFAULT_INGESTION_URL "https://in.redevudud.example"
#endif

namespace {

std::mutex& cacheMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<std::string>& cachedUrl() {
  static auto* url = new std::optional<std::string>();
  return *url;
}

bool isHttpURL(const std::string& text) {
  auto url = ns::URL::URLWithString(text);
  if (!url || !url->scheme() || !url->host() || url->host()->empty()) return false;
  std::string scheme = *url->scheme();
  for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme == "http" || scheme == "https";
}

// A trailing "/" would double up with the API path.
std::string withoutTrailingSlash(std::string text) {
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

std::string DVACIngestionDefaults::buildDefaultLogUrl() { return MORVALENT_DEFAULT_INGESTION_URL; }

std::string DVACIngestionDefaults::defaultLogUrl() {
  std::lock_guard lock(cacheMutex());
  auto& cached = cachedUrl();
  if (cached) return *cached;
  std::string url = buildDefaultLogUrl();
  if (const char* environment = std::getenv(kDVACIngestionURLEnvironmentVariable); environment && *environment) {
    const std::string candidate = withoutTrailingSlash(environment);
    if (isHttpURL(candidate)) {
      url = candidate;
    } else {
      DVACLogWarning(kDVACLogTag, std::string(kDVACIngestionURLEnvironmentVariable) + " is not an http(s) URL: '" +
                                      environment + "'; using " + url + ".");
    }
  }
  cached = url;
  return url;
}

void DVACIngestionDefaults::resetForTesting() {
  std::lock_guard lock(cacheMutex());
  cachedUrl().reset();
}

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACDependencyConfiguration.h"

#include <mutex>
#include <utility>

namespace {

std::mutex& slotMutex() {
  static std::mutex mutex;
  return mutex;
}

// Never destroyed: a client must not be torn down after the queues it uses.
std::shared_ptr<DVACHttpClientProtocol>& slot() {
  static auto* client = new std::shared_ptr<DVACHttpClientProtocol>();
  return *client;
}

}  // namespace

std::shared_ptr<DVACHttpClientProtocol> DVACDependencyConfiguration::httpClient() {
  std::lock_guard lock(slotMutex());
  return slot();
}

void DVACDependencyConfiguration::setHttpClient(std::shared_ptr<DVACHttpClientProtocol> httpClient) {
  std::shared_ptr<DVACHttpClientProtocol> previous;
  {
    std::lock_guard lock(slotMutex());
    previous = std::exchange(slot(), std::move(httpClient));
  }
  // The old client, if this was its last owner, goes away outside the lock.
}

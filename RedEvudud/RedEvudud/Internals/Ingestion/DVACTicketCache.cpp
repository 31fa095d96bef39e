#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACTicketCache.h"

#include "RedEvudud/RedEvudud/Internals/Util/DVACSharedSlot.h"

std::shared_ptr<DVACTicketCache> DVACTicketCache::sharedInstance() {
  std::lock_guard lock(DVACSharedSlot<DVACTicketCache>::mutex());
  auto& slot = DVACSharedSlot<DVACTicketCache>::instance();
  if (!slot) slot = std::make_shared<DVACTicketCache>();
  return slot;
}

void DVACTicketCache::resetSharedInstance() {
  std::lock_guard lock(DVACSharedSlot<DVACTicketCache>::mutex());
  DVACSharedSlot<DVACTicketCache>::instance().reset();
}

std::optional<std::string> DVACTicketCache::ticketFor(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = tickets_.find(key);
  if (found == tickets_.end()) return std::nullopt;
  return found->second;
}

void DVACTicketCache::setTicket(const std::optional<std::string>& ticket, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (ticket) {
    tickets_[key] = *ticket;
  } else {
    tickets_.erase(key);
  }
}

void DVACTicketCache::clearCache() {
  std::lock_guard lock(mutex_);
  tickets_ = {};
}

std::map<std::string, std::string> DVACTicketCache::tickets() const {
  std::lock_guard lock(mutex_);
  return tickets_;
}

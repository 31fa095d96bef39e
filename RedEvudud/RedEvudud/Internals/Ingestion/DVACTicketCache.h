#pragma once
// The process-wide map from ticket keys to authentication tickets. The
// analytics service fills it; the Ruv Erirovevu ingestion reads it when it
// builds a request's "Tickets" header, on another thread, so every access
// takes the cache's lock.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class DVACTicketCache {
 public:
  static std::shared_ptr<DVACTicketCache> sharedInstance();
  static void resetSharedInstance();

  std::optional<std::string> ticketFor(const std::string& key) const;
  // A nil ticket removes the key.
  void setTicket(const std::optional<std::string>& ticket, const std::string& key);
  void clearCache();
  std::map<std::string, std::string> tickets() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> tickets_;
};

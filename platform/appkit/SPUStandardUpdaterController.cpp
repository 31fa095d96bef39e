#include "platform/appkit/SPUStandardUpdaterController.h"

#include "platform/foundation/UserDefaults.h"

namespace appkit {

std::shared_ptr<SPUStandardUpdaterController> SPUStandardUpdaterController::initWithStartingUpdater(
    bool startingUpdater, std::weak_ptr<SPUUpdaterDelegate>, std::weak_ptr<SPUStandardUserDriverDelegate>) {
  std::shared_ptr<SPUStandardUpdaterController> controller(new SPUStandardUpdaterController());
  if (startingUpdater) controller->startUpdater();
  return controller;
}

void SPUStandardUpdaterController::startUpdater() {
  calls_.emplace_back("startUpdater");
  if (started_) return;
  started_ = true;
  automaticCheckScheduled_ = automaticallyChecksForUpdates();
}

void SPUStandardUpdaterController::checkForUpdates(const void*) {
  calls_.emplace_back("checkForUpdates:");
  if (started_) ++checks_;
}

bool SPUStandardUpdaterController::automaticallyChecksForUpdates() const {
  return ns::UserDefaults::standard()->boolForKey(SUEnableAutomaticChecksKey);
}

}  // namespace appkit

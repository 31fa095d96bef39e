#pragma once
// The sheet in which the user chooses how much usage and crash information
// the application sends: the three analytics modes as a radio group, each
// with a title and an explanation, and "Close". A choice is stored at once
// under "analyticsMode"; there is no cancel.

#include <string>

#include "app/shell/AnalyticsManager.h"
#include "platform/ui/AppStorage.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

// The mode's title and explanation as the sheet shows them.
std::string analyticsModeTitle(AnalyticsManager::Mode mode);
std::string analyticsModeExplanation(AnalyticsManager::Mode mode);

// The stored "analyticsMode" of the standard user defaults; a value that is
// not a mode reads as `fallback`.
ui::AppStorage<AnalyticsManager::Mode> analyticsModeStorage(AnalyticsManager::Mode fallback);

struct AnalyticsModeView {
  ui::Binding<bool> analyticsSheetIsShowing;
  ui::AppStorage<AnalyticsManager::Mode> analyticsMode;

  AnalyticsModeView(ui::Binding<bool> analyticsSheetIsShowing, ui::AppStorage<AnalyticsManager::Mode> analyticsMode)
      : analyticsSheetIsShowing(std::move(analyticsSheetIsShowing)), analyticsMode(std::move(analyticsMode)) {}

  ui::View body() const;
};

// The "settings" and "analytics-mode" samples of morvalent-render: the
// settings form and the analytics mode sheet with the registered defaults,
// as a first start shows them.

#include "app/shell/AnalyticsModeView.h"
#include "app/preferences/Preferences.h"
#include "app/shell/PreferencesView.h"
#include "platform/ui/tools/Samples.h"

namespace {

ui::View settings() {
  MorvalentDefaults::standard().registerDefaults();
  return ui::View(PreferencesView());
}

ui::View analyticsMode() {
  MorvalentDefaults::standard().registerDefaults();
  return ui::View(AnalyticsModeView(ui::Binding<bool>::constant(true),
                                    analyticsModeStorage(MorvalentDefaults::standard().analyticsMode())));
}

[[maybe_unused]] const bool registered =
    ui::samples::add({"settings", "the settings form with the registered defaults", std::nullopt, &settings}) &&
    ui::samples::add({"analytics-mode", "the analytics mode sheet", std::nullopt, &analyticsMode});

}  // namespace

#include "app/shell/AnalyticsModeView.h"

#include <optional>
#include <vector>

#include "app/preferences/Preferences.h"

using Mode = AnalyticsManager::Mode;

std::string analyticsModeTitle(Mode mode) {
  switch (mode) {
    case Mode::manualReportingOnly: return "Manual Reporting Only";
    case Mode::minimalAnalytics: return "Minimal Analytics";
    case Mode::automaticAnalytics: return "Automatic Analytics";
  }
  return {};
}

std::string analyticsModeExplanation(Mode mode) {
  switch (mode) {
    case Mode::manualReportingOnly:
      return "No analytics are collected. You will given the option to submit crash reports.";
    case Mode::minimalAnalytics: return "Anonymized crash reporting and system configuration information.";
    case Mode::automaticAnalytics:
      return "Anonymized crash reporting, system configuration information, and data about what features are being "
             "used.";
  }
  return {};
}

ui::AppStorage<Mode> analyticsModeStorage(Mode fallback) {
  return ui::AppStorage<Mode>(preferencekeys::analyticsMode, fallback, nullptr,
                              [](const ns::Value& value) -> std::optional<Mode> {
                                if (!value.isInteger()) return std::nullopt;
                                auto raw = value.asInt64();
                                if (!raw || *raw < 0 || *raw > 2) return std::nullopt;
                                return static_cast<Mode>(*raw);
                              });
}

ui::View AnalyticsModeView::body() const {
  const auto storage = analyticsMode;
  ui::Binding<int> selection([storage] { return static_cast<int>(storage.get()); },
                             [storage](int value) { storage.set(static_cast<Mode>(value)); });
  std::vector<ui::PickerOption> options;
  for (Mode mode : {Mode::automaticAnalytics, Mode::minimalAnalytics, Mode::manualReportingOnly}) {
    options.push_back({static_cast<int>(mode),
                       ui::VStack(ui::HorizontalAlignment::leading, std::nullopt,
                                  {
                                      ui::Text(analyticsModeTitle(mode)).font(ui::Font::headline()),
                                      ui::Text(analyticsModeExplanation(mode)).lineLimit(10),
                                      ui::Spacer(10),
                                  })});
  }
  // Reading the mode here re-renders the sheet when the key changes.
  (void)analyticsMode.get();
  const auto showing = analyticsSheetIsShowing;
  return ui::VStack(ui::HorizontalAlignment::center, std::nullopt,
                    {ui::Form({
                        ui::Picker("", selection, std::move(options)).pickerStyle(ui::PickerStyle::radioGroup),
                        ui::Spacer(30),
                        ui::HStack(ui::VerticalAlignment::center, std::nullopt,
                                   {
                                       ui::Spacer(),
                                       ui::Button("Close", [showing] { showing.set(false); })
                                           .keyboardShortcut(ui::KeyboardShortcut::defaultAction),
                                   }),
                    })})
      .padding(20)
      .frame(600, std::nullopt, ui::Alignment::center);
}

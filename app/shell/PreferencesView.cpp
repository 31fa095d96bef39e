#include "app/shell/PreferencesView.h"

#include <optional>
#include <vector>

#include "app/shell/AnalyticsModeView.h"
#include "app/shell/SettingsGrid.h"

namespace {

namespace k = preferencekeys;
using Mode = AnalyticsManager::Mode;
using Separator = SettingsGrid::RowSeparator;

ui::AppStorage<bool> flag(const char* key, bool fallback) { return ui::AppStorage<bool>(key, fallback); }

ui::AppStorage<ApplicationIconMode> iconModeStorage(ApplicationIconMode fallback) {
  return ui::AppStorage<ApplicationIconMode>(k::applicationIconMode, fallback, nullptr,
                                             [](const ns::Value& value) -> std::optional<ApplicationIconMode> {
                                               if (!value.isInteger()) return std::nullopt;
                                               auto raw = value.asInt64();
                                               if (!raw || (*raw != 0 && *raw != 1)) return std::nullopt;
                                               return static_cast<ApplicationIconMode>(*raw);
                                             });
}

// A label that wraps within the column and keeps its full height.
ui::View wrapping(const std::string& text) { return ui::Text(text).fixedSize(false, true); }

// A toggle that, while disabled, shows off without touching its key.
ui::View dependentToggle(ui::View label, const ui::AppStorage<bool>& storage, bool enabled) {
  return ui::Toggle(std::move(label), enabled ? storage.binding() : ui::Binding<bool>::constant(false))
      .disabled(!enabled);
}

}  // namespace

std::string applicationIconModeName(ApplicationIconMode mode) {
  return mode == ApplicationIconMode::statusItem ? "Menu Bar Icon" : "Dock Icon";
}

std::string analyticsModeShortName(Mode mode) {
  switch (mode) {
    case Mode::manualReportingOnly: return "Manual";
    case Mode::minimalAnalytics: return "Minimal";
    case Mode::automaticAnalytics: return "Automatic";
  }
  return {};
}

PreferencesView::PreferencesView()
    : applicationIconMode(iconModeStorage(MorvalentDefaults::standard().applicationIconMode())),
      openAtStartup(flag(k::openAtStartup, MorvalentDefaults::standard().openAtStartup())),
      dockPreviewsEnabled(flag(k::dockPreviewsEnabled, MorvalentDefaults::standard().dockPreviewsEnabled())),
      dragWindowSnappingEnabled(
          flag(k::dragWindowSnappingEnabled, MorvalentDefaults::standard().dragWindowSnappingEnabled())),
      scrollWindowSnappingEnabled(
          flag(k::scrollWindowSnappingEnabled, MorvalentDefaults::standard().scrollWindowSnappingEnabled())),
      scrollPreviewSnappingEnabled(
          flag(k::scrollPreviewSnappingEnabled, MorvalentDefaults::standard().scrollPreviewSnappingEnabled())),
      screenResizeCorrectionEnabled(
          flag(k::screenResizeCorrectionEnabled, MorvalentDefaults::standard().screenResizeCorrectionEnabled())),
      showDesktopEnabled(flag(k::showDesktopEnabled, MorvalentDefaults::standard().showDesktopEnabled())),
      minimizeFinderWindowsEnabled(
          flag(k::minimizeFinderWindowsEnabled, MorvalentDefaults::standard().minimizeFinderWindowsEnabled())),
      analyticsMode(analyticsModeStorage(MorvalentDefaults::standard().analyticsMode())),
      automaticUpdateChecks(flag(k::automaticUpdateChecks, MorvalentDefaults::standard().automaticUpdateChecks())),
      showNowPlaying(flag(k::showNowPlaying, MorvalentDefaults::standard().showNowPlaying())) {}

ui::View PreferencesView::body() const {
  // Reading every bound key makes the form re-render when any of them is
  // changed, here or elsewhere.
  (void)applicationIconMode.get();
  for (const auto* storage : {&openAtStartup, &dragWindowSnappingEnabled, &scrollWindowSnappingEnabled,
                              &scrollPreviewSnappingEnabled, &screenResizeCorrectionEnabled, &showDesktopEnabled,
                              &minimizeFinderWindowsEnabled, &automaticUpdateChecks, &showNowPlaying}) {
    (void)storage->get();
  }
  const bool previewsOn = dockPreviewsEnabled.get();
  const Mode mode = analyticsMode.get();

  // Row 3 decides through the typed accessors.
  const auto defaults = MorvalentDefaults::standard();
  const bool dockIcon = defaults.applicationIconMode() == ApplicationIconMode::dockIcon;
  const bool hideAllOn = dockIcon;
  const bool finderOn = dockIcon && defaults.showDesktopEnabled();

  const auto self = *this;
  std::vector<SettingsGrid::Row> rows;
  rows.emplace_back("", "Dock Previews:", Separator::spacer, 0, 1, [self, previewsOn] {
    return ui::Group({
        ui::Toggle("Enabled", self.dockPreviewsEnabled.binding()),
        dependentToggle(wrapping("Show Now Playing screen for Apple Music and Spotify"), self.showNowPlaying,
                        previewsOn),
    });
  });
  rows.emplace_back("", "Window Snapping:", Separator::spacer, 0, 1, [self, previewsOn] {
    return ui::Group({
        ui::Toggle("Snap windows by dragging them to the top or sides of screen",
                   self.dragWindowSnappingEnabled.binding()),
        ui::Toggle("Snap windows by swiping or scrolling on the window title bar",
                   self.scrollWindowSnappingEnabled.binding()),
        dependentToggle(ui::Text("Snap windows by swiping or scrolling on the Dock Previews"),
                        self.scrollPreviewSnappingEnabled, previewsOn),
        ui::Toggle(wrapping("Maintain maximized windows when switching to external monitor"),
                   self.screenResizeCorrectionEnabled.binding()),
    });
  });
  rows.emplace_back("", "Morvalent Icon:", Separator::divider, 0, 1, [self, hideAllOn, finderOn] {
    const auto storage = self.applicationIconMode;
    ui::Binding<int> selection([storage] { return static_cast<int>(storage.get()); },
                               [storage](int value) { storage.set(static_cast<ApplicationIconMode>(value)); });
    std::vector<ui::PickerOption> options;
    for (ApplicationIconMode mode : {ApplicationIconMode::dockIcon, ApplicationIconMode::statusItem}) {
      options.push_back({static_cast<int>(mode), ui::Text(applicationIconModeName(mode))});
    }
    return ui::Group({
        ui::Picker("", selection, std::move(options)),
        dependentToggle(wrapping("Hide all windows when Morvalent icon is clicked"), self.showDesktopEnabled,
                        hideAllOn),
        dependentToggle(wrapping("Minimize Finder Windows\n(Prevents windows appearing when Desktop is clicked)"),
                        self.minimizeFinderWindowsEnabled, finderOn),
    });
  });
  rows.emplace_back("", "Analytics:", Separator::spacer, 2, 0, [self, mode] {
    const auto showing = self.analyticsSheetIsShowing;
    return ui::HStack(ui::VerticalAlignment::center, std::nullopt,
                      {
                          ui::Text(analyticsModeShortName(mode)).font(ui::Font::headline()),
                          ui::Button("Change...", [showing] { showing.set(true); }),
                      });
  });
  rows.emplace_back("", "Updates:", Separator::divider, 0, 1, [self] {
    return ui::Toggle(wrapping("Automatically check for updates"), self.automaticUpdateChecks.binding());
  });
  rows.emplace_back("", " ", Separator::none, 0, 1, [self] {
    return ui::VStack(ui::HorizontalAlignment::leading, std::nullopt,
                      {ui::Toggle("Open at Startup", self.openAtStartup.binding())});
  });

  // 700 points wide and 600 high, growing to the rows' height where the text
  // metrics need more, so that no row is cut off at the window's bottom edge.
  const auto showing = analyticsSheetIsShowing;
  return ui::View(SettingsGrid(150, std::move(rows)))
      .frame(700, std::nullopt, ui::Alignment::top)
      .frame(ui::FlexFrame{.minHeight = 600, .alignment = ui::Alignment::top})
      .sheet(analyticsSheetIsShowing.binding(), [showing] {
        return ui::View(AnalyticsModeView(showing.binding(),
                                          analyticsModeStorage(MorvalentDefaults::standard().analyticsMode())));
      });
}

#include "Tincture/Localization.h"

namespace tincture {

std::string StringTable::localizedString(const std::string& key, const std::string& value) const {
  const auto found = texts_.find(key);
  if (found != texts_.end()) return found->second;
  return value.empty() ? key : value;
}

const StringTable& bundleStringTable() {
  static const StringTable table({
      {"tincture.color.name.primary.red", "red"},
      {"tincture.color.name.primary.green", "green"},
      {"tincture.color.name.primary.blue", "blue"},
      {"tincture.color.name.secondary.yellow", "yellow"},
      {"tincture.color.name.secondary.magenta", "magenta"},
      {"tincture.color.name.secondary.cyan", "cyan"},
      {"tincture.color.name.tertiary.azure", "azure"},
      {"tincture.color.name.tertiary.violet", "violet"},
      {"tincture.color.name.tertiary.rose", "rose"},
      {"tincture.color.name.tertiary.orange", "orange"},
      {"tincture.color.name.tertiary.chartreuse", "chartreuse"},
      {"tincture.color.name.tertiary.sprint_green", "spring green"},
      {"tincture.color.name.gray_shade.black", "black"},
      {"tincture.color.name.gray_shade.white", "white"},
      {"tincture.color.name.gray_shade.gray", "gray"},
  });
  return table;
}

std::string localizedString(const std::string& key, const std::string& value, const std::string& /*comment*/,
                            const StringTable& table) {
  return table.localizedString(key, value);
}

}  // namespace tincture

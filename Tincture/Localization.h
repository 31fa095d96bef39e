#pragma once

#include <map>
#include <string>

namespace tincture {

// A string table: localized texts by key.
class StringTable {
 public:
  StringTable() = default;
  explicit StringTable(std::map<std::string, std::string> texts) : texts_(std::move(texts)) {}

  // The text for key; otherwise value, or the key itself when value is empty.
  std::string localizedString(const std::string& key, const std::string& value = {}) const;

 private:
  std::map<std::string, std::string> texts_;
};

// The default string table of the bundle that holds the library: the English
// colour names.
const StringTable& bundleStringTable();

// localizedString(key, value, comment) looked up in a table; the comment tells
// translators what the key stands for and plays no part in the lookup.
std::string localizedString(const std::string& key, const std::string& value, const std::string& comment,
                            const StringTable& table = bundleStringTable());

}  // namespace tincture

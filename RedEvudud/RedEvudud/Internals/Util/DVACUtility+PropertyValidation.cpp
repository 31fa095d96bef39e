#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/Utf16.h"

namespace {

// Applies the limits to pairs given in enumeration order; a null key or value
// stands for one that is not a string.
template <typename Pairs>
DVACPropertiesDictionary validate(const Pairs& pairs, std::string_view logName, std::string_view type) {
  const std::string prefix = std::string(type) + " '" + std::string(logName) + "' : ";
  DVACPropertiesDictionary valid;
  for (const auto& [keyPtr, valuePtr] : pairs) {
    if (valid.size() >= static_cast<size_t>(kDVACMaxPropertiesPerLog)) {
      DVACLogWarning(kDVACLogTag, prefix + "properties cannot contain more than " +
                                      std::to_string(kDVACMaxPropertiesPerLog) + " items. Skipping other properties.");
      break;
    }
    if (!keyPtr || !valuePtr) continue;
    std::string key = *keyPtr;
    std::string value = *valuePtr;
    if (key.empty()) {
      DVACLogWarning(kDVACLogTag, prefix + "a property key cannot be null or empty. Property will be skipped.");
      continue;
    }
    if (ns::utf16Length(key) > static_cast<size_t>(kDVACMaxPropertyKeyLength)) {
      DVACLogWarning(kDVACLogTag, prefix + "property " + key + " : property key length cannot be longer than " +
                                      std::to_string(kDVACMaxPropertyKeyLength) +
                                      " characters. Property key will be truncated.");
      key = ns::utf16Prefix(key, kDVACMaxPropertyKeyLength);
    }
    if (ns::utf16Length(value) > static_cast<size_t>(kDVACMaxPropertyValueLength)) {
      DVACLogWarning(kDVACLogTag, prefix + "property '" + key + "' : property value cannot be longer than " +
                                      std::to_string(kDVACMaxPropertyValueLength) +
                                      " characters. Property value will be truncated.");
      value = ns::utf16Prefix(value, kDVACMaxPropertyValueLength);
    }
    valid[std::move(key)] = std::move(value);
  }
  return valid;
}

}  // namespace

DVACPropertiesDictionary DVACUtility::validateProperties(const ns::Value& properties, std::string_view logName,
                                                         std::string_view type) {
  std::vector<std::pair<const std::string*, const std::string*>> pairs;
  // Keys of a dictionary value are always strings; only the values can be of another kind.
  std::vector<std::pair<std::string, ns::Value>> entries = properties.dictionaryEntries();
  pairs.reserve(entries.size());
  for (const auto& [key, value] : entries) pairs.emplace_back(&key, value.string());
  return validate(pairs, logName, type);
}

DVACPropertiesDictionary DVACUtility::validateProperties(const DVACPropertiesDictionary& properties,
                                                         std::string_view logName, std::string_view type) {
  std::vector<std::pair<const std::string*, const std::string*>> pairs;
  pairs.reserve(properties.size());
  for (const auto& [key, value] : properties) pairs.emplace_back(&key, &value);
  return validate(pairs, logName, type);
}

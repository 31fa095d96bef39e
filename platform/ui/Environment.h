#pragma once
// Environment values flow from a view to everything inside it; a modifier
// changes them for its content only.

#include <algorithm>
#include <any>
#include <concepts>
#include <map>
#include <memory>
#include <optional>
#include <typeindex>

#include "platform/ui/Color.h"
#include "platform/ui/Font.h"

namespace ui {

enum class LayoutDirection { leftToRight, rightToLeft };
enum class ColorScheme { light, dark };
enum class TruncationMode { head, middle, tail };
enum class TextAlignment { leading, center, trailing };
// automatic: the bordered push button of macOS.
enum class ButtonStyle { automatic, bordered, plain, borderless };
// automatic: the check box of macOS.
enum class ToggleStyle { automatic, checkbox, switchStyle };
// automatic: the pop-up menu of macOS.
enum class PickerStyle { automatic, menu, radioGroup, segmented };

struct EnvironmentValues {
  Font font = Font::body();
  // Unset: the label colour.
  std::optional<Color> foregroundColor;
  bool isEnabled = true;
  LayoutDirection layoutDirection = LayoutDirection::leftToRight;
  ColorScheme colorScheme = ColorScheme::light;
  std::optional<int> lineLimit;
  TruncationMode truncationMode = TruncationMode::tail;
  TextAlignment multilineTextAlignment = TextAlignment::leading;
  ButtonStyle buttonStyle = ButtonStyle::automatic;
  ToggleStyle toggleStyle = ToggleStyle::automatic;
  PickerStyle pickerStyle = PickerStyle::automatic;

  Color resolvedForeground() const { return foregroundColor.value_or(Color::labelColor()); }

  // Custom keys: a type with `using Value = ...;` and `static Value defaultValue();`.
  template <class Key>
  typename Key::Value get() const {
    auto it = values_->find(std::type_index(typeid(Key)));
    if (it == values_->end()) return Key::defaultValue();
    return std::any_cast<typename Key::Value>(it->second.value);
  }
  template <class Key>
  void set(typename Key::Value value) {
    edit(values_)[std::type_index(typeid(Key))] = Custom{std::any(std::move(value)), &equalValues<typename Key::Value>};
  }

  // Environment objects, found by their type.
  template <class T>
  std::shared_ptr<T> object() const {
    auto it = objects_->find(std::type_index(typeid(T)));
    if (it == objects_->end()) return nullptr;
    return std::static_pointer_cast<T>(it->second);
  }
  template <class T>
  void setObject(std::shared_ptr<T> object) {
    edit(objects_)[std::type_index(typeid(T))] = std::move(object);
  }

  // Equal values, the same environment objects, and custom values that are
  // equal (a custom value of a type without operator== never is): the views
  // of an environment equal to the last one's need not be evaluated again.
  friend bool operator==(const EnvironmentValues& a, const EnvironmentValues& b) {
    return a.font == b.font && a.foregroundColor == b.foregroundColor && a.isEnabled == b.isEnabled &&
           a.layoutDirection == b.layoutDirection && a.colorScheme == b.colorScheme && a.lineLimit == b.lineLimit &&
           a.truncationMode == b.truncationMode && a.multilineTextAlignment == b.multilineTextAlignment &&
           a.buttonStyle == b.buttonStyle && a.toggleStyle == b.toggleStyle && a.pickerStyle == b.pickerStyle &&
           (a.objects_ == b.objects_ || *a.objects_ == *b.objects_) &&
           (a.values_ == b.values_ ||
            std::equal(a.values_->begin(), a.values_->end(), b.values_->begin(), b.values_->end(),
                       [](const auto& x, const auto& y) {
                         return x.first == y.first && x.second.equal(x.second.value, y.second.value);
                       }));
  }

 private:
  struct Custom {
    std::any value;
    bool (*equal)(const std::any&, const std::any&);
  };
  template <class T>
  static bool equalValues(const std::any& a, const std::any& b) {
    if constexpr (std::equality_comparable<T>) {
      return std::any_cast<const T&>(a) == std::any_cast<const T&>(b);
    } else {
      return false;
    }
  }

  // Copies share the maps until one of them changes its own: every
  // environment modifier copies the environment it is given.
  template <class Map>
  static Map& edit(std::shared_ptr<const Map>& map) {
    auto copy = std::make_shared<Map>(*map);
    Map& out = *copy;
    map = std::move(copy);
    return out;
  }
  template <class Map>
  static const std::shared_ptr<const Map>& emptyMap() {
    static const std::shared_ptr<const Map> empty = std::make_shared<const Map>();
    return empty;
  }

  using Values = std::map<std::type_index, Custom>;
  using Objects = std::map<std::type_index, std::shared_ptr<void>>;
  std::shared_ptr<const Values> values_ = emptyMap<Values>();
  std::shared_ptr<const Objects> objects_ = emptyMap<Objects>();
};

}  // namespace ui

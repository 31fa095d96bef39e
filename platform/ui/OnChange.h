#pragma once
// onChange(of:perform:): runs an action when a value that a view shows
// differs from the value it showed at its previous render. The first render
// only records the value. The action runs while the tree is being rendered;
// state it changes shows in the next render, which follows at once.

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "platform/ui/State.h"
#include "platform/ui/View.h"

namespace ui {

namespace detail {

template <std::equality_comparable T>
struct OnChangeView {
  View content;
  T value;
  std::function<void(const T&)> action;
  // The value of the last render, recorded without asking for another one.
  State<std::shared_ptr<std::optional<T>>> last{std::make_shared<std::optional<T>>()};

  View body() const {
    std::optional<T>& previous = *last.get();
    // Compared as T (T may itself be an optional).
    if (!previous || !(*previous == value)) {
      const bool first = !previous;
      previous.emplace(value);
      if (!first && action) action(value);
    }
    return content;
  }
};

}  // namespace detail

// `content` with the action attached. The wrapper adds one level of identity,
// so attach it at the same place in every render.
template <std::equality_comparable T>
View onChange(View content, T value, std::function<void(const T&)> action) {
  return View(detail::OnChangeView<T>{std::move(content), std::move(value), std::move(action)});
}

}  // namespace ui

#pragma once
// Sample views for morvalent-render.

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace ui {
class Host;
}

namespace ui::samples {

struct Sample {
  std::string name;
  std::string description;
  std::optional<Size> size;  // none: the view's ideal size
  View (*make)();
  // Runs on the host before the picture is taken (to hover, click...).
  void (*prepare)(Host&) = nullptr;
};

const std::vector<Sample>& all();
const Sample* named(const std::string& name);
// Adds a sample made outside the toolkit (by a module linked into the tool);
// false when the name is taken.
bool add(Sample sample);

}  // namespace ui::samples

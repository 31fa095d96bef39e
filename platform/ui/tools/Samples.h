#pragma once
// Sample views for morvalent-render.

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace ui::samples {

struct Sample {
  std::string name;
  std::string description;
  std::optional<Size> size;  // none: the view's ideal size
  View (*make)();
};

const std::vector<Sample>& all();
const Sample* named(const std::string& name);

}  // namespace ui::samples

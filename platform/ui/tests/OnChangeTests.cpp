#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/concurrency/Publisher.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/ui/Host.h"
#include "platform/ui/OnChange.h"

using namespace ui;

namespace {

struct Source : conc::ObservableObject {
  conc::Published<std::optional<int>> value{this, std::nullopt};
};

// Counts the changes of the source's value, and resets its own state on each.
struct Watcher {
  ObservedObject<Source> source;
  std::shared_ptr<std::vector<std::optional<int>>> changes;
  State<int> marks{0};

  View body() const {
    auto self = *this;
    return onChange<std::optional<int>>(
        Button([self] { self.marks.set(self.marks.get() + 1); }, Text("marks " + std::to_string(marks.get()))),
        source->value.get(), [self](const std::optional<int>& v) {
          self.changes->push_back(v);
          self.marks.set(0);
        });
  }
};

}  // namespace

TEST(OnChange, TheFirstRenderOnlyRecordsTheValue) {
  dispatch::VirtualClockScope clock;
  auto source = std::make_shared<Source>();
  auto changes = std::make_shared<std::vector<std::optional<int>>>();
  auto host = Host::make(View(Watcher{source, changes}));
  host->layoutIfNeeded();
  EXPECT_TRUE(changes->empty());
  // Recording the value asks for no render of its own, at the first render
  // or at a change.
  EXPECT_EQ(host->renderCount(), 1u);
  source->value = 1;
  host->layoutIfNeeded();
  EXPECT_EQ(host->renderCount(), 2u);
}

TEST(OnChange, RunsOncePerChangeAndItsStateChangesShowAtOnce) {
  dispatch::VirtualClockScope clock;
  auto source = std::make_shared<Source>();
  auto changes = std::make_shared<std::vector<std::optional<int>>>();
  auto host = Host::make(View(Watcher{source, changes}));
  host->click("marks 0");
  host->click("marks 1");
  EXPECT_TRUE(host->find("marks 2"));
  source->value = 3;
  EXPECT_TRUE(host->find("marks 0")) << "the action's state change is in the same update";
  EXPECT_FALSE(host->needsUpdate());
  source->value = 3;  // an equal value is no change
  host->layoutIfNeeded();
  source->value = std::nullopt;  // nothing is a value too
  host->layoutIfNeeded();
  source->value = std::nullopt;
  host->layoutIfNeeded();
  EXPECT_EQ(*changes, (std::vector<std::optional<int>>{3, std::nullopt}));
}

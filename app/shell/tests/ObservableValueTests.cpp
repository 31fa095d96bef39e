#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/shell/ObservableValue.h"

TEST(ObservableValue, EveryWriteAnnouncesAChangeEvenOfAnEqualValue) {
  ObservableValue<int> box(3);
  int changes = 0;
  auto sub = box.objectWillChange.sink([&] { ++changes; });
  box.value = 3;
  box.value = 3;
  EXPECT_EQ(changes, 2);
}

TEST(ObservableValue, TheChangeIsAnnouncedBeforeTheValueChanges) {
  ObservableValue<std::string> box("old");
  std::string seen;
  auto sub = box.objectWillChange.sink([&] { seen = *box.value; });
  box.value = "new";
  EXPECT_EQ(seen, "old");
  EXPECT_EQ(*box.value, "new");
}

TEST(NullableObservableValue, ObserverSeesNoneFirstThenEachValue) {
  NullableObservableValue<int> box;
  std::vector<std::optional<int>> seen;
  auto sub = box.value.sink([&](const std::optional<int>& v) { seen.push_back(v); });
  box.value = 1;
  box.value = std::nullopt;
  box.value = 2;
  EXPECT_EQ(seen, (std::vector<std::optional<int>>{std::nullopt, 1, std::nullopt, 2}));
}

TEST(ObservableValue, BoxesCompareByTheirCurrentValues) {
  EXPECT_EQ(ObservableValue<int>(1), ObservableValue<int>(1));
  EXPECT_NE(ObservableValue<int>(1), ObservableValue<int>(2));
  EXPECT_EQ(NullableObservableValue<int>(), NullableObservableValue<int>());
  EXPECT_NE(NullableObservableValue<int>(), NullableObservableValue<int>(0));
}

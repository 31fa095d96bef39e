#include <gtest/gtest.h>

#include "app/shell/SettingsGrid.h"
#include "platform/ui/Host.h"
#include "platform/ui/Text.h"

namespace {

using Sep = SettingsGrid::RowSeparator;

SettingsGrid::Row row(std::string label, Sep sep, std::string id = "", double lead = 0, double trail = 1) {
  return SettingsGrid::Row(std::move(id), label, sep, lead, trail,
                           [label] { return ui::Text("content of " + label).testId("content:" + label); });
}

ui::Rect frameOf(const std::shared_ptr<ui::Host>& host, const std::string& query) {
  auto f = host->frameOf(query);
  EXPECT_TRUE(f.has_value()) << query;
  return f.value_or(ui::Rect{});
}

}  // namespace

TEST(SettingsGridPart, EmptyIdsBecomeTheRowIndexes) {
  std::vector<SettingsGrid::Row> rows;
  for (int i = 0; i < 6; ++i) rows.push_back(row("Row " + std::to_string(i) + ":", Sep::none));
  SettingsGrid grid(150, rows);
  ASSERT_EQ(grid.rows.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(grid.rows[static_cast<std::size_t>(i)].id, std::to_string(i));
}

TEST(SettingsGridPart, ExplicitIdsAreKeptAndOthersGetTheirIndex) {
  SettingsGrid grid(150, {row("A:", Sep::none), row("B:", Sep::none, "custom"), row("C:", Sep::none)});
  EXPECT_EQ(grid.rows[0].id, "0");
  EXPECT_EQ(grid.rows[1].id, "custom");
  EXPECT_EQ(grid.rows[2].id, "2");
}

TEST(SettingsGridPart, EveryRowGetsTheGridsColumnWidth) {
  auto r = row("A:", Sep::none);
  r.leadingColumnWidth = 99;
  SettingsGrid grid(150, {r, row("B:", Sep::none)});
  for (const auto& each : grid.rows) EXPECT_EQ(each.leadingColumnWidth, 150);
}

TEST(SettingsGridPart, LabelsEndAtTheSameXAndContentStartsAfterTheColumn) {
  auto host = ui::Host::make(ui::View(SettingsGrid(150, {row("Dock Previews:", Sep::none), row("Analytics:", Sep::none)})));
  ui::Rect a = frameOf(host, "Dock Previews:");
  ui::Rect b = frameOf(host, "Analytics:");
  EXPECT_DOUBLE_EQ(a.maxX(), 40 + 150);
  EXPECT_DOUBLE_EQ(b.maxX(), 40 + 150);
  EXPECT_DOUBLE_EQ(frameOf(host, "content:Analytics:").x, 40 + 150 + 8);
  EXPECT_DOUBLE_EQ(a.y, 40 + 8);  // the zero-height spacer, then the stack's spacing
}

TEST(SettingsGridPart, SeparatorsPutTheirSpaceBetweenRows) {
  auto host = ui::Host::make(ui::View(SettingsGrid(
      150, {row("A:", Sep::none), row("B:", Sep::spacer), row("C:", Sep::divider), row("D:", Sep::none)})));
  auto top = [&](const std::string& label) { return frameOf(host, "content:" + label).y; };
  auto bottom = [&](const std::string& label) { return frameOf(host, "content:" + label).maxY(); };
  // Each row's trailing column starts with a 1-point spacer and the stack's spacing.
  double lead = 1 + 8;
  EXPECT_DOUBLE_EQ(top("B:") - bottom("A:"), 8 + lead);
  EXPECT_DOUBLE_EQ(top("C:") - bottom("B:"), 8 + 32 + 8 + lead);
  EXPECT_DOUBLE_EQ(top("D:") - bottom("C:"), 8 + 32 + 8 + 1 + 8 + 32 + 8 + lead);
  const ui::Node* divider = host->root()->findFirst([](const ui::Node& n) { return n.kind == ui::NodeKind::divider; });
  ASSERT_NE(divider, nullptr);
  EXPECT_DOUBLE_EQ(divider->frame.height, 1);
  EXPECT_DOUBLE_EQ(divider->frame.y, bottom("C:") + 8 + 32 + 8);
}

TEST(SettingsGridPart, ALongLabelWrapsInsideTheColumn) {
  auto host = ui::Host::make(ui::View(SettingsGrid(150, {row("A label that is much longer than the column:", Sep::none)})));
  ui::Rect label = frameOf(host, "A label that is much longer than the column:");
  EXPECT_LE(label.width, 150);
  EXPECT_GE(label.x, 40);
  EXPECT_DOUBLE_EQ(frameOf(host, "content:A label that is much longer than the column:").x, 40 + 150 + 8);
}

TEST(SettingsGridPart, SeveralTrailingViewsStackLeadingAligned) {
  SettingsGrid grid(150, {SettingsGrid::Row("", "Dock Previews:", Sep::none, 0, 1, [] {
                      return ui::Group({ui::Text("Enabled").testId("first"), ui::Text("Show Now Playing").testId("second")});
                    })});
  auto host = ui::Host::make(ui::View(grid));
  ui::Rect first = frameOf(host, "first");
  ui::Rect second = frameOf(host, "second");
  EXPECT_DOUBLE_EQ(first.x, second.x);
  EXPECT_DOUBLE_EQ(second.y, first.maxY() + 8);
}

TEST(SettingsGridPart, DuplicateIdsStillRender) {
  auto host = ui::Host::make(ui::View(SettingsGrid(150, {row("A:", Sep::none, "x"), row("B:", Sep::none, "x")})));
  EXPECT_NE(host->find("content:A:"), nullptr);
  EXPECT_NE(host->find("content:B:"), nullptr);
  EXPECT_GT(frameOf(host, "content:B:").y, frameOf(host, "content:A:").y);
}

TEST(ApplyIf, AFalseConditionShowsTheViewAndRunsNoTransform) {
  bool ran = false;
  auto v = applyIf(ui::Text("x"), [] { return false; }, [&ran](ui::View view) {
    ran = true;
    return view.padding(10);
  });
  EXPECT_FALSE(ran);
  EXPECT_EQ(v.kind(), ui::NodeKind::conditional);
  EXPECT_FALSE(v.element().branch);
  auto host = ui::Host::make(v);
  EXPECT_EQ(host->size(), ui::measureText("x", ui::Font::body()));
}

TEST(ApplyIf, ATrueConditionShowsTheTransformedView) {
  auto v = applyIf(ui::Text("x"), [] { return true; }, [](ui::View view) { return view.padding(10); });
  EXPECT_TRUE(v.element().branch);
  auto host = ui::Host::make(v);
  EXPECT_DOUBLE_EQ(host->size().width, ui::measureText("x", ui::Font::body()).width + 20);
  auto other = applyIf(ui::Text("x"), [] { return false; }, [](ui::View view) { return view.padding(1); },
                       [](ui::View view) { return view.padding(5); });
  EXPECT_DOUBLE_EQ(ui::Host::make(other)->size().width, ui::measureText("x", ui::Font::body()).width + 10);
}

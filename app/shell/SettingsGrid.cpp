#include "app/shell/SettingsGrid.h"

namespace {
constexpr double kSeparatorSpace = 32;
constexpr double kGridPadding = 40;

ui::View fixedSpace(double height) { return ui::Spacer().frame(std::nullopt, height); }
}  // namespace

SettingsGrid::Row::Row(std::string id, std::string label, RowSeparator separator, double leadingVerticalSpacer,
                       double trailingVerticalSpacer, std::function<ui::View()> trailingContent)
    : separator(separator),
      leadingVerticalSpacer(leadingVerticalSpacer),
      trailingVerticalSpacer(trailingVerticalSpacer),
      id(std::move(id)) {
  leadingContent = [label = std::move(label)] {
    return ui::Text(label).frame(ui::FlexFrame{.alignment = ui::Alignment::trailing});
  };
  this->trailingContent = [builder = std::move(trailingContent)] { return builder ? builder() : ui::EmptyView(); };
}

ui::View SettingsGrid::Row::body() const {
  ui::View leading = ui::VStack(ui::HorizontalAlignment::trailing, std::nullopt,
                                {fixedSpace(leadingVerticalSpacer), leadingContent()})
                         .frame(leadingColumnWidth, std::nullopt, ui::Alignment::trailing);
  ui::View trailing = ui::VStack(ui::HorizontalAlignment::leading, std::nullopt,
                                 {fixedSpace(trailingVerticalSpacer), trailingContent()});
  return ui::HStack(ui::VerticalAlignment::top, std::nullopt, {leading, trailing})
      .flipsForRightToLeftLayoutDirection(true);
}

SettingsGrid::SettingsGrid(double leadingColumnWidth, std::vector<Row> rows) : leadingColumnWidth(leadingColumnWidth) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i].leadingColumnWidth = leadingColumnWidth;
    if (rows[i].id.empty()) rows[i].id = std::to_string(i);
  }
  this->rows = std::move(rows);
}

ui::View SettingsGrid::body() const {
  auto content = ui::ForEach(rows, [](const Row& row) { return row.id; }, [](const Row& row) {
    std::vector<ui::View> views{ui::View(row)};
    switch (row.separator) {
      case RowSeparator::none:
        break;
      case RowSeparator::spacer:
        views.push_back(fixedSpace(kSeparatorSpace));
        break;
      case RowSeparator::divider:
        views.push_back(fixedSpace(kSeparatorSpace));
        views.push_back(ui::Divider());
        views.push_back(fixedSpace(kSeparatorSpace));
        break;
    }
    return ui::Group(std::move(views));
  });
  return ui::VStack(ui::HorizontalAlignment::leading, std::nullopt, {content}).padding(kGridPadding);
}

ui::View applyIf(const ui::View& view, const std::function<bool()>& condition,
                 const std::function<ui::View(ui::View)>& transform) {
  if (condition()) return ui::If(true, transform(view), view);
  return ui::If(false, ui::EmptyView(), view);
}

ui::View applyIf(const ui::View& view, const std::function<bool()>& condition,
                 const std::function<ui::View(ui::View)>& then,
                 const std::function<ui::View(ui::View)>& otherwise) {
  if (condition()) return ui::If(true, then(view), ui::EmptyView());
  return ui::If(false, ui::EmptyView(), otherwise(view));
}

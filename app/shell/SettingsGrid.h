#pragma once
// SettingsGrid: the two-column layout of the settings form. Each row has a
// right-aligned label in a leading column of fixed width and free content in
// the trailing column, and an optional separator below it. The grid holds no
// state and binds nothing.

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/View.h"

struct SettingsGrid {
  enum class RowSeparator { none, spacer, divider };

  struct Row {
    std::function<ui::View()> leadingContent;
    std::function<ui::View()> trailingContent;
    RowSeparator separator = RowSeparator::none;
    double leadingVerticalSpacer = 0;
    double trailingVerticalSpacer = 0;
    double leadingColumnWidth = 0;  // set by the grid
    std::string id;                 // set by the grid when empty

    // The label is shown verbatim; several trailing views (a Group) stand one
    // below the other in the trailing column.
    Row(std::string id, std::string label, RowSeparator separator, double leadingVerticalSpacer,
        double trailingVerticalSpacer, std::function<ui::View()> trailingContent);

    ui::View body() const;
  };

  double leadingColumnWidth;
  std::vector<Row> rows;

  // Gives every row the grid's leading column width, and each row with an
  // empty id the decimal text of its index.
  SettingsGrid(double leadingColumnWidth, std::vector<Row> rows);

  ui::View body() const;
};

// Applies `transform` when `condition` holds (evaluated once, now); the
// result is a two-way conditional whose first branch is the transformed view.
ui::View applyIf(const ui::View& view, const std::function<bool()>& condition,
                 const std::function<ui::View(ui::View)>& transform);
ui::View applyIf(const ui::View& view, const std::function<bool()>& condition,
                 const std::function<ui::View(ui::View)>& then,
                 const std::function<ui::View(ui::View)>& otherwise);

#pragma once
// The placed tree: one node per element after bodies were evaluated, with
// its identity, its environment and its frame in host coordinates (inside a
// scale effect, in the effect's own space).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace ui {

struct Node {
  NodeKind kind = NodeKind::empty;
  ElementPtr element;
  std::string identity;
  std::shared_ptr<const EnvironmentValues> env;
  Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;
  std::shared_ptr<PlatformView> platformView;  // representable
  // The view type of a component or representable (demangled).
  std::string typeName;
  Rect frame;
  // The axis of the stack this node is laid out in (through modifiers), if any.
  std::optional<Axis> stackAxis;
  // Laid out but not shown (a closed pop-up's other options, cells of a grid
  // without columns): not drawn and not hit.
  bool collapsed = false;
  bool placed = false;

  // Children a stack or grid lays out: groups, ForEach and components whose
  // body is a group are flattened; empty views are skipped.
  std::vector<Node*> layoutChildren;

  const Element& el() const { return *element; }
  bool isEnabled() const { return env ? env->isEnabled : true; }
  Color foreground() const { return env ? env->resolvedForeground() : Color::labelColor(); }
  const std::string& testId() const { return element->testId; }
  // Text of a text node, name of a symbol node, else empty.
  const std::string& text() const { return element->text; }
  // The texts inside this node, joined by spaces (a button's or toggle's label).
  std::string label() const;

  // Pre-order search.
  const Node* findFirst(const std::function<bool(const Node&)>& pred) const;

  // Layout cache of one pass.
  struct CacheEntry {
    ProposedSize proposal;
    Size size;
  };
  std::vector<CacheEntry> cache;
};

}  // namespace ui

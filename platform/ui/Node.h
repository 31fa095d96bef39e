#pragma once
// The placed tree: one node per element after bodies were evaluated, with
// its identity, its environment and its frame in host coordinates (inside a
// scale effect, in the effect's own space).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/View.h"

namespace ui {

namespace detail {
struct ViewState;
}

struct Node {
  NodeKind kind = NodeKind::empty;
  ElementPtr element;
  // Its own part of its identity: "/" and its index among its parent's
  // children, "/#" and its explicit id, "/T" or "/F" under an If, "/0" under
  // a component; a component or representable adds ":" and its type.
  std::string idPart;
  std::shared_ptr<const EnvironmentValues> env;
  Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;
  std::shared_ptr<PlatformView> platformView;  // representable
  // The view type of a component or representable (demangled).
  std::string_view typeName;
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
  // Its whole identity: the parts of its ancestors and its own.
  std::string identity() const;
  bool isEnabled() const { return env ? env->isEnabled : true; }
  Color foreground() const { return env ? env->resolvedForeground() : Color::labelColor(); }
  const std::string& testId() const { return element->attributes->testId; }
  // Text of a text node, name of a symbol node, else empty.
  const std::string& text() const { return element->drawing->text; }
  // The texts inside this node, joined by spaces (a button's or toggle's label).
  std::string label() const;

  // Pre-order search.
  const Node* findFirst(const std::function<bool(const Node&)>& pred) const;

  // Sizes answered for proposals; kept from render to render while the
  // subtree stays unchanged.
  struct CacheEntry {
    ProposedSize proposal;
    Size size;
  };
  std::vector<CacheEntry> cache;

  // The host's record of the node from one render to the next (internal).
  struct Reuse {
    // The layout pass of the last render that evaluated it or anything
    // inside it again; in any later render the subtree is unchanged.
    std::uint64_t changedInPass = 0;
    // Where the layout puts it: whether an enclosing stack lays out its
    // children (with `stackAxis`); the pass that last placed it, at what
    // origin for what proposal, and whether that pass only kept the placement
    // it had.
    bool flattened = false;
    std::uint64_t placedInPass = 0;
    Point origin;
    ProposedSize proposal;
    bool placementKept = false;
    // Whether a collapsed node hid everything inside it.
    bool contentHidden = false;
    // What the host keeps for the view (its state, bridged view or timer),
    // once it keeps anything.
    detail::ViewState* state = nullptr;
    // How many tracking areas and bridged platform views the subtree holds.
    std::uint32_t interactive = 0;
    // A tracking area: whether the pointer is inside, and when the host last
    // listed the tracking areas with it.
    std::uint64_t trackingListed = 0;
    bool trackingInside = false;
  };
  Reuse reuse;
};

}  // namespace ui

#pragma once
// The host of a view tree: evaluates bodies under their identities, keeps
// their state, lays the tree out, routes input by geometry and draws it.
// Main thread only.
//
// A change of state (or of an observed object, or of a watched user
// default) marks the host dirty; the new render happens at the next query
// or event, or on the main queue, whichever comes first.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/image/Bitmap.h"
#include "platform/ui/Node.h"
#include "platform/ui/View.h"
#include "platform/ui/detail/Context.h"

namespace ui {

class Host : public detail::Invalidator, public std::enable_shared_from_this<Host> {
 public:
  static std::shared_ptr<Host> make(View root);
  ~Host() override;
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The root view; replacing it keeps the state of every view whose identity
  // is unchanged.
  void setRootView(View root);
  const View& rootView() const { return root_; }

  // The size the root is offered. None: the root takes its ideal size.
  void setProposedSize(std::optional<Size> size);
  std::optional<Size> proposedSize() const { return proposed_; }
  // The root's ideal size (nothing proposed).
  Size fittingSize();
  // The root's size for a proposal, without changing the placed tree.
  Size sizeThatFits(ProposedSize proposal);

  // Renders (evaluates bodies and lays out) when something changed.
  void layoutIfNeeded();
  void setNeedsUpdate() override;
  // The view of that identity evaluates its body at the next render.
  void viewChanged(const std::string& identity) override;
  bool needsUpdate() const { return dirty_; }
  // Number of renders so far; for tests.
  std::size_t renderCount() const { return renderCount_; }
  // The animation of the transaction that caused the last render, if any.
  std::optional<Animation> lastRenderAnimation() const { return lastAnimation_; }

  // The placed tree (after layoutIfNeeded()).
  const Node* root();
  Size size();

  // Called after each render (the window layer redraws).
  void setOnRender(std::function<void()> callback) { onRender_ = std::move(callback); }

  // Input, in host coordinates.
  void mouseMoved(Point location);
  // The pointer left the host's area entirely: every tracked region exits.
  void mouseExited();
  void mouseDown(Point location);
  void mouseUp(Point location);
  void click(Point location) {
    mouseDown(location);
    mouseUp(location);
  }
  void rightMouseDown(Point location);
  void scrollWheel(const ScrollEvent& event);
  // Return presses the enabled default button, Escape the cancel button.
  // Returns whether a button took the key.
  bool keyDown(Key key);
  std::optional<Point> lastPointerLocation() const { return pointer_; }

  // Sheets presented by the tree, in tree order, each with its own host.
  struct PresentedSheet {
    std::string identity;
    std::shared_ptr<Host> host;
  };
  const std::vector<PresentedSheet>& presentedSheets();
  void setOnSheetsChanged(std::function<void()> callback) { onSheetsChanged_ = std::move(callback); }

  // Drawing. render() draws everything into a new bitmap; draw() keeps the
  // host's own bitmap from frame to frame, as a window's backing store, and
  // redraws only where the drawing changed since the last draw (all of it
  // after a change of size or scale). Its bitmap stays valid until the next
  // draw.
  img::Bitmap render(double scale = 1.0);
  const img::Bitmap& draw(double scale = 1.0);
  bool renderToPng(const std::string& path, double scale = 1.0);

  // Test API. A query matches a node's test id, then the label of a button,
  // toggle or picker, then a text or symbol name; the first match in tree
  // order wins.
  const Node* find(std::string_view query);
  std::vector<const Node*> findAll(std::string_view query);
  std::optional<Rect> frameOf(std::string_view query);
  // Visible centre of the node (its frame clipped by its ancestors' clips).
  std::optional<Point> centerOf(const Node& node);
  bool click(std::string_view query);
  bool rightClick(std::string_view query);
  bool hover(std::string_view query);
  bool scroll(std::string_view query, ScrollEvent event);
  // The placed tree as indented text: kind, label, test id and frame per line.
  std::string dump();

  // Number of identities that currently hold state; for tests.
  std::size_t stateCount() const;

 private:
  explicit Host(View root);
  struct Impl;
  friend struct Impl;
  void update();
  void scheduleUpdate();

  View root_;
  std::optional<Size> proposed_;
  bool dirty_ = true;
  bool updatePosted_ = false;
  bool rendering_ = false;
  std::size_t renderCount_ = 0;
  std::optional<Animation> lastAnimation_;
  std::optional<Animation> pendingAnimation_;
  std::optional<Point> pointer_;
  std::function<void()> onRender_;
  std::function<void()> onSheetsChanged_;
  std::vector<PresentedSheet> sheets_;
  std::unique_ptr<Impl> impl_;
};

// Renders a view offered `size` (none: its ideal size) to a PNG file.
bool renderToPng(View view, std::optional<Size> size, const std::string& path, double scale = 1.0);

}  // namespace ui

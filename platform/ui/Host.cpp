#include "platform/ui/Host.h"

#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <typeindex>

#include "platform/dispatch/Dispatch.h"
#include "platform/image/PNG.h"
#include "platform/ui/detail/Layout.h"
#include "platform/ui/detail/Render.h"

namespace ui {

// ---- Node helpers ----

std::string Node::label() const {
  std::string out;
  std::function<void(const Node&)> walk = [&](const Node& n) {
    if (n.kind == NodeKind::text && !n.el().text.empty()) {
      if (!out.empty()) out += ' ';
      out += n.el().text;
    }
    for (const auto& c : n.children) walk(*c);
  };
  walk(*this);
  return out;
}

const Node* Node::findFirst(const std::function<bool(const Node&)>& pred) const {
  if (pred(*this)) return this;
  for (const auto& c : children) {
    if (const Node* f = c->findFirst(pred)) return f;
  }
  return nullptr;
}

namespace {

std::string demangle(const std::type_info& type) {
  int status = 0;
  char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string out = status == 0 && name ? name : type.name();
  std::free(name);
  return out;
}

bool isWrapper(NodeKind k) {
  return k == NodeKind::component || k == NodeKind::identified || k == NodeKind::conditional ||
         k == NodeKind::environment;
}

// The node a chain of wrappers ends in.
const Node* effective(const Node* n) {
  while (n && isWrapper(n->kind) && !n->children.empty()) n = n->children.front().get();
  return n;
}

void flattenInto(Node& c, std::vector<Node*>& out) {
  if (c.kind == NodeKind::empty) return;
  if (c.kind == NodeKind::group || c.kind == NodeKind::forEach) {
    for (auto& cc : c.children) flattenInto(*cc, out);
    return;
  }
  if (isWrapper(c.kind)) {
    const Node* e = effective(&c);
    if (!e || e->kind == NodeKind::empty || (isWrapper(e->kind) && e->children.empty())) return;
    if (e->kind == NodeKind::group || e->kind == NodeKind::forEach) {
      for (auto& cc : c.children) flattenInto(*cc, out);
      return;
    }
  }
  out.push_back(&c);
}

// Axis and flattening for the layout. `flattened`: this node's children are
// laid out by an enclosing container (a group or wrapper inside a stack).
void prepare(Node& n, std::optional<Axis> axis, bool flattened) {
  n.stackAxis = axis;
  n.layoutChildren.clear();
  auto container = [&](std::optional<Axis> childAxis) {
    for (auto& c : n.children) flattenInto(*c, n.layoutChildren);
    for (auto& c : n.children) prepare(*c, childAxis, true);
  };
  switch (n.kind) {
    case NodeKind::vstack: container(Axis::vertical); return;
    case NodeKind::hstack: container(Axis::horizontal); return;
    case NodeKind::zstack:
    case NodeKind::lazyVGrid: container(std::nullopt); return;
    case NodeKind::group:
    case NodeKind::forEach:
      if (flattened) {
        for (auto& c : n.children) prepare(*c, axis, true);
      } else {
        container(Axis::vertical);
      }
      return;
    case NodeKind::component:
    case NodeKind::identified:
    case NodeKind::conditional:
    case NodeKind::environment:
      for (auto& c : n.children) prepare(*c, axis, flattened);
      return;
    case NodeKind::overlay:
    case NodeKind::background:
      for (std::size_t i = 0; i < n.children.size(); ++i) prepare(*n.children[i], i == 0 ? axis : std::nullopt, false);
      return;
    case NodeKind::button:
    case NodeKind::toggle:
    case NodeKind::picker:
      for (auto& c : n.children) prepare(*c, std::nullopt, false);
      return;
    default:
      for (auto& c : n.children) prepare(*c, axis, false);
      return;
  }
}

void resetPlacement(Node& n) {
  n.placed = false;
  n.collapsed = false;
  for (auto& c : n.children) resetPlacement(*c);
}

// Nodes laid out through their parent (flattened groups and wrappers) get
// the union of their children's frames.
void fixFrames(Node& n, bool hiddenAbove) {
  for (auto& c : n.children) fixFrames(*c, hiddenAbove || n.collapsed);
  if (hiddenAbove) n.collapsed = true;
  if (n.placed) return;
  bool any = false;
  Rect r;
  for (auto& c : n.children) {
    if (!c->placed) continue;
    r = any ? r.unionWith(c->frame) : c->frame;
    any = true;
  }
  n.frame = any ? r : Rect{n.parent ? n.parent->frame.x : 0, n.parent ? n.parent->frame.y : 0, 0, 0};
  n.placed = any;
}

// Children in drawing order (a background's content is drawn first).
template <class F>
void forEachInPaintOrder(const Node& n, F&& f) {
  if (n.kind == NodeKind::background && n.children.size() > 1) {
    for (std::size_t i = 1; i < n.children.size(); ++i) f(*n.children[i]);
    f(*n.children[0]);
    return;
  }
  for (const auto& c : n.children) f(*c);
}

bool invisible(const Node& n) { return n.collapsed || n.kind == NodeKind::hidden; }

// A rect in the space of a scale node's content, in the space the node itself
// lies in.
Rect scaledOut(const Node& scale, const Rect& r) {
  const Element& e = scale.el();
  const double ax = scale.frame.x + e.anchor.x * scale.frame.width;
  const double ay = scale.frame.y + e.anchor.y * scale.frame.height;
  Rect out{ax + (r.x - ax) * e.scaleX, ay + (r.y - ay) * e.scaleY, r.width * e.scaleX, r.height * e.scaleY};
  if (out.width < 0) out = {out.x + out.width, out.y, -out.width, out.height};
  if (out.height < 0) out = {out.x, out.y + out.height, out.width, -out.height};
  return out;
}

// The part of a node's frame that its ancestors' clips leave visible, in host
// coordinates (frames inside a scale effect are in the effect's own space).
std::optional<Rect> visibleRect(const Node& n) {
  Rect r = n.frame;
  for (const Node* a = &n; a; a = a->parent) {
    if (invisible(*a)) return std::nullopt;
    if (a == &n) continue;
    if (a->kind == NodeKind::clip) r = r.intersection(a->frame);
    if (a->kind == NodeKind::scale) r = scaledOut(*a, r);
  }
  if (r.isEmpty()) return std::nullopt;
  return r;
}

// A node's frame in host coordinates, clips left aside.
Rect hostFrame(const Node& n) {
  Rect r = n.frame;
  for (const Node* a = n.parent; a; a = a->parent) {
    if (a->kind == NodeKind::scale) r = scaledOut(*a, r);
  }
  return r;
}

bool clickable(const Node& n) {
  return n.kind == NodeKind::button || n.kind == NodeKind::toggle || n.kind == NodeKind::picker;
}

}  // namespace

// ---- Impl ----

struct Host::Impl {
  struct ComponentState {
    std::map<std::size_t, std::pair<std::type_index, std::shared_ptr<detail::StateBoxBase>>> slots;
    std::map<std::string, std::shared_ptr<void>> observations;
    std::shared_ptr<PlatformView> platformView;
    std::shared_ptr<dispatch::TimerSource> timer;
    bool seen = false;
    ComponentState() = default;
    ComponentState(ComponentState&&) = default;
    ComponentState& operator=(ComponentState&&) = default;
    ~ComponentState() {
      if (timer) timer->cancel();
    }
  };

  struct BodyContext final : detail::RenderContext {
    Host* host = nullptr;
    ComponentState* state = nullptr;
    const EnvironmentValues* env = nullptr;

    std::shared_ptr<detail::StateBoxBase> slot(
        std::size_t offset, std::type_index type,
        const std::function<std::shared_ptr<detail::StateBoxBase>()>& make) override {
      auto it = state->slots.find(offset);
      if (it != state->slots.end() && it->second.first == type) return it->second.second;
      auto box = make();
      box->owner = std::weak_ptr<detail::Invalidator>(host->shared_from_this());
      state->slots.insert_or_assign(offset, std::make_pair(type, box));
      return box;
    }
    void observeOnce(const std::string& key,
                     const std::function<std::shared_ptr<void>(std::function<void()>)>& subscribe) override {
      if (state->observations.count(key)) return;
      std::weak_ptr<Host> weak = host->shared_from_this();
      state->observations[key] = subscribe([weak] {
        if (auto h = weak.lock()) h->setNeedsUpdate();
      });
    }
    const EnvironmentValues& environment() const override { return *env; }
  };

  Host* host;
  std::unordered_map<std::string, ComponentState> store;
  std::unique_ptr<Node> tree;
  std::unique_ptr<detail::BackingStore> backingStore;
  std::map<std::string, bool> trackingInside;
  std::map<std::uint64_t, bool> regionInside;
  std::map<std::string, ElementPtr> lifecycle;  // on screen after the last render
  std::optional<std::string> pressed;
  struct SheetRequest {
    std::string identity;
    ElementPtr element;
    std::shared_ptr<const EnvironmentValues> env;
  };
  std::vector<SheetRequest> sheetRequests;
  std::map<std::string, ElementPtr> collectedLifecycle;
  std::map<std::string, ElementPtr> sheetElements;

  explicit Impl(Host* h) : host(h) {}

  ComponentState& stateFor(const std::string& key) {
    auto& s = store[key];
    s.seen = true;
    return s;
  }

  std::unique_ptr<Node> resolve(const ElementPtr& el, const std::string& identity,
                                std::shared_ptr<const EnvironmentValues> env, Node* parent) {
    auto node = std::make_unique<Node>();
    node->kind = el->kind;
    node->element = el;
    node->identity = identity;
    node->env = env;
    node->parent = parent;
    // Two siblings with one explicit id are told apart by their order.
    std::map<std::string, int> seenIds;
    auto childId = [&](std::size_t i, const ElementPtr& child) {
      if (child->kind == NodeKind::identified && child->explicitId) {
        int n = seenIds[*child->explicitId]++;
        std::string id = node->identity + "/#" + *child->explicitId;
        return n == 0 ? id : id + "~" + std::to_string(n);
      }
      return node->identity + "/" + std::to_string(i);
    };
    auto resolveChildren = [&](const std::shared_ptr<const EnvironmentValues>& childEnv) {
      node->children.reserve(el->children.size());
      for (std::size_t i = 0; i < el->children.size(); ++i) {
        node->children.push_back(resolve(el->children[i], childId(i, el->children[i]), childEnv, node.get()));
      }
    };

    switch (el->kind) {
      case NodeKind::component: {
        const auto& component = *el->component;
        std::string key = identity + ":" + component.type().name();
        node->identity = key;
        node->typeName = demangle(component.type());
        auto& state = stateFor(key);
        BodyContext ctx;
        ctx.host = host;
        ctx.state = &state;
        ctx.env = env.get();
        ctx.viewBegin = component.address();
        ctx.viewSize = component.size();
        View body;
        {
          detail::ContextScope scope(&ctx);
          body = component.evaluate();
        }
        node->children.push_back(resolve(body.elementPtr(), key + "/0", env, node.get()));
        return node;
      }
      case NodeKind::representable: {
        const auto& rep = *el->representable;
        std::string key = identity + ":" + rep.type().name();
        node->identity = key;
        node->typeName = demangle(rep.type());
        auto& state = stateFor(key);
        if (!state.platformView) state.platformView = rep.makeView();
        if (state.platformView) {
          rep.updateView(*state.platformView);
          node->platformView = state.platformView;
          if (auto content = state.platformView->hostedContent()) {
            node->children.push_back(resolve(content->elementPtr(), key + "/0", env, node.get()));
          }
        }
        return node;
      }
      case NodeKind::environment: {
        auto changed = std::make_shared<EnvironmentValues>(*env);
        if (el->environmentChange) el->environmentChange(*changed);
        resolveChildren(changed);
        return node;
      }
      case NodeKind::conditional: {
        if (!el->children.empty()) {
          node->children.push_back(
              resolve(el->children[0], identity + (el->branch ? "/T" : "/F"), env, node.get()));
        }
        return node;
      }
      case NodeKind::timeline: {
        auto& state = stateFor(identity);
        if (!state.timer && el->period > 0) {
          state.timer = dispatch::TimerSource::make(dispatch::Queue::main());
          auto interval = static_cast<dispatch::Time>(el->period * dispatch::kNanosPerSecond);
          state.timer->setTimer(dispatch::after(el->period), interval);
          std::weak_ptr<Host> weak = host->shared_from_this();
          state.timer->setEventHandler([weak] {
            if (auto h = weak.lock()) h->setNeedsUpdate();
          });
          state.timer->resume();
        }
        if (el->timelineContent) {
          View content = el->timelineContent(dispatch::wallNow());
          node->children.push_back(resolve(content.elementPtr(), identity + "/0", env, node.get()));
        }
        return node;
      }
      case NodeKind::lifecycle:
        collectedLifecycle[identity] = el;
        resolveChildren(env);
        return node;
      case NodeKind::sheet:
        resolveChildren(env);
        if (el->boolBinding && el->boolBinding->get()) sheetRequests.push_back({identity, el, env});
        return node;
      default:
        resolveChildren(env);
        return node;
    }
  }

  void collectTracking(const Node& n, std::vector<const Node*>& nodes, std::vector<const Node*>& platform) {
    if (invisible(n)) return;
    if (n.kind == NodeKind::trackingArea) nodes.push_back(&n);
    if (n.platformView) platform.push_back(&n);
    for (const auto& c : n.children) collectTracking(*c, nodes, platform);
  }

  void notifyPlatformViews(Node& n) {
    if (n.platformView) n.platformView->hostDidLayout(hostFrame(n));
    for (auto& c : n.children) notifyPlatformViews(*c);
  }

  // New tracking regions start in the state the pointer puts them in, without
  // an event; regions that went away are forgotten.
  void syncTracking() {
    std::vector<const Node*> nodes, platform;
    if (tree) collectTracking(*tree, nodes, platform);
    std::map<std::string, bool> nextInside;
    for (const Node* n : nodes) {
      auto it = trackingInside.find(n->identity);
      nextInside[n->identity] = it != trackingInside.end() ? it->second
                                                           : (host->pointer_ && hostFrame(*n).contains(*host->pointer_));
    }
    trackingInside = std::move(nextInside);
    std::map<std::uint64_t, bool> nextRegions;
    for (const Node* n : platform) {
      for (const auto& region : n->platformView->trackingRegions()) {
        auto it = regionInside.find(region.id);
        nextRegions[region.id] = it != regionInside.end() ? it->second
                                                          : (host->pointer_ && region.rect.contains(*host->pointer_));
      }
    }
    regionInside = std::move(nextRegions);
  }

  const Node* hitTest(const Node& n, Point p) const {
    if (invisible(n)) return nullptr;
    const Node* found = nullptr;
    // Topmost child first: the last one in drawing order.
    std::vector<const Node*> order;
    forEachInPaintOrder(n, [&](const Node& c) { order.push_back(&c); });
    for (auto it = order.rbegin(); it != order.rend() && !found; ++it) found = hitTest(**it, p);
    if (found) return found;
    auto r = visibleRect(n);
    return r && r->contains(p) ? &n : nullptr;
  }

  const Node* topmostClickable(Point p) const {
    const Node* best = nullptr;
    std::function<void(const Node&)> walk = [&](const Node& n) {
      if (invisible(n)) return;
      if (clickable(n) && n.isEnabled()) {
        auto r = visibleRect(n);
        if (r && r->contains(p)) best = &n;
      }
      forEachInPaintOrder(n, walk);
    };
    if (tree) walk(*tree);
    return best;
  }
};

// ---- Host ----

std::shared_ptr<Host> Host::make(View root) { return std::shared_ptr<Host>(new Host(std::move(root))); }

Host::Host(View root) : root_(std::move(root)), impl_(std::make_unique<Impl>(this)) {}

Host::~Host() = default;

void Host::setRootView(View root) {
  root_ = std::move(root);
  setNeedsUpdate();
}

void Host::setProposedSize(std::optional<Size> size) {
  if (proposed_ == size) return;
  proposed_ = size;
  setNeedsUpdate();
}

void Host::setNeedsUpdate() {
  if (auto* t = Transaction::current(); t && t->animation) pendingAnimation_ = t->animation;
  dirty_ = true;
  if (!rendering_) scheduleUpdate();
}

void Host::scheduleUpdate() {
  if (updatePosted_) return;
  updatePosted_ = true;
  std::weak_ptr<Host> weak = weak_from_this();
  if (weak.expired()) {
    updatePosted_ = false;
    return;
  }
  dispatch::Queue::main()->async([weak] {
    if (auto h = weak.lock()) {
      h->updatePosted_ = false;
      h->layoutIfNeeded();
    }
  });
}

void Host::layoutIfNeeded() {
  if (rendering_) return;
  int passes = 0;
  bool rendered = false;
  while (dirty_ && passes++ < 8) {
    update();
    rendered = true;
  }
  if (rendered && onRender_) onRender_();
}

void Host::update() {
  rendering_ = true;
  dirty_ = false;
  lastAnimation_ = std::exchange(pendingAnimation_, std::nullopt);
  auto& impl = *impl_;
  for (auto& [key, state] : impl.store) state.seen = false;
  impl.sheetRequests.clear();
  impl.collectedLifecycle.clear();
  auto env = std::make_shared<const EnvironmentValues>();
  // The old tree goes first: state lives in the store, nothing below reads
  // it, and a large view is then never held twice.
  impl.tree.reset();
  std::unique_ptr<Node> tree;
  try {
    tree = impl.resolve(root_.elementPtr(), "", env, nullptr);
  } catch (...) {
    rendering_ = false;
    throw;
  }
  // State of views that left the tree goes with them.
  std::erase_if(impl.store, [](const auto& entry) { return !entry.second.seen; });
  prepare(*tree, std::nullopt, false);
  resetPlacement(*tree);
  ProposedSize proposal = proposed_ ? ProposedSize::of(*proposed_) : ProposedSize{};
  detail::place(*tree, {0, 0}, proposal);
  fixFrames(*tree, false);
  impl.tree = std::move(tree);
  ++renderCount_;
  rendering_ = false;

  impl.notifyPlatformViews(*impl.tree);
  impl.syncTracking();

  // Sheets: one host per presented sheet, kept while it stays presented.
  std::vector<PresentedSheet> next;
  bool sheetsChanged = false;
  for (auto& req : impl.sheetRequests) {
    auto it = std::find_if(sheets_.begin(), sheets_.end(),
                           [&](const PresentedSheet& s) { return s.identity == req.identity; });
    auto envCopy = req.env;
    View content = req.element->sheetContent ? req.element->sheetContent() : View();
    content = content.environment([envCopy](EnvironmentValues& e) { e = *envCopy; });
    if (it != sheets_.end()) {
      it->host->setRootView(content);
      next.push_back(*it);
    } else {
      next.push_back({req.identity, Host::make(content)});
      sheetsChanged = true;
    }
  }
  std::vector<std::function<void()>> calls;
  std::map<std::string, ElementPtr> sheetElements;
  for (auto& req : impl.sheetRequests) sheetElements[req.identity] = req.element;
  for (auto& old : sheets_) {
    bool kept = sheetElements.count(old.identity) > 0;
    if (kept) continue;
    sheetsChanged = true;
    auto it = impl.sheetElements.find(old.identity);
    if (it != impl.sheetElements.end() && it->second->onDismiss) calls.push_back(it->second->onDismiss);
  }
  impl.sheetElements = std::move(sheetElements);
  sheets_ = std::move(next);

  // Appearance callbacks, after the tree is in place.
  for (auto& [id, el] : impl.collectedLifecycle) {
    if (!impl.lifecycle.count(id) && el->onAppear) calls.push_back(el->onAppear);
  }
  for (auto& [id, el] : impl.lifecycle) {
    if (!impl.collectedLifecycle.count(id) && el->onDisappear) calls.push_back(el->onDisappear);
  }
  impl.lifecycle = impl.collectedLifecycle;
  for (auto& c : calls) c();
  if (sheetsChanged && onSheetsChanged_) onSheetsChanged_();
}

const Node* Host::root() {
  layoutIfNeeded();
  return impl_->tree.get();
}

Size Host::size() {
  const Node* r = root();
  return r ? r->frame.size() : Size{};
}

Size Host::fittingSize() { return sizeThatFits(ProposedSize{}); }

Size Host::sizeThatFits(ProposedSize proposal) {
  layoutIfNeeded();
  if (!impl_->tree) return {};
  Size s = detail::sizeThatFits(*impl_->tree, proposal);
  return s;
}

std::size_t Host::stateCount() const { return impl_->store.size(); }

const std::vector<Host::PresentedSheet>& Host::presentedSheets() {
  layoutIfNeeded();
  return sheets_;
}

// ---- input ----

void Host::mouseMoved(Point location) {
  layoutIfNeeded();
  pointer_ = location;
  auto& impl = *impl_;
  if (!impl.tree) return;
  std::vector<const Node*> nodes, platform;
  impl.collectTracking(*impl.tree, nodes, platform);
  std::vector<std::function<void()>> exits, others;
  for (const Node* n : nodes) {
    bool inside = hostFrame(*n).contains(location);
    bool& was = impl.trackingInside[n->identity];
    auto cb = n->el().onMove;
    if (!cb) {
      was = inside;
      continue;
    }
    if (was && !inside) exits.push_back([cb] { cb(false); });
    if (inside && (!was || !n->el().hoverOnly)) others.push_back([cb] { cb(true); });
    was = inside;
  }
  for (const Node* n : platform) {
    auto view = n->platformView;
    for (const auto& region : view->trackingRegions()) {
      bool inside = region.rect.contains(location);
      bool& was = impl.regionInside[region.id];
      auto id = region.id;
      if (was && !inside && region.enteredAndExited) {
        exits.push_back([view, id, location] { view->trackingEvent(id, TrackingEventKind::exited, location); });
      } else if (!was && inside && region.enteredAndExited) {
        others.push_back([view, id, location] { view->trackingEvent(id, TrackingEventKind::entered, location); });
      } else if (was && inside && region.moved) {
        others.push_back([view, id, location] { view->trackingEvent(id, TrackingEventKind::moved, location); });
      }
      was = inside;
    }
  }
  for (auto& f : exits) f();
  for (auto& f : others) f();
}

void Host::mouseExited() {
  // Far outside any frame.
  mouseMoved({-1e9, -1e9});
}

void Host::mouseDown(Point location) {
  layoutIfNeeded();
  pointer_ = location;
  const Node* target = impl_->topmostClickable(location);
  impl_->pressed = target ? std::optional<std::string>(target->identity) : std::nullopt;
}

void Host::mouseUp(Point location) {
  layoutIfNeeded();
  pointer_ = location;
  auto pressed = std::exchange(impl_->pressed, std::nullopt);
  const Node* target = impl_->topmostClickable(location);
  if (!target || !pressed || *pressed != target->identity) return;
  const Element& e = target->el();
  switch (target->kind) {
    case NodeKind::button:
      if (auto action = e.action) action();
      break;
    case NodeKind::toggle:
      if (e.boolBinding) e.boolBinding->set(!e.boolBinding->get());
      break;
    case NodeKind::picker: {
      if (!e.intBinding || e.optionTags.empty()) break;
      bool radio = target->env && target->env->pickerStyle == PickerStyle::radioGroup;
      if (radio) {
        for (std::size_t i = 0; i < target->children.size() && i < e.optionTags.size(); ++i) {
          Rect row = target->children[i]->frame;
          row.x = target->frame.x;
          row.width = target->frame.width;
          row.height = std::max(row.height, 16.0);
          if (row.contains(location)) {
            e.intBinding->set(e.optionTags[i]);
            break;
          }
        }
      } else {
        // A click on a closed pop-up moves to the next option.
        int current = e.intBinding->get();
        auto it = std::find(e.optionTags.begin(), e.optionTags.end(), current);
        std::size_t next = it == e.optionTags.end() ? 0 : (static_cast<std::size_t>(it - e.optionTags.begin()) + 1) %
                                                              e.optionTags.size();
        e.intBinding->set(e.optionTags[next]);
      }
      break;
    }
    default:
      break;
  }
}

// The order in which the views under a point are offered an event: a
// bridged platform view comes before the content it hosts (its own handling
// decides whether the content sees the event), then outward.
static std::vector<const Node*> responderOrder(const Node* hit) {
  std::vector<const Node*> out, pending;
  for (const Node* n = hit; n; n = n->parent) {
    if (n->platformView) {
      out.push_back(n);
      out.insert(out.end(), pending.begin(), pending.end());
      pending.clear();
    } else {
      pending.push_back(n);
    }
  }
  out.insert(out.end(), pending.begin(), pending.end());
  return out;
}

void Host::rightMouseDown(Point location) {
  layoutIfNeeded();
  pointer_ = location;
  if (!impl_->tree) return;
  for (const Node* n : responderOrder(impl_->hitTest(*impl_->tree, location))) {
    if (n->platformView) {
      auto view = n->platformView;
      if (view->takeRightMouseDown(location)) return;
    } else if (n->kind == NodeKind::rightClick && n->el().action) {
      auto action = n->el().action;
      action();
      return;
    }
  }
}

void Host::scrollWheel(const ScrollEvent& event) {
  layoutIfNeeded();
  pointer_ = event.location;
  if (!impl_->tree) return;
  for (const Node* n : responderOrder(impl_->hitTest(*impl_->tree, event.location))) {
    if (n->platformView) {
      auto view = n->platformView;
      if (view->takeScrollWheel(event)) return;
    } else if (n->kind == NodeKind::scrollGesture && n->el().onScroll) {
      auto handler = n->el().onScroll;
      handler(event);
      return;
    }
  }
}

bool Host::keyDown(Key key) {
  layoutIfNeeded();
  if (!impl_->tree) return false;
  KeyboardShortcut wanted = key == Key::returnKey ? KeyboardShortcut::defaultAction
                            : key == Key::escape  ? KeyboardShortcut::cancelAction
                                                  : KeyboardShortcut::none;
  if (wanted == KeyboardShortcut::none) return false;
  const Node* button = impl_->tree->findFirst([&](const Node& n) {
    return n.kind == NodeKind::button && n.el().shortcut == wanted && n.isEnabled() && visibleRect(n).has_value();
  });
  if (!button) return false;
  if (auto action = button->el().action) action();
  return true;
}

// ---- test API ----

std::vector<const Node*> Host::findAll(std::string_view query) {
  std::vector<const Node*> out;
  const Node* r = root();
  if (!r) return out;
  std::string q(query);
  auto collect = [&](const std::function<bool(const Node&)>& pred) {
    std::function<void(const Node&)> walk = [&](const Node& n) {
      if (pred(n)) out.push_back(&n);
      for (const auto& c : n.children) walk(*c);
    };
    walk(*r);
  };
  collect([&](const Node& n) { return !n.el().testId.empty() && n.el().testId == q; });
  if (out.empty()) collect([&](const Node& n) { return clickable(n) && n.label() == q; });
  if (out.empty()) {
    collect([&](const Node& n) { return (n.kind == NodeKind::text || n.kind == NodeKind::symbol) && n.el().text == q; });
  }
  return out;
}

const Node* Host::find(std::string_view query) {
  auto all = findAll(query);
  return all.empty() ? nullptr : all.front();
}

std::optional<Rect> Host::frameOf(std::string_view query) {
  const Node* n = find(query);
  if (!n) return std::nullopt;
  return hostFrame(*n);
}

std::optional<Point> Host::centerOf(const Node& node) {
  auto r = visibleRect(node);
  if (!r) return std::nullopt;
  return Point{r->midX(), r->midY()};
}

bool Host::click(std::string_view query) {
  const Node* n = find(query);
  if (!n) return false;
  auto p = centerOf(*n);
  if (!p) return false;
  click(*p);
  return true;
}

bool Host::rightClick(std::string_view query) {
  const Node* n = find(query);
  if (!n) return false;
  auto p = centerOf(*n);
  if (!p) return false;
  rightMouseDown(*p);
  return true;
}

bool Host::hover(std::string_view query) {
  const Node* n = find(query);
  if (!n) return false;
  auto p = centerOf(*n);
  if (!p) return false;
  mouseMoved(*p);
  return true;
}

bool Host::scroll(std::string_view query, ScrollEvent event) {
  const Node* n = find(query);
  if (!n) return false;
  auto p = centerOf(*n);
  if (!p) return false;
  event.location = *p;
  scrollWheel(event);
  return true;
}

std::string Host::dump() {
  const Node* r = root();
  std::ostringstream out;
  std::function<void(const Node&, int)> walk = [&](const Node& n, int depth) {
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << kindName(n.kind);
    if (!n.typeName.empty()) out << " " << n.typeName;
    if (n.kind == NodeKind::text || n.kind == NodeKind::symbol) out << " \"" << n.el().text << "\"";
    if (n.el().explicitId) out << " #" << *n.el().explicitId;
    if (!n.el().testId.empty()) out << " [" << n.el().testId << "]";
    if (!n.isEnabled()) out << " disabled";
    if (n.collapsed) out << " collapsed";
    out << " " << describe(n.frame) << "\n";
    for (const auto& c : n.children) walk(*c, depth + 1);
  };
  if (r) walk(*r, 0);
  return out.str();
}

// ---- drawing ----

img::Bitmap Host::render(double scale) {
  layoutIfNeeded();
  Size s = size();
  return detail::renderTree(impl_->tree.get(), s, scale);
}

const img::Bitmap& Host::draw(double scale) {
  layoutIfNeeded();
  Size s = size();
  if (!impl_->backingStore) impl_->backingStore = std::make_unique<detail::BackingStore>();
  return impl_->backingStore->draw(impl_->tree.get(), s, scale);
}

bool Host::renderToPng(const std::string& path, double scale) { return img::savePNG(render(scale), path); }

bool renderToPng(View view, std::optional<Size> size, const std::string& path, double scale) {
  auto host = Host::make(std::move(view));
  host->setProposedSize(size);
  return host->renderToPng(path, scale);
}

}  // namespace ui

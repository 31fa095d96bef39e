#include "platform/ui/Host.h"

#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <typeindex>
#include <unordered_map>

#include "platform/dispatch/Dispatch.h"
#include "platform/image/PNG.h"
#include "platform/ui/detail/Layout.h"
#include "platform/ui/detail/Render.h"

namespace ui {

// ---- Node helpers ----

std::string Node::label() const {
  std::string out;
  std::function<void(const Node&)> walk = [&](const Node& n) {
    if (n.kind == NodeKind::text && !n.el().drawing->text.empty()) {
      if (!out.empty()) out += ' ';
      out += n.el().drawing->text;
    }
    for (const auto& c : n.children) walk(*c);
  };
  walk(*this);
  return out;
}

std::string Node::identity() const {
  std::size_t length = 0;
  for (const Node* n = this; n; n = n->parent) length += n->idPart.size();
  // Filled from the end: the parts of the ancestors come first.
  std::string out(length, '\0');
  for (const Node* n = this; n; n = n->parent) {
    length -= n->idPart.size();
    out.replace(length, n->idPart.size(), n->idPart);
  }
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

// A view type's readable name, and the short key that tells it apart in
// identities (identities of large trees stay short), made once per type.
struct TypeNames {
  std::string readable;
  std::string key;
};

const TypeNames& namesOf(const std::type_info& type) {
  static std::mutex mutex;
  static std::unordered_map<std::type_index, TypeNames> names;
  std::lock_guard lock(mutex);
  auto [it, inserted] = names.try_emplace(std::type_index(type));
  if (inserted) {
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    it->second.readable = status == 0 && name ? name : type.name();
    std::free(name);
    it->second.key = "T" + std::to_string(names.size());
  }
  return it->second;
}

// An identity with one more part, made in one allocation (a large tree has
// very many identities).
std::string joined(const std::string& base, std::string_view separator, std::string_view part) {
  std::string out;
  out.reserve(base.size() + separator.size() + part.size());
  out += base;
  out += separator;
  out += part;
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

// Where a node is laid out: the axis of the stack it lies in (through
// modifiers), and whether its children are laid out by an enclosing
// container (a group or wrapper inside a stack).
struct LayoutPlace {
  std::optional<Axis> axis;
  bool flattened = false;
};

LayoutPlace placeOf(const Node& n) { return {n.stackAxis, n.reuse.flattened}; }

// Where the child at `index` of a node lies.
LayoutPlace placeOfChild(const Node& n, std::size_t index) {
  switch (n.kind) {
    case NodeKind::vstack: return {Axis::vertical, true};
    case NodeKind::hstack: return {Axis::horizontal, true};
    case NodeKind::zstack:
    case NodeKind::lazyVGrid: return {std::nullopt, true};
    case NodeKind::group:
    case NodeKind::forEach:
      return n.reuse.flattened ? LayoutPlace{n.stackAxis, true} : LayoutPlace{Axis::vertical, true};
    case NodeKind::component:
    case NodeKind::identified:
    case NodeKind::conditional:
    case NodeKind::environment: return placeOf(n);
    case NodeKind::overlay:
    case NodeKind::background: return {index == 0 ? n.stackAxis : std::nullopt, false};
    case NodeKind::button:
    case NodeKind::toggle:
    case NodeKind::picker: return {std::nullopt, false};
    default: return {n.stackAxis, false};
  }
}

void setPlace(Node& n, LayoutPlace place) {
  // Sizes kept from the last render were found along the old axis.
  if (n.stackAxis != place.axis) n.cache.clear();
  n.stackAxis = place.axis;
  n.reuse.flattened = place.flattened;
}

// The children a stack or grid (or a group laid out as a stack) lays out.
void collectLayoutChildren(Node& n) {
  n.layoutChildren.clear();
  switch (n.kind) {
    case NodeKind::group:
    case NodeKind::forEach:
      if (n.reuse.flattened) return;
      [[fallthrough]];
    case NodeKind::vstack:
    case NodeKind::hstack:
    case NodeKind::zstack:
    case NodeKind::lazyVGrid:
      for (auto& c : n.children) flattenInto(*c, n.layoutChildren);
      return;
    default:
      return;
  }
}

// Places and layout children of a subtree put at `place`; an unchanged
// subtree at the same place keeps what it has.
void prepare(Node& n, LayoutPlace place, std::uint64_t pass) {
  if (n.reuse.changedInPass != pass && n.stackAxis == place.axis && n.reuse.flattened == place.flattened) return;
  setPlace(n, place);
  collectLayoutChildren(n);
  for (std::size_t i = 0; i < n.children.size(); ++i) prepare(*n.children[i], placeOfChild(n, i), pass);
}

// Everything inside a node that a collapsed ancestor hides.
void hideAll(Node& n) {
  n.collapsed = true;
  n.reuse.contentHidden = true;
  for (auto& c : n.children) hideAll(*c);
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
  const double ax = scale.frame.x + e.drawing->anchor.x * scale.frame.width;
  const double ay = scale.frame.y + e.drawing->anchor.y * scale.frame.height;
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

// What the host keeps for a view by its identity, from the first render
// that needs it until the view leaves the tree.
struct detail::ViewState {
  std::map<std::size_t, std::pair<std::type_index, std::shared_ptr<StateBoxBase>>> slots;
  std::map<std::string, std::shared_ptr<void>> observations;
  std::shared_ptr<PlatformView> platformView;
  std::shared_ptr<dispatch::TimerSource> timer;
  // Its key in the host's store.
  const std::string* identity = nullptr;
  // Shared with its state, its observations and its timer (made for the
  // first of them).
  std::shared_ptr<ViewStamp> stamp;
  std::uint64_t seenInRender = 0;

  bool isStale() const { return stamp && stamp->stale; }
  const std::shared_ptr<ViewStamp>& sharedStamp() {
    if (!stamp) {
      stamp = std::make_shared<ViewStamp>();
      stamp->identity = *identity;
    }
    return stamp;
  }
  ViewState() = default;
  ViewState(ViewState&&) = default;
  ViewState& operator=(ViewState&&) = default;
  ~ViewState() {
    if (timer) timer->cancel();
  }
};

struct Host::Impl {
  using ComponentState = detail::ViewState;

  struct BodyContext final : detail::RenderContext {
    Impl* impl = nullptr;
    Node* node = nullptr;
    const EnvironmentValues* env = nullptr;

    // A view's state is kept from the first body that binds a property.
    ComponentState& state() {
      if (!node->reuse.state) impl->evaluating(impl->stateOf(*node));
      return *node->reuse.state;
    }

    std::shared_ptr<detail::StateBoxBase> slot(
        std::size_t offset, std::type_index type,
        const std::function<std::shared_ptr<detail::StateBoxBase>()>& make) override {
      auto& s = state();
      auto it = s.slots.find(offset);
      if (it != s.slots.end() && it->second.first == type) return it->second.second;
      auto box = make();
      box->owner = std::weak_ptr<detail::Invalidator>(impl->host->shared_from_this());
      box->view = s.sharedStamp();
      s.slots.insert_or_assign(offset, std::make_pair(type, box));
      return box;
    }
    void observeOnce(const std::string& key,
                     const std::function<std::shared_ptr<void>(std::function<void()>)>& subscribe) override {
      auto& s = state();
      if (s.observations.count(key)) return;
      std::weak_ptr<Host> weak = impl->host->shared_from_this();
      s.observations[key] = subscribe([weak, stamp = s.sharedStamp()] {
        stamp->stale = true;
        if (auto h = weak.lock()) h->viewChanged(stamp->identity);
      });
    }
    const EnvironmentValues& environment() const override { return *env; }
  };

  using NodePtr = std::unique_ptr<Node>;
  using EnvPtr = std::shared_ptr<const EnvironmentValues>;

  Host* host;
  std::unordered_map<std::string, ComponentState> store;
  std::uint64_t renderNumber = 0;
  std::uint64_t layoutPass = 1;
  // Views whose state, observed objects or timer changed since their body
  // was last evaluated.
  std::set<std::string> staleViews;
  NodePtr tree;
  EnvPtr rootEnv = std::make_shared<const EnvironmentValues>();
  std::unique_ptr<detail::BackingStore> backingStore;

  // The visible tracking areas (with their frames in host coordinates) and
  // bridged platform views of the placed tree, in tree order.
  struct Tracked {
    Node* node;
    Rect frame;
  };
  std::vector<Tracked> trackingNodes;
  std::vector<const Node*> platformNodes;
  // Counts the renders that listed them (a render that changes nothing
  // keeps the lists).
  std::uint64_t collection = 0;
  // The tracking regions of the platform views: whether the pointer is
  // inside, as of the last render that listed them.
  struct RegionState {
    bool inside = false;
    std::uint64_t listed = 0;
  };
  std::unordered_map<std::uint64_t, RegionState> regionInside;

  std::map<std::string, ElementPtr> lifecycle;  // on screen after the last render
  std::set<std::string> sheetNodes;             // sheet modifiers in the tree
  std::optional<std::string> pressed;
  struct SheetRequest {
    std::string identity;
    ElementPtr element;
    std::shared_ptr<const EnvironmentValues> env;
  };
  std::vector<SheetRequest> sheetRequests;
  std::map<std::string, ElementPtr> sheetElements;

  // What one render evaluated and what it dropped from the last tree.
  struct RenderChanges {
    std::vector<std::string> droppedState;
    std::map<std::string, ElementPtr> lifecycle;
    std::set<std::string> droppedLifecycle;
    std::set<std::string> sheets;
    std::set<std::string> droppedSheets;
  };
  RenderChanges changes;

  explicit Impl(Host* h) : host(h) {}

  ComponentState& stateFor(const std::string& key) {
    auto [it, inserted] = store.try_emplace(key);
    auto& s = it->second;
    if (inserted) s.identity = &it->first;
    s.seenInRender = renderNumber;
    return s;
  }
  // The state a node's view keeps, found once by its identity.
  ComponentState& stateOf(Node& node) {
    if (!node.reuse.state) node.reuse.state = &stateFor(node.identity());
    node.reuse.state->seenInRender = renderNumber;
    return *node.reuse.state;
  }

  // The view evaluates its body again: changes from now on call for another
  // evaluation.
  void evaluating(ComponentState& state) {
    if (!state.stamp) return;
    state.stamp->stale = false;
    staleViews.erase(state.stamp->identity);
  }

  // Whether one of `ids` lies inside the subtree of that identity.
  static bool anyInside(const std::set<std::string>& ids, const std::string& identity) {
    const std::string prefix = identity + "/";
    auto it = ids.lower_bound(prefix);
    return it != ids.end() && it->compare(0, prefix.size(), prefix) == 0;
  }

  // The part of its identity a node was asked for: a component or
  // representable adds its type to it.
  static std::string_view requestedPart(const Node& n) {
    std::string_view id = n.idPart;
    if (n.kind == NodeKind::component || n.kind == NodeKind::representable) id = id.substr(0, id.rfind(':'));
    return id;
  }

  static bool sameEnvironment(const EnvPtr& a, const EnvPtr& b) { return a == b || (a && b && *a == *b); }

  // The last render's node for `el` describes the same view in the same
  // environment, and nothing the view reads changed: its subtree can stay.
  bool unchanged(const Node& old, const ElementPtr& el, const EnvPtr& env) const {
    if (old.element != el) {
      if (el->kind != NodeKind::component || !old.element->component ||
          !el->component->equals(*old.element->component)) {
        return false;
      }
    }
    if (old.reuse.state && old.reuse.state->isStale()) return false;
    return sameEnvironment(old.env, env);
  }

  // The bookkeeping of a subtree that leaves the tree.
  void forget(const Node& n) {
    if (n.reuse.state) changes.droppedState.push_back(*n.reuse.state->identity);
    if (n.kind == NodeKind::lifecycle) changes.droppedLifecycle.insert(n.identity());
    if (n.kind == NodeKind::sheet) changes.droppedSheets.insert(n.identity());
    for (const auto& c : n.children) forget(*c);
  }
  void drop(NodePtr& n) {
    if (!n) return;
    forget(*n);
    n.reset();
  }

  // A subtree kept from the last render: views inside whose own state
  // changed are evaluated again. Returns whether anything inside changed
  // (the layout of the nodes around it is then out of date).
  bool refresh(NodePtr& slot) {
    if (staleViews.empty()) return false;
    Node& n = *slot;
    if (n.reuse.state && n.reuse.state->isStale()) {
      const std::string part(requestedPart(n));
      const ElementPtr el = n.element;
      const EnvPtr env = n.env;
      Node* parent = n.parent;
      const LayoutPlace place = placeOf(n);
      slot = resolve(el, part, env, parent, std::move(slot), place);
      return true;
    }
    if (!anyInside(staleViews, n.identity())) return false;
    bool changed = false;
    for (auto& c : n.children) changed = refresh(c) || changed;
    if (changed) {
      n.cache.clear();
      n.reuse.changedInPass = layoutPass;
      countInteractive(n);
    }
    return changed;
  }

  // The node for `el` under `parent`, asked for with that part of its
  // identity. `old` is the last render's node at that identity, if any: it is
  // kept whole when nothing it shows changed, else reused with its children
  // matched to the new ones by identity.
  NodePtr resolve(const ElementPtr& el, const std::string& part, EnvPtr env, Node* parent, NodePtr old,
                  LayoutPlace place) {
    std::string key = el->kind == NodeKind::component       ? joined(part, ":", namesOf(el->component->type()).key)
                      : el->kind == NodeKind::representable ? joined(part, ":", namesOf(el->representable->type()).key)
                                                            : part;
    if (old && (old->kind != el->kind || old->idPart != key)) drop(old);
    if (old && unchanged(*old, el, env)) {
      old->element = el;
      old->parent = parent;
      refresh(old);
      prepare(*old, place, layoutPass);
      return old;
    }

    NodePtr node = old ? std::move(old) : std::make_unique<Node>();
    std::vector<NodePtr> previous = std::move(node->children);
    node->children.clear();
    node->cache.clear();
    node->reuse.changedInPass = layoutPass;
    node->kind = el->kind;
    node->element = el;
    node->idPart = std::move(key);
    // An equal environment keeps its object, so that the views below find
    // theirs unchanged at a glance.
    if (!sameEnvironment(node->env, env)) node->env = std::move(env);
    node->parent = parent;
    node->platformView.reset();
    setPlace(*node, place);
    resolveContent(*node, previous);
    for (auto& p : previous) drop(p);
    collectLayoutChildren(*node);
    countInteractive(*node);
    return node;
  }

  static void countInteractive(Node& n) {
    std::uint32_t count = (n.platformView || n.kind == NodeKind::trackingArea) ? 1 : 0;
    for (const auto& c : n.children) count += c->reuse.interactive;
    n.reuse.interactive = count;
  }

  void resolveContent(Node& node, std::vector<NodePtr>& previous) {
    const ElementPtr& el = node.element;
    const EnvPtr& env = node.env;

    // The previous child at a requested identity, by position first.
    std::unordered_map<std::string_view, std::size_t> byIdentity;
    auto takePrevious = [&](std::size_t i, const std::string& childIdentity) -> NodePtr {
      if (i < previous.size() && previous[i] && requestedPart(*previous[i]) == childIdentity) {
        return std::move(previous[i]);
      }
      if (byIdentity.empty()) {
        for (std::size_t j = 0; j < previous.size(); ++j) {
          if (previous[j]) byIdentity.emplace(requestedPart(*previous[j]), j);
        }
      }
      auto it = byIdentity.find(childIdentity);
      if (it == byIdentity.end() || !previous[it->second]) return nullptr;
      return std::move(previous[it->second]);
    };
    auto resolveChild = [&](std::size_t i, const ElementPtr& child, const std::string& id, const EnvPtr& childEnv) {
      NodePtr before = takePrevious(i, id);
      node.children.push_back(resolve(child, id, childEnv, &node, std::move(before), placeOfChild(node, i)));
    };

    // Two siblings with one explicit id are told apart by their order.
    std::map<std::string, int> seenIds;
    auto childId = [&](std::size_t i, const ElementPtr& child) {
      if (child->kind == NodeKind::identified && child->attributes->explicitId) {
        int n = seenIds[*child->attributes->explicitId]++;
        std::string id = "/#" + *child->attributes->explicitId;
        return n == 0 ? id : id + "~" + std::to_string(n);
      }
      return "/" + std::to_string(i);
    };
    auto resolveChildren = [&](const EnvPtr& childEnv) {
      node.children.reserve(el->children.size());
      for (std::size_t i = 0; i < el->children.size(); ++i) {
        resolveChild(i, el->children[i], childId(i, el->children[i]), childEnv);
      }
    };

    switch (el->kind) {
      case NodeKind::component: {
        const auto& component = *el->component;
        node.typeName = namesOf(component.type()).readable;
        // A view that keeps state evaluates its body afresh; changes made
        // while it runs call for another evaluation.
        if (auto* state = node.reuse.state) {
          state->seenInRender = renderNumber;
          evaluating(*state);
        }
        BodyContext ctx;
        ctx.impl = this;
        ctx.node = &node;
        ctx.env = env.get();
        ctx.viewBegin = component.address();
        ctx.viewSize = component.size();
        View body;
        {
          detail::ContextScope scope(&ctx);
          body = component.evaluate();
        }
        resolveChild(0, body.elementPtr(), "/0", env);
        return;
      }
      case NodeKind::representable: {
        const auto& rep = *el->representable;
        node.typeName = namesOf(rep.type()).readable;
        auto& state = stateOf(node);
        if (!state.platformView) state.platformView = rep.makeView();
        if (state.platformView) {
          rep.updateView(*state.platformView);
          node.platformView = state.platformView;
          if (auto content = state.platformView->hostedContent()) {
            resolveChild(0, content->elementPtr(), "/0", env);
          }
        }
        return;
      }
      case NodeKind::environment: {
        auto changed = std::make_shared<EnvironmentValues>(*env);
        if (el->environmentChange) el->environmentChange(*changed);
        EnvPtr childEnv = changed;
        if (!previous.empty() && previous.front() && sameEnvironment(previous.front()->env, childEnv)) {
          childEnv = previous.front()->env;
        }
        resolveChildren(childEnv);
        return;
      }
      case NodeKind::conditional:
        if (!el->children.empty()) resolveChild(0, el->children[0], el->branch ? "/T" : "/F", env);
        return;
      case NodeKind::timeline: {
        auto& state = stateOf(node);
        evaluating(state);
        if (!state.timer && el->behaviour->period > 0) {
          state.timer = dispatch::TimerSource::make(dispatch::Queue::main());
          auto interval = static_cast<dispatch::Time>(el->behaviour->period * dispatch::kNanosPerSecond);
          state.timer->setTimer(dispatch::after(el->behaviour->period), interval);
          std::weak_ptr<Host> weak = host->shared_from_this();
          state.timer->setEventHandler([weak, stamp = state.sharedStamp()] {
            stamp->stale = true;
            if (auto h = weak.lock()) h->viewChanged(stamp->identity);
          });
          state.timer->resume();
        }
        if (el->behaviour->timelineContent) {
          View content = el->behaviour->timelineContent(dispatch::wallNow());
          resolveChild(0, content.elementPtr(), "/0", env);
        }
        return;
      }
      case NodeKind::lifecycle:
        changes.lifecycle[node.identity()] = el;
        resolveChildren(env);
        return;
      case NodeKind::sheet:
        changes.sheets.insert(node.identity());
        resolveChildren(env);
        return;
      default:
        resolveChildren(env);
        return;
    }
  }

  // Presented sheets in tree order (a sheet after the sheets inside it).
  void collectSheets(const Node& n, const std::string& identity) {
    for (const auto& c : n.children) {
      const std::string id = identity + c->idPart;
      if (sheetNodes.count(id) || anyInside(sheetNodes, id)) collectSheets(*c, id);
    }
    if (n.kind == NodeKind::sheet && n.el().boolBinding && n.el().boolBinding->get()) {
      sheetRequests.push_back({identity, n.element, n.env});
    }
  }

  // The bridged platform views of the placed tree, in tree order, with
  // whether they take pointer events (they are not hidden).
  std::vector<std::pair<Node*, bool>> placedViews;

  // Lists the node if it is a platform view or a visible tracking area.
  void listInteractive(Node& n, bool visible) {
    if (n.platformView) placedViews.emplace_back(&n, visible);
    if (visible && n.kind == NodeKind::trackingArea) trackingNodes.push_back({&n, Rect{}});
  }

  // Lists the tracking areas and platform views of a placed subtree.
  void collectPlaced(Node& n, bool visible) {
    if (n.reuse.interactive == 0) return;
    visible = visible && !invisible(n);
    listInteractive(n, visible);
    for (auto& c : n.children) collectPlaced(*c, visible);
  }

  // After the layout pass `pass`: nodes laid out through their parent
  // (flattened groups and wrappers) get the union of their children's
  // frames, and what a collapsed node holds is collapsed too. A subtree whose
  // placement was kept is as the last pass left it. With `collecting`, the
  // tracking areas and platform views are listed on the way.
  void finishLayout(Node& n, bool hiddenAbove, bool visible, std::uint64_t pass, bool collecting) {
    const bool placedNow = n.reuse.placedInPass == pass;
    if (placedNow && n.reuse.placementKept) {
      if (hiddenAbove) hideAll(n);
      if (collecting) collectPlaced(n, visible);
      return;
    }
    if (!placedNow) {
      n.placed = false;
      n.collapsed = false;
    }
    const bool hideContent = hiddenAbove || n.collapsed;
    n.reuse.contentHidden = hideContent;
    if (collecting && n.reuse.interactive > 0) {
      visible = visible && !hideContent && n.kind != NodeKind::hidden;
      listInteractive(n, visible);
    }
    const bool collectInside = collecting && n.reuse.interactive > 0;
    for (auto& c : n.children) finishLayout(*c, hideContent, visible, pass, collectInside);
    if (hiddenAbove) n.collapsed = true;
    if (placedNow) return;
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

  // Tells the listed platform views where they are, and notes the frames of
  // the tracking areas.
  void notifyPlaced() {
    for (auto& [n, visible] : placedViews) {
      n->platformView->hostDidLayout(hostFrame(*n));
      if (visible) platformNodes.push_back(n);
    }
    placedViews.clear();
    for (auto& t : trackingNodes) t.frame = hostFrame(*t.node);
  }

  // New tracking regions start in the state the pointer puts them in, without
  // an event; regions that went away are forgotten.
  void syncTracking() {
    for (auto& t : trackingNodes) {
      Node::Reuse& r = t.node->reuse;
      // Listed the last time: its state stays.
      if (r.trackingListed == 0 || r.trackingListed + 1 != collection) {
        r.trackingInside = host->pointer_ && t.frame.contains(*host->pointer_);
      }
      r.trackingListed = collection;
    }
    for (const Node* n : platformNodes) {
      for (const auto& region : n->platformView->trackingRegions()) {
        auto [it, added] = regionInside.try_emplace(region.id);
        if (added) it->second.inside = host->pointer_ && region.rect.contains(*host->pointer_);
        it->second.listed = collection;
      }
    }
    std::erase_if(regionInside, [this](const auto& entry) { return entry.second.listed != collection; });
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

void Host::viewChanged(const std::string& identity) {
  impl_->staleViews.insert(identity);
  setNeedsUpdate();
}

void Host::update() {
  rendering_ = true;
  dirty_ = false;
  lastAnimation_ = std::exchange(pendingAnimation_, std::nullopt);
  auto& impl = *impl_;
  ++impl.renderNumber;
  // Nodes evaluated again in this render are marked with the number of the
  // layout pass that follows.
  const std::uint64_t pass = ++impl.layoutPass;
  impl.changes = {};
  impl.sheetRequests.clear();
  // Without a last tree (the first render, or one after a body threw), all
  // that was on screen counts as gone unless it comes back.
  const bool fresh = !impl.tree;
  if (fresh) {
    for (const auto& [id, el] : impl.lifecycle) impl.changes.droppedLifecycle.insert(id);
    impl.sheetNodes.clear();
  }
  // The last render's tree is reconciled into the new one: what did not
  // change is kept, the rest is evaluated again.
  std::unique_ptr<Node> tree;
  try {
    tree = impl.resolve(root_.elementPtr(), "", impl.rootEnv, nullptr, std::move(impl.tree), LayoutPlace{});
  } catch (...) {
    impl.tree.reset();
    impl.trackingNodes.clear();
    impl.platformNodes.clear();
    rendering_ = false;
    throw;
  }
  // State of views that left the tree goes with them.
  const std::uint64_t render = impl.renderNumber;
  if (fresh) {
    std::erase_if(impl.store, [render](const auto& entry) { return entry.second.seenInRender != render; });
  } else {
    for (const auto& id : impl.changes.droppedState) {
      auto it = impl.store.find(id);
      if (it != impl.store.end() && it->second.seenInRender != render) impl.store.erase(it);
    }
    impl.changes.droppedState.clear();
  }
  std::erase_if(impl.staleViews, [&](const std::string& id) {
    auto it = impl.store.find(id);
    return it == impl.store.end() || !it->second.isStale();
  });
  detail::setLayoutPass(pass);
  ProposedSize proposal = proposed_ ? ProposedSize::of(*proposed_) : ProposedSize{};
  detail::place(*tree, {0, 0}, proposal);
  // A tree that neither changed nor moved keeps its lists of tracking areas
  // and platform views.
  const Node::Reuse& top = tree->reuse;
  const bool collecting = fresh || top.changedInPass == pass || !top.placementKept;
  if (collecting) {
    impl.trackingNodes.clear();
    impl.platformNodes.clear();
  }
  impl.finishLayout(*tree, false, true, pass, collecting);
  impl.tree = std::move(tree);
  ++renderCount_;
  rendering_ = false;

  if (collecting) {
    ++impl.collection;
    impl.notifyPlaced();
    impl.syncTracking();
  }

  // Sheets: one host per presented sheet, kept while it stays presented.
  for (const auto& id : impl.changes.droppedSheets) {
    if (!impl.changes.sheets.count(id)) impl.sheetNodes.erase(id);
  }
  impl.sheetNodes.insert(impl.changes.sheets.begin(), impl.changes.sheets.end());
  if (!impl.sheetNodes.empty()) impl.collectSheets(*impl.tree, impl.tree->idPart);
  std::vector<PresentedSheet> next;
  bool sheetsChanged = false;
  for (auto& req : impl.sheetRequests) {
    auto it = std::find_if(sheets_.begin(), sheets_.end(),
                           [&](const PresentedSheet& s) { return s.identity == req.identity; });
    auto envCopy = req.env;
    View content = req.element->behaviour->sheetContent ? req.element->behaviour->sheetContent() : View();
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
    if (it != impl.sheetElements.end() && it->second->behaviour->onDismiss) {
      calls.push_back(it->second->behaviour->onDismiss);
    }
  }
  impl.sheetElements = std::move(sheetElements);
  sheets_ = std::move(next);

  // Appearance callbacks, after the tree is in place.
  for (auto& [id, el] : impl.changes.lifecycle) {
    if (!impl.lifecycle.count(id) && el->behaviour->onAppear) calls.push_back(el->behaviour->onAppear);
  }
  for (const auto& id : impl.changes.droppedLifecycle) {
    if (impl.changes.lifecycle.count(id)) continue;
    auto it = impl.lifecycle.find(id);
    if (it == impl.lifecycle.end()) continue;
    if (it->second->behaviour->onDisappear) calls.push_back(it->second->behaviour->onDisappear);
    impl.lifecycle.erase(it);
  }
  for (auto& [id, el] : impl.changes.lifecycle) impl.lifecycle[id] = el;
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
  std::vector<std::function<void()>> exits, others;
  for (const auto& t : impl.trackingNodes) {
    bool inside = t.frame.contains(location);
    bool& was = t.node->reuse.trackingInside;
    auto cb = t.node->el().behaviour->onMove;
    if (!cb) {
      was = inside;
      continue;
    }
    if (was && !inside) exits.push_back([cb] { cb(false); });
    if (inside && (!was || !t.node->el().behaviour->hoverOnly)) others.push_back([cb] { cb(true); });
    was = inside;
  }
  for (const Node* n : impl.platformNodes) {
    auto view = n->platformView;
    for (const auto& region : view->trackingRegions()) {
      bool inside = region.rect.contains(location);
      bool& was = impl.regionInside[region.id].inside;
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
  impl_->pressed = target ? std::optional<std::string>(target->identity()) : std::nullopt;
}

void Host::mouseUp(Point location) {
  layoutIfNeeded();
  pointer_ = location;
  auto pressed = std::exchange(impl_->pressed, std::nullopt);
  const Node* target = impl_->topmostClickable(location);
  if (!target || !pressed || *pressed != target->identity()) return;
  const Element& e = target->el();
  switch (target->kind) {
    case NodeKind::button:
      if (auto action = e.action) action();
      break;
    case NodeKind::toggle:
      if (e.boolBinding) e.boolBinding->set(!e.boolBinding->get());
      break;
    case NodeKind::picker: {
      if (!e.intBinding || e.behaviour->optionTags.empty()) break;
      bool radio = target->env && target->env->pickerStyle == PickerStyle::radioGroup;
      if (radio) {
        for (std::size_t i = 0; i < target->children.size() && i < e.behaviour->optionTags.size(); ++i) {
          Rect row = target->children[i]->frame;
          row.x = target->frame.x;
          row.width = target->frame.width;
          row.height = std::max(row.height, 16.0);
          if (row.contains(location)) {
            e.intBinding->set(e.behaviour->optionTags[i]);
            break;
          }
        }
      } else {
        // A click on a closed pop-up moves to the next option.
        int current = e.intBinding->get();
        const auto& tags = e.behaviour->optionTags;
        auto it = std::find(tags.begin(), tags.end(), current);
        std::size_t next = it == tags.end() ? 0 : (static_cast<std::size_t>(it - tags.begin()) + 1) % tags.size();
        e.intBinding->set(tags[next]);
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
    } else if (n->kind == NodeKind::scrollGesture && n->el().behaviour->onScroll) {
      auto handler = n->el().behaviour->onScroll;
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
    return n.kind == NodeKind::button && n.el().attributes->shortcut == wanted && n.isEnabled() &&
           visibleRect(n).has_value();
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
  collect([&](const Node& n) { return !n.el().attributes->testId.empty() && n.el().attributes->testId == q; });
  if (out.empty()) collect([&](const Node& n) { return clickable(n) && n.label() == q; });
  if (out.empty()) {
    collect([&](const Node& n) {
      return (n.kind == NodeKind::text || n.kind == NodeKind::symbol) && n.el().drawing->text == q;
    });
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
    if (n.kind == NodeKind::text || n.kind == NodeKind::symbol) out << " \"" << n.el().drawing->text << "\"";
    if (n.el().attributes->explicitId) out << " #" << *n.el().attributes->explicitId;
    if (!n.el().attributes->testId.empty()) out << " [" << n.el().attributes->testId << "]";
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

#include <gtest/gtest.h>

#include <map>

#include "platform/concurrency/Publisher.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AppStorage.h"
#include "platform/ui/Host.h"

using namespace ui;

namespace {

// A button that counts its clicks in view state.
struct Counter {
  std::string name;
  std::shared_ptr<std::map<std::string, int>> bodies = nullptr;  // counts the bodies by name, when given
  State<int> count{0};

  View body() const {
    if (bodies) ++(*bodies)[name];
    auto self = *this;
    return Button([self] { self.count.set(self.count.get() + 1); },
                  Text(name + ":" + std::to_string(count.get())))
        .testId(name);
  }
};

// A row that counts its bodies; rows of one name are equal.
struct CountedRow {
  std::string name;
  std::shared_ptr<std::map<std::string, int>> bodies;
  friend bool operator==(const CountedRow& a, const CountedRow& b) { return a.name == b.name; }
  View body() const {
    ++(*bodies)[name];
    return Text(name).testId(name);
  }
};

std::string labelOf(const std::shared_ptr<Host>& host, const std::string& id) {
  const Node* n = host->find(id);
  return n ? n->label() : "<missing>";
}

struct Model : conc::ObservableObject {
  conc::Published<int> value{this, 0};
};

struct ModelView {
  ObservedObject<Model> model;
  View body() const { return Text("value " + std::to_string(model->value.get())).testId("v"); }
};

struct EnvReader {
  EnvironmentObject<Model> model;
  View body() const {
    auto* m = model.get();
    return Text(m ? "env " + std::to_string(m->value.get()) : "none").testId("e");
  }
};

}  // namespace

TEST(ViewState, SurvivesAContentUpdateOfTheSameIdentity) {
  auto host = Host::make(VStack({View(Counter{"a"})}));
  ASSERT_TRUE(host->click("a"));
  ASSERT_TRUE(host->click("a"));
  EXPECT_EQ(labelOf(host, "a"), "a:2");
  // New content (another name), same place in the tree: the count stays.
  host->setRootView(VStack({View(Counter{"b"})}));
  EXPECT_EQ(labelOf(host, "b"), "b:2");
}

// A render evaluates again only the bodies whose inputs changed: state, a value
// (compared for views with an operator==), the environment.
TEST(ViewState, ARenderEvaluatesOnlyTheBodiesWhoseInputsChanged) {
  using Counts = std::map<std::string, int>;
  auto bodies = std::make_shared<Counts>();
  auto rows = [&bodies](const std::string& second, Font font) {
    return VStack({View(CountedRow{"a", bodies}), View(CountedRow{second, bodies}), View(Counter{"n", bodies})})
        .font(font);
  };
  auto host = Host::make(rows("b", Font::body()));
  ASSERT_TRUE(host->click("n"));
  host->layoutIfNeeded();
  EXPECT_EQ(*bodies, (Counts{{"a", 1}, {"b", 1}, {"n", 2}}));
  host->setRootView(rows("c", Font::body()));
  EXPECT_EQ(labelOf(host, "n"), "n:1");
  EXPECT_EQ(*bodies, (Counts{{"a", 1}, {"b", 1}, {"c", 1}, {"n", 3}}));
  host->setRootView(rows("c", Font::title()));
  host->layoutIfNeeded();
  EXPECT_EQ(*bodies, (Counts{{"a", 2}, {"b", 1}, {"c", 2}, {"n", 4}}));
  EXPECT_EQ(host->find("a")->env->font, Font::title());
}

TEST(ViewState, RestartsWhenTheViewLeavesTheTreeAndComesBack) {
  auto host = Host::make(VStack({View(Counter{"a"})}));
  host->click("a");
  EXPECT_EQ(labelOf(host, "a"), "a:1");
  EXPECT_EQ(host->stateCount(), 1u);
  host->setRootView(VStack({Text("nothing here")}));
  host->layoutIfNeeded();
  EXPECT_EQ(host->stateCount(), 0u);
  host->setRootView(VStack({View(Counter{"a"})}));
  EXPECT_EQ(labelOf(host, "a"), "a:0");
}

TEST(ViewState, ConditionalContentKeepsTheIdentityOfLaterSiblings) {
  auto make = [](bool flag) { return VStack({If(flag, Text("banner")), View(Counter{"c"})}); };
  auto host = Host::make(make(false));
  host->click("c");
  host->setRootView(make(true));
  EXPECT_EQ(labelOf(host, "c"), "c:1");
  host->setRootView(make(false));
  EXPECT_EQ(labelOf(host, "c"), "c:1");
}

TEST(ViewState, BranchesOfAConditionalHaveTheirOwnState) {
  auto make = [](bool flag) { return If(flag, View(Counter{"x"}), View(Counter{"x"})); };
  auto host = Host::make(make(true));
  host->click("x");
  EXPECT_EQ(labelOf(host, "x"), "x:1");
  host->setRootView(make(false));
  EXPECT_EQ(labelOf(host, "x"), "x:0");
}

TEST(ViewState, ExplicitIdsFollowTheItemsWhenTheyMove) {
  auto make = [](std::vector<std::string> names) {
    return VStack({ForEach(names, [](const std::string& n) { return n; },
                           [](const std::string& n) { return View(Counter{n}); })});
  };
  auto host = Host::make(make({"p", "q"}));
  host->click("q");
  host->setRootView(make({"q", "p"}));
  EXPECT_EQ(labelOf(host, "q"), "q:1");
  EXPECT_EQ(labelOf(host, "p"), "p:0");
  // A changed id is a new view.
  host->setRootView(VStack({View(Counter{"q"}).id("other")}));
  EXPECT_EQ(labelOf(host, "q"), "q:0");
}

TEST(ViewState, DuplicateExplicitIdsKeepSeparateState) {
  auto host = Host::make(VStack({View(Counter{"one"}).id("same"), View(Counter{"two"}).id("same")}));
  host->click("two");
  EXPECT_EQ(labelOf(host, "one"), "one:0");
  EXPECT_EQ(labelOf(host, "two"), "two:1");
  EXPECT_EQ(host->stateCount(), 2u);
}

TEST(ViewState, StateOutsideAHostIsAPlainValue) {
  State<int> s{3};
  s.set(4);
  EXPECT_EQ(s.get(), 4);
  EXPECT_FALSE(s.isBound());
  auto b = s.binding();
  b.set(9);
  EXPECT_EQ(b.get(), 9);
}

TEST(ViewState, ConstantBindingIgnoresWrites) {
  auto b = Binding<bool>::constant(false);
  b.set(true);
  EXPECT_FALSE(b.get());
}

TEST(ObservedObjects, ReRenderWhenObjectWillChangeFires) {
  auto model = std::make_shared<Model>();
  auto host = Host::make(View(ModelView{model}));
  EXPECT_EQ(labelOf(host, "v"), "value 0");
  auto renders = host->renderCount();
  model->value.set(5);
  EXPECT_TRUE(host->needsUpdate());
  EXPECT_EQ(labelOf(host, "v"), "value 5");
  EXPECT_EQ(host->renderCount(), renders + 1);
}

TEST(ObservedObjects, EnvironmentObjectsAreFoundByType) {
  auto model = std::make_shared<Model>();
  model->value.set(7);
  auto host = Host::make(VStack({View(EnvReader{})}).environmentObject(model));
  EXPECT_EQ(labelOf(host, "e"), "env 7");
  model->value.set(8);
  EXPECT_EQ(labelOf(host, "e"), "env 8");
  auto bare = Host::make(View(EnvReader{}));
  EXPECT_EQ(labelOf(bare, "e"), "none");
}

TEST(Environment, ValuesFlowToTheContentOnly) {
  auto host = Host::make(VStack({Text("inner").testId("in"), Text("plain").testId("out").font(Font::title())})
                             .foregroundColor(Color::red())
                             .font(Font::headline()));
  const Node* in = host->find("in");
  const Node* out = host->find("out");
  ASSERT_TRUE(in && out);
  EXPECT_EQ(in->foreground(), Color::red());
  EXPECT_EQ(in->env->font, Font::headline());
  EXPECT_EQ(out->env->font, Font::title());
}

TEST(Environment, DisabledIsNeverReEnabledInside) {
  // The test id sits on the button itself, inside the disabled(false) wrapper.
  int clicks = 0;
  auto host =
      Host::make(VStack({Button("Inner", [&clicks] { ++clicks; }).testId("b").disabled(false)}).disabled(true));
  const Node* b = host->find("b");
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->kind, NodeKind::button);
  EXPECT_FALSE(b->isEnabled());
  host->click("b");
  EXPECT_EQ(clicks, 0);
}

namespace {
struct StoredFlag {
  std::shared_ptr<ns::UserDefaults> store;
  View body() const {
    AppStorage<bool> flag("flagKey", true, store);
    return Toggle("Flag", flag.binding()).testId(flag.get() ? "on" : "off");
  }
};
enum class Mode { a = 0, b = 1 };
}  // namespace

TEST(AppStorageBinding, ReadsTheFallbackUntilTheKeyIsSet) {
  auto store = ns::UserDefaults::inMemory();
  auto host = Host::make(View(StoredFlag{store}));
  EXPECT_NE(host->find("on"), nullptr);
  store->setObject("flagKey", ns::Value(false));
  EXPECT_TRUE(host->needsUpdate());
  EXPECT_NE(host->find("off"), nullptr);
}

TEST(AppStorageBinding, AToggleWritesTheKey) {
  auto store = ns::UserDefaults::inMemory();
  auto host = Host::make(View(StoredFlag{store}));
  ASSERT_TRUE(host->click("on"));
  EXPECT_EQ(store->object("flagKey"), std::optional<ns::Value>(ns::Value(false)));
  EXPECT_NE(host->find("off"), nullptr);
}

TEST(AppStorageBinding, WrongTypesAndUnknownCasesReadAsTheFallback) {
  auto store = ns::UserDefaults::inMemory();
  store->setObject("flagKey", ns::Value(std::string("yes")));
  EXPECT_TRUE(AppStorage<bool>("flagKey", true, store).get());
  store->setObject("mode", ns::Value(7));
  AppStorage<Mode> mode("mode", Mode::b, store, [](const ns::Value& v) -> std::optional<Mode> {
    auto raw = v.asInt64();
    if (!v.isInteger() || !raw || *raw < 0 || *raw > 1) return std::nullopt;
    return static_cast<Mode>(*raw);
  });
  EXPECT_EQ(mode.get(), Mode::b);
  mode.set(Mode::a);
  EXPECT_EQ(mode.get(), Mode::a);
  EXPECT_EQ(store->integerForKey("mode"), 0);
}

TEST(Animations, ChangesApplyAtOnceAndTheCompletionFollowsTheDuration) {
  dispatch::VirtualClockScope clock;
  clearRecordedAnimations();
  struct Flagged {
    State<bool> shown{false};
    View body() const {
      auto self = *this;
      return Button([self] {
        auto spring = Animation::interpolatingSpring(0.2, 100, 20, 0);
        withAnimation(spring, [self] { self.shown.set(true); }, [] {});
      }, Text(shown.get() ? "shown" : "hidden"));
    }
  };
  auto host = Host::make(View(Flagged{}));
  bool completed = false;
  ASSERT_TRUE(host->click("hidden"));
  EXPECT_NE(host->find("shown"), nullptr);
  auto spring = Animation::interpolatingSpring(0.2, 100, 20, 0);
  ASSERT_TRUE(host->lastRenderAnimation().has_value());
  EXPECT_EQ(*host->lastRenderAnimation(), spring);
  ASSERT_EQ(recordedAnimations().size(), 1u);
  EXPECT_GT(spring.duration, 0.5);
  EXPECT_LT(spring.duration, 3.0);

  withAnimation(Animation::easeInOut(0.5), [] {}, [&completed] { completed = true; });
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_FALSE(completed);
  dispatch::Scheduler::shared().advance(0.49);
  EXPECT_FALSE(completed);
  dispatch::Scheduler::shared().advance(0.02);
  EXPECT_TRUE(completed);
}

TEST(Animations, ACompletionWithoutAnimationIsPostedNotRunInline) {
  dispatch::VirtualClockScope clock;
  bool completed = false;
  withAnimation(std::nullopt, [] {}, [&completed] { completed = true; });
  EXPECT_FALSE(completed);
  dispatch::Scheduler::shared().runUntilIdle();
  EXPECT_TRUE(completed);
}

TEST(Lifecycle, AppearAndDisappearFollowTheTree) {
  std::vector<std::string> events;
  auto make = [&events](bool show) {
    return VStack({If(show, Text("x")
                                .onAppear([&events] { events.push_back("appear"); })
                                .onDisappear([&events] { events.push_back("disappear"); }))});
  };
  auto host = Host::make(make(true));
  host->layoutIfNeeded();
  host->setRootView(make(true));
  host->layoutIfNeeded();
  host->setRootView(make(false));
  host->layoutIfNeeded();
  EXPECT_EQ(events, (std::vector<std::string>{"appear", "disappear"}));
}

TEST(Timeline, ReEvaluatesEveryPeriodWhileShown) {
  dispatch::VirtualClockScope clock;
  auto calls = std::make_shared<int>(0);
  auto host = Host::make(TimelineView(1.0, [calls](double) {
    ++*calls;
    return Text(std::to_string(*calls));
  }));
  host->layoutIfNeeded();
  EXPECT_EQ(*calls, 1);
  dispatch::Scheduler::shared().advance(1.0);
  EXPECT_EQ(*calls, 2);
  dispatch::Scheduler::shared().advance(2.0);
  EXPECT_EQ(*calls, 4);
  host->setRootView(Text("gone"));
  host->layoutIfNeeded();
  dispatch::Scheduler::shared().advance(3.0);
  EXPECT_EQ(*calls, 4);
}

TEST(Sheets, APresentedSheetHasItsOwnHostUntilDismissed) {
  struct WithSheet {
    State<bool> showing{false};
    View body() const {
      auto self = *this;
      return Button("Change...", [self] { self.showing.set(true); })
          .sheet(showing.binding(),
                 [self] { return Button("Close", [self] { self.showing.set(false); }).keyboardShortcut(KeyboardShortcut::defaultAction); });
    }
  };
  auto host = Host::make(View(WithSheet{}));
  EXPECT_TRUE(host->presentedSheets().empty());
  host->click("Change...");
  ASSERT_EQ(host->presentedSheets().size(), 1u);
  auto sheet = host->presentedSheets()[0].host;
  EXPECT_TRUE(sheet->keyDown(Key::returnKey));
  EXPECT_TRUE(host->presentedSheets().empty());
}

namespace {
struct AccentKey {
  using Value = Color;
  static Value defaultValue() { return Color::blue(); }
};
struct AccentReader {
  View body() const { return Text("accent").testId("a").foregroundColor(currentEnvironment().get<AccentKey>()); }
};
}  // namespace

TEST(Environment, CustomKeysHaveDefaultsAndOverrides) {
  auto host = Host::make(VStack({View(AccentReader{}),
                                 View(AccentReader{}).environment([](EnvironmentValues& e) { e.set<AccentKey>(Color::red()); })}));
  auto all = host->findAll("a");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]->foreground(), Color::blue());
  EXPECT_EQ(all[1]->foreground(), Color::red());
}

TEST(Sheets, DismissingRunsOnDismissOnce) {
  int dismissed = 0;
  State<bool> shown{true};
  auto make = [&] {
    return Text("form").sheet(shown.binding(), [] { return Text("sheet"); }, [&dismissed] { ++dismissed; });
  };
  auto host = Host::make(make());
  ASSERT_EQ(host->presentedSheets().size(), 1u);
  EXPECT_NE(host->presentedSheets()[0].host->find("sheet"), nullptr);
  shown.set(false);
  host->setRootView(make());
  EXPECT_TRUE(host->presentedSheets().empty());
  host->setRootView(make());
  host->layoutIfNeeded();
  EXPECT_EQ(dismissed, 1);
}

TEST(Sheets, ASheetInheritsTheEnvironment) {
  auto model = std::make_shared<Model>();
  model->value.set(3);
  auto host = Host::make(Text("form")
                             .sheet(Binding<bool>::constant(true), [] { return View(EnvReader{}); })
                             .environmentObject(model));
  ASSERT_EQ(host->presentedSheets().size(), 1u);
  EXPECT_EQ(labelOf(host->presentedSheets()[0].host, "e"), "env 3");
}

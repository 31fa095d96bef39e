#include <gtest/gtest.h>

#include "app/model/DiagnosticLogging.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"

namespace {

// Stand-ins named like the application's types, so the gate sees their names.
namespace standin {
struct ScreenResizeCorrector : DiagnosticLogging {
  void say(const std::string& m) const {
    log([&] { return m; });
  }
};
struct ApplicationController : DiagnosticLogging {
  void say(const std::string& m) const {
    log([&] { return m; });
  }
};
}  // namespace standin
namespace inner {
template <class T>
struct SnapController : DiagnosticLogging {};
}  // namespace inner

class DiagnosticLoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    defaults = ns::UserDefaults::inMemory();
    ns::UserDefaults::setStandard(defaults);
  }
  void TearDown() override { ns::UserDefaults::setStandard(ns::UserDefaults::inMemory()); }
  void modules(std::vector<std::string> names) {
    ns::Array a;
    for (auto& n : names) a.push_back(ns::Value(n));
    defaults->setObject("loggingModules", ns::Value(a));
  }
  std::shared_ptr<ns::UserDefaults> defaults;
  ns::LogCapture capture;
};

}  // namespace

TEST_F(DiagnosticLoggingTest, NothingIsWrittenWithoutAMatchingModule) {
  standin::ScreenResizeCorrector corrector;
  corrector.say("absent");
  modules({});
  corrector.say("empty");
  modules({"ApplicationController"});
  corrector.say("other type");
  modules({"screenresizecorrector"});
  corrector.say("wrong case");
  EXPECT_EQ(capture.count(), 0u);
}

TEST_F(DiagnosticLoggingTest, AValueThatIsNotAStringArrayCountsAsEmpty) {
  defaults->setObject("loggingModules", ns::Value("_all"));
  standin::ScreenResizeCorrector().say("x");
  defaults->setObject("loggingModules", ns::Value(ns::Array{ns::Value("_all"), ns::Value(int64_t{3})}));
  standin::ScreenResizeCorrector().say("x");
  EXPECT_EQ(capture.count(), 0u);
}

TEST_F(DiagnosticLoggingTest, AllEnablesEveryTypeAndANameOnlyItsOwn) {
  modules({"_all"});
  standin::ScreenResizeCorrector().say("a");
  standin::ApplicationController().say("b");
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"ScreenResizeCorrector: a", "ApplicationController: b"}));
  capture.clear();
  modules({"ScreenResizeCorrector"});
  standin::ScreenResizeCorrector().say("c");
  standin::ApplicationController().say("d");
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"ScreenResizeCorrector: c"}));
}

TEST_F(DiagnosticLoggingTest, APreferenceChangeTakesEffectWithTheNextLine) {
  standin::ApplicationController controller;
  controller.say("before");
  modules({"ApplicationController"});
  controller.say("after");
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"ApplicationController: after"}));
}

TEST_F(DiagnosticLoggingTest, TheMessageIsBuiltOnlyWhenTheGatePasses) {
  int built = 0;
  standin::ScreenResizeCorrector corrector;
  diagnostics::log(corrector, [&] {
    ++built;
    return std::string("m");
  });
  EXPECT_EQ(built, 0);
  modules({"_all"});
  diagnostics::log(corrector, [&] {
    ++built;
    return std::string("m");
  });
  EXPECT_EQ(built, 1);
}

TEST_F(DiagnosticLoggingTest, PercentSignsAreWrittenLiterally) {
  modules({"_all"});
  standin::ScreenResizeCorrector corrector;
  corrector.say(diagnostics::messages::windowNoFrame(std::string("100%d %s %n")));
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"ScreenResizeCorrector: [100%d %s %n] - No Frame"}));
}

TEST_F(DiagnosticLoggingTest, TypeNamesDropNamespacesAndTemplateArguments) {
  EXPECT_EQ(diagnostics::typeName(typeid(inner::SnapController<int>)), "SnapController");
  const DiagnosticLogging& base = standin::ApplicationController();
  EXPECT_EQ(diagnostics::typeName(typeid(base)), "ApplicationController") << "the dynamic type names the line";
}

TEST(DiagnosticText, RectanglesUseShortestDecimalsWithAPoint) {
  EXPECT_EQ(diagnostics::text(CGRect(0, 25, 1440, 875)), "(0.0, 25.0, 1440.0, 875.0)");
  EXPECT_EQ(diagnostics::text(CGRect(0.1, -3.5, 1e16, 1e-5)), "(0.1, -3.5, 1e+16, 1e-05)");
  EXPECT_EQ(diagnostics::text(CGRect(100000, -300000, 1e6, 0.0001)), "(100000.0, -300000.0, 1000000.0, 0.0001)");
  EXPECT_EQ(diagnostics::text(CGRect(-0.0, 1234567.25, 0x1p52, 0.5)), "(-0.0, 1234567.25, 4503599627370496.0, 0.5)");
  EXPECT_EQ(diagnostics::text(std::vector<CGRect>{}), "[]");
  EXPECT_EQ(diagnostics::text(std::vector<CGRect>{CGRect(0, 0, 1, 2), CGRect(3, 4, 5, 6)}),
            "[(0.0, 0.0, 1.0, 2.0), (3.0, 4.0, 5.0, 6.0)]");
  EXPECT_EQ(diagnostics::text(true), "true");
  EXPECT_EQ(diagnostics::text(false), "false");
}

TEST(DiagnosticText, FixedMessagesKeepTheirExactSpacing) {
  namespace m = diagnostics::messages;
  EXPECT_EQ(m::updateElements(std::nullopt), "updateElements: unknown bundle identifier");
  EXPECT_EQ(m::getApplicationSummary(std::string("com.a")), "getApplicationSummary: com.a");
  EXPECT_EQ(m::hoveringDockIconApplicationDidChange(std::string("com.a")), "hoveringDockIconApplicationDidChange:com.a");
  EXPECT_EQ(m::hoveringDockIconApplicationDidChange(std::nullopt), "hoveringDockIconApplicationDidChange:nil");
  EXPECT_EQ(m::presentedDockIconApplicationDidChangeDispatched(std::nullopt),
            "presentedDockIconApplicationDidChange (dispatched):nil");
  EXPECT_EQ(m::presenting("Safari"), "presenting: Safari");
  EXPECT_EQ(m::updating("Safari"), "updating: Safari");
  EXPECT_EQ(m::enabled(true), "enabled:true");
  EXPECT_EQ(m::screenParametersDidChange(false), "Screen parameters did change. enabled:false");
  EXPECT_EQ(m::oldScreenRects({}), "oldScreenRects: []");
  EXPECT_EQ(m::windowNoScreen(std::nullopt), "[Untitled] - No Screen");
  EXPECT_EQ(m::windowMoved(std::string("Doc"), CGRect(0, 0, 10, 10), CGRect(1, 2, 3, 4)),
            "[Doc] - Old frame:(0.0, 0.0, 10.0, 10.0) New frame:(1.0, 2.0, 3.0, 4.0)");
  EXPECT_EQ(m::trackingMode("dockOnly"), "trackingMode:dockOnly");
  EXPECT_EQ(m::hoverState(m::hoverStateText("none")), "hoverState:none");
  EXPECT_EQ(m::hoverStateText("hoverOverDockIcon", ns::URL::fileURLWithPath("/Applications/Safari.app/")),
            "hoverOverDockIcon(bundleURL: file:///Applications/Safari.app/)");
  EXPECT_EQ(m::hoverOnNewDockIcon(std::nullopt), "Hover on new dock icon:nil");
  EXPECT_EQ(m::hoverOnNewDockIcon(ns::URL::fileURLWithPath("/Applications/Mail.app/")),
            "Hover on new dock icon:Optional(file:///Applications/Mail.app/)");
  EXPECT_EQ(m::dragWindowSnappingEnabled(true), "dragWindowSnappingEnabled:true");
  EXPECT_EQ(m::scrollWindowSnappingEnabled(false), "scrollWindowSnappingEnabled:false");
  EXPECT_EQ(m::checkingWindowsFor("Notes"), "Checking windows for: Notes");
}

// The login item, the update framework's controller and the application
// object's termination.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/SMAppService.h"
#include "platform/appkit/SPUStandardUpdaterController.h"
#include "platform/foundation/TestSupport.h"
#include "platform/sim/World.h"

using namespace appkit;

namespace {

class LoginService : public ::testing::Test {
 protected:
  ns::test::ScopedPathsRoot root;
  std::shared_ptr<SMAppService> service = SMAppService::make("com.example.App", "Example", "/usr/bin/example");

  void writeEntry(const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(service->entryPath()).parent_path());
    std::ofstream(service->entryPath()) << text;
  }
};

}  // namespace

TEST_F(LoginService, ExecLinesRoundTripAwkwardPaths) {
  for (std::string path : {"/usr/bin/example", "/opt/My App/run", "/a\"b/c`d$e\\f", "/100% sure/x", "/line\nbreak",
                           "/tab\there"}) {
    const std::string line = SMAppService::execLineForProgram(path);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_EQ(SMAppService::programOfExecLine(line), path) << line;
  }
  EXPECT_EQ(SMAppService::execLineForProgram("/100% sure"), "\"/100%% sure\"");
  EXPECT_EQ(SMAppService::execLineForProgram("/a\\b"), "\"/a\\\\\\\\b\"");
  EXPECT_EQ(SMAppService::programOfExecLine("/usr/bin/example --flag"), "/usr/bin/example");
  EXPECT_FALSE(SMAppService::programOfExecLine("\"/unterminated").has_value());
  EXPECT_FALSE(SMAppService::programOfExecLine("   ").has_value());
}

TEST_F(LoginService, RegisterWritesAnEntryAndUnregisterRemovesIt) {
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  ns::Error error;
  EXPECT_FALSE(service->unregisterAndReturnError(&error));
  EXPECT_EQ(error.domain, SMAppServiceErrorDomain);
  EXPECT_EQ(error.code, SMAppServiceErrorJobNotFound);

  ASSERT_TRUE(service->registerAndReturnError());
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
  // With the simulated system's state, not in the session's autostart folder.
  EXPECT_EQ(service->entryPath(),
            root.root() + "/ApplicationSupport/com.morvalent.Morvalent/SimulatedSystem/autostart/com.example.App.desktop");
  EXPECT_FALSE(std::filesystem::exists(root.root() + "/Preferences"));
  std::ifstream in(service->entryPath());
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "[Desktop Entry]");
  EXPECT_TRUE(service->registerAndReturnError());

  EXPECT_TRUE(service->unregisterAndReturnError());
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  EXPECT_FALSE(std::filesystem::exists(service->entryPath()));
}

TEST_F(LoginService, DisabledOrMalformedEntriesAreNotRegistered) {
  writeEntry("[Desktop Entry]\nType=Application\nExec=/usr/bin/example\nHidden=true\n");
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  writeEntry("[Desktop Entry]\nExec=/usr/bin/example\nX-GNOME-Autostart-enabled=false\n");
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  writeEntry("[Other Group]\nExec=/usr/bin/example\n");
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  writeEntry("[Desktop Entry]\nExec=\"/usr/bin/example\n");
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  writeEntry(std::string("\0\xff garbage", 10));
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  // An unreadable entry is replaced by a good one.
  ASSERT_TRUE(service->registerAndReturnError());
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
  // An entry that names this executable with arguments is still its own.
  writeEntry("[Desktop Entry]\nExec=/usr/bin/example --hidden\n");
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
}

TEST_F(LoginService, IdentifiersThatCannotNameAFileAreRefused) {
  for (std::string id : {"", "..", "a/b"}) {
    auto bad = SMAppService::make(id, "Bad", "/usr/bin/bad");
    ns::Error error;
    EXPECT_FALSE(bad->registerAndReturnError(&error)) << id;
    EXPECT_EQ(error.code, SMAppServiceErrorInvalidIdentifier) << id;
    EXPECT_EQ(bad->status(), SMAppServiceStatus::notRegistered);
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(service->entryPath()).parent_path() / "a"));
}

TEST_F(LoginService, AnUnwritableDirectoryIsAnError) {
  const auto autostart = std::filesystem::path(service->entryPath()).parent_path();
  std::filesystem::create_directories(autostart.parent_path());
  std::ofstream(autostart) << "a file, not a directory";
  ns::Error error;
  EXPECT_FALSE(service->registerAndReturnError(&error));
  EXPECT_EQ(error.code, SMAppServiceErrorWriteFailed);
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
}

TEST(UpdaterController, CreatedWithoutStartingNothingRuns) {
  ns::test::ScopedStandardDefaults defaults;
  defaults->setBool(SUEnableAutomaticChecksKey, true);
  auto controller = SPUStandardUpdaterController::initWithStartingUpdater(false);
  EXPECT_FALSE(controller->updaterStarted());
  EXPECT_FALSE(controller->automaticCheckScheduled());
  // A check before the start does not run.
  controller->checkForUpdates();
  EXPECT_EQ(controller->userInitiatedCheckCount(), 0);

  controller->startUpdater();
  controller->startUpdater();
  controller->checkForUpdates();
  EXPECT_TRUE(controller->updaterStarted());
  EXPECT_TRUE(controller->automaticCheckScheduled());
  EXPECT_EQ(controller->userInitiatedCheckCount(), 1);
  EXPECT_EQ(controller->calls(),
            (std::vector<std::string>{"checkForUpdates:", "startUpdater", "startUpdater", "checkForUpdates:"}));
}

TEST(UpdaterController, AutomaticChecksFollowTheUserDefault) {
  ns::test::ScopedStandardDefaults defaults;
  EXPECT_FALSE(SPUStandardUpdaterController::initWithStartingUpdater(true)->automaticCheckScheduled());
  defaults->setBool(SUEnableAutomaticChecksKey, false);
  auto off = SPUStandardUpdaterController::initWithStartingUpdater(true);
  EXPECT_TRUE(off->updaterStarted());
  EXPECT_FALSE(off->automaticallyChecksForUpdates());
  EXPECT_FALSE(off->automaticCheckScheduled());
  defaults->setBool(SUEnableAutomaticChecksKey, true);
  EXPECT_TRUE(off->automaticallyChecksForUpdates());
}

TEST(Application, TerminateRunsTheInstalledHandlerWithItsSender) {
  std::vector<const void*> senders;
  auto previous = NSApplication::shared().setTerminationHandler([&](const void* s) { senders.push_back(s); });
  int marker = 0;
  NSApplication::shared().terminate(&marker);
  NSApplication::shared().terminate(nullptr);
  NSApplication::shared().setTerminationHandler(previous);
  EXPECT_EQ(senders, (std::vector<const void*>{&marker, nullptr}));
}

TEST(Application, ActivationPolicyIsThatOfTheOwnProcess) {
  sim::World::shared().reset();
  EXPECT_TRUE(NSApplication::shared().setActivationPolicy(NSApplicationActivationPolicy::Regular));
  EXPECT_EQ(NSApplication::shared().activationPolicy(), NSApplicationActivationPolicy::Regular);
  EXPECT_TRUE(NSApplication::shared().setActivationPolicy(NSApplicationActivationPolicy::Accessory));
  EXPECT_EQ(NSApplication::shared().activationPolicy(), NSApplicationActivationPolicy::Accessory);
  sim::World::shared().reset();
}

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/shell/LoginItem.h"
#include "app/shell/tests/ShellTestSupport.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"

using namespace shelltest;
using appkit::SMAppService;
using appkit::SMAppServiceStatus;

namespace {

class LoginItemTest : public ShellTest {
 protected:
  std::shared_ptr<SMAppService> service =
      SMAppService::make("com.morvalent.Morvalent", "Morvalent", "/opt/Morvalent Copy/bin/morvalent");

  std::string entry() const {
    std::ifstream in(service->entryPath());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

}  // namespace

TEST_F(LoginItemTest, FirstStartLeavesTheItemAbsentUntilTheSettingsWindowIsClosed) {
  ASSERT_TRUE(defaults().openAtStartup());
  ASSERT_TRUE(defaults().preferencesOnboardingRequired());
  updateLoginItem(*service);
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  EXPECT_FALSE(std::filesystem::exists(service->entryPath()));

  defaults().setPreferencesOnboardingRequired(false);
  updateLoginItem(*service);
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
  EXPECT_EQ(service->entryPath(), paths.root() +
                                     "/ApplicationSupport/com.morvalent.Morvalent/SimulatedSystem/autostart/"
                                     "com.morvalent.Morvalent.desktop");
  EXPECT_NE(entry().find("Exec=\"/opt/Morvalent Copy/bin/morvalent\"\n"), std::string::npos);
}

TEST_F(LoginItemTest, TheItemFollowsOpenAtStartup) {
  defaults().setPreferencesOnboardingRequired(false);
  updateLoginItem(*service);
  ASSERT_EQ(service->status(), SMAppServiceStatus::enabled);
  defaults().setOpenAtStartup(false);
  updateLoginItem(*service);
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  EXPECT_FALSE(std::filesystem::exists(service->entryPath()));
  // Off twice: nothing to remove, nothing happens.
  updateLoginItem(*service);
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);

  defaults().setOpenAtStartup(true);
  updateLoginItem(*service);
  const std::string first = entry();
  updateLoginItem(*service);
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
  EXPECT_EQ(entry(), first);
  // One entry in the directory, however often it was turned on.
  auto dir = std::filesystem::path(service->entryPath()).parent_path();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}

TEST_F(LoginItemTest, AnotherCopysItemIsNotTheOwnItem) {
  auto other = SMAppService::make("com.morvalent.Morvalent", "Morvalent", "/Volumes/Old/morvalent");
  ASSERT_TRUE(other->registerAndReturnError());
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);

  // Turning off leaves the other copy's item alone.
  defaults().setPreferencesOnboardingRequired(false);
  defaults().setOpenAtStartup(false);
  updateLoginItem(*service);
  EXPECT_EQ(other->status(), SMAppServiceStatus::enabled);

  // Turning on makes the item this copy's.
  defaults().setOpenAtStartup(true);
  updateLoginItem(*service);
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
  EXPECT_EQ(other->status(), SMAppServiceStatus::notRegistered);
}

TEST_F(LoginItemTest, TheMainServiceNamesTheRunningExecutable) {
  auto main = SMAppService::mainAppService();
  EXPECT_EQ(main->executablePath(), std::filesystem::canonical("/proc/self/exe").string());
  defaults().setPreferencesOnboardingRequired(false);
  updateLoginItem();
  EXPECT_EQ(main->status(), SMAppServiceStatus::enabled);
  defaults().setOpenAtStartup(false);
  updateLoginItem();
  EXPECT_EQ(main->status(), SMAppServiceStatus::notRegistered);
}

// ---------------------------------------------------------------- systems before 14.0

namespace {

class SessionLoginItemTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    sim::World::shared().setOperatingSystemVersion({13, 6, 0});
    appkit::LSSharedFileListSetStoreForTesting(appkit::kLSSharedFileListSessionLoginItems, store);
  }
  void TearDown() override {
    appkit::LSSharedFileListSetStoreForTesting(appkit::kLSSharedFileListSessionLoginItems, nullptr);
    ShellTest::TearDown();
  }

  std::string own() const { return ns::Bundle::main()->bundleURL()->absoluteString(); }
  std::vector<std::string> urls() const {
    std::vector<std::string> out;
    for (const auto& e : store->entries()) out.push_back(e.url);
    return out;
  }
  void loggingModules(std::vector<std::string> names) {
    ns::Array list;
    for (auto& n : names) list.push_back(ns::Value(n));
    ns::UserDefaults::standard()->setObject(diagnostics::kLoggingModulesKey, ns::Value(list));
  }
  void settingsClosed() { defaults().setPreferencesOnboardingRequired(false); }

  std::shared_ptr<appkit::LSSharedFileListMemoryStore> store = std::make_shared<appkit::LSSharedFileListMemoryStore>();
  ns::LogCapture log;
};

const std::string kMail = "file:///Applications/Mail.app/";
const std::string kOtherCopy = "file:///Volumes/Backup/Morvalent.app/";

}  // namespace

TEST_F(SessionLoginItemTest, FirstStartLeavesTheListAloneUntilTheSettingsWindowIsClosed) {
  store->setEntries({{1, kMail, std::nullopt}});
  updateLoginItem();
  EXPECT_EQ(urls(), std::vector<std::string>{kMail});

  settingsClosed();
  updateLoginItem();
  EXPECT_EQ(urls(), (std::vector<std::string>{kMail, own()}));
  // The service of newer systems is not touched.
  EXPECT_EQ(SMAppService::mainAppService()->status(), SMAppServiceStatus::notRegistered);
}

TEST_F(SessionLoginItemTest, AnEmptyListGetsTheItem) {
  settingsClosed();
  updateLoginItem();
  EXPECT_EQ(urls(), std::vector<std::string>{own()});
}

TEST_F(SessionLoginItemTest, TheItemFollowsOpenAtStartupAndIsAddedOnce) {
  loggingModules({"LoginItemsUtility"});
  store->setEntries({{1, kMail, std::nullopt}});
  settingsClosed();
  updateLoginItem();
  updateLoginItem();
  EXPECT_EQ(urls(), (std::vector<std::string>{kMail, own()}));
  EXPECT_EQ(log.countContaining("LoginItemsUtility: Adding login item"), 1u);
  EXPECT_EQ(store->writeCount(), 1);

  defaults().setOpenAtStartup(false);
  updateLoginItem();
  updateLoginItem();
  EXPECT_EQ(urls(), std::vector<std::string>{kMail});
  EXPECT_EQ(log.countContaining("LoginItemsUtility: Removing login item"), 1u);

  defaults().setOpenAtStartup(true);
  updateLoginItem();
  EXPECT_EQ(urls(), (std::vector<std::string>{kMail, own()}));
}

TEST_F(SessionLoginItemTest, AnotherCopysItemIsNotTheOwnItem) {
  store->setEntries({{1, kOtherCopy, std::nullopt}, {2, kMail, std::nullopt}});
  settingsClosed();
  defaults().setOpenAtStartup(false);
  updateLoginItem();
  EXPECT_EQ(urls(), (std::vector<std::string>{kOtherCopy, kMail}));

  defaults().setOpenAtStartup(true);
  updateLoginItem();
  EXPECT_EQ(urls(), (std::vector<std::string>{kOtherCopy, kMail, own()}));
  defaults().setOpenAtStartup(false);
  updateLoginItem();
  EXPECT_EQ(urls(), (std::vector<std::string>{kOtherCopy, kMail}));
}

TEST_F(SessionLoginItemTest, TheOwnItemIsFoundWhereverItIsAndUnresolvableItemsAreSkipped) {
  store->setEntries({{1, "no url", std::nullopt}, {2, own(), std::nullopt}, {3, kMail, std::nullopt}});
  LoginItemsUtility utility(
      appkit::LSSharedFileListCreate(nullptr, appkit::kLSSharedFileListSessionLoginItems, nullptr));
  ASSERT_TRUE(utility.existingLoginItem());
  EXPECT_EQ(utility.existingLoginItem()->id(), 2u);
  EXPECT_EQ(utility.lastLoginItem()->id(), 3u);

  settingsClosed();
  defaults().setOpenAtStartup(false);
  updateLoginItem();
  EXPECT_EQ(urls(), (std::vector<std::string>{"no url", kMail}));
  EXPECT_FALSE(utility.existingLoginItem());
}

TEST_F(SessionLoginItemTest, AListThatCannotBeCreatedIsLoggedAlways) {
  store->setOpenFails(true);
  settingsClosed();
  updateLoginItem();
  EXPECT_EQ(log.lines(), std::vector<std::string>{"LoginItemsUtility: LSSharedFileListCreate failed"});
  EXPECT_TRUE(store->entries().empty());
}

TEST_F(SessionLoginItemTest, AListThatCannotBeReadGetsNothingAndNoLine) {
  store->setEntries({{1, own(), std::nullopt}});
  store->setReadFails(true);
  settingsClosed();
  defaults().setOpenAtStartup(false);
  updateLoginItem();
  defaults().setOpenAtStartup(true);
  updateLoginItem();
  EXPECT_EQ(store->entries().size(), 1u);
  EXPECT_EQ(store->writeCount(), 0);
  EXPECT_EQ(log.count(), 0u);

  LoginItemsUtility utility(
      appkit::LSSharedFileListCreate(nullptr, appkit::kLSSharedFileListSessionLoginItems, nullptr));
  EXPECT_FALSE(utility.existingLoginItem());
  EXPECT_FALSE(utility.lastLoginItem());
}

TEST_F(SessionLoginItemTest, DiagnosticsFollowTheLoggingConvention) {
  settingsClosed();
  updateLoginItem();
  defaults().setOpenAtStartup(false);
  updateLoginItem();
  EXPECT_EQ(log.count(), 0u);

  loggingModules({"_all"});
  defaults().setOpenAtStartup(true);
  updateLoginItem();
  defaults().setOpenAtStartup(false);
  updateLoginItem();
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"LoginItemsUtility: Adding login item",
                                                   "LoginItemsUtility: Removing login item"}));
}

TEST_F(SessionLoginItemTest, TheSystemVersionPicksThePath) {
  settingsClosed();
  sim::World::shared().setOperatingSystemVersion({14, 0, 0});
  updateLoginItem();
  EXPECT_TRUE(store->entries().empty());
  EXPECT_EQ(SMAppService::mainAppService()->status(), SMAppServiceStatus::enabled);

  sim::World::shared().setOperatingSystemVersion({13, 99, 99});
  updateLoginItem();
  EXPECT_EQ(urls(), std::vector<std::string>{own()});
}

TEST_F(SessionLoginItemTest, TheListOnDiskIsKeptInStep) {
  // The real store, with the test's simulated system.
  appkit::LSSharedFileListSetStoreForTesting(appkit::kLSSharedFileListSessionLoginItems, nullptr);
  const std::string path = appkit::LSSharedFileListFileStore::defaultPath(appkit::kLSSharedFileListSessionLoginItems);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "{\"items\": [{\"id\": 4, \"url\": \"" << kMail << "\"}]}";

  settingsClosed();
  updateLoginItem();
  updateLoginItem();
  auto list = appkit::LSSharedFileListCreate(nullptr, appkit::kLSSharedFileListSessionLoginItems, nullptr);
  auto items = *appkit::LSSharedFileListCopySnapshot(list);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->storedURL(), kMail);
  EXPECT_EQ(items[1]->storedURL(), own());

  defaults().setOpenAtStartup(false);
  updateLoginItem();
  EXPECT_EQ(appkit::LSSharedFileListCopySnapshot(list)->size(), 1u);
}

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/shell/LoginItem.h"
#include "app/shell/tests/ShellTestSupport.h"

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
  EXPECT_EQ(service->entryPath(), paths.root() + "/Preferences/autostart/com.morvalent.Morvalent.desktop");
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

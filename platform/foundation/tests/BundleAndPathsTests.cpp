#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/TestSupport.h"

using ns::Value;

namespace {

// Sets an environment variable for the scope, restoring it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(Bundle, DefaultMainBundleNamesTheProgram) {
    auto main = ns::Bundle::makeDefaultMain();
    EXPECT_EQ(main->bundleIdentifier(), "com.morvalent.Morvalent");
    EXPECT_EQ(main->name(), "Morvalent");
    EXPECT_TRUE(main->version().has_value());
    EXPECT_TRUE(main->buildVersion().has_value());
    EXPECT_FALSE(main->executablePath().empty());
    EXPECT_FALSE(main->objectForInfoDictionaryKey("RedEvududAppDelegateForwarderEnabled").has_value());
    EXPECT_EQ(main->preferredLocalizations(), std::vector<std::string>{"en"});
}

TEST(Bundle, LoadsAnInfoPlistAndCanBeInstalledAsMain) {
    ns::test::TemporaryDirectory dir;
    const std::string path = dir.file("Info.plist");
    auto bytes = ns::PropertyListSerialization::dataWithPropertyList(
        Value(ns::Dictionary{{"CFBundleIdentifier", "com.example.Test"},
                             {"CFBundleShortVersionString", "4.4.3"},
                             {"CFBundleVersion", "443"},
                             {"RedEvududApplicationForwarderEnabled", false}}),
        ns::PropertyListFormat::XML);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes->data()),
                                                static_cast<std::streamsize>(bytes->size()));
    ns::Error error;
    auto bundle = ns::Bundle::fromInfoPlist(path, &error);
    ASSERT_TRUE(bundle) << error.description();
    EXPECT_EQ(bundle->bundleIdentifier(), "com.example.Test");
    EXPECT_EQ(bundle->version(), "4.4.3");
    EXPECT_EQ(bundle->buildVersion(), "443");
    EXPECT_EQ(bundle->objectForInfoDictionaryKey("RedEvududApplicationForwarderEnabled"), Value(false));
    EXPECT_EQ(bundle->bundlePath(), dir.path());
    EXPECT_EQ(bundle->bundleURL()->path(), dir.path());
    EXPECT_EQ(bundle->pathForResource("Info", "plist"), path);
    EXPECT_FALSE(bundle->pathForResource("embedded", "mobileprovision").has_value());

    auto previous = ns::Bundle::main();
    ns::Bundle::setMain(bundle);
    EXPECT_EQ(ns::Bundle::main()->bundleIdentifier(), "com.example.Test");
    ns::Bundle::setMain(previous);
    EXPECT_EQ(ns::Bundle::main(), previous);

    EXPECT_FALSE(ns::Bundle::fromInfoPlist(dir.file("missing.plist"), &error));
    std::ofstream(dir.file("bad.plist")) << "not a plist";
    EXPECT_FALSE(ns::Bundle::fromInfoPlist(dir.file("bad.plist"), &error));
    EXPECT_EQ(error.code, ns::NSPropertyListReadCorruptError);
}

TEST(Bundle, LocalizedStringFallsBackToValueThenKey) {
    auto bundle = ns::Bundle::withInfoDictionary({});
    EXPECT_EQ(bundle->localizedString("tincture.color.name.primary.red"), "tincture.color.name.primary.red");
    EXPECT_EQ(bundle->localizedString("key", "fallback"), "fallback");
    bundle->setStringTable("Localizable", {{"tincture.color.name.primary.red", "Red"}});
    EXPECT_EQ(bundle->localizedString("tincture.color.name.primary.red"), "Red");
    EXPECT_EQ(bundle->localizedString("tincture.color.name.primary.red", "", "Other"), "tincture.color.name.primary.red");
    EXPECT_EQ(bundle->name(), bundle->name());  // no CFBundleName: falls back without crashing
}

TEST(Paths, FollowTheXdgVariables) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        ScopedEnv cache("XDG_CACHE_HOME", nullptr);
        ScopedEnv config("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(ns::paths::applicationSupportDirectory(), "/home/someone/.local/share");
        EXPECT_EQ(ns::paths::cachesDirectory(), "/home/someone/.cache");
        EXPECT_EQ(ns::paths::preferencesDirectory(), "/home/someone/.config");
    }
    {
        ScopedEnv data("XDG_DATA_HOME", "/xdg/data");
        ScopedEnv cache("XDG_CACHE_HOME", "relative/ignored");
        ScopedEnv config("XDG_CONFIG_HOME", "/xdg/config");
        EXPECT_EQ(ns::paths::applicationSupportDirectory(), "/xdg/data");
        EXPECT_EQ(ns::paths::cachesDirectory(), "/home/someone/.cache");
        EXPECT_EQ(ns::paths::preferencesDirectory(), "/xdg/config");
    }
}

TEST(Paths, RootForTestingRedirectsEverything) {
    {
        ns::test::ScopedPathsRoot root;
        EXPECT_EQ(ns::paths::applicationSupportDirectory(), root.root() + "/ApplicationSupport");
        EXPECT_EQ(ns::paths::cachesDirectory(), root.root() + "/Caches");
        EXPECT_EQ(ns::paths::preferencesDirectory(), root.root() + "/Preferences");
        EXPECT_EQ(ns::paths::homeDirectory(), root.root());
    }
    EXPECT_FALSE(ns::paths::rootForTesting().has_value());
}

TEST(Paths, CreateDirectoryMakesParentsAndReportsFailures) {
    ns::test::TemporaryDirectory dir;
    const std::string deep = dir.file("a/b/com.morvalent.Morvalent/com.diruriduv.redevudud");
    EXPECT_TRUE(ns::paths::createDirectory(deep));
    bool isDir = false;
    EXPECT_TRUE(ns::paths::fileExists(deep, &isDir));
    EXPECT_TRUE(isDir);
    EXPECT_TRUE(ns::paths::createDirectory(deep));  // already there

    std::ofstream(dir.file("file")) << "x";
    ns::Error error;
    EXPECT_FALSE(ns::paths::createDirectory(dir.file("file"), &error));
    EXPECT_EQ(error.domain, ns::NSPOSIXErrorDomain);
    EXPECT_FALSE(ns::paths::createDirectory(dir.file("file/sub"), &error));
}

TEST(Paths, PathComponentHelpers) {
    EXPECT_EQ(ns::paths::appendingPathComponent("/a/", "/b"), "/a/b");
    EXPECT_EQ(ns::paths::appendingPathComponent("/a", "b"), "/a/b");
    EXPECT_EQ(ns::paths::appendingPathComponent("/a", ""), "/a");
    EXPECT_EQ(ns::paths::lastPathComponent("/a/b/"), "b");
    EXPECT_EQ(ns::paths::lastPathComponent("/"), "/");
    EXPECT_EQ(ns::paths::deletingLastPathComponent("/a/b"), "/a");
    EXPECT_EQ(ns::paths::deletingLastPathComponent("/a"), "/");
    EXPECT_EQ(ns::paths::deletingLastPathComponent("a"), "");
}

TEST(TestSupport, TemporaryDirectoryRemovesItself) {
    std::string path;
    {
        ns::test::TemporaryDirectory dir;
        path = dir.path();
        std::filesystem::create_directories(dir.file("x/y"));
        std::ofstream(dir.file("x/y/z")) << "data";
        EXPECT_TRUE(std::filesystem::exists(dir.file("x/y/z")));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/TestSupport.h"
#include "platform/foundation/UserDefaults.h"

using ns::Value;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(UserDefaults, TypedGettersFollowThePlatformRules) {
    auto d = ns::UserDefaults::inMemory();
    EXPECT_FALSE(d->boolForKey("absent"));
    EXPECT_EQ(d->integerForKey("absent"), 0);
    EXPECT_EQ(d->doubleForKey("absent"), 0.0);
    EXPECT_FALSE(d->stringForKey("absent").has_value());

    d->setObject("n", 2.9);
    EXPECT_TRUE(d->boolForKey("n"));
    EXPECT_EQ(d->integerForKey("n"), 2);
    EXPECT_EQ(d->stringForKey("n"), "2.9");

    d->setObject("neg", -1);
    EXPECT_EQ(d->integerForKey("neg"), -1);
    EXPECT_TRUE(d->boolForKey("neg"));

    for (const char* yes : {"YES", "yes", "true", "TRUE", "1", "7"}) {
        d->setObject("s", yes);
        EXPECT_TRUE(d->boolForKey("s")) << yes;
    }
    for (const char* no : {"NO", "false", "0", "", "banana"}) {
        d->setObject("s", no);
        EXPECT_FALSE(d->boolForKey("s")) << no;
    }
    d->setObject("s", "  42abc");
    EXPECT_EQ(d->integerForKey("s"), 42);
    d->setObject("s", "-3.7");
    EXPECT_EQ(d->integerForKey("s"), -3);
    EXPECT_DOUBLE_EQ(d->doubleForKey("s"), -3.7);
    d->setObject("s", "99999999999999999999999");
    EXPECT_EQ(d->integerForKey("s"), std::numeric_limits<int64_t>::max());
    d->setObject("s", "nope");
    EXPECT_EQ(d->integerForKey("s"), 0);
    // Clamped at the ends, also past 64 bits, where the digits read before an overflow would fit.
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
    const std::pair<const char*, int64_t> integers[] = {
        {"9223372036854775807", kMax},  {"9223372036854775808", kMax},   {"-9223372036854775808", kMin},
        {"-9223372036854775809", kMin}, {"18446744073709551615", kMax}, {"20000000000000000000", kMax},
        {"-20000000000000000000", kMin}};
    for (const auto& [text, integer] : integers) {
        d->setObject("s", text);
        EXPECT_EQ(d->integerForKey("s"), integer) << text;
    }

    d->setBool("b", true);
    EXPECT_EQ(d->object("b")->kind(), Value::Kind::Bool);
    EXPECT_EQ(d->stringForKey("b"), "1");
    d->setObject("data", ns::Data{1, 2});
    EXPECT_EQ(d->dataForKey("data"), (ns::Data{1, 2}));
    EXPECT_FALSE(d->dataForKey("b").has_value());
    EXPECT_FALSE(d->stringForKey("data").has_value());
}

TEST(UserDefaults, StringArrayNeedsEveryElementToBeAString) {
    auto d = ns::UserDefaults::inMemory();
    d->setObject("modules", ns::Array{"_all", "SnapController"});
    EXPECT_EQ(d->stringArrayForKey("modules"), (std::vector<std::string>{"_all", "SnapController"}));
    d->setObject("modules", ns::Array{"_all", 3});
    EXPECT_FALSE(d->stringArrayForKey("modules").has_value());
    EXPECT_TRUE(d->arrayForKey("modules").has_value());
    d->setObject("modules", "_all");
    EXPECT_FALSE(d->stringArrayForKey("modules").has_value());
    EXPECT_FALSE(d->arrayForKey("modules").has_value());
    d->setObject("modules", ns::Array{});
    EXPECT_EQ(d->stringArrayForKey("modules"), std::vector<std::string>{});
    d->setObject("dict", ns::Dictionary{{"k", "v"}});
    EXPECT_EQ(d->dictionaryForKey("dict"), (ns::Dictionary{{"k", "v"}}));
}

TEST(UserDefaults, RegisteredValuesSitBelowStoredOnesAndAreNeverWritten) {
    ns::test::TemporaryDirectory dir;
    const std::string path = dir.file("prefs.plist");
    {
        auto d = ns::UserDefaults::persistent(path);
        d->registerDefaults({{"analyticsMode", 2}, {"openAtStartup", true}});
        EXPECT_EQ(d->integerForKey("analyticsMode"), 2);
        d->setInteger("analyticsMode", 0);
        EXPECT_EQ(d->integerForKey("analyticsMode"), 0);
        d->removeObject("analyticsMode");
        EXPECT_EQ(d->integerForKey("analyticsMode"), 2);  // back to the registered value
        d->setBool("other", true);
        EXPECT_EQ(d->dictionaryRepresentation().size(), 3u);
        EXPECT_EQ(d->persistentDomain().size(), 1u);
    }
    auto onDisk = ns::PropertyListSerialization::propertyListWithData(
        reinterpret_cast<const uint8_t*>(readBytes(path).data()), readBytes(path).size());
    ASSERT_TRUE(onDisk.has_value());
    EXPECT_EQ(*onDisk, Value(ns::Dictionary{{"other", true}}));
}

TEST(UserDefaults, ValuesSurviveAReopen) {
    ns::test::TemporaryDirectory dir;
    for (auto format : {ns::PropertyListFormat::Binary, ns::PropertyListFormat::XML}) {
        const std::string path = dir.file(format == ns::PropertyListFormat::Binary ? "a/b/bin.plist" : "xml.plist");
        const ns::Date when(1700000000.123456);
        const ns::Value everything(ns::Dictionary{
            {"bool", false},
            {"int", int64_t{-9007199254740993}},
            {"big", uint64_t{9223372036854775807ULL}},
            {"double", 0.1},
            {"string", "h\u00e9llo \U0001F600"},
            {"data", ns::Data{0, 255, 7}},
            {"empty", ns::Data{}},
            {"array", ns::Array{1, "two", ns::Array{}}},
            {"dict", ns::Dictionary{{"nested", ns::Dictionary{{"k", 1.5}}}}},
        });
        {
            auto d = ns::UserDefaults::persistent(path, format);
            for (const auto& [k, v] : *everything.dictionary()) ASSERT_TRUE(d->setObject(k, v)) << k;
            d->setObject("date", when);
            d->setObject("ordered", ns::OrderedDictionary{{"z", 1}, {"a", 2}});
            EXPECT_TRUE(d->synchronize());
        }
        auto reopened = ns::UserDefaults::persistent(path, format);
        for (const auto& [k, v] : *everything.dictionary()) EXPECT_EQ(reopened->object(k), v) << k;
        EXPECT_EQ(reopened->object("int")->kind(), Value::Kind::Int);
        EXPECT_EQ(reopened->object("double")->kind(), Value::Kind::Double);
        EXPECT_EQ(reopened->object("bool")->kind(), Value::Kind::Bool);
        ASSERT_TRUE(reopened->object("date")->date().has_value());
        if (format == ns::PropertyListFormat::Binary) {
            EXPECT_NEAR(reopened->object("date")->date()->timeIntervalSince1970(), when.timeIntervalSince1970(), 2e-6);
        } else {
            // The XML form of a date has whole seconds.
            EXPECT_NEAR(reopened->object("date")->date()->timeIntervalSince1970(), when.timeIntervalSince1970(), 1.0);
        }
        EXPECT_EQ(reopened->dictionaryForKey("ordered"), (ns::Dictionary{{"a", 2}, {"z", 1}}));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    // No temporary files are left behind.
    for (const auto& name : filesIn(dir.path())) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST(UserDefaults, DatesBeforeTheReferenceDateKeepWholeSeconds) {
    ns::test::TemporaryDirectory dir;
    const std::string path = dir.file("p.plist");
    ns::UserDefaults::persistent(path)->setObject("old", ns::Date(0.4));           // 1970
    ns::UserDefaults::persistent(path)->setObject("older", ns::Date(-86400.0));  // 1969
    auto d = ns::UserDefaults::persistent(path);
    EXPECT_EQ(d->object("old")->date()->timeIntervalSince1970(), 0.0);
    EXPECT_EQ(d->object("older")->date()->timeIntervalSince1970(), -86400.0);
}

TEST(UserDefaults, RefusesWhatAPropertyListCannotHold) {
    ns::test::TemporaryDirectory dir;
    const std::string path = dir.file("p.plist");
    auto d = ns::UserDefaults::persistent(path);
    d->setObject("keep", "old");
    ns::LogCapture log;
    struct Thing : ns::Object {
        std::string className() const override { return "Thing"; }
    };
    EXPECT_FALSE(d->setObject("keep", Value()));
    EXPECT_FALSE(d->setObject("keep", ns::UUID::random()));
    EXPECT_FALSE(d->setObject("keep", std::make_shared<Thing>()));
    EXPECT_FALSE(d->setObject("keep", std::numeric_limits<uint64_t>::max()));
    EXPECT_FALSE(d->setObject("keep", std::string("bad \xff utf8")));
    EXPECT_FALSE(d->setObject("keep", std::string("nul\0inside", 10)));
    EXPECT_FALSE(d->setObject("keep", ns::Array{1, Value()}));
    EXPECT_FALSE(d->setObject("keep", ns::Date(1e300)));
    EXPECT_FALSE(d->setObject(std::string("k\xff"), 1));
    EXPECT_EQ(log.count(), 9u);
    EXPECT_TRUE(log.contains("Thing"));
    EXPECT_EQ(d->stringForKey("keep"), "old");
    EXPECT_EQ(ns::UserDefaults::persistent(path)->stringForKey("keep"), "old");
}

TEST(UserDefaults, MissingFileStartsEmptySilently) {
    ns::test::TemporaryDirectory dir;
    ns::LogCapture log;
    auto d = ns::UserDefaults::persistent(dir.file("none.plist"));
    EXPECT_TRUE(d->persistentDomain().empty());
    EXPECT_EQ(log.count(), 0u);
    EXPECT_TRUE(filesIn(dir.path()).empty());  // nothing is written until something changes
}

class BadPreferencesFile : public testing::TestWithParam<std::pair<const char*, std::string>> {};

TEST_P(BadPreferencesFile, IsMovedAsideWithOneLogLine) {
    ns::test::TemporaryDirectory dir;
    const std::string path = dir.file("com.example.plist");
    const std::string bytes = GetParam().second;
    writeBytes(path, bytes);

    ns::LogCapture log;
    auto d = ns::UserDefaults::persistent(path);
    d->registerDefaults({{"dockPreviewsEnabled", true}});
    EXPECT_TRUE(d->persistentDomain().empty());
    EXPECT_TRUE(d->boolForKey("dockPreviewsEnabled"));
    ASSERT_EQ(log.count(), 1u);
    EXPECT_TRUE(log.contains(path));
    EXPECT_TRUE(log.contains("moved it to"));

    auto names = filesIn(dir.path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("com.example.plist.corrupt-", 0), 0u) << names[0];
    EXPECT_EQ(readBytes(dir.file(names[0])), bytes);  // kept as it was

    d->setBool("openAtStartup", false);
    EXPECT_TRUE(d->synchronize());
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"com.example.plist", names[0]}));
    EXPECT_EQ(ns::UserDefaults::persistent(path)->object("openAtStartup"), Value(false));
    EXPECT_EQ(log.count(), 1u);
}

namespace {

std::string validBinary() {
    auto data = ns::PropertyListSerialization::dataWithPropertyList(
        Value(ns::Dictionary{{"a", ns::Array{1, 2, 3}}, {"b", "text"}}), ns::PropertyListFormat::Binary);
    return std::string(data->begin(), data->end());
}

std::string rootArrayPlist() {
    auto data = ns::PropertyListSerialization::dataWithPropertyList(Value(ns::Array{1}),
                                                                    ns::PropertyListFormat::XML);
    return std::string(data->begin(), data->end());
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    UserDefaults, BadPreferencesFile,
    testing::Values(std::make_pair("empty", std::string()),
                    std::make_pair("truncated", validBinary().substr(0, validBinary().size() - 10)),
                    std::make_pair("garbage", std::string("this is not a property list\n")),
                    std::make_pair("rootNotDictionary", rootArrayPlist()),
                    std::make_pair("brokenXml", std::string("<?xml version=\"1.0\"?><plist><dict><key>a</key>"))),
    [](const auto& info) { return std::string(info.param.first); });

TEST(UserDefaults, AnUnreadableFileIsLeftAloneAndChangesStayInMemory) {
    // Ways a present file can't be read, also as root: a directory, a link to
    // itself, and no permissions at all.
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> ways = {
        {"directory", [](const std::string& path) { fs::create_directory(path); }},
        {"link loop", [](const std::string& path) { fs::create_symlink("prefs.plist", path); }},
        {"mode 000", [](const std::string& path) {
             writeBytes(path, "kept");
             fs::permissions(path, fs::perms::none);
         }},
    };
    for (const auto& [name, make] : ways) {
        if (std::string(name) == "mode 000" && ::geteuid() == 0) continue;  // root reads it anyway
        ns::test::TemporaryDirectory dir;
        const std::string path = dir.file("prefs.plist");
        make(path);
        const fs::file_status before = fs::symlink_status(path);
        ns::LogCapture log;
        auto d = ns::UserDefaults::persistent(path);
        EXPECT_EQ(log.count(), 1u) << name;
        d->setObject("k", 1);
        EXPECT_EQ(d->integerForKey("k"), 1) << name;
        EXPECT_TRUE(d->synchronize()) << name;
        d.reset();
        EXPECT_EQ(fs::symlink_status(path).type(), before.type()) << name;
        EXPECT_EQ(fs::symlink_status(path).permissions(), before.permissions()) << name;
        EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"prefs.plist"}) << name;
    }
}

TEST(UserDefaults, WhatACrashLeavesIsRecoveredOrCleanedUp) {
    ns::test::TemporaryDirectory dir;
    const std::string path = dir.file("p.plist");
    const std::string journal = path + ".journal";
    // Writes a crash cut short leave temporary files; those of live processes stay.
    const std::string gone = std::to_string(1 << 23);  // above any process id
    const std::string mine = std::to_string(::getpid());
    for (const std::string& name : {"p.plist.tmp-" + gone + "-0", "p.plist.journal.tmp-" + gone + "-3",
                                    "p.plist.tmp-" + mine + "-0", "q.plist.tmp-" + gone + "-0"}) {
        writeBytes(dir.file(name), "partial");
    }
    auto d = ns::UserDefaults::persistent(path);
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"p.plist.tmp-" + mine + "-0", "q.plist.tmp-" + gone + "-0"}));
    fs::remove(dir.file("p.plist.tmp-" + mine + "-0"));
    fs::remove(dir.file("q.plist.tmp-" + gone + "-0"));
    fs::create_directory(path);  // the file can't be written for now
    ns::LogCapture log;
    d->setObject("k", 1);
    EXPECT_FALSE(d->synchronize());
    EXPECT_TRUE(log.contains("couldn't write preferences file"));
    fs::remove(path);
    // What a crash would leave: the change is in the journal only.
    EXPECT_EQ(ns::UserDefaults::persistent(path)->object("k"), Value(1));

    // Synchronizing every store at exit retries the write.
    ns::UserDefaults::synchronizeAll();
    EXPECT_FALSE(fs::exists(journal));
    auto onDisk = ns::PropertyListSerialization::propertyListWithData(
        reinterpret_cast<const uint8_t*>(readBytes(path).data()), readBytes(path).size());
    EXPECT_EQ(onDisk, Value(ns::Dictionary{{"k", 1}}));

    // A damaged journal gives back what it holds before the damage.
    fs::remove(path);
    fs::create_directory(path);
    d->setObject("k", 2);
    EXPECT_FALSE(d->synchronize());
    std::ofstream(journal, std::ios::binary | std::ios::app) << std::string("\x40\0\0\0junk", 8);
    fs::remove(path);
    log.clear();
    auto reopened = ns::UserDefaults::persistent(path);
    EXPECT_EQ(reopened->object("k"), Value(2));
    EXPECT_EQ(log.count(), 1u);
    EXPECT_TRUE(log.contains("is damaged after 1 changes"));
}

TEST(UserDefaults, ObserverGetsInitialThenNewValuesAfterTheStore) {
    ns::test::TemporaryDirectory dir;
    const std::string path = dir.file("p.plist");
    auto d = ns::UserDefaults::persistent(path);
    d->registerDefaults({{"dockPreviewsEnabled", true}});

    std::vector<std::optional<Value>> seen;
    std::vector<std::optional<Value>> readInside;
    std::vector<std::optional<Value>> onDiskInside;
    auto token = d->addObserver("dockPreviewsEnabled", {.initial = true, .newValue = true},
                                [&](const std::optional<Value>& v) {
                                    seen.push_back(v);
                                    readInside.push_back(d->object("dockPreviewsEnabled"));
                                    onDiskInside.push_back(
                                        ns::UserDefaults::persistent(path)->object("dockPreviewsEnabled"));
                                });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], Value(true));  // the registered value, at installation

    d->setBool("dockPreviewsEnabled", false);
    d->setObject("unrelated", 1);
    d->removeObject("dockPreviewsEnabled");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1], Value(false));
    EXPECT_EQ(readInside[1], Value(false));   // already stored when the observer runs
    EXPECT_EQ(onDiskInside[1], Value(false)); // and already written out
    EXPECT_EQ(seen[2], Value(true));          // removal falls back to the registered value
    EXPECT_EQ(onDiskInside[2], std::nullopt);

    token.reset();
    d->setBool("dockPreviewsEnabled", false);
    EXPECT_EQ(seen.size(), 3u);
}

TEST(UserDefaults, ObserverWithoutInitialAndForAnAbsentKey) {
    auto d = ns::UserDefaults::inMemory();
    std::vector<std::optional<Value>> seen;
    auto token = d->addObserver("k", {.initial = false, .newValue = true},
                                [&](const std::optional<Value>& v) { seen.push_back(v); });
    EXPECT_TRUE(seen.empty());
    d->setObject("k", "v");
    d->removeObject("k");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], Value("v"));
    EXPECT_EQ(seen[1], std::nullopt);

    std::vector<std::optional<Value>> initialOnly;
    auto once = d->addObserver("k", {.initial = true, .newValue = false},
                               [&](const std::optional<Value>& v) { initialOnly.push_back(v); });
    d->setObject("k", 1);
    EXPECT_EQ(initialOnly.size(), 1u);
}

TEST(UserDefaults, ObserversMayWriteAndRemoveThemselvesWhileCalled) {
    auto d = ns::UserDefaults::inMemory();
    ns::ObserverToken selfRemoving;
    int calls = 0;
    selfRemoving = d->addObserver("a", {}, [&](const std::optional<Value>&) {
        ++calls;
        d->setObject("b", *d->object("a"));  // writing from inside must not deadlock
        selfRemoving.reset();
    });
    int second = 0;
    auto other = d->addObserver("a", {}, [&](const std::optional<Value>&) { ++second; });
    d->setObject("a", 1);
    d->setObject("a", 2);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(d->integerForKey("b"), 1);
}

TEST(UserDefaults, TokenOutlivingTheStoreIsHarmless) {
    ns::ObserverToken token;
    {
        auto d = ns::UserDefaults::inMemory();
        token = d->addObserver("k", {}, [](const std::optional<Value>&) {});
    }
    token.reset();
    EXPECT_FALSE(token.isActive());
}

TEST(UserDefaults, ConcurrentReadersWritersAndObservers) {
    ns::test::TemporaryDirectory dir;
    auto d = ns::UserDefaults::persistent(dir.file("p.plist"));
    std::atomic<int> notified{0};
    auto token = d->addObserver("shared", {}, [&](const std::optional<Value>&) { notified.fetch_add(1); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                d->setInteger("shared", t * 1000 + i);
                d->setInteger("own" + std::to_string(t), i);
                (void)d->integerForKey("shared");
                (void)d->dictionaryRepresentation();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(notified.load(), 200);
    auto reopened = ns::UserDefaults::persistent(dir.file("p.plist"));
    for (int t = 0; t < 4; ++t) EXPECT_EQ(reopened->integerForKey("own" + std::to_string(t)), 49);
    EXPECT_EQ(reopened->integerForKey("shared"), d->integerForKey("shared"));
}

TEST(UserDefaults, StandardCanBeReplaced) {
    auto mine = ns::UserDefaults::inMemory();
    {
        ns::test::ScopedStandardDefaults scoped(mine);
        EXPECT_EQ(ns::UserDefaults::standard(), mine);
        ns::UserDefaults::standard()->setObject("x", 1);
    }
    EXPECT_NE(ns::UserDefaults::standard(), mine);
    EXPECT_EQ(mine->integerForKey("x"), 1);
    {
        ns::test::ScopedPathsRoot root;
        EXPECT_EQ(ns::UserDefaults::preferencesPathForBundleIdentifier("com.morvalent.Morvalent"),
                  root.root() + "/Preferences/com.morvalent.Morvalent.plist");
    }
}

TEST(UserDefaults, StoredValuesReadTheSameBeforeAndAfterAReopen) {
    ns::test::TemporaryDirectory dir;
    const std::string path = dir.file("p.plist");
    auto d = ns::UserDefaults::persistent(path);
    d->setObject("u", uint64_t{5});
    d->setObject("o", ns::OrderedDictionary{{"z", 1}, {"a", 2}});
    d->setObject("t", ns::Date(1700000000.1234567));
    auto reopened = ns::UserDefaults::persistent(path);
    for (const char* key : {"u", "o", "t"}) {
        ASSERT_TRUE(d->object(key).has_value()) << key;
        EXPECT_EQ(d->object(key)->kind(), reopened->object(key)->kind()) << key;
    }
    EXPECT_EQ(d->object("u")->kind(), Value::Kind::Int);
    EXPECT_TRUE(d->object("o")->isDictionary());
    EXPECT_NEAR(d->object("t")->date()->timeIntervalSince1970(), reopened->object("t")->date()->timeIntervalSince1970(),
                2e-6);
}

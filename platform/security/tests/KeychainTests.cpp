// Item semantics, run against both backends.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/security/FileKeychainStore.h"
#include "platform/security/Keychain.h"
#include "platform/security/tests/TestBytes.h"
#include "platform/foundation/TestSupport.h"

namespace {

using sec::Bytes;
using sec::SecItemQuery;

using sectest::bytesOf;

struct MemoryBackend {
  std::shared_ptr<sec::KeychainStore> make() { return std::make_shared<sec::MemoryKeychainStore>(); }
};

struct FileBackend {
  ns::test::TemporaryDirectory dir;
  std::shared_ptr<sec::KeychainStore> make() {
    return std::make_shared<sec::FileKeychainStore>(std::filesystem::path(dir.path()) / "keychain");
  }
};

template <typename Backend>
class SecKeychain : public ::testing::Test {
 protected:
  SecKeychain() : store(backend.make()) {}

  sec::OSStatus add(const std::string& service, const std::string& account,
                    std::string_view value) {
    auto query = SecItemQuery::genericPassword(service, account);
    query.valueData = bytesOf(value);
    query.accessible = sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
    return store->add(query);
  }

  // The value stored, or "<status>" when the read fails.
  std::string find(const std::string& service, const std::string& account) {
    auto query = SecItemQuery::genericPassword(service, account);
    query.returnData = true;
    sec::SecItemResult result;
    const auto status = store->copyMatching(query, &result);
    if (status != sec::errSecSuccess) {
      EXPECT_TRUE(result.items.empty());
      return "<" + std::to_string(status) + ">";
    }
    EXPECT_EQ(result.items.size(), 1u);
    return std::string(result.data()->begin(), result.data()->end());
  }

  std::vector<std::string> all(std::optional<std::string> service = std::nullopt) {
    SecItemQuery query;
    query.service = std::move(service);
    query.matchLimit = sec::kSecMatchLimitAll;
    query.returnData = true;
    sec::SecItemResult result;
    store->copyMatching(query, &result);
    std::vector<std::string> out;
    for (const auto& item : result.items) {
      out.push_back(item.service + "/" + item.account + "=" +
                    std::string(item.data.begin(), item.data.end()));
    }
    return out;
  }

  Backend backend;
  std::shared_ptr<sec::KeychainStore> store;
};

using Backends = ::testing::Types<MemoryBackend, FileBackend>;
TYPED_TEST_SUITE(SecKeychain, Backends);

TYPED_TEST(SecKeychain, AddFindAndDelete) {
  EXPECT_EQ(this->find("svc", "key"), "<-25300>");
  ASSERT_EQ(this->add("svc", "key", "value"), sec::errSecSuccess);
  EXPECT_EQ(this->find("svc", "key"), "value");

  EXPECT_EQ(this->store->remove(SecItemQuery::genericPassword("svc", "key")), sec::errSecSuccess);
  EXPECT_EQ(this->find("svc", "key"), "<-25300>");
  EXPECT_EQ(this->store->remove(SecItemQuery::genericPassword("svc", "key")),
            sec::errSecItemNotFound);
}

TYPED_TEST(SecKeychain, DuplicateAddKeepsTheFirstValue) {
  ASSERT_EQ(this->add("svc", "key", "first"), sec::errSecSuccess);
  EXPECT_EQ(this->add("svc", "key", "second"), sec::errSecDuplicateItem);
  EXPECT_EQ(this->find("svc", "key"), "first");

  // The store-twice pattern: on a duplicate, delete and add again.
  ASSERT_EQ(this->store->remove(SecItemQuery::genericPassword("svc", "key")), sec::errSecSuccess);
  ASSERT_EQ(this->add("svc", "key", "second"), sec::errSecSuccess);
  EXPECT_EQ(this->all(), std::vector<std::string>{"svc/key=second"});
}

TYPED_TEST(SecKeychain, ServiceAndAccountBothIdentifyAnItem) {
  ASSERT_EQ(this->add("a", "key", "in a"), sec::errSecSuccess);
  ASSERT_EQ(this->add("b", "key", "in b"), sec::errSecSuccess);
  ASSERT_EQ(this->add("a", "other", "other in a"), sec::errSecSuccess);
  ASSERT_EQ(this->add("", "", "nameless"), sec::errSecSuccess);
  EXPECT_EQ(this->find("a", "key"), "in a");
  EXPECT_EQ(this->find("b", "key"), "in b");
  EXPECT_EQ(this->find("", ""), "nameless");
  EXPECT_EQ(this->all(), (std::vector<std::string>{"/=nameless", "a/key=in a", "a/other=other in a",
                                                   "b/key=in b"}));
  EXPECT_EQ(this->all("a"), (std::vector<std::string>{"a/key=in a", "a/other=other in a"}));
}

TYPED_TEST(SecKeychain, DeleteByServiceClearsOnlyThatService) {
  ASSERT_EQ(this->add("mine", "k1", "1"), sec::errSecSuccess);
  ASSERT_EQ(this->add("mine", "k2", "2"), sec::errSecSuccess);
  ASSERT_EQ(this->add("theirs", "k1", "3"), sec::errSecSuccess);
  SecItemQuery clear;
  clear.service = "mine";
  EXPECT_EQ(this->store->remove(clear), sec::errSecSuccess);
  EXPECT_EQ(this->all(), std::vector<std::string>{"theirs/k1=3"});
  EXPECT_EQ(this->store->remove(clear), sec::errSecItemNotFound);
}

TYPED_TEST(SecKeychain, CopyMatchingReturnsDataOnlyWhenAsked) {
  ASSERT_EQ(this->add("svc", "key", "secret"), sec::errSecSuccess);
  auto query = SecItemQuery::genericPassword("svc", "key");
  sec::SecItemResult result;
  ASSERT_EQ(this->store->copyMatching(query, &result), sec::errSecSuccess);
  ASSERT_EQ(result.items.size(), 1u);
  EXPECT_TRUE(result.items[0].data.empty());
  EXPECT_EQ(result.items[0].account, "key");
  EXPECT_EQ(result.items[0].accessible, sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
  EXPECT_EQ(result.items[0].creationDate, result.items[0].modificationDate);

  // Status only.
  EXPECT_EQ(this->store->copyMatching(query, nullptr), sec::errSecSuccess);

  // The accessibility attribute takes part in matching.
  query.accessible = sec::kSecAttrAccessibleWhenUnlocked;
  EXPECT_EQ(this->store->copyMatching(query, &result), sec::errSecItemNotFound);
  EXPECT_TRUE(result.items.empty());
}

TYPED_TEST(SecKeychain, BinaryValuesSurviveUnchanged) {
  Bytes value;
  for (int i = 0; i < 256; ++i) value.push_back(static_cast<std::uint8_t>(i));
  auto query = SecItemQuery::genericPassword("svc", "bin");
  query.valueData = value;
  ASSERT_EQ(this->store->add(query), sec::errSecSuccess);
  query.valueData.reset();
  query.returnData = true;
  sec::SecItemResult result;
  ASSERT_EQ(this->store->copyMatching(query, &result), sec::errSecSuccess);
  EXPECT_EQ(*result.data(), value);
}

TYPED_TEST(SecKeychain, UpdateChangesMatchingItems) {
  ASSERT_EQ(this->add("svc", "key", "old"), sec::errSecSuccess);
  ASSERT_EQ(this->add("svc", "other", "x"), sec::errSecSuccess);

  sec::SecItemAttributes changes;
  changes.valueData = bytesOf("new");
  EXPECT_EQ(this->store->update(SecItemQuery::genericPassword("svc", "key"), changes),
            sec::errSecSuccess);
  EXPECT_EQ(this->find("svc", "key"), "new");
  EXPECT_EQ(this->find("svc", "other"), "x");

  EXPECT_EQ(this->store->update(SecItemQuery::genericPassword("svc", "missing"), changes),
            sec::errSecItemNotFound);
  EXPECT_EQ(this->store->update(SecItemQuery::genericPassword("svc", "key"), {}),
            sec::errSecParam);
}

TYPED_TEST(SecKeychain, UpdateRefusesToCreateADuplicateAndChangesNothing) {
  ASSERT_EQ(this->add("svc", "a", "A"), sec::errSecSuccess);
  ASSERT_EQ(this->add("svc", "b", "B"), sec::errSecSuccess);
  sec::SecItemAttributes rename;
  rename.account = "b";
  rename.valueData = bytesOf("changed");
  EXPECT_EQ(this->store->update(SecItemQuery::genericPassword("svc", "a"), rename),
            sec::errSecDuplicateItem);

  // Renaming every item of the service to one account collides as well.
  SecItemQuery wholeService;
  wholeService.service = "svc";
  rename.account = "c";
  EXPECT_EQ(this->store->update(wholeService, rename), sec::errSecDuplicateItem);
  EXPECT_EQ(this->all(), (std::vector<std::string>{"svc/a=A", "svc/b=B"}));
}

TYPED_TEST(SecKeychain, UpdateMovesItemsToAnotherService) {
  ASSERT_EQ(this->add("from", "key", "v"), sec::errSecSuccess);
  ASSERT_EQ(this->add("to", "other", "w"), sec::errSecSuccess);
  sec::SecItemAttributes move;
  move.service = "to";
  EXPECT_EQ(this->store->update(SecItemQuery::genericPassword("from", "key"), move),
            sec::errSecSuccess);
  EXPECT_EQ(this->all(), (std::vector<std::string>{"to/other=w", "to/key=v"}));

  ASSERT_EQ(this->add("from", "other", "z"), sec::errSecSuccess);
  move.service = "to";
  EXPECT_EQ(this->store->update(SecItemQuery::genericPassword("from", "other"), move),
            sec::errSecDuplicateItem);
  EXPECT_EQ(this->find("from", "other"), "z");
}

TYPED_TEST(SecKeychain, BadQueriesAreRefused) {
  auto query = SecItemQuery::genericPassword("svc", std::string("\xC0\x80", 2));  // overlong
  query.valueData = bytesOf("v");
  EXPECT_EQ(this->store->add(query), sec::errSecParam);
  query.account = "ok";
  query.service = std::string("\xED\xA0\x80", 3);  // surrogate
  EXPECT_EQ(this->store->add(query), sec::errSecParam);
  EXPECT_EQ(this->store->copyMatching(query, nullptr), sec::errSecParam);

  query.service = "svc";
  query.itemClass = sec::kSecClassInternetPassword;
  EXPECT_EQ(this->store->add(query), sec::errSecUnimplemented);
  EXPECT_EQ(this->store->remove(query), sec::errSecUnimplemented);
  EXPECT_TRUE(this->all().empty());

  // Well-formed non-ASCII names are fine.
  EXPECT_EQ(this->add("sérvice ✓", "ключ 🔑", "v"), sec::errSecSuccess);
  EXPECT_EQ(this->find("sérvice ✓", "ключ 🔑"), "v");
}

TYPED_TEST(SecKeychain, ConcurrentThreadsLoseNoItem) {
  constexpr int kThreads = 8;
  constexpr int kItems = 20;
  std::atomic<int> duplicates{0};
  std::atomic<int> winners{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kItems; ++i) {
        const std::string account = "t" + std::to_string(t) + "-" + std::to_string(i);
        const std::string service = "svc" + std::to_string(i % 3);
        EXPECT_EQ(this->add(service, account, "v0"), sec::errSecSuccess);
        sec::SecItemAttributes changes;
        changes.valueData = bytesOf("v1");
        EXPECT_EQ(this->store->update(SecItemQuery::genericPassword(service, account), changes),
                  sec::errSecSuccess);
        if (i % 2 == 0) {
          EXPECT_EQ(this->store->remove(SecItemQuery::genericPassword(service, account)),
                    sec::errSecSuccess);
        }
      }
      // Every thread races for one shared item: exactly one add wins.
      const auto status = this->add("shared", "key", "t" + std::to_string(t));
      (status == sec::errSecSuccess ? winners : duplicates)++;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(winners.load(), 1);
  EXPECT_EQ(duplicates.load(), kThreads - 1);
  const auto items = this->all();
  EXPECT_EQ(items.size(), static_cast<std::size_t>(kThreads * kItems / 2 + 1));
  for (const auto& item : items) {
    if (item.rfind("shared/", 0) != 0) {
      EXPECT_EQ(item.substr(item.size() - 3), "=v1") << item;
    }
  }
}

class SecCurrentKeychain : public ::testing::Test {
 protected:
  void TearDown() override { sec::setCurrentKeychain(nullptr); }
};

TEST_F(SecCurrentKeychain, SecItemFunctionsUseTheInstalledStore) {
  auto first = std::make_shared<sec::MemoryKeychainStore>();
  sec::setCurrentKeychain(first);
  EXPECT_EQ(sec::currentKeychain(), first);

  auto query = SecItemQuery::genericPassword("svc", "key");
  query.valueData = bytesOf("v");
  EXPECT_EQ(sec::SecItemAdd(query), sec::errSecSuccess);
  EXPECT_EQ(sec::SecItemAdd(query), sec::errSecDuplicateItem);
  sec::SecItemAttributes changes;
  changes.valueData = bytesOf("w");
  EXPECT_EQ(sec::SecItemUpdate(query, changes), sec::errSecSuccess);
  sec::SecItemResult result;
  query.returnData = true;
  ASSERT_EQ(sec::SecItemCopyMatching(query, &result), sec::errSecSuccess);
  EXPECT_EQ(*result.data(), bytesOf("w"));

  sec::setCurrentKeychain(std::make_shared<sec::MemoryKeychainStore>());
  EXPECT_EQ(sec::SecItemCopyMatching(query, &result), sec::errSecItemNotFound);
  EXPECT_EQ(sec::SecItemDelete(query), sec::errSecItemNotFound);
  EXPECT_EQ(first->remove(query), sec::errSecSuccess);
}

TEST_F(SecCurrentKeychain, DefaultStoreIsAFileStoreInTheDataHome) {
  ns::test::TemporaryDirectory home;
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string previous = saved ? saved : "";
  setenv("XDG_DATA_HOME", home.path().c_str(), 1);
  sec::setCurrentKeychain(nullptr);
  auto store = std::dynamic_pointer_cast<sec::FileKeychainStore>(sec::currentKeychain());
  ASSERT_TRUE(store);
  EXPECT_EQ(store->directory(), std::filesystem::path(home.path()) / "keychain");

  auto query = SecItemQuery::genericPassword("svc", "key");
  EXPECT_EQ(sec::SecItemAdd(query), sec::errSecSuccess);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(home.path()) / "keychain" / "service-svc.keychain"));

  setenv("XDG_DATA_HOME", "relative/path", 1);  // not absolute: ignored
  const char* homeDir = std::getenv("HOME");
  if (homeDir && homeDir[0] == '/') {
    EXPECT_EQ(sec::FileKeychainStore::defaultDirectory(),
              std::filesystem::path(homeDir) / ".local" / "share" / "keychain");
  }
  if (saved) {
    setenv("XDG_DATA_HOME", previous.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

}  // namespace

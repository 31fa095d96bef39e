#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/Util/DVACKeychainUtil.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"

namespace {

// An in-memory keychain that counts the operations that write.
class CountingKeychainStore final : public sec::KeychainStore {
 public:
  int writes = 0;

 protected:
  sec::OSStatus loadService(const std::string& service, std::vector<sec::KeychainItem>& items) override {
    auto it = services_.find(service);
    items = it == services_.end() ? std::vector<sec::KeychainItem>{} : it->second;
    return sec::errSecSuccess;
  }
  sec::OSStatus loadAllServices(ServiceMap& services) override {
    services = services_;
    return sec::errSecSuccess;
  }
  sec::OSStatus saveService(const std::string& service, const std::vector<sec::KeychainItem>& items) override {
    if (items.empty()) {
      services_.erase(service);
    } else {
      services_[service] = items;
    }
    return sec::errSecSuccess;
  }
  sec::OSStatus beginOperation(bool writing) override {
    if (writing) ++writes;
    return sec::errSecSuccess;
  }

 private:
  ServiceMap services_;
};

class DVACKeychainUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sec::setCurrentKeychain(store_);
    DVACLogger::resetForTesting();
    DVACLogger::setCurrentLogLevel(DVACLogLevelVerbose);
  }
  void TearDown() override {
    sec::setCurrentKeychain(nullptr);
    DVACLogger::resetForTesting();
  }
  std::shared_ptr<CountingKeychainStore> store_ = std::make_shared<CountingKeychainStore>();
  ns::LogCapture capture_;
};

TEST_F(DVACKeychainUtilTest, DefaultServiceIsTheBundleIdentifierAndRedEvudud) {
  EXPECT_EQ(DVACKeychainUtil::defaultServiceName(), *ns::Bundle::main()->bundleIdentifier() + ".RedEvudud");
}

TEST_F(DVACKeychainUtilTest, StoresReadsAndReplaces) {
  const std::string service = DVACKeychainUtil::defaultServiceName();
  EXPECT_TRUE(DVACKeychainUtil::storeString("first", "kDVEncryptionKeyTag"));
  EXPECT_TRUE(
      capture_.contains("Stored a string with key='kDVEncryptionKeyTag', service='" + service + "' to keychain."));
  EXPECT_TRUE(DVACKeychainUtil::storeString("sec\xC3\xB6nd", "kDVEncryptionKeyTag"));
  sec::OSStatus status = 1;
  EXPECT_EQ(DVACKeychainUtil::stringForKey("kDVEncryptionKeyTag", &status), "sec\xC3\xB6nd");
  EXPECT_EQ(status, sec::errSecSuccess);
  EXPECT_TRUE(
      capture_.contains("Retrieved a string with key='kDVEncryptionKeyTag', service='" + service + "' from keychain."));

  sec::SecItemQuery all;
  all.service = service;
  all.matchLimit = sec::kSecMatchLimitAll;
  sec::SecItemResult result;
  ASSERT_EQ(sec::SecItemCopyMatching(all, &result), sec::errSecSuccess);
  ASSERT_EQ(result.items.size(), 1u);
  EXPECT_EQ(result.items[0].accessible, sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
}

TEST_F(DVACKeychainUtilTest, ReplacesAnItemStoredWithOtherAttributes) {
  // An item of the same service and key written with another accessibility.
  sec::SecItemQuery old = DVACKeychainUtil::generateItem("key", "svc");
  old.accessible = sec::kSecAttrAccessibleWhenUnlocked;
  old.valueData = sec::Bytes{'o', 'l', 'd'};
  ASSERT_EQ(sec::SecItemAdd(old), sec::errSecSuccess);
  EXPECT_TRUE(DVACKeychainUtil::storeString("new", "key", "svc"));
  EXPECT_EQ(DVACKeychainUtil::stringForKey("key", "svc", nullptr), "new");
}

TEST_F(DVACKeychainUtilTest, MissingItemsGiveNilAndAWarning) {
  sec::OSStatus status = 0;
  EXPECT_EQ(DVACKeychainUtil::stringForKey("nothing", "svc", &status), std::nullopt);
  EXPECT_EQ(status, sec::errSecItemNotFound);
  EXPECT_TRUE(capture_.contains("[RedEvudud] WARNING: stringForKey/"));
  EXPECT_TRUE(capture_.contains(
      "Failed to retrieve item with key='nothing', service='svc' from keychain. OS Status code -25300"));

  const int writesBefore = store_->writes;
  EXPECT_EQ(DVACKeychainUtil::deleteStringForKey("nothing", "svc"), std::nullopt);
  EXPECT_EQ(store_->writes, writesBefore);  // no delete was attempted
}

TEST_F(DVACKeychainUtilTest, DeleteReturnsTheValue) {
  DVACKeychainUtil::storeString("v", "k");
  EXPECT_EQ(DVACKeychainUtil::deleteStringForKey("k"), "v");
  EXPECT_TRUE(capture_.contains("Deleted a string with key='k', service='" + DVACKeychainUtil::defaultServiceName() +
                                "' from keychain."));
  EXPECT_EQ(DVACKeychainUtil::stringForKey("k"), std::nullopt);
}

TEST_F(DVACKeychainUtilTest, StoreFailuresAreReportedWithTheStatus) {
  EXPECT_FALSE(DVACKeychainUtil::storeString("v", "k", std::string("bad\xFF")));
  EXPECT_TRUE(
      capture_.contains("Failed to store item with key='k', service='bad\xFF' to keychain. OS Status code -50"));
}

TEST_F(DVACKeychainUtilTest, ClearRemovesOnlyTheDefaultService) {
  DVACKeychainUtil::storeString("a", "k1");
  DVACKeychainUtil::storeString("b", "k2");
  DVACKeychainUtil::storeString("c", "k1", "other.service");
  EXPECT_TRUE(DVACKeychainUtil::clear());
  EXPECT_EQ(DVACKeychainUtil::stringForKey("k1"), std::nullopt);
  EXPECT_EQ(DVACKeychainUtil::stringForKey("k2"), std::nullopt);
  EXPECT_EQ(DVACKeychainUtil::stringForKey("k1", "other.service", nullptr), "c");
  EXPECT_FALSE(DVACKeychainUtil::clear());  // nothing left to delete
}

}  // namespace

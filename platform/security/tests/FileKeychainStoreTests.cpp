// What only the file backend does: persistence, file modes, atomic
// replacement, corrupt files and sharing a directory.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/security/FileKeychainStore.h"
#include "platform/foundation/TestSupport.h"
#include "platform/security/tests/TestBytes.h"

namespace {

namespace fs = std::filesystem;
using sec::Bytes;
using sec::SecItemQuery;

using sectest::bytesOf;

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

unsigned modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

std::vector<std::string> namesIn(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class SecFileKeychain : public ::testing::Test {
 protected:
  SecFileKeychain() : directory(std::filesystem::path(temp.path()) / "data" / "keychain") { reopen(); }

  void reopen() {
    store = std::make_shared<sec::FileKeychainStore>(directory);
    store->setCorruptionHandler(
        [this](const sec::KeychainCorruptionReport& report) { reports.push_back(report); });
  }

  sec::OSStatus add(const std::string& service, const std::string& account,
                    std::string_view value) {
    auto query = SecItemQuery::genericPassword(service, account);
    query.valueData = bytesOf(value);
    return store->add(query);
  }

  std::string find(const std::string& service, const std::string& account) {
    auto query = SecItemQuery::genericPassword(service, account);
    query.returnData = true;
    sec::SecItemResult result;
    const auto status = store->copyMatching(query, &result);
    if (status != sec::errSecSuccess) return "<" + std::to_string(status) + ">";
    return std::string(result.data()->begin(), result.data()->end());
  }

  fs::path fileOf(const std::string& service) {
    return directory / sec::FileKeychainStore::fileNameForService(service);
  }

  ns::test::TemporaryDirectory temp;
  fs::path directory;
  std::shared_ptr<sec::FileKeychainStore> store;
  std::vector<sec::KeychainCorruptionReport> reports;
};

TEST_F(SecFileKeychain, ItemsPersistAcrossReopen) {
  auto query = SecItemQuery::genericPassword("com.example.app.RedEvudud", "kDVEncryptionKeyTag");
  query.valueData = bytesOf("c2VjcmV0");
  query.accessible = sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
  ASSERT_EQ(store->add(query), sec::errSecSuccess);
  ASSERT_EQ(add("other", "k", "v"), sec::errSecSuccess);

  SecItemQuery everything;
  everything.matchLimit = sec::kSecMatchLimitAll;
  everything.returnData = true;
  sec::SecItemResult before;
  ASSERT_EQ(store->copyMatching(everything, &before), sec::errSecSuccess);

  reopen();
  sec::SecItemResult after;
  ASSERT_EQ(store->copyMatching(everything, &after), sec::errSecSuccess);
  EXPECT_EQ(after.items, before.items);
  ASSERT_EQ(after.items.size(), 2u);
  EXPECT_EQ(after.items[0].accessible, sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
  EXPECT_TRUE(reports.empty());
}

TEST_F(SecFileKeychain, FilesFollowTheDocumentedFormat) {
  ASSERT_EQ(add("svc", "key", "hello"), sec::errSecSuccess);
  EXPECT_EQ(namesIn(directory), (std::vector<std::string>{".lock", "service-svc.keychain"}));
  const auto document = nlohmann::json::parse(readText(fileOf("svc")));
  EXPECT_EQ(document["format"], "morvalent-keychain");
  EXPECT_EQ(document["version"], 1);
  EXPECT_EQ(document["service"], "svc");
  ASSERT_EQ(document["items"].size(), 1u);
  EXPECT_EQ(document["items"][0]["account"], "key");
  EXPECT_EQ(document["items"][0]["data"], "aGVsbG8=");
  EXPECT_EQ(document["items"][0]["accessible"], "WhenUnlocked");
  EXPECT_TRUE(document["items"][0]["created"].is_number_integer());
}

TEST_F(SecFileKeychain, DirectoryIs0700AndFilesAre0600WhateverTheUmask) {
  const mode_t saved = ::umask(0);
  const auto status = add("svc", "key", "v");
  ::umask(saved);
  ASSERT_EQ(status, sec::errSecSuccess);
  EXPECT_EQ(modeOf(directory), 0700u);
  EXPECT_EQ(modeOf(fileOf("svc")), 0600u);
  EXPECT_EQ(modeOf(directory / ".lock"), 0600u);

  // A directory made by hand with loose permissions is tightened on write.
  ::chmod(directory.c_str(), 0755);
  ASSERT_EQ(add("svc", "key2", "v"), sec::errSecSuccess);
  EXPECT_EQ(modeOf(directory), 0700u);
  EXPECT_EQ(modeOf(fileOf("svc")), 0600u);
}

TEST_F(SecFileKeychain, WritesLeaveNoTemporaryFilesAndEmptyServicesLeaveNoFile) {
  for (int i = 0; i < 5; ++i) ASSERT_EQ(add("svc", "k" + std::to_string(i), "v"), sec::errSecSuccess);
  sec::SecItemAttributes changes;
  changes.valueData = bytesOf("w");
  ASSERT_EQ(store->update(SecItemQuery::genericPassword("svc", "k1"), changes), sec::errSecSuccess);
  EXPECT_EQ(namesIn(directory), (std::vector<std::string>{".lock", "service-svc.keychain"}));

  SecItemQuery clear;
  clear.service = "svc";
  ASSERT_EQ(store->remove(clear), sec::errSecSuccess);
  EXPECT_EQ(namesIn(directory), std::vector<std::string>{".lock"});
}

TEST_F(SecFileKeychain, ReadingCreatesNothing) {
  EXPECT_EQ(find("svc", "key"), "<-25300>");
  EXPECT_FALSE(fs::exists(directory));
  EXPECT_EQ(store->remove(SecItemQuery::genericPassword("svc", "key")), sec::errSecItemNotFound);
}

TEST_F(SecFileKeychain, ServiceNamesNeverEscapeTheDirectory) {
  const std::string awkward[] = {"", ".", "..", "../../etc", "a/b", "with space", "100%"};
  for (const auto& service : awkward) {
    ASSERT_EQ(add(service, "key", service + "!"), sec::errSecSuccess) << service;
  }
  const std::string longName(300, 'x');
  ASSERT_EQ(add(longName, "key", "long"), sec::errSecSuccess);

  reopen();
  for (const auto& service : awkward) EXPECT_EQ(find(service, "key"), service + "!");
  EXPECT_EQ(find(longName, "key"), "long");
  EXPECT_EQ(sec::FileKeychainStore::fileNameForService("a/b"), "service-a%2Fb.keychain");
  EXPECT_EQ(sec::FileKeychainStore::fileNameForService(longName).size(),
            std::string("service-#.keychain").size() + 64);
  for (const auto& name : namesIn(directory)) {
    EXPECT_TRUE(name == ".lock" || name.starts_with("service-")) << name;
  }
  EXPECT_EQ(namesIn(std::filesystem::path(temp.path())), std::vector<std::string>{"data"});
}

TEST_F(SecFileKeychain, CorruptFileIsMovedAsideAndReported) {
  ASSERT_EQ(add("svc", "key", "v"), sec::errSecSuccess);
  writeText(fileOf("svc"), "{ this is not json");

  EXPECT_EQ(find("svc", "key"), "<-25300>");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].file, fileOf("svc"));
  EXPECT_EQ(reports[0].reason, "not valid JSON");
  ASSERT_FALSE(reports[0].movedTo.empty());
  EXPECT_EQ(readText(reports[0].movedTo), "{ this is not json");
  EXPECT_EQ(reports[0].movedTo.filename().string().rfind("service-svc.keychain.corrupt-", 0), 0u);
  EXPECT_FALSE(fs::exists(fileOf("svc")));

  // The service works again and the moved copy stays where it is.
  ASSERT_EQ(add("svc", "key", "fresh"), sec::errSecSuccess);
  EXPECT_EQ(find("svc", "key"), "fresh");
  EXPECT_EQ(reports.size(), 1u);
  EXPECT_TRUE(fs::exists(reports[0].movedTo));

  // A second corruption in the same second gets a name of its own.
  writeText(fileOf("svc"), "");
  EXPECT_EQ(find("svc", "key"), "<-25300>");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_NE(reports[1].movedTo, reports[0].movedTo);
  EXPECT_TRUE(fs::exists(reports[0].movedTo));
}

TEST_F(SecFileKeychain, MalformedDocumentsCountAsCorrupt) {
  const std::string item =
      R"({"account":"k","data":"dg==","accessible":"WhenUnlocked","created":1,"modified":2})";
  auto document = [&](const std::string& service, const std::string& items) {
    return R"({"format":"morvalent-keychain","version":1,"service":")" + service +
           R"(","items":[)" + items + "]}";
  };
  const std::string cases[] = {
      "[]",
      R"({"format":"other","version":1,"service":"svc","items":[]})",
      R"({"format":"morvalent-keychain","version":"1","service":"svc","items":[]})",
      R"({"format":"morvalent-keychain","version":1,"service":"svc","items":{}})",
      document("svc", "1"),
      document("svc", R"({"account":"k","data":"dg=","accessible":"WhenUnlocked","created":1,"modified":2})"),
      document("svc", R"({"account":"k","data":"dg==","accessible":"Sometimes","created":1,"modified":2})"),
      document("svc", R"({"account":"k","data":"dg==","accessible":"WhenUnlocked","created":"1","modified":2})"),
      document("svc", item + "," + item),
      document("elsewhere", item),
  };
  // Sanity: the well-formed document reads.
  fs::create_directories(directory);
  writeText(fileOf("svc"), document("svc", item));
  EXPECT_EQ(find("svc", "k"), "v");
  ASSERT_TRUE(reports.empty());

  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    reports.clear();
    writeText(fileOf("svc"), text);
    EXPECT_EQ(find("svc", "k"), "<-25300>");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].movedTo.empty());
    EXPECT_FALSE(fs::exists(fileOf("svc")));
  }
}

TEST_F(SecFileKeychain, ACorruptServiceDoesNotHideTheOthers) {
  ASSERT_EQ(add("good", "k", "v"), sec::errSecSuccess);
  ASSERT_EQ(add("bad", "k", "v"), sec::errSecSuccess);
  writeText(fileOf("bad"), "\x00\xff garbage");
  SecItemQuery everything;
  everything.matchLimit = sec::kSecMatchLimitAll;
  sec::SecItemResult result;
  ASSERT_EQ(store->copyMatching(everything, &result), sec::errSecSuccess);
  ASSERT_EQ(result.items.size(), 1u);
  EXPECT_EQ(result.items[0].service, "good");
  EXPECT_EQ(reports.size(), 1u);
}

TEST_F(SecFileKeychain, NewerFormatIsLeftAlone) {
  ASSERT_EQ(add("svc", "k", "v"), sec::errSecSuccess);
  const std::string future =
      R"({"format":"morvalent-keychain","version":2,"service":"svc","items":[]})";
  writeText(fileOf("svc"), future);
  EXPECT_EQ(find("svc", "k"), "<" + std::to_string(sec::errSecDecode) + ">");
  EXPECT_EQ(add("svc", "k2", "v"), sec::errSecDecode);
  EXPECT_EQ(readText(fileOf("svc")), future);
  EXPECT_TRUE(reports.empty());
}

TEST_F(SecFileKeychain, HandlerMayUseTheStore) {
  ASSERT_EQ(add("svc", "k", "v"), sec::errSecSuccess);
  writeText(fileOf("svc"), "nope");
  std::string seen;
  store->setCorruptionHandler([&](const sec::KeychainCorruptionReport&) {
    seen = find("svc", "k");  // would deadlock if called under the store's lock
  });
  EXPECT_EQ(find("svc", "k"), "<-25300>");
  EXPECT_EQ(seen, "<-25300>");
}

TEST_F(SecFileKeychain, UnusableDirectoriesGiveStatusesNotCrashes) {
  fs::create_directories(directory.parent_path());
  writeText(directory, "a file where the directory should be");
  EXPECT_EQ(add("svc", "k", "v"), sec::errSecIO);
  EXPECT_EQ(find("svc", "k"), "<" + std::to_string(sec::errSecIO) + ">");

  sec::FileKeychainStore nowhere{fs::path()};
  auto query = SecItemQuery::genericPassword("svc", "k");
  EXPECT_EQ(nowhere.add(query), sec::errSecNotAvailable);
  EXPECT_EQ(nowhere.copyMatching(query, nullptr), sec::errSecNotAvailable);
}

TEST_F(SecFileKeychain, StoresSharingADirectoryStayConsistent) {
  constexpr int kStores = 4;
  constexpr int kItems = 25;
  std::vector<std::thread> threads;
  for (int s = 0; s < kStores; ++s) {
    threads.emplace_back([this, s] {
      sec::FileKeychainStore own(directory);
      for (int i = 0; i < kItems; ++i) {
        auto query = SecItemQuery::genericPassword("shared", std::to_string(s) + "-" +
                                                                 std::to_string(i));
        query.valueData = bytesOf("v");
        EXPECT_EQ(own.add(query), sec::errSecSuccess);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  SecItemQuery everything;
  everything.service = "shared";
  everything.matchLimit = sec::kSecMatchLimitAll;
  sec::SecItemResult result;
  ASSERT_EQ(store->copyMatching(everything, &result), sec::errSecSuccess);
  EXPECT_EQ(result.items.size(), static_cast<std::size_t>(kStores * kItems));
  EXPECT_TRUE(reports.empty());
}

}  // namespace

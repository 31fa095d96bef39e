// The session login-items list: its calls, the file that keeps it, and what
// that file does with bad input.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/appkit/LSSharedFileList.h"
#include "platform/foundation/TestSupport.h"

using namespace appkit;
namespace fs = std::filesystem;

namespace {

ns::URL url(const std::string& text) { return *ns::URL::URLWithString(text); }

std::vector<std::string> urlsOf(const LSSharedFileListRef& list) {
  std::vector<std::string> out;
  auto snapshot = LSSharedFileListCopySnapshot(list);
  if (!snapshot) return {"<no snapshot>"};
  for (const auto& item : *snapshot) out.push_back(item->storedURL());
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class SessionLoginItems : public ::testing::Test {
 protected:
  ns::test::ScopedPathsRoot root;

  std::string file() const { return LSSharedFileListFileStore::defaultPath(kLSSharedFileListSessionLoginItems); }
  LSSharedFileListRef create() const {
    return LSSharedFileListCreate(nullptr, kLSSharedFileListSessionLoginItems, nullptr);
  }
  std::vector<std::string> directoryListing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(fs::path(file()).parent_path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

class MemoryList : public ::testing::Test {
 protected:
  void SetUp() override { LSSharedFileListSetStoreForTesting(kLSSharedFileListSessionLoginItems, store); }
  void TearDown() override { LSSharedFileListSetStoreForTesting(kLSSharedFileListSessionLoginItems, nullptr); }

  std::shared_ptr<LSSharedFileListMemoryStore> store =
      std::make_shared<LSSharedFileListMemoryStore>(LSSharedFileListEntries{
          {1, "file:///Applications/Mail.app/", std::nullopt}, {2, "file:///Applications/Notes.app/", "Notes"}});
  LSSharedFileListRef create() const {
    return LSSharedFileListCreate(nullptr, kLSSharedFileListSessionLoginItems, nullptr);
  }
};

}  // namespace

// ---------------------------------------------------------------- the calls

TEST_F(MemoryList, InsertsAfterAnItemInFrontAndAtTheEnd) {
  auto list = create();
  ASSERT_TRUE(list);
  auto items = *LSSharedFileListCopySnapshot(list);
  ASSERT_EQ(items.size(), 2u);
  auto a = LSSharedFileListInsertItemURL(list, items[0], std::nullopt, url("file:///A.app/"));
  auto b = LSSharedFileListInsertItemURL(list, kLSSharedFileListItemBeforeFirst, std::nullopt, url("file:///B.app/"));
  auto c = LSSharedFileListInsertItemURL(list, kLSSharedFileListItemLast, "C", url("file:///C.app/"));
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(urlsOf(list),
            (std::vector<std::string>{"file:///B.app/", "file:///Applications/Mail.app/", "file:///A.app/",
                                      "file:///Applications/Notes.app/", "file:///C.app/"}));
  // Fresh ids, unique in the list.
  EXPECT_EQ(a->id(), 3u);
  EXPECT_EQ(b->id(), 4u);
  EXPECT_EQ(c->id(), 5u);
  EXPECT_EQ(c->displayName(), "C");
}

TEST_F(MemoryList, AListedURLMovesInsteadOfBeingListedTwice) {
  auto list = create();
  auto items = *LSSharedFileListCopySnapshot(list);
  auto moved = LSSharedFileListInsertItemURL(list, kLSSharedFileListItemLast, std::nullopt,
                                             url("file:///Applications/Mail.app/"));
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->id(), 1u);
  EXPECT_EQ(urlsOf(list),
            (std::vector<std::string>{"file:///Applications/Notes.app/", "file:///Applications/Mail.app/"}));
  // Already in that place: nothing is written.
  const int writes = store->writeCount();
  EXPECT_TRUE(LSSharedFileListInsertItemURL(list, kLSSharedFileListItemLast, std::nullopt,
                                            url("file:///Applications/Mail.app/")));
  EXPECT_EQ(store->writeCount(), writes);
  // After itself: it stays where it is, and keeps its display name.
  items = *LSSharedFileListCopySnapshot(list);
  EXPECT_TRUE(LSSharedFileListInsertItemURL(list, items[0], std::nullopt, url("file:///Applications/Notes.app/")));
  EXPECT_EQ(store->entries()[0], (LSSharedFileListEntry{2, "file:///Applications/Notes.app/", "Notes"}));
}

TEST_F(MemoryList, StaleItemsNeitherPlaceNorRemoveAnythingElse) {
  auto list = create();
  auto items = *LSSharedFileListCopySnapshot(list);
  EXPECT_EQ(LSSharedFileListItemRemove(list, items[0]), kLSSharedFileListNoErr);
  EXPECT_EQ(LSSharedFileListItemRemove(list, items[0]), kLSSharedFileListErrItemNotFound);
  // After an item that is gone: at the end.
  EXPECT_TRUE(LSSharedFileListInsertItemURL(list, items[0], std::nullopt, url("file:///A.app/")));
  EXPECT_EQ(urlsOf(list), (std::vector<std::string>{"file:///Applications/Notes.app/", "file:///A.app/"}));

  // An id now worn by another entry does not make an old item remove it.
  store->setEntries({{1, "file:///Other.app/", std::nullopt}});
  EXPECT_EQ(LSSharedFileListItemRemove(list, items[0]), kLSSharedFileListErrItemNotFound);
  EXPECT_EQ(store->entries().size(), 1u);
}

TEST_F(MemoryList, PositionsNullAndForeignItemsAreRefused) {
  auto list = create();
  EXPECT_EQ(LSSharedFileListItemRemove(list, kLSSharedFileListItemBeforeFirst), kLSSharedFileListErrParam);
  EXPECT_EQ(LSSharedFileListItemRemove(list, nullptr), kLSSharedFileListErrParam);
  EXPECT_EQ(LSSharedFileListItemRemove(nullptr, (*LSSharedFileListCopySnapshot(list))[0]), kLSSharedFileListErrParam);
  EXPECT_FALSE(LSSharedFileListInsertItemURL(list, nullptr, std::nullopt, url("file:///A.app/")));
  EXPECT_FALSE(LSSharedFileListInsertItemURL(nullptr, kLSSharedFileListItemLast, std::nullopt, url("file:///A.app/")));
  EXPECT_FALSE(LSSharedFileListCopySnapshot(nullptr));

  auto foreign = std::make_shared<const LSSharedFileListItem>(
      nullptr, LSSharedFileListEntry{1, "file:///Applications/Mail.app/", std::nullopt});
  auto other = std::make_shared<LSSharedFileList>("Other", std::make_shared<LSSharedFileListMemoryStore>());
  auto otherItem = LSSharedFileListInsertItemURL(other, kLSSharedFileListItemLast, std::nullopt,
                                                 url("file:///Applications/Mail.app/"));
  ASSERT_TRUE(otherItem);
  EXPECT_EQ(LSSharedFileListItemRemove(list, otherItem), kLSSharedFileListErrParam);
  EXPECT_FALSE(LSSharedFileListInsertItemURL(list, otherItem, std::nullopt, url("file:///A.app/")));
  EXPECT_EQ(store->entries().size(), 2u);

  ns::Error error;
  EXPECT_FALSE(LSSharedFileListItemCopyResolvedURL(kLSSharedFileListItemLast, 0, &error));
  EXPECT_EQ(error.code, kLSSharedFileListErrParam);
}

TEST_F(MemoryList, FaultsOfTheStore) {
  store->setOpenFails(true);
  EXPECT_FALSE(create());
  store->setOpenFails(false);
  auto list = create();
  ASSERT_TRUE(list);

  store->setReadFails(true);
  EXPECT_FALSE(LSSharedFileListCopySnapshot(list));
  EXPECT_FALSE(LSSharedFileListInsertItemURL(list, kLSSharedFileListItemLast, std::nullopt, url("file:///A.app/")));
  store->setReadFails(false);

  auto items = *LSSharedFileListCopySnapshot(list);
  store->setWriteFails(true);
  EXPECT_FALSE(LSSharedFileListInsertItemURL(list, kLSSharedFileListItemLast, std::nullopt, url("file:///A.app/")));
  EXPECT_EQ(LSSharedFileListItemRemove(list, items[0]), kLSSharedFileListErrIO);
  EXPECT_EQ(store->entries().size(), 2u);
}

TEST(SharedFileList, OnlyTheSessionLoginItemsExist) {
  EXPECT_FALSE(LSSharedFileListCreate(nullptr, "RecentDocuments", nullptr));
  EXPECT_FALSE(LSSharedFileListCreate(nullptr, "", nullptr));
}

TEST(SharedFileList, ResolvingFollowsFilesThatExist) {
  ns::test::TemporaryDirectory dir;
  const fs::path real = fs::canonical(dir.path()) / "Real App.app";
  fs::create_directories(real);
  fs::create_directory_symlink(real, fs::path(dir.path()) / "Link.app");
  const auto item = [](const std::string& text) {
    return std::make_shared<const LSSharedFileListItem>(nullptr, LSSharedFileListEntry{1, text, std::nullopt});
  };
  const ns::URL realURL = ns::URL::fileURLWithPath(real.string(), true);

  // A link, or the directory without its trailing slash, resolves to the directory.
  EXPECT_EQ(
      LSSharedFileListItemCopyResolvedURL(item(ns::URL::fileURLWithPath(dir.path() + "/Link.app").absoluteString()), 0),
      realURL);
  EXPECT_EQ(LSSharedFileListItemCopyResolvedURL(item(ns::URL::fileURLWithPath(real.string()).absoluteString()), 0),
            realURL);
  // Nothing there, or not a file: the URL as stored.
  EXPECT_EQ(LSSharedFileListItemCopyResolvedURL(item("file:///Volumes/Gone/App.app/"), 0),
            url("file:///Volumes/Gone/App.app/"));
  EXPECT_EQ(LSSharedFileListItemCopyResolvedURL(item("https://example.com/app"), kLSSharedFileListNoUserInteraction),
            url("https://example.com/app"));
  // Text that is no URL does not resolve.
  ns::Error error;
  EXPECT_FALSE(LSSharedFileListItemCopyResolvedURL(item("not a url"), 0, &error));
  EXPECT_EQ(error.domain, LSSharedFileListErrorDomain);
  EXPECT_FALSE(LSSharedFileListItemCopyResolvedURL(item(""), 0));
}

// ---------------------------------------------------------------- the file

TEST_F(SessionLoginItems, TheListIsAFileThatOutlivesTheListObject) {
  auto list = create();
  ASSERT_TRUE(list);
  EXPECT_TRUE(LSSharedFileListCopySnapshot(list)->empty());
  EXPECT_FALSE(fs::exists(file()));
  ASSERT_TRUE(
      LSSharedFileListInsertItemURL(list, kLSSharedFileListItemBeforeFirst, std::nullopt, url("file:///A.app/")));
  ASSERT_TRUE(LSSharedFileListInsertItemURL(list, kLSSharedFileListItemLast, "B", url("file:///B.app/")));
  EXPECT_EQ(file(), root.root() + "/ApplicationSupport/com.morvalent.Morvalent/SimulatedSystem/sharedfilelist/"
                    "SessionLoginItems.json");

  auto again = create();
  EXPECT_EQ(urlsOf(again), (std::vector<std::string>{"file:///A.app/", "file:///B.app/"}));
  const auto document = nlohmann::json::parse(readFile(file()));
  EXPECT_EQ(document["items"][1]["name"], "B");
  // No temporary file is left beside it.
  EXPECT_EQ(directoryListing(), (std::vector<std::string>{".SessionLoginItems.json.lock", "SessionLoginItems.json"}));

  EXPECT_EQ(LSSharedFileListItemRemove(again, (*LSSharedFileListCopySnapshot(again))[0]), kLSSharedFileListNoErr);
  EXPECT_EQ(urlsOf(list), (std::vector<std::string>{"file:///B.app/"}));
}

TEST_F(SessionLoginItems, ARedirectedDirectoryIsFollowed) {
  auto list = create();
  ASSERT_TRUE(LSSharedFileListInsertItemURL(list, kLSSharedFileListItemLast, std::nullopt, url("file:///A.app/")));
  {
    ns::test::ScopedPathsRoot elsewhere;
    auto other = create();
    ASSERT_TRUE(other);
    EXPECT_TRUE(LSSharedFileListCopySnapshot(other)->empty());
  }
  EXPECT_EQ(urlsOf(list), (std::vector<std::string>{"file:///A.app/"}));
}

TEST_F(SessionLoginItems, WhatThisLayerDoesNotKnowIsKept) {
  writeFile(file(), R"({"owner": "someone", "items": [
      {"id": 7, "url": "file:///Keep.app/", "hidden": true, "bookmark": "AAAA"},
      {"id": 7, "url": "file:///Twin.app/"},
      {"url": 42, "name": "broken"},
      {"id": -3, "url": "file:///Negative.app/"}]})");
  auto list = create();
  auto items = *LSSharedFileListCopySnapshot(list);
  ASSERT_EQ(items.size(), 4u);
  // A repeated or unusable id gets the next free one, in file order.
  EXPECT_EQ(items[0]->id(), 7u);
  EXPECT_EQ(items[1]->id(), 8u);
  EXPECT_EQ(items[2]->id(), 9u);
  EXPECT_EQ(items[3]->id(), 10u);
  // An entry whose URL is not text stays listed and does not resolve.
  EXPECT_FALSE(LSSharedFileListItemCopyResolvedURL(items[2], 0));

  ASSERT_TRUE(LSSharedFileListInsertItemURL(list, items[0], std::nullopt, url("file:///New.app/")));
  const auto document = nlohmann::json::parse(readFile(file()));
  EXPECT_EQ(document["owner"], "someone");
  ASSERT_EQ(document["items"].size(), 5u);
  EXPECT_EQ(document["items"][0]["hidden"], true);
  EXPECT_EQ(document["items"][0]["bookmark"], "AAAA");
  EXPECT_EQ(document["items"][1]["url"], "file:///New.app/");
  EXPECT_EQ(document["items"][2]["id"], 8);
  EXPECT_EQ(document["items"][3]["url"], 42);
  EXPECT_EQ(document["items"][3]["name"], "broken");
  EXPECT_EQ(document["items"][4]["id"], 10);
  // The ids given at reading are now the file's.
  EXPECT_EQ((*LSSharedFileListCopySnapshot(list))[2]->id(), 8u);
}

TEST_F(SessionLoginItems, AMalformedFileIsMovedAsideAndReadsAsEmpty) {
  const std::vector<std::string> malformed = {
      "not json at all",
      "",
      "[1, 2, 3]",
      R"({"items": {"id": 1}})",
      R"({"items": [{"id": 1, "url": "file:///A.app/"}, "text"]})",
      std::string(200, '[') + std::string(200, ']'),
      "{\"items\": [{\"url\": \"file:///A.app/\"}]",  // cut short
  };
  for (const auto& text : malformed) {
    writeFile(file(), text);
    auto list = create();
    ASSERT_TRUE(list);
    auto snapshot = LSSharedFileListCopySnapshot(list);
    ASSERT_TRUE(snapshot) << text;
    EXPECT_TRUE(snapshot->empty()) << text;
    EXPECT_FALSE(fs::exists(file())) << text;
    EXPECT_EQ(readFile(file() + ".corrupt"), text);
    fs::remove(file() + ".corrupt");
  }
}

TEST_F(SessionLoginItems, EarlierMalformedFilesAreNotReplaced) {
  writeFile(file(), "first");
  auto list = create();
  // The next write finds the malformed file first: it is moved aside, then the new list is written.
  ASSERT_TRUE(LSSharedFileListInsertItemURL(list, kLSSharedFileListItemLast, std::nullopt, url("file:///A.app/")));
  EXPECT_EQ(readFile(file() + ".corrupt"), "first");
  EXPECT_EQ(urlsOf(list), (std::vector<std::string>{"file:///A.app/"}));

  writeFile(file(), "second");
  EXPECT_TRUE(LSSharedFileListCopySnapshot(list)->empty());
  EXPECT_EQ(readFile(file() + ".corrupt"), "first");
  EXPECT_EQ(readFile(file() + ".corrupt-1"), "second");
}

TEST_F(SessionLoginItems, AnOversizedFileIsNotAList) {
  std::string big = R"({"items": [], "padding": ")";
  big.append(LSSharedFileListFileStore::kMaximumFileSize, 'x');
  big += "\"}";
  writeFile(file(), big);
  auto list = create();
  EXPECT_TRUE(LSSharedFileListCopySnapshot(list)->empty());
  EXPECT_EQ(fs::file_size(file() + ".corrupt"), big.size());
}

TEST_F(SessionLoginItems, AFileThatCannotBeReadIsLeftAlone) {
  // A directory where the list's file should be.
  fs::create_directories(file());
  fs::create_directories(file() + "/inside");
  auto list = create();
  ASSERT_TRUE(list);
  EXPECT_FALSE(LSSharedFileListCopySnapshot(list));
  EXPECT_FALSE(LSSharedFileListInsertItemURL(list, kLSSharedFileListItemLast, std::nullopt, url("file:///A.app/")));
  EXPECT_TRUE(fs::is_directory(file() + "/inside"));
  EXPECT_FALSE(fs::exists(file() + ".corrupt"));
}

TEST_F(SessionLoginItems, NoListWhereItsDirectoryCannotBeMade) {
  const std::string directory = fs::path(file()).parent_path().string();
  fs::create_directories(fs::path(directory).parent_path());
  writeFile(directory, "a file, not a directory");
  EXPECT_FALSE(create());
  auto store = LSSharedFileListFileStore::atPath(directory + "/x.json");
  EXPECT_FALSE(store->open());
  EXPECT_EQ(store->update([](LSSharedFileListEntries&) { return true; }), kLSSharedFileListErrIO);
  EXPECT_EQ(readFile(directory), "a file, not a directory");
}

TEST_F(SessionLoginItems, AFixedPathStoreKeepsItsOwnFile) {
  const std::string path = root.root() + "/elsewhere/list.json";
  auto store = LSSharedFileListFileStore::atPath(path);
  ASSERT_TRUE(store->open());
  EXPECT_EQ(store->update([](LSSharedFileListEntries& e) {
    e.push_back({1, "file:///A.app/", std::nullopt});
    return true;
  }),
            kLSSharedFileListNoErr);
  EXPECT_EQ(store->read(), (LSSharedFileListEntries{{1, "file:///A.app/", std::nullopt}}));
  // A change that declines writes nothing.
  const auto before = fs::last_write_time(path);
  EXPECT_EQ(store->update([](LSSharedFileListEntries& e) {
    e.clear();
    return false;
  }),
            kLSSharedFileListNoErr);
  EXPECT_EQ(store->read()->size(), 1u);
  EXPECT_EQ(fs::last_write_time(path), before);
  EXPECT_FALSE(fs::exists(file()));
}

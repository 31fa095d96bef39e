#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/tests/DVACTestSupport.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestSupport.h"

namespace {

namespace fs = std::filesystem;

using dvac_test::bytes;

class DVACUtilityFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DVACLogger::resetForTesting();
    DVACUtility::resetRedEvududDirectoryForTesting();
  }
  void TearDown() override {
    DVACUtility::resetRedEvududDirectoryForTesting();
    DVACLogger::resetForTesting();
  }
  std::string sdkDirectory() const {
    return root_.root() + "/ApplicationSupport/" + ns::Bundle::main()->bundleIdentifier().value_or("(null)") +
           "/com.diruriduv.redevudud";
  }
  ns::test::ScopedPathsRoot root_;
};

TEST_F(DVACUtilityFileTest, DirectoryLivesUnderApplicationSupportAndIsCreatedAtOnce) {
  ns::URL url = DVACUtility::redEvududDirectoryURL();
  EXPECT_TRUE(url.isFileURL());
  EXPECT_EQ(url.path(), sdkDirectory());
  EXPECT_TRUE(fs::is_directory(sdkDirectory()));
  EXPECT_EQ(DVACUtility::redEvududDirectoryURL(), url);
  EXPECT_EQ(DVACUtility::fullURLForPathComponent("crashes/a.lqcrash")->path(), sdkDirectory() + "/crashes/a.lqcrash");
  EXPECT_FALSE(DVACUtility::fullURLForPathComponent(std::nullopt));
}

TEST_F(DVACUtilityFileTest, CreateWithoutForceKeepsAnExistingFile) {
  auto url = DVACUtility::createFileAtPathComponent("crasheslogbuffer/one", bytes("first"), true, false);
  ASSERT_TRUE(url);
  EXPECT_TRUE(DVACUtility::fileExistsForPathComponent("crasheslogbuffer/one"));
  EXPECT_EQ(DVACUtility::loadDataForPathComponent("crasheslogbuffer/one"), bytes("first"));

  auto again = DVACUtility::createFileAtPathComponent("crasheslogbuffer/one", bytes("second"), true, false);
  EXPECT_EQ(again, url);
  EXPECT_EQ(DVACUtility::loadDataForPathComponent("crasheslogbuffer/one"), bytes("first"));

  // Forced and without data: the file is emptied.
  EXPECT_EQ(DVACUtility::createFileAtPathComponent("crasheslogbuffer/one", std::nullopt, false, true), url);
  EXPECT_EQ(DVACUtility::loadDataForPathComponent("crasheslogbuffer/one"), ns::Data{});
  EXPECT_EQ(DVACUtility::createFileAtPathComponent("crasheslogbuffer/one", bytes("third"), true, true), url);
  EXPECT_EQ(DVACUtility::loadDataForPathComponent("crasheslogbuffer/one"), bytes("third"));
  // No temporary files left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(sdkDirectory() + "/crasheslogbuffer"), fs::directory_iterator{}), 1);
}

TEST_F(DVACUtilityFileTest, NilComponentsAreRefusedWithoutTouchingTheDisk) {
  EXPECT_FALSE(DVACUtility::createFileAtPathComponent(std::nullopt, bytes("x"), true, true));
  EXPECT_FALSE(DVACUtility::deleteItemForPathComponent(std::nullopt));
  EXPECT_FALSE(DVACUtility::deleteFileAtURL(std::nullopt));
  EXPECT_FALSE(DVACUtility::createDirectoryForPathComponent(std::nullopt));
  EXPECT_FALSE(DVACUtility::loadDataForPathComponent(std::nullopt));
  EXPECT_FALSE(DVACUtility::fileExistsForPathComponent(std::nullopt));
  EXPECT_FALSE(DVACUtility::createDirectoryAtURL(std::nullopt));
  EXPECT_FALSE(DVACUtility::disableBackupForDirectoryURL(std::nullopt));
  EXPECT_FALSE(DVACUtility::contentsOfDirectory(std::nullopt, {}));
  EXPECT_FALSE(DVACUtility::contentsOfDirectory("", {}));
  // Nothing was created: not even the SDK directory.
  EXPECT_FALSE(fs::exists(root_.root() + "/ApplicationSupport"));
}

TEST_F(DVACUtilityFileTest, ComponentsThatClimbOutAreRefused) {
  EXPECT_FALSE(DVACUtility::fullURLForPathComponent("../escape"));
  EXPECT_FALSE(DVACUtility::createFileAtPathComponent("crashes/../../escape", bytes("x"), true, true));
  EXPECT_FALSE(fs::exists(root_.root() + "/ApplicationSupport/escape"));
  EXPECT_TRUE(DVACUtility::fullURLForPathComponent("a..b/..c"));
}

TEST_F(DVACUtilityFileTest, ListsDeletesAndReportsFailures) {
  ASSERT_TRUE(DVACUtility::createDirectoryForPathComponent("crashes"));
  DVACUtility::createFileAtPathComponent("crashes/a", bytes("a"), false, true);
  DVACUtility::createFileAtPathComponent("crashes/b", bytes("b"), false, true);
  DVACUtility::createDirectoryForPathComponent("crashes/sub");
  auto entries = DVACUtility::contentsOfDirectory("crashes", {"NSURLCreationDateKey"});
  ASSERT_TRUE(entries);
  std::vector<std::string> names;
  for (const auto& url : *entries) names.push_back(url.lastPathComponent());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "sub"}));

  DVACLogger::setCurrentLogLevel(DVACLogLevelVerbose);
  ns::LogCapture capture;
  EXPECT_FALSE(DVACUtility::contentsOfDirectory("missing", {}));
  EXPECT_TRUE(capture.contains("Couldn't get files in the directory \"missing\": "));

  EXPECT_TRUE(DVACUtility::deleteFileAtURL(DVACUtility::fullURLForPathComponent("crashes/a")));
  EXPECT_FALSE(DVACUtility::fileExistsForPathComponent("crashes/a"));
  EXPECT_TRUE(DVACUtility::deleteItemForPathComponent("crashes"));  // a whole tree
  EXPECT_FALSE(DVACUtility::fileExistsForPathComponent("crashes"));

  capture.clear();
  EXPECT_FALSE(DVACUtility::deleteItemForPathComponent("crashes"));
  EXPECT_TRUE(capture.contains("Couldn't remove item at " +
                               DVACUtility::fullURLForPathComponent("crashes")->absoluteString() + ": "));
  EXPECT_FALSE(DVACUtility::loadDataForPathComponent("crashes"));
}

TEST_F(DVACUtilityFileTest, WriteFailuresAreLoggedAndGiveNil) {
  // A file where the parent folder should be.
  DVACUtility::createFileAtPathComponent("blocker", bytes("x"), true, true);
  DVACLogger::setCurrentLogLevel(DVACLogLevelVerbose);
  ns::LogCapture capture;
  EXPECT_FALSE(DVACUtility::createFileAtPathComponent("blocker/child", bytes("y"), true, true));
  EXPECT_TRUE(capture.contains("Couldn't create new file at path " +
                               DVACUtility::fullURLForPathComponent("blocker/child")->absoluteString()));
  EXPECT_TRUE(capture.contains("Couldn't create directory at "));
  EXPECT_FALSE(DVACUtility::createDirectoryForPathComponent("blocker/dir"));
}

TEST_F(DVACUtilityFileTest, CreateFileAtPathHonoursPermissions) {
  const std::string path = root_.root() + "/plain";
  ASSERT_TRUE(DVACUtility::createFileAtPath(path, bytes("abc"), {{"NSFilePosixPermissions", ns::Value(0600)}}));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_size, 3);
  EXPECT_FALSE(DVACUtility::createFileAtPath(root_.root() + "/no/such/dir/file", bytes("abc")));
}

TEST_F(DVACUtilityFileTest, ConcurrentWritersNeverInterleave) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 25; ++i) {
        DVACUtility::createFileAtPathComponent("shared/file", ns::Data(4096, static_cast<uint8_t>('a' + t)), true,
                                               true);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  auto data = DVACUtility::loadDataForPathComponent("shared/file");
  ASSERT_TRUE(data);
  ASSERT_EQ(data->size(), 4096u);
  EXPECT_TRUE(std::all_of(data->begin(), data->end(), [&](uint8_t b) { return b == data->front(); }));
}

}  // namespace

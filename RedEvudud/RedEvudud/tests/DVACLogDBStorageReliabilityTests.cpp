#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "RedEvudud/RedEvudud/Internals/Storage/DVACLogDBStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/tests/DVACLogDBStorageTestLogs.h"
#include "RedEvudud/RedEvudud/tests/DVACStorageTestSupport.h"
#include "platform/security/FileKeychainStore.h"
#include "platform/security/Keychain.h"

extern char** environ;

namespace {

using dvac_test::commonSchemaLog;
using dvac_test::LogRecorder;
using dvac_test::payloadOf;
using dvac_test::testLog;

constexpr const char* kChildRootVariable = "DVAC_STORE_CHILD_ROOT";
constexpr const char* kChildStartVariable = "DVAC_STORE_CHILD_START";
constexpr int kChildAcknowledgementFd = 3;
constexpr const char* kChildGroup = "Crashes";

// The content of the i-th log the writer saves; the reader checks it.
std::string childPayload(int i) {
  return "log-" + std::to_string(i) + "-" + std::string(40 + (i * 37) % 900, static_cast<char>('a' + i % 26));
}
bool childLogHasToken(int i) { return i % 4 == 0; }
std::string childToken(int i) { return "key" + std::to_string(i % 3) + "-token-" + std::to_string(i); }

std::shared_ptr<sec::KeychainStore> keychainUnder(const std::string& root) {
  return std::make_shared<sec::FileKeychainStore>(std::filesystem::path(root) / "keychain");
}

bool writeAll(int fd, const void* bytes, size_t size) {
  const auto* p = static_cast<const char*>(bytes);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Folds the store's log into its file for ever, as another connection may,
// so that kills land during checkpoints too (besides the store's own).
void checkpointForEver(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return;
  sqlite3_busy_timeout(db, 2000);
  for (;;) {
    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    std::this_thread::yield();
  }
}

// Run in a process of its own by the kill test: saves logs for ever and
// reports the index of every save that returned true through fd 3.
TEST(DVACLogDBStorageChildProcess, WritesLogsUntilKilled) {
  const char* root = std::getenv(kChildRootVariable);
  const char* start = std::getenv(kChildStartVariable);
  if (!root || !start) GTEST_SKIP() << "only runs as the kill test's writer";
  dvac_test::registerStoreTestLogs();
  ns::paths::setRootForTesting(std::string(root));
  DVACUtility::resetRedEvududDirectoryForTesting();
  sec::setCurrentKeychain(keychainUnder(root));
  ns::test::ScopedStandardDefaults defaults;

  auto storage = DVACLogDBStorage::create();
  std::thread(checkpointForEver, storage->dbFileURL()->path()).detach();
  for (int32_t i = std::atoi(start);; ++i) {
    std::shared_ptr<DVACLog> log = childLogHasToken(i)
                                       ? std::shared_ptr<DVACLog>(commonSchemaLog(childPayload(i), {childToken(i)}))
                                       : std::shared_ptr<DVACLog>(testLog(childPayload(i)));
    const DVACLogFlags flags = i % 2 ? DVACLogFlagsNormal : DVACLogFlagsCritical;
    if (storage->saveLog(log, kChildGroup, flags)) {
      ASSERT_TRUE(writeAll(kChildAcknowledgementFd, &i, sizeof i));
    }
  }
}

class DVACLogDBStorageReliabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dvac_test::registerStoreTestLogs();
    DVACRedEvududUserDefaults::resetSharedInstance();
    sec::setCurrentKeychain(keychainUnder(*ns::paths::rootForTesting()));
  }
  void TearDown() override {
    sec::setCurrentKeychain(nullptr);
    DVACRedEvududUserDefaults::resetSharedInstance();
  }

  ns::test::ScopedStandardDefaults defaults_;
  dvac_test::ScopedSdkDirectory sdk_;
  LogRecorder log_;
};

// Starts the writer; returns its pid and the read end of its reports.
pid_t spawnWriter(const std::string& root, int start, int* readFd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  // A small pipe keeps the writer close behind the reports read: it blocks
  // rather than filling the store while the kill is pending.
  ::fcntl(fds[0], F_SETPIPE_SZ, 4096);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], kChildAcknowledgementFd);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);

  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) environment.emplace_back(*e);
  environment.push_back(std::string(kChildRootVariable) + "=" + root);
  environment.push_back(std::string(kChildStartVariable) + "=" + std::to_string(start));
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe";
  std::string filter = "--gtest_filter=DVACLogDBStorageChildProcess.WritesLogsUntilKilled";
  char* argv[] = {exe.data(), filter.data(), nullptr};

  pid_t pid = -1;
  int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return -1;
  }
  *readFd = fds[0];
  return pid;
}

// Reads one report; false at the end of the stream.
bool readAcknowledgement(int fd, int32_t* index) {
  auto* p = reinterpret_cast<char*>(index);
  size_t got = 0;
  while (got < sizeof *index) {
    ssize_t n = ::read(fd, p + got, sizeof *index - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

TEST_F(DVACLogDBStorageReliabilityTest, EverySaveThatReturnedSurvivesASigkill) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const std::string root = *ns::paths::rootForTesting();

  std::set<int32_t> acknowledged;
  int next = 0;
  for (int round = 0; round < 3; ++round) {
    const int killAfter = std::uniform_int_distribution<int>(3, 30)(random);
    int readFd = -1;
    const pid_t pid = spawnWriter(root, next, &readFd);
    ASSERT_GT(pid, 0);
    int32_t index = 0;
    int received = 0;
    while (received < killAfter && readAcknowledgement(readFd, &index)) {
      acknowledged.insert(index);
      ++received;
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // Reports written before the kill still count.
    while (readAcknowledgement(readFd, &index)) acknowledged.insert(index);
    ::close(readFd);
    ASSERT_EQ(received, killAfter) << "the writer stopped by itself in round " << round;
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    next = *acknowledged.rbegin() + 2;  // skip the save that may have been cut
  }

  auto storage = DVACLogDBStorage::create();
  EXPECT_FALSE(log_.contains("is damaged"));
  std::map<std::string, std::shared_ptr<DVACLog>> stored;
  storage->loadLogsWithGroupId(kChildGroup, std::numeric_limits<size_t>::max(), std::nullopt,
                               [&](const DVACStorageLogArray& logs, const std::optional<std::string>&) {
                                 for (const auto& log : logs) {
                                   EXPECT_TRUE(stored.emplace(payloadOf(log), log).second) << "twice";
                                 }
                               });
  EXPECT_FALSE(log_.contains("Deserialization failed"));
  EXPECT_FALSE(log_.contains("Failed to decrypt"));
  for (int32_t i : acknowledged) {
    auto it = stored.find(childPayload(i));
    ASSERT_NE(it, stored.end()) << "acknowledged log " << i << " is missing";
    if (childLogHasToken(i)) {
      auto tokens = it->second->transmissionTargetTokens();
      ASSERT_TRUE(tokens);
      EXPECT_EQ(*tokens, std::set<std::string>{childToken(i)});
    }
  }
  // At most the one save per round that was cut short may be there unreported.
  EXPECT_LE(stored.size(), acknowledged.size() + 3);
  dvac_test::RawDatabase raw(sdk_.pathOf("Logs.sqlite"));
  EXPECT_EQ(raw.texts("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_EQ(raw.texts("PRAGMA journal_mode"), std::vector<std::string>{"wal"});
}

TEST_F(DVACLogDBStorageReliabilityTest, ConcurrentSavesLoadsAndDeletesStayConsistent) {
  auto storage = DVACLogDBStorage::create();
  constexpr int kWriters = 4;
  constexpr int kLogsPerWriter = 25;
  constexpr int kOtherGroupLogs = 20;
  std::atomic<int> writersRunning{kWriters + 1};
  std::mutex seenMutex;
  std::multiset<std::string> sent;
  std::multiset<std::string> deletedWithGroup;

  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kLogsPerWriter; ++i) {
        const std::string payload = "w" + std::to_string(w) + "-" + std::to_string(i);
        std::shared_ptr<DVACLog> log =
            i % 3 == 0 ? std::shared_ptr<DVACLog>(commonSchemaLog(payload, {"k" + std::to_string(w) + "-t"}))
                       : std::shared_ptr<DVACLog>(testLog(payload));
        EXPECT_TRUE(storage->saveLog(log, "Analytics", i % 2 ? DVACLogFlagsNormal : DVACLogFlagsCritical));
      }
      --writersRunning;
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < kOtherGroupLogs; ++i) {
      EXPECT_TRUE(storage->saveLog(testLog("other-" + std::to_string(i)), "Analytics_other", DVACLogFlagsNormal));
    }
    --writersRunning;
  });
  for (int s = 0; s < 2; ++s) {
    threads.emplace_back([&] {
      while (true) {
        const bool writing = writersRunning.load() > 0;
        std::vector<std::string> payloads;
        std::optional<std::string> batch;
        storage->loadLogsWithGroupId("Analytics", 7, std::nullopt,
                                     [&](const DVACStorageLogArray& logs, const std::optional<std::string>& batchId) {
                                       for (const auto& log : logs) payloads.push_back(payloadOf(log));
                                       batch = batchId;
                                     });
        {
          std::lock_guard<std::mutex> lock(seenMutex);
          sent.insert(payloads.begin(), payloads.end());
        }
        if (batch) storage->deleteLogsWithBatchId(*batch, "Analytics");
        if (!writing && payloads.empty()) break;
        std::this_thread::yield();
      }
    });
  }
  threads.emplace_back([&] {
    while (true) {
      const bool writing = writersRunning.load() > 0;
      auto logs = storage->deleteLogsWithGroupId("Analytics_other");
      storage->countLogs();
      {
        std::lock_guard<std::mutex> lock(seenMutex);
        for (const auto& log : logs) deletedWithGroup.insert(payloadOf(log));
      }
      if (!writing) break;
      std::this_thread::yield();
    }
  });
  for (auto& t : threads) t.join();

  std::multiset<std::string> expected;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kLogsPerWriter; ++i) expected.insert("w" + std::to_string(w) + "-" + std::to_string(i));
  }
  EXPECT_EQ(sent, expected);  // every log handed out exactly once
  std::multiset<std::string> expectedOther;
  for (int i = 0; i < kOtherGroupLogs; ++i) expectedOther.insert("other-" + std::to_string(i));
  EXPECT_EQ(deletedWithGroup, expectedOther);
  EXPECT_EQ(storage->countLogs(), 0u);
  EXPECT_EQ(storage->pendingBatchCount(), 0u);
  EXPECT_FALSE(log_.contains("Failed to", DVACLogLevelError));
  EXPECT_FALSE(log_.contains("database is locked"));
}

}  // namespace

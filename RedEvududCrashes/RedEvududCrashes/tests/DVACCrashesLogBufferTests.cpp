// The crash-time log buffer: which slot a prepared log takes, clearing once
// it is stored, the dump that a crash runs, and the replay at the next start.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACEncrypter.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACHandledErrorLog.h"
#include "RedEvududCrashes/RedEvududCrashes/tests/DVACCrashesTestSupport.h"

namespace {

using namespace dvac_crashes_test;

std::shared_ptr<DVACLogWithProperties> event(int n) {
  auto log = std::make_shared<DVACLogWithProperties>();
  log->setType(std::string("event"));
  log->setTimestamp(ns::Date(1700000000 + n));
  log->setDevice(testDevice());
  log->setSid(std::string("s"));
  log->setProperties(DVACPropertiesDictionary{{"n", std::to_string(n)}});
  return log;
}

int numberOf(const std::shared_ptr<DVACLog>& log) {
  auto withProperties = std::dynamic_pointer_cast<DVACLogWithProperties>(log);
  return withProperties && withProperties->properties() ? std::stoi(withProperties->properties()->at("n")) : -1;
}

int numberInSlot(int slot) {
  auto data = DVACCrashesBufferedLogBuffer(slot);
  if (data.empty()) return -1;
  auto value = DVACUtility::unarchiveKeyedData(data);
  return value ? numberOf(value->objectAs<DVACLog>()) : -2;
}

class DVACCrashesLogBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    crashes_ = DVACCrashes::sharedInstance();
    group_ = std::make_shared<RecordingGroup>();
    unit_ = std::static_pointer_cast<RecordingUnit>(group_->addChannelUnitWithConfiguration(
        DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Analytics")));
    dispatch::Scheduler::shared().runUntilIdle();  // the buffer files exist
  }
  // The slot's file, by index.
  std::string bufferFile(int i) const {
    return environment_.sdkPath("crasheslogbuffer/" + std::to_string(i) + ".dvcrasheslogbuffer");
  }
  std::string tokenFile(int i) const {
    return environment_.sdkPath("crasheslogbuffer/" + std::to_string(i) + ".targettoken");
  }
  void prepare(const std::shared_ptr<DVACLog>& log, const std::string& internalId) {
    crashes_->channelDidPrepareLog(unit_, log, internalId, DVACLogFlagsNormal);
  }
  void stored(const std::shared_ptr<DVACLog>& log, const std::string& internalId) {
    crashes_->channelDidCompleteEnqueueingLogWithStoreResult(unit_, log, internalId, DVACLogStoreResult::stored);
  }
  // The next launch on the same files: its service, started on a new group.
  std::pair<std::shared_ptr<DVACCrashes>, std::shared_ptr<RecordingGroup>> relaunch() {
    DVACCrashesLogBufferResetForTesting();
    DVACCrashes::resetSharedInstance();
    auto next = DVACCrashes::sharedInstance();
    dispatch::Scheduler::shared().runUntilIdle();
    auto group = std::make_shared<RecordingGroup>();
    next->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
    return {next, group};
  }

  CrashesEnvironment environment_;
  std::shared_ptr<DVACCrashes> crashes_;
  std::shared_ptr<RecordingGroup> group_;
  std::shared_ptr<RecordingUnit> unit_;
};

TEST_F(DVACCrashesLogBufferTest, SetUpGivesEverySlotItsFilesAndCreatesThemEmpty) {
  for (int i : {0, 59}) {
    EXPECT_EQ(bufferFile(i), *DVACCrashesBufferedLogBufferPath(i));
    EXPECT_EQ(tokenFile(i), *DVACCrashesBufferedLogTargetTokenPath(i));
    EXPECT_TRUE(DVACCrashesBufferedLogIsFree(i));
    ASSERT_TRUE(std::filesystem::exists(bufferFile(i)));
    EXPECT_EQ(0u, std::filesystem::file_size(bufferFile(i)));
  }
}

TEST_F(DVACCrashesLogBufferTest, APreparedLogTakesTheFirstFreeSlotUntilItIsStored) {
  prepare(event(1), "id-1");
  prepare(event(2), "id-2");
  EXPECT_EQ(1, numberInSlot(0));
  EXPECT_EQ(2, numberInSlot(1));
  EXPECT_EQ("id-2", DVACCrashesBufferedLogInternalId(1));
  stored(event(1), "id-1");
  EXPECT_TRUE(DVACCrashesBufferedLogIsFree(0));
  EXPECT_EQ(0, DVACCrashesBufferedLogTimestamp(0));
  // The first free slot wins, even before an older occupied one.
  prepare(event(3), "id-3");
  EXPECT_EQ(3, numberInSlot(0));
  EXPECT_EQ(2, numberInSlot(1));
}

TEST_F(DVACCrashesLogBufferTest, AFullBufferOverwritesTheOldestSlot) {
  for (int i = 0; i < kDVACCrashesLogBufferSize; ++i) prepare(event(i), "id-" + std::to_string(i));
  // Make slot 7 the oldest; slots 20 and 30 share the next-oldest time.
  for (int i = 0; i < kDVACCrashesLogBufferSize; ++i) {
    double time = 2000.0;
    if (i == 7) time = 1000.0;
    DVACCrashesBufferedLogFill(i, DVACCrashesBufferedLogBuffer(i), "", DVACCrashesBufferedLogInternalId(i),
                               i == 20 || i == 30 ? 1500.0 : time);
  }
  LogRecorder recorder;
  prepare(event(100), "id-100");
  EXPECT_EQ(100, numberInSlot(7));
  EXPECT_TRUE(recorder.contains("Reached end of buffer. Next step is overwriting the oldest one."));
  EXPECT_TRUE(recorder.contains("Overwrote buffered log at index 7."));
  prepare(event(101), "id-101");
  EXPECT_EQ(101, numberInSlot(20));
  prepare(event(102), "id-102");
  EXPECT_EQ(102, numberInSlot(30));
}

TEST_F(DVACCrashesLogBufferTest, CrashLogsAndAttachmentsAreNeverBufferedAndAnOffServiceBuffersNothing) {
  auto attachment = DVACErrorAttachmentLog::attachmentWithText(std::string("x"), std::nullopt);
  prepare(std::make_shared<DVACAppleErrorLog>(), "a");
  prepare(attachment, "b");
  prepare(nullptr, "c");
  EXPECT_TRUE(DVACCrashesBufferedLogIsFree(0));
  auto handled = std::make_shared<DVACHandledErrorLog>();
  handled->errorId = "E";
  prepare(handled, "d");
  EXPECT_FALSE(DVACCrashesBufferedLogIsFree(0));

  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(false), "CrashesIsEnabled");
  prepare(event(1), "e");
  EXPECT_TRUE(DVACCrashesBufferedLogIsFree(1));
}

TEST_F(DVACCrashesLogBufferTest, TheTokenIsKeptEncryptedAndOverwrittenWithTheSlot) {
  auto withToken = event(1);
  withToken->addTransmissionTargetToken("token-a");
  prepare(withToken, "id-1");
  const std::string encrypted = DVACCrashesBufferedLogTargetToken(0);
  ASSERT_FALSE(encrypted.empty());
  EXPECT_EQ("token-a", *crashes_->targetTokenEncrypter()->decryptString(encrypted));
  // Overwriting the slot with a log without a token leaves no token.
  for (int i = 1; i < kDVACCrashesLogBufferSize; ++i) prepare(event(i + 1), "id-" + std::to_string(i + 1));
  DVACCrashesBufferedLogFill(0, DVACCrashesBufferedLogBuffer(0), encrypted, "id-1", 1.0);
  prepare(event(99), "id-99");
  EXPECT_EQ(99, numberInSlot(0));
  EXPECT_EQ("", DVACCrashesBufferedLogTargetToken(0));
}

TEST_F(DVACCrashesLogBufferTest, TheDumpWritesEverySlotAndTheNextStartReplaysIt) {
  auto withTokens = event(1);
  withTokens->addTransmissionTargetToken("token-a");
  withTokens->addTransmissionTargetToken("token-b");
  prepare(withTokens, "id-1");
  prepare(event(2), "id-2");
  EXPECT_EQ(0, DVACCrashesSaveLogBuffer());
  EXPECT_EQ(1, DVACCrashesBufferDumped.load());
  const std::string dumped = readText(bufferFile(0));
  EXPECT_EQ(DVACCrashesBufferedLogBuffer(0), ns::Data(dumped.begin(), dumped.end()));
  EXPECT_GT(std::filesystem::file_size(bufferFile(1)), 0u);
  EXPECT_EQ(0u, std::filesystem::file_size(bufferFile(59)));
  EXPECT_TRUE(std::filesystem::exists(tokenFile(0)));
  EXPECT_FALSE(std::filesystem::exists(tokenFile(1)));

  // After the dump, a log that reaches the store takes its file with it.
  stored(event(2), "id-2");
  EXPECT_FALSE(std::filesystem::exists(bufferFile(1)));

  auto [next, group] = relaunch();
  auto buffer = group->unit("CrashesBuffer");
  ASSERT_TRUE(buffer);
  auto replayed = buffer->enqueued();
  ASSERT_EQ(1u, replayed.size());
  EXPECT_EQ(1, numberOf(replayed[0].log));
  EXPECT_EQ(DVACLogFlagsNormal, replayed[0].flags);
  // It keeps what it had, and one of its tokens.
  EXPECT_EQ(ns::Date(1700000001), *replayed[0].log->timestamp());
  EXPECT_EQ("s", *replayed[0].log->sid());
  ASSERT_TRUE(replayed[0].log->transmissionTargetTokens());
  EXPECT_EQ((std::set<std::string>{"token-a"}), *replayed[0].log->transmissionTargetTokens());
  // Replayed logs are buffered again; the file and its token stay until the store has the log.
  EXPECT_EQ(1, numberInSlot(0));
  EXPECT_TRUE(std::filesystem::exists(tokenFile(0)));
  EXPECT_EQ(dumped, readText(bufferFile(0)));
  buffer->completeEnqueueing();
  EXPECT_TRUE(DVACCrashesBufferedLogIsFree(0));
  EXPECT_FALSE(std::filesystem::exists(tokenFile(0)));
  EXPECT_EQ(0u, std::filesystem::file_size(bufferFile(0)));

  // A second replay finds nothing more to send.
  next->updateConfigurationWithAppSecret(std::string("secret"), std::nullopt);
  EXPECT_EQ(2u, group->unitCount("CrashesBuffer"));
  EXPECT_TRUE(group->unit("CrashesBuffer")->enqueued().empty());
}

// A log the store did not take, though it was wanted, keeps its slot and the file it was replayed from, with its token:
// a second replay in the same launch leaves them alone, the next launch replays the file. A log dropped on purpose
// takes both with it.
TEST_F(DVACCrashesLogBufferTest, ABufferedLogStaysUntilTheStoreHasIt) {
  const std::string encrypted = *crashes_->targetTokenEncrypter()->encryptString("token-a");
  const auto archive = DVACUtility::archiveKeyedData(ns::Value(std::static_pointer_cast<DVACLog>(event(5))));
  const std::string bytes(archive->begin(), archive->end());
  for (const bool kept : {false, true}) {
    SCOPED_TRACE(kept);
    std::ofstream(bufferFile(5), std::ios::binary) << bytes;
    std::ofstream(tokenFile(5)) << encrypted;
    auto [crashes, group] = relaunch();
    ASSERT_EQ(1u, group->unit("CrashesBuffer")->enqueued().size());
    group->unit("CrashesBuffer")
        ->completeEnqueueing(kept ? DVACLogStoreResult::notStored : DVACLogStoreResult::dropped);
    crashes->updateConfigurationWithAppSecret(std::string("secret"), std::nullopt);
    EXPECT_TRUE(group->unit("CrashesBuffer")->enqueued().empty());
    EXPECT_EQ(kept ? 5 : -1, numberInSlot(0));
    EXPECT_EQ(kept ? bytes : "", readText(bufferFile(5)));
    EXPECT_EQ(kept, std::filesystem::exists(tokenFile(5)));
  }
  auto replayed = relaunch().second->unit("CrashesBuffer")->enqueued();
  ASSERT_EQ(1u, replayed.size());
  EXPECT_EQ(5, numberOf(replayed[0].log));
  EXPECT_EQ((std::set<std::string>{"token-a"}), *replayed[0].log->transmissionTargetTokens());
}

TEST_F(DVACCrashesLogBufferTest, UndecodableFilesStayAndUndecryptableTokensAreDropped) {
  std::ofstream(bufferFile(4)) << "not an archive";
  auto archive = DVACUtility::archiveKeyedData(ns::Value(std::static_pointer_cast<DVACLog>(event(5))));
  std::ofstream(bufferFile(5), std::ios::binary).write(reinterpret_cast<const char*>(archive->data()),
                                                       static_cast<std::streamsize>(archive->size()));
  std::ofstream(tokenFile(5)) << "garbage";
  LogRecorder recorder;
  auto group = std::make_shared<RecordingGroup>();
  crashes_->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
  EXPECT_TRUE(recorder.contains("Deserialization failed for log: The log deserialized to NULL.", DVACLogLevelError));
  EXPECT_TRUE(recorder.contains("Failed to decrypt the target token.", DVACLogLevelError));
  EXPECT_EQ("not an archive", readText(bufferFile(4)));
  auto replayed = group->unit("CrashesBuffer")->enqueued();
  ASSERT_EQ(1u, replayed.size());
  EXPECT_FALSE(replayed[0].log->transmissionTargetTokens());
  EXPECT_FALSE(std::filesystem::exists(tokenFile(5)));
}

TEST_F(DVACCrashesLogBufferTest, ADumpWithNothingBufferedWritesSixtyEmptyFiles) {
  std::filesystem::remove_all(environment_.sdkPath("crasheslogbuffer"));
  std::filesystem::create_directories(environment_.sdkPath("crasheslogbuffer"));
  EXPECT_EQ(0, DVACCrashesSaveLogBuffer());
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(environment_.sdkPath("crasheslogbuffer"))) {
    EXPECT_EQ(".dvcrasheslogbuffer", entry.path().extension().string());
    EXPECT_EQ(0u, entry.file_size());
    ++files;
  }
  EXPECT_EQ(60u, files);
  // A file that cannot be written is skipped; the others are still written.
  std::filesystem::remove(bufferFile(3));
  std::filesystem::create_directory(bufferFile(3));
  EXPECT_EQ(1, DVACCrashesSaveLogBuffer());
}

TEST_F(DVACCrashesLogBufferTest, EmptyingOnDisableTruncatesTheLogsAndRemovesTheirTokens) {
  std::ofstream(bufferFile(2)) << "abc";
  std::ofstream(tokenFile(2)) << "tok";
  prepare(event(1), "id-1");
  crashes_->emptyLogBufferFiles();
  EXPECT_EQ(0u, std::filesystem::file_size(bufferFile(2)));
  EXPECT_FALSE(std::filesystem::exists(tokenFile(2)));
  EXPECT_FALSE(DVACCrashesBufferedLogIsFree(0));

  std::filesystem::remove_all(environment_.sdkPath("crasheslogbuffer"));
  LogRecorder recorder;
  crashes_->emptyLogBufferFiles();
  EXPECT_TRUE(recorder.contains("Couldn't get files in the directory \"crasheslogbuffer\"", DVACLogLevelError));
}

// A token file outlives neither its log nor its slot: a later log without a
// token that lands in the same slot is never replayed with it.
TEST_F(DVACCrashesLogBufferTest, ATokenNeverOutlivesItsLog) {
  auto withToken = event(1);
  withToken->addTransmissionTargetToken("token-a");
  prepare(withToken, "id-1");
  prepare(withToken, "id-2");
  EXPECT_EQ(0, DVACCrashesSaveLogBuffer());
  ASSERT_TRUE(std::filesystem::exists(tokenFile(0)));
  ASSERT_TRUE(std::filesystem::exists(tokenFile(1)));
  // Stored after the dump: the log's files go, its token with them.
  stored(withToken, "id-2");
  EXPECT_FALSE(std::filesystem::exists(tokenFile(1)));
  // Slot 0 is dumped again, now holding a log without a token, beside the
  // token file of an earlier dump.
  stored(withToken, "id-1");
  prepare(event(2), "id-3");
  const std::string encrypted = *crashes_->targetTokenEncrypter()->encryptString("token-a");
  std::ofstream(tokenFile(0)) << encrypted;
  EXPECT_EQ(0, DVACCrashesSaveLogBuffer());
  EXPECT_FALSE(std::filesystem::exists(tokenFile(0)));
  std::ofstream(tokenFile(1)) << encrypted;

  // The next launch: slot 0's log comes back without a token, and the token
  // beside the empty slot 1 is removed instead of waiting for the next log.
  auto group = relaunch().second;
  auto replayed = group->unit("CrashesBuffer")->enqueued();
  ASSERT_EQ(1u, replayed.size());
  EXPECT_EQ(2, numberOf(replayed[0].log));
  EXPECT_FALSE(replayed[0].log->transmissionTargetTokens());
  EXPECT_FALSE(std::filesystem::exists(tokenFile(1)));
}

// A slot rewritten on another thread while the dump reads it: the dump sees
// one whole record or the other, never a torn or freed one.
TEST_F(DVACCrashesLogBufferTest, TheDumpReadsWholeRecordsWhileSlotsChange) {
  const ns::Data a(512, 'a');
  const ns::Data b(1024, 'b');
  std::atomic<bool> stop{false};
  // Bounded: once a dump has begun, replaced records are kept, not freed.
  std::thread writer([&] {
    for (int i = 0; i < 20000 && !stop.load(); ++i) DVACCrashesBufferedLogFill(0, i % 2 ? a : b, "", "id", 1.0);
  });
  for (int round = 0; round < 50; ++round) {
    DVACCrashesSaveLogBuffer();
    const std::string text = readText(bufferFile(0));
    ASSERT_TRUE(text == std::string(a.begin(), a.end()) || text == std::string(b.begin(), b.end()) || text.empty())
        << text.size();
  }
  stop = true;
  writer.join();
}

}  // namespace

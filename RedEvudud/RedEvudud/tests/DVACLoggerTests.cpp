#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/DVACWrapperLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "platform/foundation/Log.h"

namespace {

class DVACLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { DVACLogger::resetForTesting(); }
  void TearDown() override { DVACLogger::resetForTesting(); }
};

void logWarningHere(int* calls) {
  DVACLogWarning("RedEvudud", [&] {
    ++*calls;
    return std::string("disk is full");
  }());
}

TEST_F(DVACLoggerTest, WritesTheDocumentedLineFormat) {
  ns::LogCapture capture;
  DVACLogger::setCurrentLogLevel(DVACLogLevelVerbose);
  DVACLogger::logMessage([] { return std::string("Stored 3 log(s)."); }, DVACLogLevelInfo, "RedEvududAnalytics",
                         "File.cpp", "flushQueue", 42);
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0], "[RedEvududAnalytics] INFO: flushQueue/42 Stored 3 log(s).");
}

TEST_F(DVACLoggerTest, NamesEveryLevelAndWritesNothingForNone) {
  DVACLogger::setCurrentLogLevel(DVACLogLevelVerbose);
  ns::LogCapture capture;
  const std::vector<std::pair<DVACLogLevel, std::string>> levels = {
      {DVACLogLevelVerbose, "VERBOSE"}, {DVACLogLevelDebug, "DEBUG"}, {DVACLogLevelInfo, "INFO"},
      {DVACLogLevelWarning, "WARNING"}, {DVACLogLevelError, "ERROR"}, {DVACLogLevelAssert, "ASSERT"},
  };
  for (const auto& [level, name] : levels) {
    DVACLogger::logMessage([] { return std::string("m"); }, level, "T", "f", "fn", 1);
  }
  DVACLogger::logMessage([] { return std::string("m"); }, DVACLogLevelNone, "T", "f", "fn", 1);
  DVACLogger::logMessage([] { return std::string("m"); }, static_cast<DVACLogLevel>(50), "T", "f", "fn", 1);
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), levels.size() + 1);
  for (size_t i = 0; i < levels.size(); ++i) EXPECT_EQ(lines[i], "[T] " + levels[i].second + ": fn/1 m");
  EXPECT_EQ(lines.back(), "[T] (null): fn/1 m");
}

TEST_F(DVACLoggerTest, DefaultLevelIsAssertAndFiltersWarningsWithoutBuildingThem) {
  EXPECT_EQ(DVACLogger::currentLogLevel(), DVACLogLevelAssert);
  EXPECT_FALSE(DVACLogger::isUserDefinedLogLevel());
  ns::LogCapture capture;
  int calls = 0;
  logWarningHere(&calls);
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_EQ(calls, 0);

  // What configuration does when the user chose nothing.
  if (!DVACLogger::isUserDefinedLogLevel()) {
    DVACLogger::setCurrentLogLevel(DVACLogLevelWarning);
    DVACLogger::setIsUserDefinedLogLevel(false);
  }
  logWarningHere(&calls);
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(capture.count(), 1u);
  EXPECT_EQ(capture.lines()[0].rfind("[RedEvudud] WARNING: logWarningHere/", 0), 0u) << capture.lines()[0];
  EXPECT_NE(capture.lines()[0].find(" disk is full"), std::string::npos);
}

TEST_F(DVACLoggerTest, LevelNoneSuppressesEverything) {
  DVACLogger::setCurrentLogLevel(DVACLogLevelNone);
  ns::LogCapture capture;
  DVACLogAssert("RedEvudud", "boom");
  DVACLogError("RedEvudud", "bad");
  EXPECT_EQ(capture.count(), 0u);
}

TEST_F(DVACLoggerTest, SettersMarkTheLevelUserDefined) {
  DVACLogger::setLogHandler(DVACLogger::logHandler());
  EXPECT_TRUE(DVACLogger::isUserDefinedLogLevel());
  DVACLogger::setIsUserDefinedLogLevel(false);
  DVACLogger::setCurrentLogLevel(DVACLogLevelDebug);
  EXPECT_TRUE(DVACLogger::isUserDefinedLogLevel());
  EXPECT_EQ(DVACLogger::currentLogLevel(), DVACLogLevelDebug);
}

TEST_F(DVACLoggerTest, CustomHandlerGetsEveryMessageWhateverTheLevel) {
  struct Seen {
    std::string text, tag, function;
    DVACLogLevel level;
    unsigned line;
  };
  std::vector<Seen> seen;
  DVACLogger::setLogHandler([&](const DVACLogMessageProvider& provider, DVACLogLevel level, const std::string& tag,
                                const char*, const char* function, unsigned line) {
    seen.push_back({provider(), tag, function, level, line});
  });
  ns::LogCapture capture;
  DVACLogVerbose("RedEvudud", "quiet " + std::to_string(7));
  DVACWrapperLogger::DVACWrapperLog([] { return std::string("from wrapper"); }, "Wrapper", DVACLogLevelDebug);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].text, "quiet 7");
  EXPECT_EQ(seen[0].level, DVACLogLevelVerbose);
  EXPECT_EQ(seen[0].function, "TestBody");
  EXPECT_EQ(seen[1].tag, "Wrapper");
  EXPECT_EQ(seen[1].text, "from wrapper");
  EXPECT_EQ(seen[1].function, "DVACWrapperLog");
  EXPECT_EQ(capture.count(), 0u);  // the default handler is out of the way
}

TEST_F(DVACLoggerTest, EmptyHandlerSilencesAndNilProviderIsIgnored) {
  ns::LogCapture capture;
  DVACLogger::setCurrentLogLevel(DVACLogLevelVerbose);
  DVACLogger::logMessage(nullptr, DVACLogLevelError, "T", "f", "fn", 1);
  DVACLogger::setLogHandler(nullptr);
  DVACLogError("T", "nobody hears this");
  EXPECT_EQ(capture.count(), 0u);
}

}  // namespace

// The CXX exception capture: the throw hook, the terminate handler and its
// handler list, and the wrapper that hands an uncaught CXX exception to the
// crash engine. Terminating cases run in child processes.

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesCXXExceptionWrapperException.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesUncaughtCXXExceptionHandlerManager.h"

namespace {

void (*g_throwerStart)() = nullptr;

[[gnu::noinline]] void throwBoom() { throw std::runtime_error("boom"); }
[[gnu::noinline]] void throwText() { throw "plain text"; }
[[gnu::noinline]] void throwNumber() { throw 42; }
[[gnu::noinline]] void throwNSException() { throw ns::NSException("NSGenericException", std::string("objc")); }
[[gnu::noinline]] void throwAndCatchEarlier() {
  try {
    throw std::logic_error("earlier");
  } catch (const std::logic_error&) {
  }
  try {
    throw std::out_of_range("earlier");
  } catch (const std::out_of_range&) {
  }
}
std::exception_ptr g_saved;
[[gnu::noinline]] void throwAndKeep() {
  try {
    throw std::runtime_error("kept");
  } catch (...) {
    g_saved = std::current_exception();
  }
}

// An exception leaving a noexcept function ends in std::terminate with the
// exception still current.
[[gnu::noinline]] void escape(void (*thrower)()) noexcept { thrower(); }

// Reports the record on stderr and ends the child.
void reportingHandler(const DVACCrashesUncaughtCXXExceptionInfo* info) {
  const auto first = info->exception_frames_count ? info->exception_frames[0] : 0;
  const auto start = reinterpret_cast<uint64_t>(g_throwerStart);
  std::fprintf(stderr, "type=%s message=%s frames=%u inThrower=%d first=%llx start=%llx\n",
               info->exception_type_name ? info->exception_type_name : "(null)",
               info->exception_message ? info->exception_message : "(null)", info->exception_frames_count,
               start && first > start && first < start + 1024 ? 1 : 0, (unsigned long long)first,
               (unsigned long long)start);
  std::fflush(stderr);
  _exit(0);
}

int g_calls = 0;
void countingHandler(const DVACCrashesUncaughtCXXExceptionInfo*) { ++g_calls; }
void countsThenExits(const DVACCrashesUncaughtCXXExceptionInfo*) {
  std::fprintf(stderr, "calls=%d\n", g_calls);
  _exit(0);
}

class DVACCrashesCXXExceptionTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }
};

TEST_F(DVACCrashesCXXExceptionTest, AnEscapingRuntimeErrorKeepsItsTypeMessageAndThrowSite) {
  EXPECT_EXIT(
      {
        g_throwerStart = throwBoom;
        DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(reportingHandler);
        escape(throwBoom);
      },
      ::testing::ExitedWithCode(0), "type=St13runtime_error message=boom frames=[1-9][0-9]* inThrower=1");
}

TEST_F(DVACCrashesCXXExceptionTest, TextAndOtherValuesAsMessages) {
  EXPECT_EXIT(
      {
        DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(reportingHandler);
        escape(throwText);
      },
      ::testing::ExitedWithCode(0), "message=plain text");
  EXPECT_EXIT(
      {
        DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(reportingHandler);
        escape(throwNumber);
      },
      ::testing::ExitedWithCode(0), "type=i message=\\(null\\)");
}

// Platform exceptions carry the frames of where they were raised.
void nsExceptionHandler(const ns::NSException& exception) {
  const auto frames = exception.callStackReturnAddresses();
  const auto first = frames.empty() ? 0 : frames[0];
  const auto start = reinterpret_cast<uint64_t>(throwNSException);
  std::fprintf(stderr, "uncaught %s inThrower=%d\n", exception.name().c_str(),
               first > start && first < start + 1024 ? 1 : 0);
  _exit(0);
}

TEST_F(DVACCrashesCXXExceptionTest, PlatformExceptionsGoToTheUncaughtExceptionHandlerNotToTheCXXHandlers) {
  EXPECT_EXIT(
      {
        ns::NSSetUncaughtExceptionHandler(nsExceptionHandler);
        DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(reportingHandler);
        escape(throwNSException);
      },
      ::testing::ExitedWithCode(0), "uncaught NSGenericException inThrower=1");
}

// A throw's frames go only with that very exception: not with one raised
// later without passing the hook, even of the same type at the same address.
TEST_F(DVACCrashesCXXExceptionTest, OnlyTheEndingExceptionsOwnThrowSiteIsAttached) {
  struct Case {
    void (*before)();
    void (*thrower)();
    void (*raise)();
    const char* expected;
  };
  const Case cases[] = {
      {throwAndCatchEarlier, throwAndCatchEarlier,
       [] { std::rethrow_exception(std::make_exception_ptr(std::out_of_range("late"))); },
       "type=St12out_of_range .* inThrower=0"},
      {throwAndCatchEarlier, throwAndCatchEarlier,
       [] { std::rethrow_exception(std::make_exception_ptr(std::logic_error("late"))); },
       "type=St11logic_error .* inThrower=0"},
      // Kept and raised again later, it is still the thrown exception.
      {throwAndKeep, throwAndKeep, [] { std::rethrow_exception(g_saved); }, "type=St13runtime_error .* inThrower=1"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          g_throwerStart = c.thrower;
          DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(reportingHandler);
          c.before();
          escape(c.raise);
        },
        ::testing::ExitedWithCode(0), c.expected);
  }
}

TEST_F(DVACCrashesCXXExceptionTest, HandlersRunInOrderAndTwiceWhenAddedTwice) {
  EXPECT_EXIT(
      {
        DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(countingHandler);
        DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(countingHandler);
        DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(countsThenExits);
        if (DVACCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler() != 3) _exit(3);
        escape(throwBoom);
      },
      ::testing::ExitedWithCode(0), "calls=2");
}

void previousTerminate() {
  std::fprintf(stderr, "previous handler\n");
  _exit(0);
}

TEST_F(DVACCrashesCXXExceptionTest, TerminateWithoutAnExceptionCallsOnlyThePreviousHandler) {
  EXPECT_EXIT(
      {
        std::set_terminate(previousTerminate);
        DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(reportingHandler);
        std::terminate();
      },
      ::testing::ExitedWithCode(0), "previous handler");
}

void otherTerminate() { std::abort(); }

TEST_F(DVACCrashesCXXExceptionTest, RemovingTheLastHandlerRestoresOrLeavesAnotherPartysHandler) {
  EXPECT_EXIT(
      {
        using Manager = DVACCrashesUncaughtCXXExceptionHandlerManager;
        std::set_terminate(previousTerminate);
        Manager::addCXXExceptionHandler(countingHandler);
        if (std::get_terminate() != DVACCrashesUncaughtCXXTerminateHandler) _exit(2);
        Manager::removeCXXExceptionHandler(countingHandler);
        if (Manager::isInstalled() || std::get_terminate() != previousTerminate) _exit(3);

        Manager::addCXXExceptionHandler(countingHandler);
        std::set_terminate(otherTerminate);
        Manager::removeCXXExceptionHandler(countingHandler);
        if (!Manager::isInstalled() || std::get_terminate() != otherTerminate) _exit(4);
        if (Manager::countCXXExceptionHandler() != 0) _exit(5);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

void wrapperHandler(const ns::NSException& exception) {
  const auto frames = exception.callStackReturnAddresses();
  std::fprintf(stderr, "name=%s reason=%s frames=%zu first=%llx\n", exception.name().c_str(),
               exception.reason().value_or("").c_str(), frames.size(),
               static_cast<unsigned long long>(frames.empty() ? 0 : frames[0]));
  std::fflush(stderr);
}

void runCrashesHandler() {
  ns::NSSetUncaughtExceptionHandler(wrapperHandler);
  const uint64_t frames[2] = {0x1234, 0x5678};
  DVACCrashesUncaughtCXXExceptionInfo info = {nullptr, "St13runtime_error", "boom", 2, frames};
  DVACCrashesUncaughtCXXExceptionHandler(&info);
}

TEST_F(DVACCrashesCXXExceptionTest, TheCrashesHandlerHandsTheWrappedExceptionOnAndAborts) {
  EXPECT_EXIT(runCrashesHandler(), ::testing::KilledBySignal(SIGABRT),
              "name=std::runtime_error reason=boom frames=2 first=1234");
}

TEST(DVACCrashesCXXExceptionWrapperException, NamesReasonsAndFrames) {
  DVACCrashesUncaughtCXXExceptionInfo empty = {nullptr, nullptr, nullptr, 0, nullptr};
  DVACCrashesCXXExceptionWrapperException none(&empty);
  EXPECT_EQ("", none.name());
  EXPECT_EQ("", *none.reason());
  EXPECT_TRUE(none.callStackReturnAddresses().empty());
  EXPECT_EQ(&empty, none.info());

  DVACCrashesUncaughtCXXExceptionInfo odd = {nullptr, "not a mangled name!", "m", 0, nullptr};
  EXPECT_EQ("not a mangled name!", DVACCrashesCXXExceptionWrapperException(&odd).name());

  const uint64_t frames[3] = {1, 2, 3};
  DVACCrashesUncaughtCXXExceptionInfo three = {nullptr, "St11logic_error", "r", 3, frames};
  DVACCrashesCXXExceptionWrapperException wrapper(&three);
  EXPECT_EQ("std::logic_error", wrapper.name());
  EXPECT_EQ((std::vector<uint64_t>{1, 2, 3}), wrapper.callStackReturnAddresses());
}

TEST(DVACCrashesThrowHook, RecordsThrowsOnlyWhileInstalled) {
  // Nothing is installed in this test process: throws are not recorded.
  if (DVACCrashesUncaughtCXXExceptionHandlerManager::isInstalled()) GTEST_SKIP();
  try {
    throwBoom();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ("boom", e.what());
  }
  EXPECT_EQ(nullptr, DVACCrashesCurrentThreadThrowBacktrace());
}

}  // namespace

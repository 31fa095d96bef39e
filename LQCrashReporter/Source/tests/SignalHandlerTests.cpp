// The signal handler's registration, the callback chain and the handing on
// to actions that were installed before the engine's.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>

#include "LQCrashReporter/Source/DVLQCrashSignalHandler.h"

namespace {

void setAction(int signo, void (*handler)(int)) {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(signo, &sa, nullptr);
}

class LQCrashSignalHandler : public ::testing::Test {
protected:
    void TearDown() override {
        DVLQCrashSignalHandler::resetHandlers();
        setAction(SIGUSR1, SIG_DFL);
        setAction(SIGUSR2, SIG_DFL);
    }
};

int g_previousCalls = 0;
void previousHandler(int) { ++g_previousCalls; }

int g_chainCalls = 0;
bool handledCallback(int, siginfo_t*, ucontext_t*, void*, lqcrash_signal_handler_callback*) {
    ++g_chainCalls;
    return true;
}
bool passingCallback(int signo, siginfo_t* info, ucontext_t* uap, void*, lqcrash_signal_handler_callback* next) {
    ++g_chainCalls;
    return next ? lqcrash_signal_handler_callback_next(next, signo, info, uap) : false;
}

TEST_F(LQCrashSignalHandler, RegisteringTwiceInstallsOnceAndKeepsTheFirstPreviousAction) {
    DVLQCrashSignalHandler* handler = DVLQCrashSignalHandler::sharedHandler();
    ASSERT_TRUE(handler);
    setAction(SIGUSR1, SIG_IGN);
    ns::Error error;
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGUSR1, &error)) << error.description();
    struct sigaction installed;
    sigaction(SIGUSR1, nullptr, &installed);
    EXPECT_EQ(reinterpret_cast<void*>(lqcrash_signal_handler_dispatch), reinterpret_cast<void*>(installed.sa_sigaction));
    EXPECT_TRUE(installed.sa_flags & SA_ONSTACK);
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGUSR1, &error));

    int entries = 0;
    bool ignored = false;
    auto& previous = lqcrash_signal_handler_previous_actions();
    for (auto* n = previous.next(nullptr); n; n = n->next()) {
        if (n->value().signo == SIGUSR1) {
            ++entries;
            ignored = n->value().action.sa_handler == SIG_IGN;
        }
    }
    EXPECT_EQ(1, entries);
    EXPECT_TRUE(ignored);
    int callbacks = 0;
    auto& chain = lqcrash_signal_handler_callbacks();
    for (auto* n = chain.next(nullptr); n; n = n->next()) ++callbacks;
    EXPECT_EQ(2, callbacks);  // one previous-action entry per registration
}

TEST_F(LQCrashSignalHandler, PreviousActionsDecideWhetherASignalIsHandled) {
    DVLQCrashSignalHandler* handler = DVLQCrashSignalHandler::sharedHandler();
    setAction(SIGUSR1, SIG_IGN);
    setAction(SIGUSR2, SIG_DFL);
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGUSR1, nullptr));
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGUSR2, nullptr));
    EXPECT_TRUE(lqcrash_signal_handler_previous_action_callback(SIGUSR1, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(lqcrash_signal_handler_previous_action_callback(SIGUSR2, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(lqcrash_signal_handler_previous_action_callback(SIGWINCH, nullptr, nullptr, nullptr, nullptr));

    DVLQCrashSignalHandler::resetHandlers();
    setAction(SIGUSR2, previousHandler);
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGUSR2, nullptr));
    g_previousCalls = 0;
    raise(SIGUSR2);  // no callback handles it: the previous handler runs
    EXPECT_EQ(1, g_previousCalls);
}

TEST_F(LQCrashSignalHandler, TheChainRunsFromItsHeadAndCanContinue) {
    DVLQCrashSignalHandler* handler = DVLQCrashSignalHandler::sharedHandler();
    setAction(SIGUSR2, previousHandler);
    ASSERT_TRUE(handler->registerHandlerForSignal(SIGUSR2, handledCallback, nullptr, nullptr));
    g_chainCalls = 0;
    g_previousCalls = 0;
    raise(SIGUSR2);
    EXPECT_EQ(1, g_chainCalls);
    EXPECT_EQ(0, g_previousCalls);  // the head handled it

    DVLQCrashSignalHandler::resetHandlers();
    setAction(SIGUSR2, previousHandler);
    ASSERT_TRUE(handler->registerHandlerForSignal(SIGUSR2, passingCallback, nullptr, nullptr));
    g_chainCalls = 0;
    raise(SIGUSR2);
    EXPECT_EQ(1, g_chainCalls);
    EXPECT_EQ(1, g_previousCalls);  // the continuation reached the previous handler
}

TEST_F(LQCrashSignalHandler, AfterAResetTheEngineNeverHandsASignalToItself) {
    DVLQCrashSignalHandler* handler = DVLQCrashSignalHandler::sharedHandler();
    setAction(SIGUSR1, SIG_IGN);
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGUSR1, nullptr));
    DVLQCrashSignalHandler::resetHandlers();
    // The engine's handler is still installed; registering again must not
    // record it as the action to hand signals on to.
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGUSR1, nullptr));
    EXPECT_FALSE(lqcrash_signal_handler_previous_action_callback(SIGUSR1, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(LQCrashSignalHandler, AnUnhandledSignalEndsTheProcessWithItsDefaultAction) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto child = [] {
        DVLQCrashSignalHandler::sharedHandler()->registerHandlerWithSignal(SIGUSR1, nullptr);
        DVLQCrashSignalHandler::resetHandlers();
        raise(SIGUSR1);  // no callback at all
        _exit(0);
    };
    EXPECT_EXIT(child(), ::testing::KilledBySignal(SIGUSR1), "");
}

}  // namespace

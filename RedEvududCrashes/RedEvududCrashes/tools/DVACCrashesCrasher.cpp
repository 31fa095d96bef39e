// A small application for the end-to-end tests of crash reporting. It keeps
// every file under the root it is given, so two runs on the same root are
// two launches of one installation.
//
//   crasher crash <root> segv|abort|cxx
//     starts the SDK with the Crashes service, reports two handled errors
//     while the SDK's logs queue is held (so they exist only in the crash-time
//     buffer), writes where its crashing function and that function's caller
//     lie to <root>/sites ("<start> <end>" of each, in hexadecimal), then
//     crashes: a store to an unmapped page, abort(), or an uncaught
//     std::runtime_error("boom").
//
//   crasher report <root> <ingestion URL> always|send|dontsend <result file> [then]
//     starts the SDK again; the confirmation handler answers on the main
//     queue; waits until the crash log and the buffered logs were sent (or,
//     for "dontsend", until the crash was discarded) and writes what it saw to
//     the result file as JSON. Exit status 0 on success. With a last word:
//       crash-when-sent  holds the logs queue from the start and crashes
//                        (segv) once the crash log is handed to the channel;
//       until-killed     sends, then waits (at most 60 s) to be killed;
//       stored=N         expects no crash to confirm: waits until N crash
//                        logs kept by an earlier launch were sent and no
//                        report file is left;
//       not-stored       waits until the store failed to take the crash log,
//                        after the buffered logs replayed on the same queue.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACThread.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"

namespace {

void setUpLaunch(const std::string& root) {
  ns::paths::setRootForTesting(root);
  ns::UserDefaults::setStandard(ns::UserDefaults::persistent(root + "/settings.plist"));
  ns::Bundle::setMain(ns::Bundle::withInfoDictionary({{"CFBundleIdentifier", ns::Value("com.morvalent.crasher")},
                                                      {"CFBundleName", ns::Value("crasher")},
                                                      {"CFBundleVersion", ns::Value("7")},
                                                      {"CFBundleShortVersionString", ns::Value("1.7")}}));
  DVACRedEvudud::setLogLevel(DVACLogLevelWarning);
}

volatile uintptr_t g_unmapped = 16;

// Where the crashing functions and their caller lie: each in a section of its
// own, whose bounds the linker gives.
extern "C" char __start_dvac_crash_site[], __stop_dvac_crash_site[];
extern "C" char __start_dvac_crash_caller[], __stop_dvac_crash_caller[];

[[gnu::noinline, gnu::section("dvac_crash_site")]] void crashWithSegmentationFault() {
  *reinterpret_cast<volatile int*>(g_unmapped) = 1;
  std::printf("still alive\n");
}

[[gnu::noinline, gnu::section("dvac_crash_site")]] void crashWithAbort() {
  std::fflush(nullptr);
  std::abort();
}

[[gnu::noinline, gnu::section("dvac_crash_site")]] void throwUncaught() { throw std::runtime_error("boom"); }

// Calls one of them, and is still on the stack when it crashes.
[[gnu::noinline, gnu::section("dvac_crash_caller")]] void crashIn(void (*crashingFunction)()) {
  crashingFunction();
  std::printf("still alive\n");
}

void writeSites(const std::string& root) {
  std::ofstream(root + "/sites") << std::hex << reinterpret_cast<uintptr_t>(__start_dvac_crash_site) << " "
                                 << reinterpret_cast<uintptr_t>(__stop_dvac_crash_site) << " "
                                 << reinterpret_cast<uintptr_t>(__start_dvac_crash_caller) << " "
                                 << reinterpret_cast<uintptr_t>(__stop_dvac_crash_caller) << "\n";
}

int crash(const std::string& root, const std::string& mode) {
  setUpLaunch(root);
  // As in a process of its own: no other fault handler to hand the signal on to.
  signal(SIGSEGV, SIG_DFL);
  signal(SIGBUS, SIG_DFL);
  DVACRedEvudud::setLogUrl("http://127.0.0.1:9");
  DVACRedEvudud::start(std::string("e2e-secret"), {DVACCrashes::serviceClass()});
  auto group = DVACRedEvudud::sharedInstance()->channelGroup();
  auto unit = group ? group->channelUnitForGroupId("Crashes") : nullptr;
  if (!unit) return 3;
  // Hold the logs queue: what is enqueued from now on is only in the buffer.
  auto held = std::make_shared<dispatch::Semaphore>(0);
  unit->logsDispatchQueue()->async([held] { held->wait(); });
  DVACCrashes::trackError(ns::Error("com.morvalent.crasher", 1), DVACPropertiesDictionary{{"before", "crash-1"}}, {});
  DVACCrashes::trackError(ns::Error("com.morvalent.crasher", 2), DVACPropertiesDictionary{{"before", "crash-2"}}, {});
  writeSites(root);
  if (mode == "segv") crashIn(crashWithSegmentationFault);
  if (mode == "abort") crashIn(crashWithAbort);
  if (mode == "cxx") crashIn(throwUncaught);
  return 4;
}

// Counts what the channel group reports as sent, by log type, and crash logs not stored.
class SendCounter : public DVACChannelDelegate {
 public:
  void channelDidCompleteEnqueueingLogWithStoreResult(const std::shared_ptr<DVACChannelProtocol>&,
                                                      const std::shared_ptr<DVACLog>& log, const std::string&,
                                                      DVACLogStoreResult result) override {
    if (result == DVACLogStoreResult::notStored && log->type() == "appleError") ++crashLogsNotStored;
  }
  std::atomic<int> crashLogsNotStored{0};
  void channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>&,
                                   const std::shared_ptr<DVACLog>& log) override {
    std::lock_guard lock(mutex_);
    ++sent_[log->type().value_or("")];
  }
  int sent(const std::string& type) {
    std::lock_guard lock(mutex_);
    return sent_[type];
  }

 private:
  std::mutex mutex_;
  std::map<std::string, int> sent_;
};

ns::Value reportValue(const std::shared_ptr<DVACErrorReport>& report) {
  ns::Dictionary dict;
  if (!report) return ns::Value();
  if (report->incidentIdentifier()) dict["incidentIdentifier"] = ns::Value(*report->incidentIdentifier());
  if (report->signal()) dict["signal"] = ns::Value(*report->signal());
  if (report->exceptionName()) dict["exceptionName"] = ns::Value(*report->exceptionName());
  if (report->exceptionReason()) dict["exceptionReason"] = ns::Value(*report->exceptionReason());
  if (report->threads()) dict["threads"] = ns::Value(static_cast<int64_t>(report->threads()->size()));
  if (report->binaries()) dict["binaries"] = ns::Value(static_cast<int64_t>(report->binaries()->size()));
  dict["appProcessIdentifier"] = ns::Value(report->appProcessIdentifier());
  return ns::Value(std::move(dict));
}

int report(const std::string& root, const std::string& url, const std::string& answer, const std::string& resultFile,
           const std::string& then) {
  setUpLaunch(root);
  signal(SIGSEGV, SIG_DFL);
  DVACRedEvudud::setLogUrl(url);
  auto handlerCalls = std::make_shared<std::atomic<int>>(0);
  auto handlerReports = std::make_shared<DVACErrorReports>();
  const DVACUserConfirmation confirmation = answer == "always" ? DVACUserConfirmationAlways
                                            : answer == "send"  ? DVACUserConfirmationSend
                                                                : DVACUserConfirmationDontSend;
  DVACCrashes::setUserConfirmationHandler([=](const DVACErrorReports& reports) {
    ++*handlerCalls;
    *handlerReports = reports;
    // The application asks the user and answers later, on the main queue.
    dispatch::Queue::main()->async([confirmation] { DVACCrashes::notifyWithUserConfirmation(confirmation); });
    return true;
  });
  auto counter = std::make_shared<SendCounter>();
  DVACRedEvudud::start(std::string("e2e-secret"), {DVACCrashes::serviceClass()});
  auto crashes = DVACCrashes::sharedInstance();
  auto group = DVACRedEvudud::sharedInstance()->channelGroup();
  if (group) group->addDelegate(counter);
  if (then == "crash-when-sent") {
    // Nothing reaches the store: the process ends with the crash log queued.
    auto unit = group ? group->channelUnitForGroupId("Crashes") : nullptr;
    if (!unit) return 3;
    auto held = std::make_shared<dispatch::Semaphore>(0);
    unit->logsDispatchQueue()->async([held] { held->wait(); });
  }

  const bool sending = confirmation != DVACUserConfirmationDontSend;
  const int storedCrashLogs = then.rfind("stored=", 0) == 0 ? std::stoi(then.substr(7)) : 0;
  const bool done = dispatch::Scheduler::shared().runMainUntil(
      [&] {
        if (storedCrashLogs > 0) return counter->sent("appleError") >= storedCrashLogs && crashes->crashFiles().empty();
        if (handlerCalls->load() == 0) return false;
        auto pending = crashes->unprocessedReports();
        if (!pending || !pending->empty()) return false;
        if (then == "crash-when-sent") crashIn(crashWithSegmentationFault);
        if (then == "not-stored") return counter->crashLogsNotStored > 0;
        if (then == "until-killed") return false;
        if (!sending) return crashes->crashFiles().empty();
        return counter->sent("appleError") >= 1 && counter->sent("handledError") >= 2;
      },
      60.0);

  ns::Dictionary result;
  result["done"] = ns::Value(done);
  result["hasCrashedInLastSession"] = ns::Value(DVACCrashes::hasCrashedInLastSession());
  result["handlerCalls"] = ns::Value(static_cast<int64_t>(handlerCalls->load()));
  result["lastSessionCrashReport"] = reportValue(DVACCrashes::lastSessionCrashReport());
  ns::Array reports;
  for (const auto& r : *handlerReports) reports.push_back(reportValue(r));
  result["handlerReports"] = ns::Value(std::move(reports));
  result["sentAppleError"] = ns::Value(static_cast<int64_t>(counter->sent("appleError")));
  result["sentHandledError"] = ns::Value(static_cast<int64_t>(counter->sent("handledError")));
  result["crashFilesLeft"] = ns::Value(static_cast<int64_t>(crashes->crashFiles().size()));
  result["alwaysSendStored"] = ns::Value(crashes->shouldAlwaysSend());
  std::ofstream(resultFile) << ns::json::write(ns::Value(std::move(result))).value_or("{}");
  std::fflush(nullptr);
  // The SDK's threads keep running; leave without tearing anything down.
  _exit(done ? 0 : 5);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "crash" && argc == 4) return crash(argv[2], argv[3]);
  if (command == "report" && (argc == 6 || argc == 7)) {
    return report(argv[2], argv[3], argv[4], argv[5], argc == 7 ? argv[6] : "");
  }
  std::fprintf(stderr,
               "usage: %s crash <root> segv|abort|cxx | report <root> <url> always|send|dontsend <result> "
               "[crash-when-sent|until-killed|stored=N|not-stored]\n",
               argv[0]);
  return 2;
}

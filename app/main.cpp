// morvalent: the application, run against the simulated desktop.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "app/shell/Preferences.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"

#ifndef MORVALENT_VERSION
#define MORVALENT_VERSION "0.0.0"
#endif

namespace {

const char* const kUsage =
    "usage: morvalent [--run-for SECONDS] [--help] [--version]\n"
    "\n"
    "  --run-for SECONDS  quit after SECONDS (default: run until interrupted)\n"
    "  --version          print the version and exit\n"
    "  --help             print this text and exit\n";

struct Options {
  std::optional<double> runFor;
};

// Returns the options, or an exit status when the program should stop now.
std::variant<Options, int> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("morvalent %s\n", MORVALENT_VERSION);
      return 0;
    }
    if (arg == "--run-for") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "morvalent: --run-for needs a number of seconds\n%s", kUsage);
        return 2;
      }
      char* end = nullptr;
      const double seconds = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || !(seconds >= 0)) {
        std::fprintf(stderr, "morvalent: --run-for: not a number of seconds: %s\n", argv[i]);
        return 2;
      }
      options.runFor = seconds;
      continue;
    }
    std::fprintf(stderr, "morvalent: unknown option: %s\n%s", arg.c_str(), kUsage);
    return 2;
  }
  return options;
}

// SIGINT and SIGTERM end the main loop; they are taken by a thread of their own.
void handleTerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int signal = 0;
    sigwait(&set, &signal);
    dispatch::Queue::main()->async([] { dispatch::Scheduler::shared().stopMain(); });
  }).detach();
}

}  // namespace

int main(int argc, char** argv) {
  auto parsed = parse(argc, argv);
  if (auto* status = std::get_if<int>(&parsed)) return *status;
  const Options options = std::get<Options>(parsed);

  dispatch::Scheduler::shared().adoptMainThread();
  handleTerminationSignals();

  const std::string bundleIdentifier = ns::Bundle::main()->bundleIdentifier().value_or("com.morvalent.Morvalent");
  ns::UserDefaults::setStandard(
      ns::UserDefaults::persistent(ns::UserDefaults::preferencesPathForBundleIdentifier(bundleIdentifier)));
  MorvalentDefaults::standard().registerDefaults();

  ns::NSLog("morvalent " MORVALENT_VERSION " started");
  std::optional<dispatch::Time> until;
  if (options.runFor) until = dispatch::after(*options.runFor);
  dispatch::Scheduler::shared().runMain(until);
  ns::NSLog("morvalent stopped");
  return 0;
}

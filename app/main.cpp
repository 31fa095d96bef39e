// morvalent: the application, run against the simulated desktop.
//
// The desktop comes from a scenario file (or the bundled demo scenario): its
// displays, applications, Dock and music players, the program's own
// preferences, and a timed input script whose snapshot steps are written as
// pictures of the whole desktop.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionDefaults.h"
#include "app/AppDelegate.h"
#include "app/ApplicationMethods.h"
#include "app/DemoScenario.h"
#include "app/preferences/Preferences.h"
#include "platform/appkit/NSApplication.h"
#include "platform/desktop/DesktopSnapshot.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/NetworkWatcher.h"
#include "platform/scripting/SimulatedPlayers.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/InputScript.h"
#include "platform/sim/Scenario.h"

#ifndef MORVALENT_VERSION
#define MORVALENT_VERSION "0.0.0"
#endif

namespace {

const char* const kUsage =
    "usage: morvalent [--scenario FILE] [--snapshots DIR] [--snapshot-scale N] [--run-for SECONDS]\n"
    "                 [--help] [--version]\n"
    "\n"
    "  --scenario FILE     the simulated desktop to run on, with its input script\n"
    "                      (default: the bundled demo scenario)\n"
    "  --snapshots DIR     write each snapshot step of the script to DIR/<name>.png\n"
    "  --snapshot-scale N  pixels per point of the snapshots (default 1)\n"
    "  --run-for SECONDS   quit SECONDS after start (the script stops then too);\n"
    "                      without it, quit shortly after the script has played\n"
    "  --version           print the version and exit\n"
    "  --help              print this text and exit\n";

// How long the program goes on after the script when no --run-for is given.
constexpr double kLingerAfterScript = 0.5;

struct Options {
  std::optional<double> runFor;
  std::optional<std::string> scenario;
  std::optional<std::string> snapshots;
  double snapshotScale = 1;
};

std::optional<double> parseSeconds(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= 0) || value > 1e9) return std::nullopt;
  return value;
}

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
    const bool takesValue =
        arg == "--run-for" || arg == "--scenario" || arg == "--snapshots" || arg == "--snapshot-scale";
    if (!takesValue) {
      std::fprintf(stderr, "morvalent: unknown option: %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "morvalent: %s needs a value\n%s", arg.c_str(), kUsage);
      return 2;
    }
    const char* value = argv[++i];
    if (arg == "--run-for") {
      options.runFor = parseSeconds(value);
      if (!options.runFor) {
        std::fprintf(stderr, "morvalent: --run-for: not a number of seconds: %s\n", value);
        return 2;
      }
    } else if (arg == "--scenario") {
      options.scenario = value;
    } else if (arg == "--snapshots") {
      options.snapshots = value;
    } else {
      const auto scale = parseSeconds(value);
      if (!scale || *scale < 0.25 || *scale > 4) {
        std::fprintf(stderr, "morvalent: --snapshot-scale: expected a number from 0.25 to 4: %s\n", value);
        return 2;
      }
      options.snapshotScale = *scale;
    }
  }
  return options;
}

// SIGINT and SIGTERM quit the application; they are taken by a thread of their own.
void handleTerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int signal = 0;
    sigwait(&set, &signal);
    dispatch::Queue::main()->async([] { appkit::NSApplication::shared().terminate(nullptr); });
  }).detach();
}

// The scenario and everything the program needs of it, checked before
// anything runs.
struct Setup {
  sim::Scenario scenario;
  sim::InputScript script;
  ns::Dictionary preferences;
};

std::optional<Setup> prepare(const Options& options, std::string* error) {
  Setup setup;
  const std::string place = options.scenario.value_or("the demo scenario");
  std::string why;
  std::optional<sim::Scenario> scenario =
      options.scenario ? sim::Scenario::load(*options.scenario, &why) : sim::Scenario::parse(kDemoScenario, &why);
  if (!scenario) {
    // load() names the file itself.
    *error = options.scenario ? why : place + ": " + why;
    return std::nullopt;
  }
  setup.scenario = std::move(*scenario);
  auto script = sim::InputScript::parse(setup.scenario.script, &why);
  if (!script) {
    *error = place + ": " + why;
    return std::nullopt;
  }
  setup.script = std::move(*script);
  if (setup.scenario.preferences.is_object()) {
    for (const auto& [key, value] : setup.scenario.preferences.items()) {
      if (!key.empty() && key[0] == '_') continue;
      ns::Error conversion;
      auto converted = ns::json::fromJson(value, {}, &conversion);
      if (!converted || converted->isNull()) {
        *error = place + ": preferences." + key + ": expected a boolean, number, string, array or object";
        return std::nullopt;
      }
      setup.preferences[key] = std::move(*converted);
    }
  }
  if (options.snapshots) {
    std::error_code ec;
    std::filesystem::create_directories(*options.snapshots, ec);
    if (ec || !std::filesystem::is_directory(*options.snapshots)) {
      *error = *options.snapshots + ": the snapshot directory cannot be made";
      return std::nullopt;
    }
  }
  return setup;
}

// This program is the scenario's own process: its bundle is where the
// scenario says, so that the Dock item with that URL is the program's.
void adoptScenarioBundle(const sim::Scenario& scenario) {
  if (!scenario.self || !scenario.self->bundleURL) return;
  const auto url = ns::URL::URLWithString(*scenario.self->bundleURL);
  if (!url || !url->isFileURL()) return;
  auto info = ns::Bundle::makeDefaultMain()->infoDictionary();
  if (scenario.self->name) info["CFBundleName"] = ns::Value(*scenario.self->name);
  ns::Bundle::setMain(ns::Bundle::withInfoDictionary(std::move(info), url->path()));
}

// The telemetry's reachability follows the machine's links and default
// routes, as the platform's own notifications would. A sink on this machine
// needs no network: on a machine without one its uploads are not held back.
void watchTheNetwork() {
  const auto url = ns::URL::URLWithString(DVACIngestionDefaults::defaultLogUrl());
  const std::string host = url ? url->host().value_or("") : "";
  if (host == "localhost" || host == "::1" || host.starts_with("127.")) return;
  if (!net::NetworkWatcher::start()) ns::NSLog("morvalent: the network cannot be watched here; it counts as reachable");
}

}  // namespace

int main(int argc, char** argv) {
  auto parsed = parse(argc, argv);
  if (auto* status = std::get_if<int>(&parsed)) return *status;
  const Options options = std::get<Options>(parsed);

  std::string error;
  auto prepared = prepare(options, &error);
  if (!prepared) {
    std::fprintf(stderr, "morvalent: %s\n", error.c_str());
    return 2;
  }
  Setup setup = std::move(*prepared);

  dispatch::Scheduler::shared().adoptMainThread();
  handleTerminationSignals();
  const dispatch::Time start = dispatch::now();

  adoptScenarioBundle(setup.scenario);
  const std::string bundleIdentifier = ns::Bundle::main()->bundleIdentifier().value_or(ns::kMainBundleIdentifier);
  ns::UserDefaults::setStandard(
      ns::UserDefaults::persistent(ns::UserDefaults::preferencesPathForBundleIdentifier(bundleIdentifier)));
  MorvalentDefaults::standard().registerDefaults();
  for (const auto& [key, value] : setup.preferences) ns::UserDefaults::standard()->setObject(key, value);

  setup.scenario.apply();
  if (!setup.scenario.players.is_null()) {
    std::string why;
    if (!sb::SimulatedPlayers::load(setup.scenario.players.dump(), &why)) {
      // The message names its place from "players" on.
      std::fprintf(stderr, "morvalent: %s: %s\n", options.scenario.value_or("the demo scenario").c_str(), why.c_str());
      return 2;
    }
  }

  ns::NSLog("morvalent " MORVALENT_VERSION " started");
  watchTheNetwork();
  installApplicationMethods();
  auto& application = appkit::NSApplication::shared();
  application.setDelegate(AppDelegate::make());

  // The script starts once launching has finished, and plays on the main
  // thread; each of its waits runs the main loop for that long.
  bool scriptFailed = false;
  auto launched = ns::NotificationCenter::defaultCenter()->addObserver(
      appkit::NSApplicationDidFinishLaunchingNotification, nullptr, [&](const ns::Notification&) {
        dispatch::Queue::main()->async([&] {
          auto& driver = sim::InputDriver::shared();
          driver.setPump([](double seconds) { appkit::NSApplication::shared().runFor(seconds); });
          sim::InputScript::SnapshotSink sink;
          if (options.snapshots) {
            sink = [&](const std::string& name) {
              if (!appkit::NSApplication::shared().runFor(0)) return false;
              const std::string path = (std::filesystem::path(*options.snapshots) / (name + ".png")).string();
              if (!desktop::writeSnapshotPNG(path, options.snapshotScale)) {
                std::fprintf(stderr, "morvalent: snapshot %s: cannot write %s\n", name.c_str(), path.c_str());
                return false;
              }
              std::printf("morvalent: snapshot %s: %s\n", name.c_str(), path.c_str());
              std::fflush(stdout);
              return true;
            };
          }
          std::string why;
          auto& app = appkit::NSApplication::shared();
          if (!setup.script.play(driver, &why, sink) && !app.isTerminated()) {
            std::fprintf(stderr, "morvalent: script: %s\n", why.c_str());
            scriptFailed = true;
            app.terminate(nullptr);
            return;
          }
          driver.setPump(nullptr);
          if (!options.runFor && !app.isTerminated()) {
            dispatch::Queue::main()->asyncAfterDelay(kLingerAfterScript,
                                                     [] { appkit::NSApplication::shared().terminate(nullptr); });
          }
        });
      });

  std::optional<dispatch::Time> until;
  if (options.runFor) until = start + static_cast<dispatch::Time>(*options.runFor * dispatch::kNanosPerSecond);
  application.run(until);
  launched.reset();
  ns::NSLog("morvalent stopped");
  std::fflush(stdout);
  // Nothing is torn down: the telemetry store is on disk, and so are the
  // preferences once their pending write is done (_Exit runs no exit handlers).
  ns::UserDefaults::synchronizeAll();
  std::_Exit(scriptFailed ? 1 : 0);
}

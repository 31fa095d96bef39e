// ingestion-sink: the local ingestion server as a process. See docs/ingestion-sink.md.

#include <signal.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/foundation/AtomicFile.h"
#include "tools/ingestion-sink/IngestionSink.h"

namespace {

constexpr const char* kUsage =
    "usage: ingestion-sink [--port N] [--port-file FILE] [--log FILE] [--script FILE] [--max-seconds N]\n"
    "  --port N          port on 127.0.0.1 (0, the default, picks a free one)\n"
    "  --port-file FILE  write the port there once listening\n"
    "  --log FILE        append every request as a JSON line\n"
    "  --script FILE     JSON script of responses (see docs/ingestion-sink.md)\n"
    "  --max-seconds N   stop after N seconds (default 300)\n";

int usage(const std::string& message) {
  std::cerr << "ingestion-sink: " << message << "\n" << kUsage;
  return 2;
}

bool parseNumber(const std::string& text, double* out) {
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// Written next to the target and renamed, so a reader never sees half a number.
bool writePortFile(const std::string& path, int port) {
  return ns::writeFileAtomically(path, std::to_string(port) + "\n", 0644, /*applyUmask=*/true) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  ingestion_sink::Options options;
  std::string portFile;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (i + 1 >= argc) return usage("missing value for " + std::string(arg));
    const std::string value = argv[++i];
    double number = 0;
    if (arg == "--port") {
      if (!parseNumber(value, &number) || number < 0 || number > 65535 || number != std::floor(number)) {
        return usage("--port takes a number from 0 to 65535");
      }
      options.port = static_cast<int>(number);
    } else if (arg == "--port-file") {
      portFile = value;
    } else if (arg == "--log") {
      options.logPath = value;
    } else if (arg == "--script") {
      std::ifstream in(value);
      if (!in) return usage("cannot read the script " + value);
      std::stringstream text;
      text << in.rdbuf();
      std::string why;
      auto script = ingestion_sink::Script::fromJson(text.str(), &why);
      if (!script) return usage("bad script " + value + ": " + why);
      options.script = std::move(*script);
    } else if (arg == "--max-seconds") {
      if (!parseNumber(value, &number) || number <= 0) return usage("--max-seconds takes a positive number");
      options.maxSeconds = number;
    } else {
      return usage("unknown option " + std::string(arg));
    }
  }

  // Block the stop signals before any thread starts, so only sigtimedwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(std::min(options.maxSeconds, 1e9)));
  ingestion_sink::Sink sink(options);
  std::string error;
  if (!sink.start(&error)) {
    std::cerr << "ingestion-sink: " << error << "\n";
    return 1;
  }
  if (!portFile.empty() && !writePortFile(portFile, sink.port())) {
    std::cerr << "ingestion-sink: cannot write the port file " << portFile << "\n";
    return 1;
  }
  std::cout << "ingestion-sink: listening on " << sink.baseURL() << std::endl;

  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) break;
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec wait{static_cast<time_t>(nanos / 1'000'000'000), static_cast<long>(nanos % 1'000'000'000)};
    const int signal = sigtimedwait(&stopSignals, nullptr, &wait);
    if (signal > 0) break;
    if (signal < 0 && errno != EINTR && errno != EAGAIN) break;
  }
  sink.stop();
  std::cout << "ingestion-sink: stopped after " << sink.requestCount() << " request(s)" << std::endl;
  return 0;
}

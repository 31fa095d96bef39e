#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "platform/foundation/TestSupport.h"
#include "tools/ingestion-sink/IngestionSink.h"
#include "tools/ingestion-sink/tests/SinkTestSupport.h"

extern char** environ;

namespace {

using namespace ingestion_sink;

constexpr double kWait = 20.0;

using sinktest::gzip;
using sinktest::parseScript;
using sinktest::startSink;

httplib::Client client(const Sink& sink) {
  httplib::Client c("127.0.0.1", sink.port());
  c.set_read_timeout(30);
  c.set_keep_alive(false);
  return c;
}

// ------------------------------------------------------------------- script

TEST(IngestionSinkScript, ParsesResponsesAndDefault) {
  Script script = parseScript(R"({"responses": [{"status": 503, "headers": {"x-dv-retry-after-ms": "2500"}},
                                          {"status": 200, "body": "ok", "delayMs": 15}],
                            "default": {"status": 204}})");
  ASSERT_EQ(script.responses.size(), 2u);
  EXPECT_EQ(script.responses[0].status, 503);
  EXPECT_EQ(script.responses[0].headers, (HeaderList{{"x-dv-retry-after-ms", "2500"}}));
  EXPECT_EQ(script.responses[1].body, "ok");
  EXPECT_EQ(script.responses[1].delay, std::chrono::milliseconds(15));
  EXPECT_EQ(script.fallback.status, 204);

  Script bare = parseScript(R"([{"status": 429}])");
  ASSERT_EQ(bare.responses.size(), 1u);
  EXPECT_EQ(bare.fallback.status, 200);
}

TEST(IngestionSinkScript, RejectsBadScriptsWithAReason) {
  for (const char* bad : {"", "{", "42", R"({"responses": {}})", R"([{"status": 42}])", R"([{"status": "200"}])",
                          R"([{"delayMs": -1}])", R"([{"headers": {"a": 1}}])", R"([{"headers": {"a": "x\r\ny"}}])",
                          R"([{"stauts": 200}])", R"({"default": 1})", R"({"extra": []})", R"([{"drop": 1}])",
                          R"([{"repeat": 0}])", R"([{"repeat": 1.5}])", R"({"default": {"repeat": 2}})"}) {
    std::string why;
    EXPECT_FALSE(Script::fromJson(bad, &why).has_value()) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

TEST(IngestionSinkGunzip, InflatesAndReportsDamage) {
  const std::string text(10000, 'q');
  EXPECT_EQ(gunzip(gzip(text)), text);
  EXPECT_EQ(gunzip(gzip("ab") + gzip("cd")), "abcd");
  std::string why;
  std::string packed = gzip(text);
  EXPECT_FALSE(gunzip(packed.substr(0, packed.size() / 2), &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(gunzip("not gzip at all", &why));
  EXPECT_FALSE(gunzip(gzip(text), &why, 100)) << "inflating past the limit must stop";
}

// ---------------------------------------------------------------- in-process

TEST(IngestionSink, AnswersFollowTheScriptThenTheDefault) {
  Options options;
  options.script = parseScript(R"({"responses": [{"status": 503, "headers": {"x-dv-retry-after-ms": "2500"}},
                                           {"drop": true}, {"status": 429, "repeat": 2}],
                             "default": {"status": 202, "body": "{}", "headers": {"Content-Type": "application/json"}}})");
  auto sink = startSink(options);
  auto c = client(*sink);
  std::vector<int> statuses;
  for (int i = 0; i < 6; ++i) {
    auto res = c.Post("/logs", "{}", "application/json");
    if (i == 1) {
      // Dropped: the connection closes without a byte of answer.
      EXPECT_FALSE(res);
      statuses.push_back(0);
      continue;
    }
    ASSERT_TRUE(res) << i << ": " << httplib::to_string(res.error());
    statuses.push_back(res->status);
    if (i == 0) {
      EXPECT_EQ(res->get_header_value("x-dv-retry-after-ms"), "2500");
    }
    if (i >= 4) {
      EXPECT_EQ(res->body, "{}");
      EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");
    }
  }
  EXPECT_EQ(statuses, (std::vector<int>{503, 0, 429, 429, 202, 202}));
  auto seen = sink->requests();
  ASSERT_EQ(seen.size(), 6u);
  std::vector<int> answered;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].sequence, i + 1);
    answered.push_back(seen[i].answeredStatus);
  }
  EXPECT_EQ(answered, statuses);

  // A new script starts from its first response.
  sink->setScript(parseScript(R"([{"status": 500}])"));
  EXPECT_EQ(c.Get("/again")->status, 500);
  EXPECT_EQ(c.Get("/again")->status, 200);
}

TEST(IngestionSink, RecordsRequestsAndKeepsGzipBodiesRawAndInflated) {
  ns::test::TemporaryDirectory dir;
  Options options;
  options.logPath = dir.file("requests.jsonl");
  auto sink = startSink(options);
  auto c = client(*sink);

  const std::string json = R"({"logs":[{"type":"startService","services":["Analytics"]}]})";
  const std::string packed = gzip(json);
  httplib::Headers headers{{"Content-Encoding", "gzip"}, {"App-Secret", "s3cr3t"}};
  ASSERT_TRUE(c.Post("/logs?api-version=1.0.0", headers, packed, "application/json"));
  ASSERT_TRUE(c.Post("/broken", httplib::Headers{{"Content-Encoding", "gzip"}}, "\x1f\x8b garbage", "text/plain"));
  ASSERT_TRUE(c.Put("/plain", std::string("\xff\xfe binary", 9), "application/octet-stream"));
  ASSERT_TRUE(sink->waitForRequests(3, kWait));

  auto seen = sink->requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].path, "/logs?api-version=1.0.0");
  EXPECT_EQ(seen[0].header("content-encoding"), "gzip");
  EXPECT_EQ(seen[0].header("APP-SECRET"), "s3cr3t");
  EXPECT_EQ(seen[0].header("Content-Type"), "application/json");
  EXPECT_FALSE(seen[0].hasHeader("REMOTE_ADDR"));
  EXPECT_TRUE(seen[0].body == packed);
  ASSERT_TRUE(seen[0].inflatedBody);
  EXPECT_EQ(*seen[0].inflatedBody, json);
  EXPECT_EQ(seen[0].content(), json);

  EXPECT_EQ(seen[1].body, "\x1f\x8b garbage");
  EXPECT_FALSE(seen[1].inflatedBody);
  EXPECT_TRUE(seen[1].inflateError);
  EXPECT_EQ(seen[1].answeredStatus, 200);

  EXPECT_EQ(seen[2].method, "PUT");
  EXPECT_EQ(seen[2].body, std::string("\xff\xfe binary", 9));

  // The log holds the same, one JSON line per request.
  auto logged = readLog(options.logPath);
  ASSERT_EQ(logged.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(logged[i].sequence, seen[i].sequence);
    EXPECT_EQ(logged[i].method, seen[i].method);
    EXPECT_EQ(logged[i].path, seen[i].path);
    EXPECT_EQ(logged[i].headers, seen[i].headers);
    EXPECT_TRUE(logged[i].body == seen[i].body);
    EXPECT_EQ(logged[i].inflatedBody, seen[i].inflatedBody);
    EXPECT_EQ(logged[i].inflateError, seen[i].inflateError);
    EXPECT_EQ(logged[i].answeredStatus, seen[i].answeredStatus);
  }
}

TEST(IngestionSink, StopCutsADelayedAnswerShort) {
  Options options;
  options.script = parseScript(R"({"default": {"status": 200, "body": "late", "delayMs": 600000}})");
  auto sink = startSink(options);
  std::optional<int> status;
  std::thread caller([&] {
    auto c = client(*sink);
    if (auto res = c.Get("/slow")) status = res->status;
  });
  ASSERT_TRUE(sink->waitForRequests(1, kWait));
  sink->stop();
  caller.join();
  EXPECT_FALSE(sink->isRunning());
  EXPECT_TRUE(sink->waitUntilStopped(0));
}

TEST(IngestionSink, StopsByItselfAfterMaxSeconds) {
  Options options;
  options.maxSeconds = 0.2;
  auto sink = std::make_unique<Sink>(options);
  ASSERT_TRUE(sink->start());
  EXPECT_TRUE(sink->waitUntilStopped(kWait));
  EXPECT_FALSE(sink->isRunning());
  auto res = client(*sink).Get("/late");
  EXPECT_FALSE(res) << "nothing listens any more";
}

TEST(IngestionSink, RefusesUnboundedOrBadSettings) {
  for (double bad : {0.0, -1.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
    Options options;
    options.maxSeconds = bad;
    Sink sink(options);
    std::string why;
    EXPECT_FALSE(sink.start(&why)) << bad;
    EXPECT_FALSE(why.empty());
  }
  auto first = startSink();
  Options taken;
  taken.port = first->port();
  Sink second(taken);
  EXPECT_FALSE(second.start()) << "the port is in use";
  Options unwritable;
  unwritable.logPath = "/nonexistent-dir/requests.jsonl";
  Sink third(unwritable);
  EXPECT_FALSE(third.start());
}

// ------------------------------------------------------------------ process

#ifdef INGESTION_SINK_EXECUTABLE
TEST(IngestionSinkProcess, ServesLogsAndStopsOnSigterm) {
  ns::test::TemporaryDirectory dir;
  const std::string portFile = dir.file("port");
  const std::string log = dir.file("log.jsonl");
  const std::string scriptFile = dir.file("script.json");
  std::ofstream(scriptFile) << R"({"responses": [{"status": 500}], "default": {"status": 201}})";

  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {
      INGESTION_SINK_EXECUTABLE, "--port", "0", "--port-file", portFile, "--log", log, "--script", scriptFile,
      "--max-seconds",           "60"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);

  // The first line says where it listens; the read ends when it does or when
  // the process dies.
  std::string line;
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
  const std::string prefix = "ingestion-sink: listening on http://127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int port = std::stoi(line.substr(prefix.size()));
  std::string written;
  std::ifstream(portFile) >> written;
  EXPECT_EQ(written, std::to_string(port));

  httplib::Client http("127.0.0.1", port);
  http.set_keep_alive(false);
  EXPECT_EQ(http.Post("/one", "1", "text/plain")->status, 500);
  EXPECT_EQ(http.Post("/two", "2", "text/plain")->status, 201);

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(out[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  auto logged = readLog(log);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].path, "/one");
  EXPECT_EQ(logged[0].answeredStatus, 500);
  EXPECT_EQ(logged[1].body, "2");
  EXPECT_EQ(logged[1].answeredStatus, 201);
}

TEST(IngestionSinkProcess, BadArgumentsExitWithUsage) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--max-seconds", "0"}, std::vector<std::string>{"--port", "70000"},
        std::vector<std::string>{"--bogus", "1"}, std::vector<std::string>{"--script", "/nonexistent.json"}}) {
    args.insert(args.begin(), INGESTION_SINK_EXECUTABLE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2) << args[1];
  }
}
#endif

}  // namespace

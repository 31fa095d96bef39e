// The real `morvalent` on a scenario: the snapshots it writes show the preview
// panel above Mail's Dock icon and then the picked window in front, and the
// local ingestion sink receives the usage event of the pick. Everything the
// program writes stays under a temporary root; its telemetry goes to the sink
// on 127.0.0.1.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <map>
#include <nlohmann/json.hpp>

#include "platform/foundation/TestSupport.h"
#include "platform/image/Bitmap.h"
#include "platform/image/PNG.h"
#include "tools/ingestion-sink/IngestionSink.h"

extern char** environ;

namespace {

// Top-left points of the scenario (one point is one pixel at scale 1).
constexpr int kMailIconX = 398;
constexpr int kThumbnailRow = 726;  // through both thumbnails of the panel
constexpr int kPanelBottomRow = 822;  // inside the panel, just above its bottom edge
constexpr int kOverlapX = 450, kOverlapY = 300;  // where the Inbox covers the Drafts window

constexpr img::Pixel kInbox{0x3B, 0x6E, 0xC8, 255};
constexpr img::Pixel kDrafts{0xC8, 0x50, 0x3B, 255};

bool near(const img::Pixel& a, const img::Pixel& b) {
  return std::abs(a.r - b.r) <= 6 && std::abs(a.g - b.g) <= 6 && std::abs(a.b - b.b) <= 6;
}

// The x of every pixel of the row that has the colour.
std::vector<int> columnsWith(const img::Bitmap& bitmap, int row, const img::Pixel& colour) {
  std::vector<int> out;
  for (int x = 0; x < bitmap.pixelsWide(); ++x) {
    if (near(bitmap.pixel(x, row), colour)) out.push_back(x);
  }
  return out;
}

bool isPanelMaterial(const img::Pixel& p) { return p.r > 200 && p.g > 200 && p.b > 200; }

// Runs the program with the environment changed; its exit status, or -1.
int run(const std::vector<std::string>& arguments, const std::vector<std::string>& overrides) {
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& o : overrides) replaced = replaced || entry.rfind(o.substr(0, o.find('=') + 1), 0) == 0;
    if (!replaced) environment.push_back(entry);
  }
  environment.insert(environment.end(), overrides.begin(), overrides.end());
  std::vector<char*> argv, envp;
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Each log of an upload's JSON body, as one comparable text.
std::vector<std::string> logsOf(const ingestion_sink::RecordedRequest& request) {
  std::vector<std::string> out;
  const auto body = nlohmann::json::parse(request.content(), nullptr, false);
  if (body.is_object() && body.contains("logs") && body["logs"].is_array()) {
    for (const auto& log : body["logs"]) out.push_back(log.dump());
  }
  return out;
}

ingestion_sink::Script redirectOnce(int status, const std::string& location) {
  ingestion_sink::Script script;
  ingestion_sink::ScriptedResponse redirect;
  redirect.status = status;
  redirect.headers = {{"Location", location}};
  script.responses.push_back(redirect);
  return script;
}

}  // namespace

TEST(MorvalentEndToEnd, PreviewSnapshotsAndTheSelectEventReachTheSink) {
  ingestion_sink::Options options;
  options.maxSeconds = 120;
  ingestion_sink::Sink sink(options);
  ASSERT_TRUE(sink.start());

  ns::test::TemporaryDirectory root("morvalent-e2e");
  const std::string snapshots = root.file("snapshots");
  // The script takes about five seconds; the Analytics channel sends its
  // first batch about nine seconds after the start (its flush interval is six).
  const int status = run({MORVALENT_EXECUTABLE, "--scenario", MORVALENT_E2E_SCENARIO, "--snapshots", snapshots,
                          "--run-for", "16"},
                         {"XDG_CONFIG_HOME=" + root.file("config"), "XDG_DATA_HOME=" + root.file("data"),
                          "XDG_CACHE_HOME=" + root.file("cache"), "HOME=" + root.path(),
                          "MORVALENT_INGESTION_URL=" + sink.baseURL()});
  ASSERT_EQ(status, 0);

  const auto before = img::loadPNG(snapshots + "/before.png");
  const auto preview = img::loadPNG(snapshots + "/preview.png");
  const auto selected = img::loadPNG(snapshots + "/selected.png");
  ASSERT_TRUE(before && preview && selected);
  ASSERT_EQ(preview->pixelsWide(), 1440);
  ASSERT_EQ(preview->pixelsHigh(), 900);

  // Before the hover the Dock's surroundings are bare desktop.
  EXPECT_FALSE(isPanelMaterial(before->pixel(kMailIconX, kPanelBottomRow)));
  EXPECT_TRUE(columnsWith(*before, kThumbnailRow, kInbox).empty());

  // The panel stands above Mail's icon with the Inbox thumbnail on the left
  // of the icon's centre and the Drafts one on its right.
  EXPECT_TRUE(isPanelMaterial(preview->pixel(kMailIconX, kPanelBottomRow)));
  const auto inbox = columnsWith(*preview, kThumbnailRow, kInbox);
  const auto drafts = columnsWith(*preview, kThumbnailRow, kDrafts);
  ASSERT_GT(inbox.size(), 100u);
  ASSERT_GT(drafts.size(), 100u);
  EXPECT_LT(inbox.back(), kMailIconX);
  EXPECT_GT(drafts.front(), kMailIconX);
  EXPECT_TRUE(near(preview->pixel(kOverlapX, kOverlapY), kInbox));

  // The click on the Drafts thumbnail brought that window to the front and
  // hid the panel.
  EXPECT_TRUE(near(selected->pixel(kOverlapX, kOverlapY), kDrafts));
  EXPECT_TRUE(columnsWith(*selected, kThumbnailRow, kInbox).empty());
  EXPECT_FALSE(isPanelMaterial(selected->pixel(kMailIconX, kPanelBottomRow)));

  bool selectEventSent = false;
  for (const auto& request : sink.requests()) {
    if (request.content().find("\"dockPreview_SelectWindow\"") != std::string::npos) selectEventSent = true;
  }
  EXPECT_TRUE(selectEventSent) << sink.requests().size() << " request(s) received";
}

// A portal that answers an upload with 302 must not turn it into a body-less
// request that "succeeds": those logs stay stored and go out at the next
// launch; a 307 carries the same body to the other server.
TEST(MorvalentEndToEnd, RedirectedUploadsArriveOnceInABodyOrStayStored) {
  ingestion_sink::Options options;
  options.maxSeconds = 120;
  ingestion_sink::Sink ingestion(options), elsewhere(options);
  ASSERT_TRUE(ingestion.start());
  ASSERT_TRUE(elsewhere.start());
  const std::string location = elsewhere.baseURL() + "/logs?api-version=1.0.0";

  ns::test::TemporaryDirectory root("morvalent-e2e-redirect");
  const std::vector<std::string> environment{"XDG_CONFIG_HOME=" + root.file("config"),
                                             "XDG_DATA_HOME=" + root.file("data"),
                                             "XDG_CACHE_HOME=" + root.file("cache"), "HOME=" + root.path(),
                                             "MORVALENT_INGESTION_URL=" + ingestion.baseURL()};
  const std::vector<std::string> program{MORVALENT_EXECUTABLE, "--scenario", MORVALENT_E2E_SCENARIO,
                                         "--run-for", "16"};
  ingestion.setScript(redirectOnce(302, location));
  ASSERT_EQ(run(program, environment), 0);
  ingestion.setScript(redirectOnce(307, location));
  ASSERT_EQ(run(program, environment), 0);

  std::vector<std::string> refused, forwarded;
  std::map<std::string, int> delivered;
  for (const auto& request : ingestion.requests()) {
    if (request.answeredStatus == 307) forwarded.push_back(request.content());
    for (const auto& log : logsOf(request)) {
      if (request.answeredStatus == 302) refused.push_back(log);
      if (request.answeredStatus == 200) ++delivered[log];
    }
  }
  ASSERT_FALSE(refused.empty()) << "no upload was answered with 302";
  const auto received = elsewhere.requests();
  ASSERT_EQ(received.size(), 1u) << "the 307 reached the other server once";
  EXPECT_EQ(received[0].method, "POST");
  ASSERT_EQ(forwarded.size(), 1u);
  EXPECT_EQ(received[0].content(), forwarded[0]);
  for (const auto& log : logsOf(received[0])) ++delivered[log];

  for (const auto& [log, times] : delivered) EXPECT_EQ(times, 1) << log;
  for (const auto& log : refused) EXPECT_EQ(delivered.count(log), 1u) << "not delivered after the 302: " << log;
}

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
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

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

// A portal's 302 must not turn an upload into a body-less request that "succeeds": its logs go out at the next launch,
// where a 307 carries the same body to the other server. Every log arrives once.
TEST(MorvalentEndToEnd, RedirectedUploadsArriveOnceInABodyOrStayStored) {
  ingestion_sink::Sink ingestion, elsewhere;
  ASSERT_TRUE(ingestion.start() && elsewhere.start());
  ns::test::TemporaryDirectory root("morvalent-e2e-redirect");
  for (const std::string status : {"302", "307"}) {
    ingestion.setScript(*ingestion_sink::Script::fromJson(R"([{"status": )" + status +
                                                          R"(, "headers": {"Location": ")" + elsewhere.baseURL() +
                                                          R"(/logs?api-version=1.0.0"}}])"));
    ASSERT_EQ(run({MORVALENT_EXECUTABLE, "--scenario", MORVALENT_E2E_SCENARIO, "--run-for", "16"},
                  {"XDG_CONFIG_HOME=" + root.file("config"), "XDG_DATA_HOME=" + root.file("data"),
                   "XDG_CACHE_HOME=" + root.file("cache"), "HOME=" + root.path(),
                   "MORVALENT_INGESTION_URL=" + ingestion.baseURL()}),
              0);
  }
  auto logsOf = [](const ingestion_sink::RecordedRequest& r) { return nlohmann::json::parse(r.content())["logs"]; };
  std::multiset<std::string> refused, delivered;
  std::vector<std::string> forwarded;
  for (const auto& request : ingestion.requests()) {
    if (request.answeredStatus == 307) forwarded.push_back(request.content());
    for (const auto& log : logsOf(request)) {
      if (request.answeredStatus == 302) refused.insert(log.dump());
      if (request.answeredStatus == 200) delivered.insert(log.dump());
    }
  }
  const auto received = elsewhere.requests();
  ASSERT_EQ(received.size(), 1u) << "the 307 reached the other server once";
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(forwarded, std::vector<std::string>{received[0].content()});
  for (const auto& log : logsOf(received[0])) delivered.insert(log.dump());
  ASSERT_FALSE(refused.empty()) << "no upload was answered with 302";
  for (const auto& log : delivered) EXPECT_EQ(delivered.count(log), 1u) << log;
  for (const auto& log : refused) EXPECT_EQ(delivered.count(log), 1u) << "not delivered after the 302: " << log;
}

#include <gtest/gtest.h>

#include "platform/sim/Scenario.h"
#include "platform/windowserver/CGDisplay.h"
#include "platform/windowserver/CGSSpace.h"

namespace {

using namespace cgs;

const char* const kDesk = R"({
  "displays": [{"id": 1, "uuid": "37d8832a-2d66-02ca-b9f7-8f30a301b230", "frame": [0, 0, 1000, 800],
                "spaces": [{"id": 1}, {"id": 2}]},
               {"id": 2, "frame": [1000, 0, 800, 600], "spaces": [{"id": 7}], "uuidUnavailable": true}],
  "applications": [{"pid": 501, "windows": [{"id": 11, "frame": [0, 0, 200, 100], "spaces": [2]},
                                            {"id": 12, "frame": [0, 0, 200, 100], "spaces": [1]}]}]
})";

ns::Value list(std::initializer_list<std::uint64_t> ids) {
  ns::Array a;
  for (auto id : ids) a.push_back(ns::Value(id));
  return ns::Value(std::move(a));
}

std::vector<std::uint64_t> numbers(const std::optional<ns::Value>& value) {
  std::vector<std::uint64_t> out;
  for (const auto& v : *value->array()) out.push_back(*v.asUInt64());
  return out;
}

TEST(CGS, OnlyTheMainConnectionIsAnswered) {
  sim::ScopedScenario s(kDesk);
  const CGSConnectionID cid = CGSMainConnectionID();
  EXPECT_TRUE(CGSCopyManagedDisplaySpaces(cid));
  EXPECT_FALSE(CGSCopyManagedDisplaySpaces(cid + 12345));
  EXPECT_FALSE(CGSCopySpaces(-1, kCGSCurrentSpacesMask));
  EXPECT_EQ(CGSAddWindowsToSpaces(-1, list({11}), list({1})), kCGErrorInvalidConnection);
}

TEST(CGS, MovesWindowsBetweenSpacesForACollection) {
  sim::ScopedScenario s(kDesk);
  const CGSConnectionID cid = CGSMainConnectionID();
  EXPECT_EQ(numbers(CGSCopySpaces(cid, kCGSCurrentSpacesMask)), (std::vector<std::uint64_t>{1, 7}));
  EXPECT_EQ(numbers(CGSCopySpaces(cid, kCGSOtherSpacesMask)), (std::vector<std::uint64_t>{2}));
  std::uint64_t setTags = 0, clearTags = 0;
  EXPECT_EQ(numbers(CGSCopyWindowsWithOptionsAndTags(cid, 0, list({2}), 2, &setTags, &clearTags)),
            (std::vector<std::uint64_t>{11}));
  ASSERT_EQ(CGSAddWindowsToSpaces(cid, list({11}), list({1})), kCGErrorSuccess);
  EXPECT_EQ(numbers(CGSCopySpacesForWindows(cid, kCGSAllSpacesMask, list({11}))), (std::vector<std::uint64_t>{1, 2}));
  ASSERT_EQ(CGSRemoveWindowsFromSpaces(cid, list({11}), list({1})), kCGErrorSuccess);
  EXPECT_EQ(numbers(CGSCopySpacesForWindows(cid, kCGSAllSpacesMask, list({11}))), (std::vector<std::uint64_t>{2}));
}

TEST(CGS, RefusesListsThatAreNotIds) {
  sim::ScopedScenario s(kDesk);
  const CGSConnectionID cid = CGSMainConnectionID();
  EXPECT_FALSE(CGSCopySpacesForWindows(cid, 7, ns::Value("11")));
  EXPECT_FALSE(CGSCopySpacesForWindows(cid, 7, ns::Value(ns::Array{ns::Value(-1)})));
  EXPECT_FALSE(CGSCopySpacesForWindows(cid, 7, ns::Value(ns::Array{ns::Value(1.5)})));
  EXPECT_FALSE(CGSCopySpacesForWindows(cid, 7, ns::Value(ns::Array{ns::Value(std::uint64_t{1} << 40)})));
  EXPECT_EQ(CGSAddWindowsToSpaces(cid, ns::Value("x"), list({1})), kCGErrorIllegalArgument);
}

TEST(CGS, CapturesTheWindowsAsked) {
  sim::ScopedScenario s(kDesk);
  const CGWindowID ids[] = {12, 11};
  auto images = CGSHWCaptureWindowList(CGSMainConnectionID(), ids, 2, kCGSCaptureNominalResolution | kCGSCaptureIgnoreGlobalClipShape);
  ASSERT_TRUE(images);
  ASSERT_EQ(images->size(), 2u);
  EXPECT_EQ(CGImageGetWidth((*images)[0]), 200u);
  EXPECT_EQ(CGImageGetHeight((*images)[0]), 100u);
  EXPECT_FALSE(CGSHWCaptureWindowList(CGSMainConnectionID(), nullptr, 1, 0));
  EXPECT_TRUE(CGSHWCaptureWindowList(CGSMainConnectionID(), nullptr, 0, 0)->empty());
}

TEST(CGDisplay, UUIDsInTheWindowServersSpelling) {
  sim::ScopedScenario s(kDesk);
  auto uuid = CGDisplayCreateUUIDFromDisplayID(1);
  ASSERT_TRUE(uuid);
  EXPECT_EQ(CFUUIDCreateString(*uuid), "37D8832A-2D66-02CA-B9F7-8F30A301B230");
  auto managed = CGSCopyManagedDisplaySpaces(CGSMainConnectionID());
  EXPECT_EQ(*managed->at(0)->find("Display Identifier"), ns::Value(CFUUIDCreateString(*uuid)));
  EXPECT_FALSE(CGDisplayCreateUUIDFromDisplayID(2));   // the fault
  EXPECT_FALSE(CGDisplayCreateUUIDFromDisplayID(99));  // no such display
}

TEST(CGDisplay, ScreenCaptureAccess) {
  sim::ScopedScenario s(R"({"permissions": {"screenCapture": false}})");
  EXPECT_FALSE(CGPreflightScreenCaptureAccess());
  EXPECT_FALSE(CGRequestScreenCaptureAccess());
  EXPECT_EQ(sim::World::shared().screenCaptureRequestCount(), 1);
  sim::World::shared().setScreenCaptureAllowed(true);
  EXPECT_TRUE(CGPreflightScreenCaptureAccess());
}

}  // namespace

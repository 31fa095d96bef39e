#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/TestSupport.h"

namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

mode_t permissions(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

size_t entries(const std::string& directory) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++n;
  return n;
}

// Restores the process's umask when it goes.
struct ScopedUmask {
  explicit ScopedUmask(mode_t mask) : previous(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous); }
  mode_t previous;
};

TEST(AtomicFile, ReplacesTheWholeFileAndLeavesNothingBeside) {
  ns::test::TemporaryDirectory dir;
  const std::string path = dir.path() + "/list.json";
  ASSERT_EQ(ns::writeFileAtomically(path, std::string(5000, 'a'), 0600), 0);
  ASSERT_EQ(ns::writeFileAtomically(path, ns::Data{'o', 'k'}, 0600), 0);
  EXPECT_EQ(contents(path), "ok");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, TheModeIsExactUnlessTheUmaskIsAskedFor) {
  ns::test::TemporaryDirectory dir;
  const ScopedUmask mask(077);
  const std::string exact = dir.path() + "/exact";
  const std::string masked = dir.path() + "/masked";
  ASSERT_EQ(ns::writeFileAtomically(exact, "x", 0644), 0);
  ASSERT_EQ(ns::writeFileAtomically(masked, "x", 0644, /*applyUmask=*/true), 0);
  EXPECT_EQ(permissions(exact), 0644u);
  EXPECT_EQ(permissions(masked), 0600u);
}

TEST(AtomicFile, AFailureNamesItsErrorAndKeepsTheTargetAsItWas) {
  ns::test::TemporaryDirectory dir;
  EXPECT_EQ(ns::writeFileAtomically(dir.path() + "/missing/file", "x", 0600), ENOENT);

  // A directory in the target's place can't be renamed over.
  const std::string occupied = dir.path() + "/occupied";
  std::filesystem::create_directory(occupied);
  std::ofstream(occupied + "/inside") << "kept";
  EXPECT_NE(ns::writeFileAtomically(occupied, "x", 0600), 0);
  EXPECT_EQ(contents(occupied + "/inside"), "kept");
  EXPECT_EQ(entries(dir.path()), 1u);
}

}  // namespace

#pragma once
// Helpers for the tests of every module: a temporary directory that removes
// itself, scoped redirection of the standard directories and of the standard
// user defaults, and one test of the program run as a process of its own.
// Header-only; needs no test framework.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"

namespace ns::test {

// A fresh directory under the temporary directory, removed with its contents
// when the object goes away.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::string& prefix = "morvalent") {
        std::string templ = paths::appendingPathComponent(paths::temporaryDirectory(), prefix + "-XXXXXX");
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed for " + templ);
        path_ = buf.data();
    }
    ~TemporaryDirectory() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return paths::appendingPathComponent(path_, name); }

private:
    std::string path_;
};

// Points Application Support, Caches and Preferences under a temporary root
// for the lifetime of the object, then restores what was there before.
class ScopedPathsRoot {
public:
    ScopedPathsRoot() : previous_(paths::rootForTesting()) { paths::setRootForTesting(dir_.path()); }
    ~ScopedPathsRoot() { paths::setRootForTesting(previous_); }
    ScopedPathsRoot(const ScopedPathsRoot&) = delete;
    ScopedPathsRoot& operator=(const ScopedPathsRoot&) = delete;

    const std::string& root() const { return dir_.path(); }

private:
    TemporaryDirectory dir_{"morvalent-root"};
    std::optional<std::string> previous_;
};

// Installs a fresh standard user defaults (in memory unless one is given) and
// restores the previous one afterwards.
class ScopedStandardDefaults {
public:
    explicit ScopedStandardDefaults(std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory())
        : previous_(UserDefaults::standard()), current_(std::move(defaults)) {
        UserDefaults::setStandard(current_);
    }
    ~ScopedStandardDefaults() { UserDefaults::setStandard(previous_); }
    ScopedStandardDefaults(const ScopedStandardDefaults&) = delete;
    ScopedStandardDefaults& operator=(const ScopedStandardDefaults&) = delete;

    UserDefaults& operator*() const { return *current_; }
    UserDefaults* operator->() const { return current_.get(); }
    const std::shared_ptr<UserDefaults>& get() const { return current_; }

private:
    std::shared_ptr<UserDefaults> previous_;
    std::shared_ptr<UserDefaults> current_;
};

// One test of the running test program in a process of its own, for what
// only a separate process shows (being killed, exiting mid-work). The child
// runs with --gtest_filter=<test> and the extra environment entries; it tells
// the parent how far it got with report() and may block in holdUntilKilled().
// A child test skips unless isChild().
class ChildTest {
 public:
  ChildTest(const std::string& test, const std::vector<std::string>& environment) {
    int report[2];
    int hold[2];
    if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(hold, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    char exe[4096];
    const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) throw std::runtime_error("readlink /proc/self/exe failed");
    exe[length] = '\0';
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) env.emplace_back(*entry);
    env.insert(env.end(), environment.begin(), environment.end());
    env.push_back(std::string(kReportVariable) + "=" + std::to_string(report[1]));
    env.push_back(std::string(kHoldVariable) + "=" + std::to_string(hold[0]));
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string filter = "--gtest_filter=" + test;
    std::vector<char*> argv{exe, filter.data(), nullptr};
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      // The child's ends stay open across exec; the parent's do not.
      ::fcntl(report[1], F_SETFD, 0);
      ::fcntl(hold[0], F_SETFD, 0);
      ::execve(exe, argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(report[1]);
    ::close(hold[0]);
    reportFd_ = report[0];
    holdFd_ = hold[1];
  }
  ~ChildTest() {
    if (pid_ > 0) kill();
    if (reportFd_ >= 0) ::close(reportFd_);
  }
  ChildTest(const ChildTest&) = delete;
  ChildTest& operator=(const ChildTest&) = delete;

  // The next line the child reported; nullopt once it exited or the time is up.
  std::optional<std::string> readLine(double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
      if (auto end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd readable{reportFd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      char chunk[256];
      const ssize_t n = ::read(reportFd_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // Ends the child with SIGKILL; its wait status.
  int kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    return reap();
  }
  // Lets the child end by itself, with SIGKILL after the timeout; its wait status.
  int wait(double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) return kill();
      ::usleep(2000);
    }
    pid_ = -1;
    closeHold();
    return status;
  }

  // In the child.
  static bool isChild() { return std::getenv(kReportVariable) != nullptr; }
  static void report(const std::string& line) {
    const std::string text = line + "\n";
    if (const char* fd = std::getenv(kReportVariable)) (void)!::write(std::atoi(fd), text.data(), text.size());
  }
  // Blocks until killed; should the parent go away first, the child ends.
  [[noreturn]] static void holdUntilKilled() {
    char byte = 0;
    if (const char* fd = std::getenv(kHoldVariable)) (void)!::read(std::atoi(fd), &byte, 1);
    std::_Exit(1);
  }

 private:
  static constexpr const char* kReportVariable = "MORVALENT_CHILD_TEST_REPORT_FD";
  static constexpr const char* kHoldVariable = "MORVALENT_CHILD_TEST_HOLD_FD";

  int reap() {
    int status = 0;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    pid_ = -1;
    closeHold();
    return status;
  }
  void closeHold() {
    if (holdFd_ >= 0) ::close(holdFd_);
    holdFd_ = -1;
  }

  pid_t pid_ = -1;
  int reportFd_ = -1;
  int holdFd_ = -1;
  std::string buffer_;
};

}  // namespace ns::test

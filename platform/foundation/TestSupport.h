#pragma once
// Helpers for the tests of every module: a temporary directory that removes
// itself, scoped redirection of the standard directories and of the standard
// user defaults. Header-only; needs no test framework.

#include <stdlib.h>

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

}  // namespace ns::test

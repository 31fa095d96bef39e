#include "platform/foundation/Log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>

namespace ns {

struct LogCapture::State {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
};

namespace {

struct LogSinks {
    std::mutex mutex;
    std::vector<std::shared_ptr<LogCapture::State>> captures;
    std::string processName;
    bool processNameSet = false;
};

LogSinks& sinks() {
    static LogSinks* s = new LogSinks();  // never destroyed: NSLog may run during exit
    return *s;
}

std::atomic<int> gSilencers{0};
std::atomic<bool> gStderrEnabled{true};

std::string defaultProcessName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    if (comm && std::getline(comm, name) && !name.empty()) return name;
    return "process";
}

std::string timestamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    const time_t secs = static_cast<time_t>(ms / 1000);
    struct tm tm {};
    localtime_r(&secs, &tm);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    return buf;
}

void writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace

void setLogProcessName(std::string name) {
    auto& s = sinks();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.processName = std::move(name);
    s.processNameSet = true;
}

std::string logProcessName() {
    auto& s = sinks();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.processNameSet) {
        s.processName = defaultProcessName();
        s.processNameSet = true;
    }
    return s.processName;
}

void setLogToStderr(bool enabled) { gStderrEnabled.store(enabled); }

void NSLog(std::string_view line) {
    std::vector<std::shared_ptr<LogCapture::State>> captures;
    {
        auto& s = sinks();
        std::lock_guard<std::mutex> lock(s.mutex);
        captures = s.captures;
    }
    for (const auto& c : captures) {
        std::lock_guard<std::mutex> lock(c->mutex);
        c->lines.emplace_back(line);
    }
    if (gSilencers.load() > 0 || !gStderrEnabled.load()) return;

    std::string text = timestamp();
    text += ' ';
    text += logProcessName();
    text += '[';
    text += std::to_string(::getpid());
    text += ':';
    text += std::to_string(static_cast<long>(::syscall(SYS_gettid)));
    text += "] ";
    text.append(line.data(), line.size());
    text += '\n';
    writeAll(STDERR_FILENO, text);
}

LogCapture::LogCapture(bool silenceStderr) : state_(std::make_shared<State>()), silenced_(silenceStderr) {
    auto& s = sinks();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.captures.push_back(state_);
    if (silenced_) gSilencers.fetch_add(1);
}

LogCapture::~LogCapture() {
    auto& s = sinks();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.captures.erase(std::remove(s.captures.begin(), s.captures.end(), state_), s.captures.end());
    if (silenced_) gSilencers.fetch_sub(1);
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lines;
}

size_t LogCapture::count() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lines.size();
}

size_t LogCapture::countContaining(std::string_view text) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<size_t>(std::count_if(state_->lines.begin(), state_->lines.end(), [&](const std::string& l) {
        return l.find(text) != std::string::npos;
    }));
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->lines.clear();
}

}  // namespace ns

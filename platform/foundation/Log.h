#pragma once
// NSLog stand-in. The line is literal text: it is never interpreted as a
// format, so a "%" in a title or an identifier is written unchanged.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ns {

// Writes "<yyyy-MM-dd HH:mm:ss.SSS> <process name>[<pid>:<tid>] <line>" to
// stderr (local time) and hands the bare line to every active LogCapture.
// Safe from any thread; each line is written with a single write call.
void NSLog(std::string_view line);

// The name shown in the prefix; defaults to the executable's name.
void setLogProcessName(std::string name);
std::string logProcessName();

// Turns the stderr copy off or on process-wide (captures still get the lines).
void setLogToStderr(bool enabled);

// Collects every NSLog line written while it lives, from any thread. Captures
// may be nested; each sees all lines. By default the lines are kept off stderr
// while at least one silencing capture is alive.
class LogCapture {
public:
    explicit LogCapture(bool silenceStderr = true);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    size_t count() const;
    // Lines that contain the text.
    size_t countContaining(std::string_view text) const;
    bool contains(std::string_view text) const { return countContaining(text) > 0; }
    void clear();

    struct State;

private:
    std::shared_ptr<State> state_;
    bool silenced_;
};

}  // namespace ns

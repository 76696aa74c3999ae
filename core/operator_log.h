#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace p2k {

// Where log text ends up: the window's log pane, a terminal, a test's memory.
// append may be called from the window thread and the monitor thread.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void append(std::string_view utf8) = 0;
};

// The operator's log. Every layer reports through appendLog; the texts are
// UTF-8 inside the program and converted only where a platform needs it.
class OperatorLog {
public:
    explicit OperatorLog(LogSink* sink = nullptr) : sink_(sink) {}

    void setSink(LogSink* sink) { sink_.store(sink); }

    // Does nothing while the quiet switch is 1 (and only 1).
    void appendLog(std::string_view utf8);
    // Logs utf8 (ending in a line end) as a line of its own: first ends the
    // line that an earlier text left open.
    void appendLine(std::string_view utf8);

    void setQuietSwitch(int32_t value) { quiet_.store(value); }
    int32_t quietSwitch() const { return quiet_.load(); }

private:
    std::atomic<LogSink*> sink_;
    std::atomic<int32_t> quiet_{0};
    std::atomic<bool> lineOpen_{false};
};

// Keeps everything appended, for tests and for front ends that print later.
class MemoryLogSink : public LogSink {
public:
    void append(std::string_view utf8) override;
    std::string text() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::string text_;
};

} // namespace p2k

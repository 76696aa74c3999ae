#pragma once

#include "core/main_window.h"
#include "link/clock.h"
#include "link/test_command_channel.h"

#include <atomic>
#include <cstdint>

namespace p2k {

// Keeps the window alive while a command runs on its thread: between two
// requests, at most every kIntervalMs, the window handles its waiting
// messages. Esc and the close box raise the interrupt flag, which the
// command honours at its next request; a close is remembered so that the
// window closes once the command has returned.
class CommandPump : public RequestGate {
public:
    static constexpr uint32_t kIntervalMs = 50;

    CommandPump(Clock& clock, std::atomic<bool>& interrupt) : clock_(clock), interrupt_(interrupt) {}

    // Around one command of window (none: nothing to pump); clears the
    // interrupt flag first.
    void begin(MainWindow* window);
    void end();

    void beforeRequest() override;

    // The close box while a command runs: interrupt it, close afterwards.
    void requestClose();
    // True once, after the command a close interrupted.
    bool takeCloseRequest();

private:
    void take(CommandGesture gesture);

    Clock& clock_;
    std::atomic<bool>& interrupt_;
    MainWindow* window_ = nullptr;
    uint32_t lastPumpMs_ = 0;
    bool closeRequested_ = false;
};

} // namespace p2k

#include "app/command_pump.h"

namespace p2k {

void CommandPump::begin(MainWindow* window)
{
    interrupt_.store(false);
    closeRequested_ = false;
    window_ = window;
    lastPumpMs_ = clock_.tickMs();
}

void CommandPump::end()
{
    window_ = nullptr;
}

void CommandPump::beforeRequest()
{
    if (window_ == nullptr)
        return;
    // Requests come every few milliseconds; handling messages that often
    // would slow the transfer for nothing the operator could see.
    const uint32_t now = clock_.tickMs();
    if (now - lastPumpMs_ < kIntervalMs)
        return;
    lastPumpMs_ = now;
    take(window_->handleMessagesDuringCommand());
}

void CommandPump::take(CommandGesture gesture)
{
    if (gesture == CommandGesture::Close)
        requestClose();
    else if (gesture == CommandGesture::Cancel)
        interrupt_.store(true);
}

void CommandPump::requestClose()
{
    closeRequested_ = true;
    interrupt_.store(true);
}

bool CommandPump::takeCloseRequest()
{
    const bool requested = closeRequested_;
    closeRequested_ = false;
    return requested;
}

} // namespace p2k

#include "link/connection_monitor.h"

#include <algorithm>
#include <string>
#include <utility>

namespace p2k {

namespace {

constexpr uint32_t kSearchIntervalMs = 1000;
constexpr uint32_t kAfterRemovalMs = 5000;
// Pauses are slept in slices this long so that a stop request ends them soon.
constexpr uint32_t kStopCheckMs = 100;

} // namespace

ConnectionMonitor::ConnectionMonitor(PhoneLink& link, PhonePlatform& platform, Clock& clock, Notify notify)
    : link_(link), platform_(platform), clock_(clock), notify_(std::move(notify))
{
}

ConnectionMonitor::~ConnectionMonitor()
{
    requestStop();
    if (thread_.joinable())
        thread_.join();
}

void ConnectionMonitor::start()
{
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] {
        while (!stopping())
            runCycle();
    });
}

void ConnectionMonitor::requestStop()
{
    stop_.request_stop();
}

void ConnectionMonitor::runCycle()
{
    if (!pause(kSearchIntervalMs))
        return;
    switchModemPhone();
    if (stopping())
        return;
    FoundPhone phone = platform_.findPhone();
    if (!phone.device || stopping())
        return;
    connect(std::move(phone.device));
    platform_.waitForRemoval(phone.devicePath, stop_.get_token());
    disconnect();
    pause(kAfterRemovalMs);
}

// True when the whole pause passed, false when a stop request cut it short.
bool ConnectionMonitor::pause(uint32_t ms)
{
    while (ms > 0 && !stopping()) {
        const uint32_t slice = std::min(ms, kStopCheckMs);
        clock_.sleepMs(slice);
        ms -= slice;
    }
    return !stopping();
}

// A phone that shows itself as a USB modem gets the mode switch text and
// time to bring up its command interface.
void ConnectionMonitor::switchModemPhone()
{
    std::string port;
    if (platform_.findModemPort(port) != 0)
        return;
    platform_.switchToCommandMode(port);
    pause(kAfterModemSwitchMs);
}

void ConnectionMonitor::announce(int32_t connected)
{
    if (notify_ && !stopping())
        notify_(connected);
}

// The flag is set before the announcement, so that a window reacting to it
// already finds commands allowed.
void ConnectionMonitor::connect(std::unique_ptr<UsbTransport> device)
{
    link_.attach(std::move(device));
    link_.setConnectedFlag(1);
    announce(1);
}

// The release waits for a request in progress; only then does the flag drop
// and the window hear of it.
void ConnectionMonitor::disconnect()
{
    link_.release();
    link_.setConnectedFlag(0);
    announce(0);
}

} // namespace p2k

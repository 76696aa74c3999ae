#pragma once

#include "link/clock.h"
#include "link/phone_link.h"
#include "link/phone_platform.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <thread>

namespace p2k {

// The background thread that finds the phone, announces it, waits for its
// removal and announces the loss, for the life of the program.
class ConnectionMonitor {
public:
    // Called on the monitor thread: 1 connected, 0 disconnected.
    using Notify = std::function<void(int32_t connected)>;

    ConnectionMonitor(PhoneLink& link, PhonePlatform& platform, Clock& clock, Notify notify);
    ~ConnectionMonitor();
    ConnectionMonitor(const ConnectionMonitor&) = delete;
    ConnectionMonitor& operator=(const ConnectionMonitor&) = delete;

    // Starts the monitor thread; it loops until stop is requested.
    void start();
    // One pass of the loop, on the calling thread (tests).
    void runCycle();
    // Asks the loop to end at its next step: pauses are cut short, a removal
    // wait returns, a connected phone is released and the flag cleared. No
    // notification starts after the request. The destructor also waits for
    // the thread, so a notify that blocks on the destroying thread (a
    // synchronous send to a window whose thread is in the destructor) would
    // deadlock: destroy the monitor after the window has gone.
    void requestStop();

private:
    bool stopping() const { return stop_.stop_requested(); }
    bool pause(uint32_t ms);
    void switchModemPhone();
    void announce(int32_t connected);
    void connect(std::unique_ptr<UsbTransport> device);
    void disconnect();

    PhoneLink& link_;
    PhonePlatform& platform_;
    Clock& clock_;
    Notify notify_;
    std::stop_source stop_;
    std::thread thread_;
};

} // namespace p2k

#pragma once

#include "link/usb_transport.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace p2k {

// The one connection to the phone: the open command interface (the device)
// and the connected flag that every operator command checks.
//
// The device is used by the window thread inside transact and released by the
// monitor thread on removal; both go through one mutex, so a release never
// closes the device in the middle of a request.
class PhoneLink {
public:
    // Takes ownership of an open command interface.
    void attach(std::unique_ptr<UsbTransport> device)
    {
        std::lock_guard lock(mutex_);
        device_ = std::move(device);
        gone_.store(false);
    }

    // Closes the device; waits for a request in progress to finish first.
    void release()
    {
        std::lock_guard lock(mutex_);
        device_.reset();
    }

    bool hasDevice()
    {
        std::lock_guard lock(mutex_);
        return device_ != nullptr;
    }

    // 1 while a phone is connected, 0 otherwise. Only the value 1 counts.
    int32_t connectedFlag() const { return connected_.load(); }
    void setConnectedFlag(int32_t value) { connected_.store(value); }

    // Set once a request has met a device that is no longer there; a new
    // device clears it.
    void markGone() { gone_.store(true); }
    bool gone() const { return gone_.load(); }

    // Runs fn(UsbTransport*) with the device held; the pointer is null when no
    // device is open.
    template <class Fn>
    auto withDevice(Fn&& fn)
    {
        std::lock_guard lock(mutex_);
        return fn(device_.get());
    }

private:
    std::mutex mutex_;
    std::unique_ptr<UsbTransport> device_;
    std::atomic<int32_t> connected_{0};
    std::atomic<bool> gone_{false};
};

} // namespace p2k

#pragma once

#include "link/usb_transport.h"

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

namespace p2k {

// What a phone in modem mode is sent on its modem port to bring up its
// command interface.
inline constexpr std::string_view kModeSwitchText = "at+mode=8\r\n";
// How long the modem port may take to accept the text: the 11 bytes leave a
// working port at once, so a port that has not taken them by then is stuck,
// and the monitor thread goes on rather than hanging in the write.
inline constexpr uint32_t kPortWriteTimeoutMs = 1000;
// How long the port is given to answer before its reply is taken.
inline constexpr uint32_t kModeSwitchReplyWaitMs = 2000;
// How long the phone is given to bring its command interface up after that.
inline constexpr uint32_t kAfterModemSwitchMs = 5000;

// A phone's command interface as discovery found it.
struct FoundPhone {
    std::unique_ptr<UsbTransport> device; // open, ready for transact
    std::string devicePath;               // the interface path, for the removal watch
};

// What the connection monitor needs of the platform. Every operation runs on
// the monitor thread.
class PhonePlatform {
public:
    virtual ~PhonePlatform() = default;

    // 0 and the port's name when the serial-port map names the phone's modem
    // port ("COM..."); -1 otherwise. Does not block.
    virtual int findModemPort(std::string& portName) = 0;

    // Writes "at+mode=8\r\n" to the port, waits 2000 ms for a reply and takes
    // whatever arrived, unexamined. Failures are silent.
    virtual void switchToCommandMode(const std::string& portName) = 0;

    // Walks the present interfaces of the phone's class and opens the first
    // whose string descriptor 2 reads "Motorola Test Command". Empty device
    // when none matched. May log the descriptor request's transport texts.
    virtual FoundPhone findPhone() = 0;

    // Blocks until the phone's device entry changes (removal); returns at
    // once when the change cannot be watched, and early when stop is
    // requested (also when it was requested before the call), so that the
    // monitor can be ended while a phone is connected.
    virtual void waitForRemoval(const std::string& devicePath, std::stop_token stop) = 0;
};

} // namespace p2k

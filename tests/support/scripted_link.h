#pragma once

#include "link/test_command_channel.h"
#include "tests/support/scripted_transport.h"

#include <vector>

namespace p2k::test {

// A channel over a scripted transport, for testing the services above it:
// each scripted exchange is one request answered with a status and data.
class ScriptedLink {
public:
    ScriptedLink();

    // The next request is answered with status and data.
    void answerWith(uint8_t status, Bytes data = {});
    // The next request's answer never comes (the poll times out).
    void answerNever();

    // Request data of every request written, in order.
    std::vector<Bytes> requestsSent() const;
    Bytes lastRequestData() const;
    uint16_t lastOpcode() const;

    MemoryLogSink sink;
    OperatorLog log{&sink};
    FakeClock clock;
    PhoneLink link;
    ScriptedTransport* usb = nullptr;
    TestCommandChannel channel{link, log, clock};

private:
    uint16_t sequence_ = 0;
};

} // namespace p2k::test

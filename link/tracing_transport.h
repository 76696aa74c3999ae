#pragma once

#include "link/usb_transport.h"

#include <functional>
#include <memory>
#include <string>

namespace p2k {

// Wraps any transport and reports every control transfer as one line of hex:
// direction, the 8 setup bytes, then the data bytes (what was sent on OUT,
// what the phone sent on IN, without the driver prefix), or how it failed.
class TracingTransport : public UsbTransport {
public:
    using LineSink = std::function<void(const std::string&)>;

    TracingTransport(std::unique_ptr<UsbTransport> inner, LineSink sink)
        : inner_(std::move(inner)), sink_(std::move(sink)) {}

    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t timeoutMs) override;
    uint16_t interfaceNumber() const override { return inner_->interfaceNumber(); }

private:
    std::unique_ptr<UsbTransport> inner_;
    LineSink sink_;
};

// The trace line of one transfer; exposed so that every tracer agrees.
std::string formatTransfer(std::span<const uint8_t> input, std::span<const uint8_t> output,
                           const TransferResult& result);

} // namespace p2k

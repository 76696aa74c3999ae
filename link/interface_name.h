#pragma once

#include "link/usb_transport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace p2k {

class OperatorLog;

// The name (USB string descriptor 2) by which the phone's command interface
// is told apart from the other interfaces of its class.
inline constexpr std::string_view kCommandInterfaceName = "Motorola Test Command";
inline constexpr uint16_t kInterfaceNameIndex = 2;

// The driver's string-descriptor request. Input: the descriptor index, 2 bytes
// little-endian. Output: a 32-bit little-endian count of characters, then that
// many UTF-16LE units.
namespace descriptor {
inline constexpr size_t kInputSize = 2;
inline constexpr size_t kOutputSize = 261;
inline constexpr size_t kCountSize = 4;
inline constexpr uint32_t kTimeoutMs = 5000;
} // namespace descriptor

// Performs one string-descriptor request; the same contract as
// UsbTransport::controlTransfer (blocks at most timeoutMs, never writes more
// than output.size() bytes).
using DescriptorRequest =
    std::function<TransferResult(std::span<const uint8_t> input, std::span<uint8_t> output, uint32_t timeoutMs)>;

// Turns the driver's output into 8-bit text by keeping the low byte of each
// unit. The count is bounded by the units that actually arrived; the text ends
// early at the first unit whose low byte is zero, since 8-bit text cannot hold
// a NUL. False, with "USB: Answer size invlid!\r\n" logged, when fewer than 4
// bytes arrived.
bool decodeInterfaceName(std::span<const uint8_t> output, OperatorLog& log, std::string& name);

// Reads string descriptor `index` through request and decodes it. A request
// that did not complete logs its "USB: ..." text and fails.
bool readInterfaceName(const DescriptorRequest& request, uint16_t index, OperatorLog& log, std::string& name);

// Whole, case-sensitive comparison with the command interface's name.
bool isCommandInterfaceName(std::string_view name);

// Reads string descriptor `index` through request and compares it with the
// command interface's name; a failed read logs as readInterfaceName does.
bool hasCommandInterfaceName(const DescriptorRequest& request, uint16_t index, OperatorLog& log);

} // namespace p2k

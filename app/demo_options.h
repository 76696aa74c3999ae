#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace p2k {

// The demo program's test settings (the phone program takes none):
//   --hold-phone     the demo phone stays away until released
//   --log-limit=N    the log pane holds N units, so that tests reach the
//                    trimming of old lines quickly (N >= kMinLogLimit)
//   --command-interface=N
//                    the demo phone's command interface is interface N
//                    (0 to 255) instead of the usual 8
//   --unplug-after-requests N
//                    the demo phone goes away at its N-th request (N >= 1)
//                    and comes back kReplugDelayMs later
// Anything else is ignored, also a value out of range.
struct DemoOptions {
    bool holdPhone = false;
    std::optional<size_t> logLimit;
    std::optional<uint8_t> commandInterface;
    std::optional<uint32_t> unplugAfterRequests;
};

inline constexpr uint32_t kReplugDelayMs = 3000;

inline constexpr size_t kMinLogLimit = 256;

DemoOptions parseDemoOptions(std::span<const std::string> arguments);

// The event that lets a held-back demo phone attach: the demo program with
// that process id creates it, and a test sets it.
inline std::string demoAttachEventName(uint32_t processId)
{
    return "Local\\p2kfm-demo-attach-" + std::to_string(processId);
}

} // namespace p2k

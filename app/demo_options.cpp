#include "app/demo_options.h"

#include <charconv>
#include <cstdint>
#include <string_view>

namespace p2k {

namespace {

constexpr std::string_view kHoldPhone = "--hold-phone";
constexpr std::string_view kLogLimit = "--log-limit=";
constexpr std::string_view kCommandInterface = "--command-interface=";
constexpr std::string_view kUnplugAfterRequests = "--unplug-after-requests";

// A whole decimal number from lowest to highest.
std::optional<size_t> parseNumber(std::string_view digits, size_t lowest, size_t highest)
{
    size_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

std::optional<uint8_t> parseCommandInterface(std::string_view digits)
{
    const std::optional<size_t> number = parseNumber(digits, 0, UINT8_MAX);
    if (!number)
        return std::nullopt;
    return static_cast<uint8_t>(*number);
}

std::optional<uint32_t> parseUnplugAfterRequests(std::string_view digits)
{
    const std::optional<size_t> number = parseNumber(digits, 1, UINT32_MAX);
    if (!number)
        return std::nullopt;
    return static_cast<uint32_t>(*number);
}

} // namespace

DemoOptions parseDemoOptions(std::span<const std::string> arguments)
{
    DemoOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view text = arguments[i];
        if (text == kHoldPhone)
            options.holdPhone = true;
        else if (text.starts_with(kLogLimit))
            options.logLimit = parseNumber(text.substr(kLogLimit.size()), kMinLogLimit, SIZE_MAX);
        else if (text.starts_with(kCommandInterface))
            options.commandInterface = parseCommandInterface(text.substr(kCommandInterface.size()));
        else if (text == kUnplugAfterRequests && i + 1 < arguments.size())
            options.unplugAfterRequests = parseUnplugAfterRequests(arguments[++i]);
    }
    return options;
}

} // namespace p2k

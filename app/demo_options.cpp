#include "app/demo_options.h"

#include <charconv>
#include <string_view>

namespace p2k {

namespace {

constexpr std::string_view kHoldPhone = "--hold-phone";
constexpr std::string_view kLogLimit = "--log-limit=";
constexpr std::string_view kUnplugAfterRequests = "--unplug-after-requests";

// Decimal digits only, and at least least.
template <class Number>
std::optional<Number> parseAtLeast(std::string_view digits, Number least)
{
    Number value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || digits.front() == '-' || error != std::errc() || end != digits.data() + digits.size()
        || value < least)
        return std::nullopt;
    return value;
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
            options.logLimit = parseAtLeast<size_t>(text.substr(kLogLimit.size()), kMinLogLimit);
        else if (text == kUnplugAfterRequests && i + 1 < arguments.size())
            options.unplugAfterRequests = parseAtLeast<uint32_t>(arguments[++i], 1);
    }
    return options;
}

} // namespace p2k

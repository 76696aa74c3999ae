#include "app/demo_options.h"

#include <charconv>
#include <string_view>

namespace p2k {

namespace {

constexpr std::string_view kHoldPhone = "--hold-phone";
constexpr std::string_view kLogLimit = "--log-limit=";

std::optional<size_t> parseLogLimit(std::string_view digits)
{
    size_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || value < kMinLogLimit)
        return std::nullopt;
    return value;
}

} // namespace

DemoOptions parseDemoOptions(std::span<const std::string> arguments)
{
    DemoOptions options;
    for (const std::string& argument : arguments) {
        const std::string_view text = argument;
        if (text == kHoldPhone)
            options.holdPhone = true;
        else if (text.starts_with(kLogLimit))
            options.logLimit = parseLogLimit(text.substr(kLogLimit.size()));
    }
    return options;
}

} // namespace p2k

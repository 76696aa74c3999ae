#include "link/device_path.h"

#include "link/usb_transport.h"

#include <algorithm>

namespace p2k {

namespace {

constexpr char kFieldSeparator = '#';
constexpr char kPartSeparator = '&';
constexpr std::string_view kInterfacePart = "mi_";
constexpr size_t kInterfaceDigits = 2;

// One digit, lower case.
std::optional<uint8_t> hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Device ids come in upper case from the system, device paths mostly in lower.
bool startsWithInterfacePart(std::string_view part)
{
    return part.size() >= kInterfacePart.size()
           && std::equal(kInterfacePart.begin(), kInterfacePart.end(), part.begin(),
                         [](char wanted, char c) { return wanted == lowerAscii(c); });
}

// "mi_XX" exactly; any other part names no interface.
std::optional<uint8_t> interfaceNumberOfPart(std::string_view part)
{
    if (part.size() != kInterfacePart.size() + kInterfaceDigits || !startsWithInterfacePart(part))
        return std::nullopt;
    const std::optional<uint8_t> high = hexDigit(lowerAscii(part[kInterfacePart.size()]));
    const std::optional<uint8_t> low = hexDigit(lowerAscii(part[kInterfacePart.size() + 1]));
    if (!high || !low)
        return std::nullopt;
    return static_cast<uint8_t>(*high << 4 | *low);
}

// The device id: what lies between the path's first and second '#'.
std::optional<std::string_view> deviceIdOf(std::string_view path)
{
    const size_t start = path.find(kFieldSeparator);
    if (start == std::string_view::npos)
        return std::nullopt;
    const size_t end = path.find(kFieldSeparator, start + 1);
    if (end == std::string_view::npos)
        return std::nullopt;
    return path.substr(start + 1, end - start - 1);
}

} // namespace

std::optional<uint8_t> interfaceNumberInPath(std::string_view devicePath)
{
    std::optional<std::string_view> deviceId = deviceIdOf(devicePath);
    if (!deviceId)
        return std::nullopt;
    while (!deviceId->empty()) {
        const size_t end = std::min(deviceId->find(kPartSeparator), deviceId->size());
        if (const std::optional<uint8_t> number = interfaceNumberOfPart(deviceId->substr(0, end)))
            return number;
        deviceId->remove_prefix(std::min(end + 1, deviceId->size()));
    }
    return std::nullopt;
}

uint16_t commandInterfaceNumber(std::string_view devicePath)
{
    return interfaceNumberInPath(devicePath).value_or(usb::kUsualInterfaceNumber);
}

} // namespace p2k

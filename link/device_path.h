#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace p2k {

// The interface number that an interface's device path names, as in
// "\\?\usb#vid_22b8&pid_4902&mi_08#6&1a2b3c4d&0&0008#{...}": the "mi_" part
// of the device id (the path's second '#' field), two hex digits, in either
// letter case. Nothing when the path has no such part or it is malformed, as
// for a phone that is not a composite device.
std::optional<uint8_t> interfaceNumberInPath(std::string_view devicePath);

// The number every setup block on that interface carries: the one the path
// names, else the usual 8.
uint16_t commandInterfaceNumber(std::string_view devicePath);

} // namespace p2k

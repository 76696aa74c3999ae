#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace p2k {

// The device class of the phone's command interface.
inline constexpr std::string_view kCommandInterfaceClass = "{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";

// The registry key, under the local-machine root, whose subtree changes when
// the interface at devicePath goes away. The system names an interface's key
// after its path with the backslashes of the leading "\\?\" turned into '#':
// the 1st, 2nd and 4th characters of the path become '#', the rest is copied
// unchanged.
//
// A path shorter than those 4 characters is not an interface path and names
// no key: nullopt, and the caller treats the watch as impossible.
std::optional<std::string> removalWatchKey(std::string_view devicePath);

} // namespace p2k

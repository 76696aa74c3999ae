#include "link/removal_watch.h"

#include <array>
#include <cstddef>

namespace p2k {

namespace {

constexpr std::string_view kClassesKey = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\";
constexpr std::string_view kControlSuffix = "\\#\\Control";
// The positions of the three backslashes of a leading "\\?\".
constexpr std::array<size_t, 3> kMarkedPositions = {0, 1, 3};
constexpr size_t kShortestPath = kMarkedPositions.back() + 1;

} // namespace

std::optional<std::string> removalWatchKey(std::string_view devicePath)
{
    if (devicePath.size() < kShortestPath)
        return std::nullopt;
    std::string segment(devicePath);
    for (size_t position : kMarkedPositions)
        segment[position] = '#';

    std::string key;
    key.reserve(kClassesKey.size() + kCommandInterfaceClass.size() + 1 + segment.size() + kControlSuffix.size());
    key.append(kClassesKey).append(kCommandInterfaceClass).append("\\").append(segment).append(kControlSuffix);
    return key;
}

} // namespace p2k

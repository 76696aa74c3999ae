#include "app/window_logic.h"

#include <algorithm>

namespace p2k {

std::optional<std::string_view> connectionStatusText(uint64_t connectedParam)
{
    if (connectedParam == 1)
        return "на связи!";
    if (connectedParam == 0)
        return "нет коннекта";
    return std::nullopt;
}

std::string_view aboutCaption()
{
    return "About";
}

std::string aboutText()
{
    return "p2kfm: a file manager\r\n"
           "designed for Motorola P2K phones\r\n"
           "\r\n"
           "build 12.03.2004";
}

std::string_view trayTip()
{
    return "Left click to open service window.";
}

LogPaneLimits logPaneLimitsFor(size_t paneLimit)
{
    return {paneLimit, paneLimit / 4 * 3, paneLimit / 2};
}

bool logNeedsTrim(size_t paneLength, size_t appendLength, const LogPaneLimits& limits)
{
    return paneLength + appendLength > limits.highWater;
}

size_t logTrimLength(std::u16string_view paneText, size_t appendLength, const LogPaneLimits& limits)
{
    if (!logNeedsTrim(paneText.size(), appendLength, limits))
        return 0;
    const size_t room = limits.lowWater > appendLength ? limits.lowWater - appendLength : 0;
    if (paneText.size() <= room)
        return 0;
    // The cut must take at least this much, then runs on to the end of a line.
    const size_t least = paneText.size() - room;
    const size_t lineEnd = paneText.find(u"\r\n", least > 1 ? least - 2 : 0);
    if (lineEnd == std::u16string_view::npos)
        return paneText.size();
    return std::min(lineEnd + 2, paneText.size());
}

LogSelection selectionAfterTrim(LogSelection selection, size_t cut)
{
    auto shift = [cut](size_t offset) { return offset > cut ? offset - cut : 0; };
    return {shift(selection.start), shift(selection.end)};
}

} // namespace p2k

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace p2k {

// What the main window shows and decides that needs no window system.

// The status text before the first connection notification (also in the
// dialog template).
inline constexpr std::string_view kNoContactStatus = "нет контакта!";

// Status text 1019 for the first parameter of a connection notification:
// 1 connected, 0 disconnected; any other value changes nothing.
std::optional<std::string_view> connectionStatusText(uint64_t connectedParam);

// The About box.
std::string_view aboutCaption();
std::string aboutText();

// The tip of the notification-area icon.
std::string_view trayTip();

// The SEEM range fields at start (1009 and 1010).
inline constexpr uint32_t kInitialSeemRangeStart = 0x0000;
inline constexpr uint32_t kInitialSeemRangeEnd = 0x0300;

// The log pane keeps a long session's log by dropping its oldest lines: the
// pane accepts paneLimit UTF-16 units; once an append would take the text
// past highWater, whole lines are dropped from the top until the text and
// the append fit in lowWater. Appends therefore never meet the pane's limit
// (unless one append alone is larger than lowWater).
struct LogPaneLimits {
    size_t paneLimit;
    size_t highWater;
    size_t lowWater;
};

inline constexpr LogPaneLimits kLogPaneLimits{1024 * 1024, 768 * 1024, 512 * 1024};

// Limits scaled down from one pane size (for short tests of the trimming).
LogPaneLimits logPaneLimitsFor(size_t paneLimit);

// True when appending appendLength units to a pane holding paneLength units
// must drop old lines first.
bool logNeedsTrim(size_t paneLength, size_t appendLength, const LogPaneLimits& limits);

// How many leading units of the pane's text to drop before an append of
// appendLength units: 0 when nothing needs to go; otherwise the cut ends
// right after a line end ("\r\n"), or takes the whole text when no line end
// lies far enough in.
size_t logTrimLength(std::u16string_view paneText, size_t appendLength, const LogPaneLimits& limits);

// The operator's caret or selection in the pane, as unit offsets.
struct LogSelection {
    size_t start;
    size_t end;
    bool operator==(const LogSelection&) const = default;
};

// Where a caret or selection stands once the first cut units are gone: it
// keeps its place in the text; a part that stood in the dropped lines moves
// to the new start.
LogSelection selectionAfterTrim(LogSelection selection, size_t cut);

} // namespace p2k

#include "core/tick_widener.h"

namespace p2k {

uint64_t TickWidener::widen(uint32_t tick)
{
    uint64_t latest = latest_.load();
    for (;;) {
        const auto latestTick = static_cast<uint32_t>(latest);
        // Modular, so that a late reading of the tick from before a wrap
        // is still behind; nothing goes back before the first reading.
        const uint32_t behind = latestTick - tick;
        if (behind < 0x80000000u && behind <= latest)
            return latest - behind;
        // Unsigned arithmetic: past a wrap this is still the time gone by.
        const uint64_t widened = latest + static_cast<uint32_t>(tick - latestTick);
        if (latest_.compare_exchange_weak(latest, widened))
            return widened;
    }
}

} // namespace p2k

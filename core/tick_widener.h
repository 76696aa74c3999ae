#pragma once

#include <atomic>
#include <cstdint>

namespace p2k {

// Widens a 32-bit millisecond tick, which wraps every 49.7 days, into a
// 64-bit count that keeps going. A reading slightly behind the latest one
// (another thread read the tick earlier but got here later) is taken as
// late, not as a wrap; so readings must come at least every 24.8 days.
// Safe to call from several threads at once.
class TickWidener {
public:
    uint64_t widen(uint32_t tick);

private:
    std::atomic<uint64_t> latest_{0};
};

} // namespace p2k

#pragma once

#include <cstdint>
#include <string_view>

namespace p2k {

// The value of the leading hex digits of a field's text, at most eight of
// them. Anything that is not a hex digit ends the number; no digit gives 0.
uint32_t parseHexField(std::string_view text);

} // namespace p2k

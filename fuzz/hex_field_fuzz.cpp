// The SEEM fields' hex parser against an independent reading: the value of
// the leading hex digits, at most eight of them.

#include "core/hex_field.h"
#include "fuzz/fuzz_support.h"

#include <cctype>
#include <charconv>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t digits = 0;
    while (digits < text.size() && digits < 8 && std::isxdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    uint32_t expected = 0;
    std::from_chars(text.data(), text.data() + digits, expected, 16);
    p2k::fuzz::require(p2k::parseHexField(text) == expected, "the value of the leading hex digits, at most eight");
    return 0;
}

#include "core/hex_field.h"

namespace p2k {

namespace {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

uint32_t parseHexField(std::string_view text)
{
    constexpr size_t kMaxDigits = 8;
    uint32_t value = 0;
    for (size_t i = 0; i < text.size() && i < kMaxDigits; ++i) {
        const int digit = hexDigitValue(text[i]);
        if (digit < 0)
            break;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

} // namespace p2k

#pragma once

// Requests and answers written out field by field in the tests.

#include "link/byte_order.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace p2k::test {

using Bytes = std::vector<uint8_t>;

// A big-endian 32-bit field.
inline Bytes be32(uint32_t value)
{
    Bytes bytes(4);
    storeBe32(bytes.data(), value);
    return bytes;
}

// A name or text as its bytes, without a terminating zero.
inline Bytes text(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

// Fields one after another.
inline Bytes operator+(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

} // namespace p2k::test

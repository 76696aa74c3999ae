#pragma once

// The one place that states how multi-byte fields sit in a buffer. Test
// command headers and every service field are big-endian; the USB setup
// block and the driver's own counts are little-endian.

#include <cstddef>
#include <cstdint>
#include <span>

namespace p2k {

inline uint16_t loadBe16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t loadBe32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline uint16_t loadLe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t loadLe32(const uint8_t* p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline void storeBe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

inline void storeBe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline void storeLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void storeLe32(uint8_t* p, uint32_t v)
{
    storeLe16(p, static_cast<uint16_t>(v));
    storeLe16(p + 2, static_cast<uint16_t>(v >> 16));
}

// A read-only view that answers 0 for bytes past its end, so that judging a
// short answer can never read beyond what arrived.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t size() const { return bytes_.size(); }
    bool has(size_t offset, size_t count) const
    {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    uint8_t u8(size_t offset) const { return has(offset, 1) ? bytes_[offset] : 0; }
    uint16_t be16(size_t offset) const { return has(offset, 2) ? loadBe16(&bytes_[offset]) : 0; }
    uint32_t be32(size_t offset) const { return has(offset, 4) ? loadBe32(&bytes_[offset]) : 0; }

private:
    std::span<const uint8_t> bytes_;
};

} // namespace p2k
